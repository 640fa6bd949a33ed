// Independent reference math for the multibody model tests: homogeneous transforms, the 6x6
// adjoint, closed-form joint motions and finite differences, written here with plain Eigen so that
// the library's own LieGroup operations are checked against something they do not share code with.
//
// Conventions (the library's): a pose T of frame B in frame A is [[R, p], [0, 1]]; a twist is
// (v, w), linear part first, expressed in the moving frame; a wrench is (f, n), moment about the
// frame origin.
#ifndef ZORVIK_MODEL_TEST_SUPPORT_H
#define ZORVIK_MODEL_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>

namespace model_test {

typedef Eigen::Vector3d Vec3;
typedef Eigen::Matrix3d Mat3;
typedef Eigen::Matrix4d Mat4;
typedef Eigen::Matrix<double, 6, 1> Vec6;
typedef Eigen::Matrix<double, 6, 6> Mat6;

// [a], the matrix of the cross product a x (.).
inline Mat3 skew(const Vec3& a) {
  Mat3 m;
  m << 0, -a.z(), a.y(), a.z(), 0, -a.x(), -a.y(), a.x(), 0;
  return m;
}

// Rotation by `angle` about the unit vector `axis`, through Eigen's angle-axis conversion.
inline Mat3 axisAngle(const Vec3& axis, double angle) {
  return Eigen::AngleAxisd(angle, axis.normalized()).toRotationMatrix();
}

// Rotation with rotation vector xi (angle |xi| about xi / |xi|).
inline Mat3 rotationVector(const Vec3& xi) {
  const double angle = xi.norm();
  if (angle == 0) return Mat3::Identity();
  return Eigen::AngleAxisd(angle, xi / angle).toRotationMatrix();
}

inline Mat4 homogeneous(const Mat3& R, const Vec3& p) {
  Mat4 T = Mat4::Identity();
  T.topLeftCorner<3, 3>() = R;
  T.topRightCorner<3, 1>() = p;
  return T;
}
inline Mat4 rotX(double a) { return homogeneous(axisAngle(Vec3::UnitX(), a), Vec3::Zero()); }
inline Mat4 rotZ(double a) { return homogeneous(axisAngle(Vec3::UnitZ(), a), Vec3::Zero()); }
inline Mat4 transX(double d) { return homogeneous(Mat3::Identity(), Vec3(d, 0, 0)); }
inline Mat4 transZ(double d) { return homogeneous(Mat3::Identity(), Vec3(0, 0, d)); }
inline Mat4 translation(const Vec3& p) { return homogeneous(Mat3::Identity(), p); }

// [[R^T, -R^T p], [0, 1]].
inline Mat4 inversePose(const Mat4& T) {
  const Mat3 Rt = T.topLeftCorner<3, 3>().transpose();
  return homogeneous(Rt, -Rt * T.topRightCorner<3, 1>());
}

// Ad_T for (v, w) twists: a twist given in frame B re-expressed in frame A, T the pose of B in A.
// The velocity of A's origin point is R v + p x (R w), the angular velocity R w.
inline Mat6 adjoint(const Mat4& T) {
  const Mat3 R = T.topLeftCorner<3, 3>();
  const Vec3 p = T.topRightCorner<3, 1>();
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

// A pose curve through the identity with derivative hat(V) at t = 0: (exp(t [w]), t v). It lies on
// SE(3) for every t, which is all a finite difference of a body twist needs.
inline Mat4 curveWithTwist(const Vec6& V, double t) {
  return homogeneous(rotationVector(t * V.tail<3>()), t * V.head<3>());
}

// Fourth-order central difference of f at 0: (-f(2h) + 8 f(h) - 8 f(-h) + f(-2h)) / (12 h).
// Truncation error h^4 |f^(5)| / 30, rounding error about eps |f| / h.
template <typename F>
auto centralDifference(F f, double h) -> decltype(f(0.0)) {
  typedef decltype(f(0.0)) R;
  const R a = f(2 * h), b = f(h), c = f(-h), d = f(-2 * h);
  return R((-a + 8 * b - 8 * c + d) / (12 * h));
}

// Body twist of a pose curve at t = 0: vee(T(0)^-1 dT/dt), the angular part taken from the
// skew-symmetric part of the rotation block.
template <typename PoseFn>
Vec6 bodyTwistByFiniteDifference(PoseFn pose, double h) {
  const Mat4 Tinv = inversePose(pose(0.0));
  const Mat4 dT = centralDifference([&](double t) -> Mat4 { return pose(t); }, h);
  const Mat4 M = Tinv * dT;
  Vec6 V;
  V.head<3>() = M.topRightCorner<3, 1>();
  V(3) = 0.5 * (M(2, 1) - M(1, 2));
  V(4) = 0.5 * (M(0, 2) - M(2, 0));
  V(5) = 0.5 * (M(1, 0) - M(0, 1));
  return V;
}

// |a - b|_max <= tol * max(1, |b|_max): relative for large values, absolute near zero.
template <typename A, typename B>
::testing::AssertionResult Close(const Eigen::MatrixBase<A>& a, const Eigen::MatrixBase<B>& b,
                                 double tol) {
  if (a.rows() != b.rows() || a.cols() != b.cols())
    return ::testing::AssertionFailure() << "size " << a.rows() << "x" << a.cols() << " vs "
                                         << b.rows() << "x" << b.cols();
  if (b.size() == 0) return ::testing::AssertionSuccess();
  const double scale = std::max(1.0, b.cwiseAbs().maxCoeff());
  const double err = (a - b).cwiseAbs().maxCoeff();
  if (err <= tol * scale) return ::testing::AssertionSuccess();
  std::ostringstream os;
  os << "max deviation " << err << " exceeds " << tol << " * " << scale << "\nactual:\n"
     << a << "\nexpected:\n"
     << b;
  return ::testing::AssertionFailure() << os.str();
}

inline double uniform(std::mt19937& rng, double lo, double hi) {
  return std::uniform_real_distribution<double>(lo, hi)(rng);
}
template <int R, int C = 1>
Eigen::Matrix<double, R, C> randomMatrix(std::mt19937& rng, double range = 1.0) {
  Eigen::Matrix<double, R, C> m;
  for (int i = 0; i < R; ++i)
    for (int j = 0; j < C; ++j) m(i, j) = uniform(rng, -range, range);
  return m;
}
inline Mat4 randomPose(std::mt19937& rng, double reach = 0.5) {
  return homogeneous(rotationVector(randomMatrix<3>(rng, 2.0)), randomMatrix<3>(rng, reach));
}

}  // namespace model_test

#endif
