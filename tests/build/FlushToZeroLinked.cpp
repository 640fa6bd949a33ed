// A program linked against a deliverable: the loader runs the library's initialisation on the main
// thread before main, so main already starts with flush-to-zero and denormals-are-zero.
// ZORVIK_LIBRARY_FILE names the library file that must be loaded.
#include "FloatingPointMode.h"

int main() {
  using namespace zorvik_test;
  int failures = 0;
  const std::string path = loadedObjectPath(ZORVIK_LIBRARY_FILE);
  check(!path.empty(), "library " ZORVIK_LIBRARY_FILE " is loaded", &failures);
  check(flushToZeroBitsSet(), "FTZ and DAZ set in main", &failures);
  check(subnormalOperandReadsAsZero(), "subnormal operand reads as zero", &failures);
  check(subnormalResultIsFlushed(), "subnormal result is flushed to zero", &failures);
  return failures == 0 ? 0 : 1;
}
