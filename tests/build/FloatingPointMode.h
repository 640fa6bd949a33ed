// Helpers of the checks that loading a deliverable switches the loading thread's SSE control
// register to flush-to-zero (bit 15) and denormals-are-zero (bit 6).
#ifndef ZORVIK_TEST_FLOATING_POINT_MODE_H
#define ZORVIK_TEST_FLOATING_POINT_MODE_H

#include <link.h>
#include <xmmintrin.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace zorvik_test {

const unsigned kFlushToZeroBits = 0x8040;

inline bool flushToZeroBitsSet() { return (_mm_getcsr() & kFlushToZeroBits) == kFlushToZeroBits; }
inline bool flushToZeroBitsClear() { return (_mm_getcsr() & kFlushToZeroBits) == 0; }

// The arithmetic effect of the two bits, through volatile operands so that nothing is folded at
// compile time: with DAZ a subnormal operand counts as zero, with FTZ a result below the normal
// range becomes zero.
inline bool subnormalOperandReadsAsZero() {
  volatile double subnormal = 1e-310, one = 1.0;
  const double product = subnormal * one;
  return product == 0.0;
}
inline bool subnormalResultIsFlushed() {
  volatile double a = 1e-300, b = 1e-10;
  const double product = a * b;
  return product == 0.0;
}

// Path of the loaded shared object whose file name is `file_name`, or "" when none is loaded.
inline std::string loadedObjectPath(const char* file_name) {
  struct Search {
    const char* name;
    std::string path;
  } search{file_name, ""};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        Search* s = static_cast<Search*>(data);
        const char* slash = std::strrchr(info->dlpi_name, '/');
        const char* base = slash ? slash + 1 : info->dlpi_name;
        if (std::strcmp(base, s->name) == 0) {
          s->path = info->dlpi_name;
          return 1;
        }
        return 0;
      },
      &search);
  return search.path;
}

// Prints a failed check and counts it.
inline void check(bool ok, const char* what, int* failures) {
  std::printf("%s: %s (MXCSR 0x%04x)\n", ok ? "ok  " : "FAIL", what, _mm_getcsr());
  if (!ok) ++*failures;
}

}  // namespace zorvik_test

#endif
