#include "support/LinearAlgebra.h"

#include <Eigen/Cholesky>

namespace zorvik_test {

Eigen::VectorXd solveSymmetric(const Eigen::MatrixXd& A, const Eigen::VectorXd& b) {
  return A.ldlt().solve(b);
}

Eigen::MatrixXd inverseSymmetric(const Eigen::MatrixXd& A) {
  return A.ldlt().solve(Eigen::MatrixXd::Identity(A.rows(), A.cols()));
}

}  // namespace zorvik_test
