// One family of comparisons of Eigen matrices, entry by entry:
//   EXPECT_MATRIX_NEAR(a, b, tol)   |a - b| <= tol (absolute);
//   EXPECT_MATRIX_CLOSE(a, b, tol)  |a - b| <= tol * max(1, max |b|): relative to the size of the
//                                   expected value b, absolute near zero;
//   EXPECT_MATRIX_EQ(a, b)          equal entries (the same computation on the same state).
// The sizes must agree and a NaN entry never compares near. On failure both matrices and their
// difference are printed. ASSERT_ forms likewise.
//
// Both sides are evaluated into Eigen::MatrixXd at the call, so that the comparison and its report
// are compiled once (MatrixNear.cpp), not once per expression type and size. Call them outside any
// region the allocation counter checks: that evaluation allocates.
#ifndef ZORVIK_TEST_MATRIX_NEAR_H
#define ZORVIK_TEST_MATRIX_NEAR_H

#include <Eigen/Core>
#include <gtest/gtest.h>

namespace zorvik_test {

::testing::AssertionResult matrixNear(const char* a_expr, const char* b_expr, const char* tol_expr,
                                      const Eigen::MatrixXd& a, const Eigen::MatrixXd& b,
                                      double tol);
::testing::AssertionResult matrixClose(const char* a_expr, const char* b_expr,
                                       const char* tol_expr, const Eigen::MatrixXd& a,
                                       const Eigen::MatrixXd& b, double tol);
::testing::AssertionResult matrixEq(const char* a_expr, const char* b_expr,
                                    const Eigen::MatrixXd& a, const Eigen::MatrixXd& b);

}  // namespace zorvik_test

#define EXPECT_MATRIX_NEAR(a, b, tol) EXPECT_PRED_FORMAT3(::zorvik_test::matrixNear, a, b, tol)
#define ASSERT_MATRIX_NEAR(a, b, tol) ASSERT_PRED_FORMAT3(::zorvik_test::matrixNear, a, b, tol)
#define EXPECT_MATRIX_CLOSE(a, b, tol) EXPECT_PRED_FORMAT3(::zorvik_test::matrixClose, a, b, tol)
#define ASSERT_MATRIX_CLOSE(a, b, tol) ASSERT_PRED_FORMAT3(::zorvik_test::matrixClose, a, b, tol)
#define EXPECT_MATRIX_EQ(a, b) EXPECT_PRED_FORMAT2(::zorvik_test::matrixEq, a, b)
#define ASSERT_MATRIX_EQ(a, b) ASSERT_PRED_FORMAT2(::zorvik_test::matrixEq, a, b)

#endif
