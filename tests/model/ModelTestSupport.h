// Independent reference kinematics for the multibody model tests, in plain Eigen next to the
// spatial algebra of support/SpatialAlgebra.h: elementary rotations and translations, a pose curve
// with a given body twist, and the body twist of a pose curve by finite differences.
#ifndef ZORVIK_MODEL_TEST_SUPPORT_H
#define ZORVIK_MODEL_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include "support/FiniteDifference.h"
#include "support/MatrixNear.h"
#include "support/Random.h"
#include "support/SpatialAlgebra.h"

namespace zorvik_test {

typedef Eigen::Vector3d Vec3;
typedef Eigen::Matrix3d Mat3;
typedef Eigen::Matrix4d Mat4;

// Rotation by `angle` about the unit vector `axis`, through Eigen's angle-axis conversion.
inline Mat3 axisAngle(const Vec3& axis, double angle) {
  return Eigen::AngleAxisd(angle, axis.normalized()).toRotationMatrix();
}

inline Mat4 rotX(double a) { return homogeneous(axisAngle(Vec3::UnitX(), a), Vec3::Zero()); }
inline Mat4 rotZ(double a) { return homogeneous(axisAngle(Vec3::UnitZ(), a), Vec3::Zero()); }
inline Mat4 transX(double d) { return homogeneous(Mat3::Identity(), Vec3(d, 0, 0)); }
inline Mat4 transZ(double d) { return homogeneous(Mat3::Identity(), Vec3(0, 0, d)); }
inline Mat4 translation(const Vec3& p) { return homogeneous(Mat3::Identity(), p); }

// A pose curve through the identity with derivative hat(V) at t = 0: (exp(t [w]), t v). It lies on
// SE(3) for every t, which is all a finite difference of a body twist needs.
inline Mat4 curveWithTwist(const Vec6& V, double t) {
  return homogeneous(expSO3(t * V.tail<3>()), t * V.head<3>());
}

// Body twist of a pose curve at t = 0: vee(T(0)^-1 dT/dt), the angular part taken from the
// skew-symmetric part of the rotation block.
template <typename PoseFn>
Vec6 bodyTwistByFiniteDifference(PoseFn pose, double h) {
  const Mat4 Tinv = inversePose(pose(0.0));
  const Mat4 dT = centralDifference([&](double t) -> Mat4 { return pose(t); }, h);
  const Mat4 M = Tinv * dT;
  Vec6 V;
  V << M.topRightCorner<3, 1>(), vee(Mat3(M.topLeftCorner<3, 3>()));
  return V;
}

}  // namespace zorvik_test

#endif
