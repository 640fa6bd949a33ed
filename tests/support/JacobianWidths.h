// The widths N = 6, 7, 14, 16 of the robots' 6xN Jacobians, as a GoogleTest type list for typed
// tests of everything whose size follows N:
//
//   template <typename W> class FooTest : public ::testing::Test {};
//   TYPED_TEST_SUITE(FooTest, zorvik_test::JacobianWidths, zorvik_test::JacobianWidthNames);
//   TYPED_TEST(FooTest, Bar) { constexpr int N = TypeParam::value; ... }
#ifndef ZORVIK_TEST_JACOBIAN_WIDTHS_H
#define ZORVIK_TEST_JACOBIAN_WIDTHS_H

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

namespace zorvik_test {

template <int N>
using Width = std::integral_constant<int, N>;

using JacobianWidths = ::testing::Types<Width<6>, Width<7>, Width<14>, Width<16>>;

struct JacobianWidthNames {
  template <typename W>
  static std::string GetName(int) {
    return "N" + std::to_string(W::value);
  }
};

}  // namespace zorvik_test

#endif
