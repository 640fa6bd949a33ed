// Loading the library switches the loading thread's SSE control register to flush-to-zero
// (bit 15, 0x8000) and denormals-are-zero (bit 6, 0x0040): the recursions then never slow down on
// subnormal intermediate values. The setting belongs to the thread that loads the library (the main
// thread for a program linked against it, the caller of dlopen() otherwise); threads created later
// inherit the creating thread's register, threads that already exist keep theirs.
#include <xmmintrin.h>

namespace ZorvikFoundation {
namespace internal {

__attribute__((constructor)) static void enableFlushToZero() { _mm_setcsr(_mm_getcsr() | 0x8040); }

}  // namespace internal
}  // namespace ZorvikFoundation
