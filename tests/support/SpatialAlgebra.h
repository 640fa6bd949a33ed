// Reference forms, in plain Eigen and independent of the library, of the maps the tests check the
// library against: the skew matrix [a] and its inverse, Rodrigues' exponential of SO(3), the
// homogeneous transform and its closed-form inverse, the 6x6 adjoint Ad_T and the bracket matrix
// ad_V. Conventions (the library's): a pose of frame B in frame A is [[R, p], [0, 1]]; a twist is
// (v, w), linear part first, expressed in the moving frame; a wrench is (f, n), moment about the
// frame origin.
#ifndef ZORVIK_TEST_SPATIAL_ALGEBRA_H
#define ZORVIK_TEST_SPATIAL_ALGEBRA_H

#include <Eigen/Geometry>

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

// exp([w]), the rotation by |w| about w / |w|, by Rodrigues' formula through Eigen's AngleAxis.
inline Eigen::Matrix3d expSO3(const Eigen::Vector3d& w) {
  const double angle = w.norm();
  if (angle == 0) return Eigen::Matrix3d::Identity();
  return Eigen::AngleAxisd(angle, w / angle).toRotationMatrix();
}

inline Eigen::Matrix4d homogeneous(const Eigen::Matrix3d& R, const Eigen::Vector3d& p) {
  Eigen::Matrix4d T = Eigen::Matrix4d::Identity();
  T.topLeftCorner<3, 3>() = R;
  T.topRightCorner<3, 1>() = p;
  return T;
}

// [[R^T, -R^T p], [0, 1]].
inline Eigen::Matrix4d inversePose(const Eigen::Matrix4d& T) {
  const Eigen::Matrix3d Rt = T.topLeftCorner<3, 3>().transpose();
  return homogeneous(Rt, -Rt * T.topRightCorner<3, 1>());
}

// Ad_T for (v, w) twists: a twist given in frame B re-expressed in frame A, T the pose of B in A.
// The velocity of A's origin point is R v + p x (R w), the angular velocity R w.
inline Mat6 adjoint(const Eigen::Matrix4d& T) {
  const Eigen::Matrix3d R = T.topLeftCorner<3, 3>();
  const Eigen::Vector3d p = T.topRightCorner<3, 1>();
  Mat6 A = Mat6::Zero();
  A.topLeftCorner<3, 3>() = R;
  A.topRightCorner<3, 3>() = skew(p) * R;
  A.bottomRightCorner<3, 3>() = R;
  return A;
}

// ad_V for V = (v, w): the derivative of Ad along V, [[ [w], [v] ], [0, [w]]].
inline Mat6 adMatrix(const Vec6& V) {
  Mat6 A = Mat6::Zero();
  A.topLeftCorner<3, 3>() = skew(V.tail<3>());
  A.topRightCorner<3, 3>() = skew(V.head<3>());
  A.bottomRightCorner<3, 3>() = skew(V.tail<3>());
  return A;
}

}  // namespace zorvik_test

#endif
