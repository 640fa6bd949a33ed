// The floating-point mode that loading the library sets, seen from other threads. This program is
// linked against the library, so the library was loaded (and switched the main thread to
// flush-to-zero and denormals-are-zero, MXCSR bits 0x8000 and 0x0040) before main() ran.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cfloat>
#include <thread>

#include <Vexo/VexoXD>

namespace {

constexpr unsigned kFtzDaz = 0x8040;

// A computation whose exact result is subnormal: DBL_MIN / 4. Under flush-to-zero it is 0.
double subnormalQuotient() {
  volatile double smallest_normal = DBL_MIN;
  volatile double four = 4.0;
  return smallest_normal / four;
}

// A subnormal operand: 2^-1074 * 2^60. Under denormals-are-zero the operand reads as 0.
double productOfSubnormal() {
  volatile double denormal = 4.9406564584124654e-324;
  volatile double scale = 1152921504606846976.0;  // 2^60
  return denormal * scale;
}

// The library is really linked in (and so loaded at start-up), not dropped by the linker.
TEST(FtzInheritance, LibraryIsLoaded) {
  ZorvikFoundation::VexoSDK::VexoBaseXD<6> model;
  EXPECT_EQ(model.q().size(), 6);
}

TEST(FtzInheritance, MainThreadRunsWithFlushToZero) {
  EXPECT_EQ(_mm_getcsr() & kFtzDaz, kFtzDaz);
  EXPECT_EQ(subnormalQuotient(), 0.0);
  EXPECT_EQ(productOfSubnormal(), 0.0);
}

TEST(FtzInheritance, ThreadCreatedAfterLoadInheritsFlushToZero) {
  unsigned csr = 0;
  double quotient = -1, product = -1;
  std::thread t([&] {
    csr = _mm_getcsr();
    quotient = subnormalQuotient();
    product = productOfSubnormal();
  });
  t.join();
  EXPECT_EQ(csr & kFtzDaz, kFtzDaz);
  EXPECT_EQ(quotient, 0.0);
  EXPECT_EQ(product, 0.0);
}

// A thread inherits its creator's register, not the loader's: a thread that clears the bits hands
// the cleared register to the threads it creates, which then compute subnormal results exactly.
TEST(FtzInheritance, ThreadInheritsItsCreatorsRegister) {
  unsigned csr = kFtzDaz;
  double quotient = 0, product = 0;
  std::thread parent([&] {
    _mm_setcsr(_mm_getcsr() & ~kFtzDaz);
    std::thread child([&] {
      csr = _mm_getcsr();
      quotient = subnormalQuotient();
      product = productOfSubnormal();
    });
    child.join();
  });
  parent.join();
  EXPECT_EQ(csr & kFtzDaz, 0u);
  EXPECT_EQ(quotient, DBL_MIN / 4);
  EXPECT_EQ(product, 4.9406564584124654e-324 * 1152921504606846976.0);
  EXPECT_NE(product, 0.0);
  // The main thread is unaffected.
  EXPECT_EQ(_mm_getcsr() & kFtzDaz, kFtzDaz);
}

}  // namespace
