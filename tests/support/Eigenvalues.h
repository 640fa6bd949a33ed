// Eigenvalues of a symmetric matrix of any size, computed in one compiled place: fixed-size
// eigensolvers instantiated per matrix size in every test would cost far more to compile than
// they do to run.
#ifndef ZORVIK_TEST_EIGENVALUES_H
#define ZORVIK_TEST_EIGENVALUES_H

#include <Eigen/Core>

namespace zorvik_test {

// The eigenvalues of the symmetric part of A, in increasing order.
Eigen::VectorXd symmetricEigenvalues(const Eigen::MatrixXd& A);

}  // namespace zorvik_test

#endif
