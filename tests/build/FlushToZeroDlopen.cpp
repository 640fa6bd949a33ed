// A program that is not linked against the library and loads it with dlopen():
//   flush_to_zero_dlopen <library path> [thread]
// Before dlopen the control register has the process default (FTZ and DAZ clear, subnormals
// computed); after it both bits are set on the thread that called dlopen. With "thread" a second
// thread loads the library, and the main thread, which did not load it, must keep its own setting.
#include <dlfcn.h>

#include <cstring>
#include <thread>

#include "FloatingPointMode.h"

namespace {

using namespace zorvik_test;

void loadAndCheck(const char* path, int* failures) {
  check(flushToZeroBitsClear(), "FTZ and DAZ clear before dlopen", failures);
  check(!subnormalOperandReadsAsZero(), "subnormal operand computed before dlopen", failures);
  check(!subnormalResultIsFlushed(), "subnormal result kept before dlopen", failures);
  void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::printf("FAIL: dlopen(%s): %s\n", path, dlerror());
    ++*failures;
    return;
  }
  check(flushToZeroBitsSet(), "FTZ and DAZ set after dlopen", failures);
  check(subnormalOperandReadsAsZero(), "subnormal operand reads as zero after dlopen", failures);
  check(subnormalResultIsFlushed(), "subnormal result flushed after dlopen", failures);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: %s <library> [thread]\n", argv[0]);
    return 2;
  }
  int failures = 0;
  if (argc > 2 && std::strcmp(argv[2], "thread") == 0) {
    std::thread loader(loadAndCheck, argv[1], &failures);
    loader.join();
    check(flushToZeroBitsClear(), "FTZ and DAZ still clear on the main thread", &failures);
  } else {
    loadAndCheck(argv[1], &failures);
  }
  return failures == 0 ? 0 : 1;
}
