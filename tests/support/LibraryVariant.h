// Which deliverable a test executable runs against. The test code is compiled once, as a release
// client, and linked into one executable per library; the few tests whose outcome depends on the
// library (the debug build asserts where the release build returns a documented value) ask here.
#pragma once

namespace zorvik_test {

// True in the executable linked against the debug library (assertions on in the library's code).
bool linkedAgainstDebugLibrary();

}  // namespace zorvik_test

// For a test of the release library's documented answer to an input the debug library refuses
// with an assertion.
#define ZORVIK_SKIP_WITH_DEBUG_LIBRARY()                                      \
  if (::zorvik_test::linkedAgainstDebugLibrary())                             \
  GTEST_SKIP() << "the debug library asserts on this input"

// For a death test of an assertion in the debug library's own code.
#define ZORVIK_SKIP_WITH_RELEASE_LIBRARY()                                    \
  if (!::zorvik_test::linkedAgainstDebugLibrary())                            \
  GTEST_SKIP() << "the release library has no assertions"
