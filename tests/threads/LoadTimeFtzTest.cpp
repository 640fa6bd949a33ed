// What loading the library at run time (dlopen) does to the floating-point mode of the threads of
// the loading process. This program is not linked against the library: ZORVIK_LIBRARY_PATH names
// the deliverable it loads.
//   - the thread that calls dlopen() gets flush-to-zero and denormals-are-zero (MXCSR 0x8040);
//   - a thread that already existed keeps its register;
//   - a thread created afterwards by the loading thread inherits the loader's register.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

constexpr unsigned kFtzDaz = 0x8040;

TEST(LoadTimeFtz, OnlyTheLoaderAndItsLaterThreadsGetFlushToZero) {
  ASSERT_EQ(_mm_getcsr() & kFtzDaz, 0u) << "the library must not be loaded yet";

  // A thread that exists before the load and reads its register after it.
  std::mutex m;
  std::condition_variable cv;
  bool loaded = false;
  unsigned earlierThreadCsr = kFtzDaz;
  std::thread earlier([&] {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return loaded; });
    earlierThreadCsr = _mm_getcsr();
  });

  void* handle = dlopen(ZORVIK_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(handle, nullptr) << dlerror();
  const unsigned loaderCsr = _mm_getcsr();
  {
    std::lock_guard<std::mutex> lock(m);
    loaded = true;
  }
  cv.notify_one();
  earlier.join();

  unsigned laterThreadCsr = 0;
  std::thread later([&] { laterThreadCsr = _mm_getcsr(); });
  later.join();

  EXPECT_EQ(loaderCsr & kFtzDaz, kFtzDaz);
  EXPECT_EQ(earlierThreadCsr & kFtzDaz, 0u);
  EXPECT_EQ(laterThreadCsr & kFtzDaz, kFtzDaz);
  // The library stays loaded: unloading it would not restore any register.
}

}  // namespace
