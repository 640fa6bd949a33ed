// EXPECT_MATRIX_NEAR(a, b, tol): the largest absolute entry difference of two Eigen matrices of the
// same size is at most tol (NaN fails). On failure both matrices and their difference are printed.
#ifndef ZORVIK_TEST_MATRIX_NEAR_H
#define ZORVIK_TEST_MATRIX_NEAR_H

#include <Eigen/Core>
#include <gtest/gtest.h>

#include <sstream>

namespace zorvik_test {

template <typename A, typename B>
::testing::AssertionResult matrixNear(const char* a_expr, const char* b_expr, const char* tol_expr,
                                      const Eigen::MatrixBase<A>& a, const Eigen::MatrixBase<B>& b,
                                      double tol) {
  if (a.rows() != b.rows() || a.cols() != b.cols())
    return ::testing::AssertionFailure() << a_expr << " is " << a.rows() << "x" << a.cols() << ", "
                                         << b_expr << " is " << b.rows() << "x" << b.cols();
  const auto diff = (a.template cast<double>() - b.template cast<double>()).eval();
  const double err = diff.cwiseAbs().maxCoeff();
  if (err <= tol) return ::testing::AssertionSuccess();
  const Eigen::IOFormat fmt(Eigen::FullPrecision, 0, ", ", "\n", "  [", "]");
  std::ostringstream os;
  os << "max |" << a_expr << " - " << b_expr << "| = " << err << " > " << tol_expr << " = " << tol
     << "\n"
     << a_expr << " =\n"
     << a.format(fmt) << "\n"
     << b_expr << " =\n"
     << b.format(fmt) << "\ndifference =\n"
     << diff.format(fmt);
  return ::testing::AssertionFailure() << os.str();
}

}  // namespace zorvik_test

#define EXPECT_MATRIX_NEAR(a, b, tol) EXPECT_PRED_FORMAT3(::zorvik_test::matrixNear, a, b, tol)
#define ASSERT_MATRIX_NEAR(a, b, tol) ASSERT_PRED_FORMAT3(::zorvik_test::matrixNear, a, b, tol)

#endif
