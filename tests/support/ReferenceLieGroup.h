// Reference forms of the Lie group maps beyond SpatialAlgebra.h, written independently of the
// library: the 4x4 matrix of a twist and its inverse, the exponential of SE(3) as the general
// matrix exponential of the 4x4 twist matrix (Eigen's MatrixFunctions module, Pade approximation
// with scaling and squaring) and the power pairing. Tests compare the library's closed forms
// against these.
#ifndef ZORVIK_TEST_REFERENCE_LIE_GROUP_H
#define ZORVIK_TEST_REFERENCE_LIE_GROUP_H

#include <unsupported/Eigen/MatrixFunctions>

#include "support/SpatialAlgebra.h"

namespace zorvik_test {

// The 4x4 matrix of a twist (v, w): [[ [w], v ], [0, 0]].
inline Eigen::Matrix4d hat(const Vec6& twist) {
  Eigen::Matrix4d m = Eigen::Matrix4d::Zero();
  m.topLeftCorner<3, 3>() = skew(twist.tail<3>());
  m.topRightCorner<3, 1>() = twist.head<3>();
  return m;
}

// Inverse of hat, reading the skew part of the rotation block.
inline Vec6 vee(const Eigen::Matrix4d& m) {
  Vec6 t;
  t << m.topRightCorner<3, 1>(), vee(Eigen::Matrix3d(m.topLeftCorner<3, 3>()));
  return t;
}

// exp(hat(lambda)) by the general matrix exponential.
inline Eigen::Matrix4d expSE3(const Vec6& lambda) {
  const Eigen::Matrix4d m = hat(lambda);
  return m.exp();
}

// Power of a wrench (f, n) on a twist (v, w) expressed in the same frame: f.v + n.w.
inline double power(const Vec6& wrench, const Vec6& twist) { return wrench.dot(twist); }

}  // namespace zorvik_test

#endif
