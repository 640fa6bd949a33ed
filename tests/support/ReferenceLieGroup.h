// Reference forms of the Lie group maps, written independently of the library: the skew matrix and
// its inverse, the 4x4 matrix of a twist, the exponential of SO(3) through Eigen's AngleAxis
// (Rodrigues) and the exponential of SE(3) as the general matrix exponential of the 4x4 twist
// matrix (Eigen's MatrixFunctions module, Pade approximation with scaling and squaring). Tests
// compare the library's closed forms against these.
#ifndef ZORVIK_TEST_REFERENCE_LIE_GROUP_H
#define ZORVIK_TEST_REFERENCE_LIE_GROUP_H

#include <Eigen/Dense>
#include <unsupported/Eigen/MatrixFunctions>

namespace zorvik_test {

typedef Eigen::Matrix<double, 6, 1> Vec6;
typedef Eigen::Matrix<double, 6, 6> Mat6;

// [a] with [a] b = a x b.
inline Eigen::Matrix3d skew(const Eigen::Vector3d& a) {
  Eigen::Matrix3d m;
  m << 0, -a.z(), a.y(), a.z(), 0, -a.x(), -a.y(), a.x(), 0;
  return m;
}

// The vector of the skew-symmetric part of m: vee([a]) = a.
inline Eigen::Vector3d vee(const Eigen::Matrix3d& m) {
  return 0.5 * Eigen::Vector3d(m(2, 1) - m(1, 2), m(0, 2) - m(2, 0), m(1, 0) - m(0, 1));
}

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

// exp([w]) by Rodrigues' formula through Eigen's AngleAxis.
inline Eigen::Matrix3d expSO3(const Eigen::Vector3d& w) {
  const double angle = w.norm();
  if (angle == 0) return Eigen::Matrix3d::Identity();
  return Eigen::AngleAxisd(angle, w / angle).toRotationMatrix();
}

// exp(hat(lambda)) by the general matrix exponential.
inline Eigen::Matrix4d expSE3(const Vec6& lambda) {
  const Eigen::Matrix4d m = hat(lambda);
  return m.exp();
}

// Pose inverse in closed form: (R^T, -R^T r).
inline Eigen::Matrix4d inversePose(const Eigen::Matrix4d& T) {
  Eigen::Matrix4d inv = Eigen::Matrix4d::Identity();
  inv.topLeftCorner<3, 3>() = T.topLeftCorner<3, 3>().transpose();
  inv.topRightCorner<3, 1>() = -T.topLeftCorner<3, 3>().transpose() * T.topRightCorner<3, 1>();
  return inv;
}

// Power of a wrench (f, n) on a twist (v, w) expressed in the same frame: f.v + n.w.
inline double power(const Vec6& wrench, const Vec6& twist) { return wrench.dot(twist); }

}  // namespace zorvik_test

#endif
