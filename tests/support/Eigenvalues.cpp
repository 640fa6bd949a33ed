#include "support/Eigenvalues.h"

#include <Eigen/Eigenvalues>

namespace zorvik_test {

Eigen::VectorXd symmetricEigenvalues(const Eigen::MatrixXd& A) {
  const Eigen::MatrixXd S = 0.5 * (A + A.transpose());
  return Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd>(S, Eigen::EigenvaluesOnly).eigenvalues();
}

}  // namespace zorvik_test
