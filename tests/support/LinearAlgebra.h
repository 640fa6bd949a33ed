// Dense symmetric positive-definite solves for the tests, through Eigen's LDLT on dynamic matrices:
// a route to M^-1 that shares nothing with the library's recursions. Compiled once
// (LinearAlgebra.cpp); they allocate, so call them outside regions the allocation counter checks.
#ifndef ZORVIK_TEST_LINEAR_ALGEBRA_H
#define ZORVIK_TEST_LINEAR_ALGEBRA_H

#include <Eigen/Core>

namespace zorvik_test {

// x with A x = b, A symmetric positive definite.
Eigen::VectorXd solveSymmetric(const Eigen::MatrixXd& A, const Eigen::VectorXd& b);
// A^-1, A symmetric positive definite.
Eigen::MatrixXd inverseSymmetric(const Eigen::MatrixXd& A);

}  // namespace zorvik_test

#endif
