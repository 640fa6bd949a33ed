// Compiled once per executable kind, with ZORVIK_TEST_DEBUG_LIBRARY 0 or 1 (tests/CMakeLists.txt).
#include "support/LibraryVariant.h"

namespace zorvik_test {

bool linkedAgainstDebugLibrary() { return ZORVIK_TEST_DEBUG_LIBRARY; }

}  // namespace zorvik_test
