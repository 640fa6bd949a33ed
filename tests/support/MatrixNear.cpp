#include "support/MatrixNear.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>

namespace zorvik_test {
namespace {

const Eigen::IOFormat kFullPrecision(Eigen::FullPrecision, 0, ", ", "\n", "  [", "]");

// The largest |entry|, NaN as soon as one entry is NaN (Eigen's maxCoeff may skip it).
double largestMagnitude(const Eigen::MatrixXd& m) {
  double largest = 0;
  for (Eigen::Index i = 0; i < m.size(); ++i) {
    if (std::isnan(m(i))) return m(i);
    largest = std::max(largest, std::abs(m(i)));
  }
  return largest;
}

std::string sizeOf(const Eigen::MatrixXd& m) {
  return std::to_string(m.rows()) + "x" + std::to_string(m.cols());
}

// Success when the sizes agree and every entry of |a - b| is at most `allowed`.
::testing::AssertionResult compare(const char* a_expr, const char* b_expr,
                                   const std::string& allowed_text, const Eigen::MatrixXd& a,
                                   const Eigen::MatrixXd& b, double allowed) {
  if (a.rows() != b.rows() || a.cols() != b.cols())
    return ::testing::AssertionFailure()
           << a_expr << " is " << sizeOf(a) << ", " << b_expr << " is " << sizeOf(b);
  const double deviation = largestMagnitude(a - b);
  if (deviation <= allowed) return ::testing::AssertionSuccess();
  std::ostringstream os;
  os << "max |" << a_expr << " - " << b_expr << "| = " << deviation << " > " << allowed_text
     << "\n"
     << a_expr << " =\n"
     << a.format(kFullPrecision) << "\n"
     << b_expr << " =\n"
     << b.format(kFullPrecision) << "\ndifference =\n"
     << (a - b).format(kFullPrecision);
  return ::testing::AssertionFailure() << os.str();
}

}  // namespace

::testing::AssertionResult matrixNear(const char* a_expr, const char* b_expr, const char* tol_expr,
                                      const Eigen::MatrixXd& a, const Eigen::MatrixXd& b,
                                      double tol) {
  std::ostringstream allowed;
  allowed << tol_expr << " = " << tol;
  return compare(a_expr, b_expr, allowed.str(), a, b, tol);
}

::testing::AssertionResult matrixClose(const char* a_expr, const char* b_expr,
                                       const char* tol_expr, const Eigen::MatrixXd& a,
                                       const Eigen::MatrixXd& b, double tol) {
  const double scale = std::max(1.0, largestMagnitude(b));
  std::ostringstream allowed;
  allowed << tol_expr << " * " << scale << " = " << tol * scale;
  return compare(a_expr, b_expr, allowed.str(), a, b, tol * scale);
}

::testing::AssertionResult matrixEq(const char* a_expr, const char* b_expr,
                                    const Eigen::MatrixXd& a, const Eigen::MatrixXd& b) {
  return compare(a_expr, b_expr, "0", a, b, 0.0);
}

}  // namespace zorvik_test
