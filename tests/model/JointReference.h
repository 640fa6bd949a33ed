// The tests' own model of each kind of joint: the child pose relative to the parent, Tadj(q), and
// the child's twist relative to the parent in the child frame, Vadj(q, qdot), written from the
// geometry of the joint (a joint frame, then the joint's motion) without the library's Lie group
// code.
#ifndef ZORVIK_MODEL_JOINT_REFERENCE_H
#define ZORVIK_MODEL_JOINT_REFERENCE_H

#include <functional>

#include "ModelTestSupport.h"

namespace zorvik_test {

struct JointReference {
  int dof;
  std::function<Mat4(const double* q)> pose;
  std::function<Vec6(const double* q, const double* qdot)> twist;
};

// Body angular velocity of R(t) = exp([xi(t)]): R^T dR/dt = [J(xi) xidot] with
//   J(xi) = I - ((1 - cos t)/t^2) [xi] + ((t - sin t)/t^3) [xi]^2,  t = |xi|.
// Below t = 1e-3 the two coefficients come from their series (error below t^6), since the closed
// forms lose their digits to cancellation there.
inline Mat3 rightJacobianSO3(const Vec3& xi) {
  const double t2 = xi.squaredNorm(), t = std::sqrt(t2);
  double a, b;
  if (t < 1e-3) {
    a = 0.5 - t2 / 24 + t2 * t2 / 720;
    b = 1.0 / 6 - t2 / 120 + t2 * t2 / 5040;
  } else {
    a = (1 - std::cos(t)) / t2;
    b = (t - std::sin(t)) / (t2 * t);
  }
  const Mat3 K = skew(xi);
  return Mat3::Identity() - a * K + b * K * K;
}

inline Vec6 twistOf(const Vec3& v, const Vec3& w) {
  Vec6 V;
  V << v, w;
  return V;
}

// No coordinates, a fixed child pose.
inline JointReference fixedReference(const Mat4& T) {
  return {0, [T](const double*) { return T; },
          [](const double*, const double*) { return Vec6(Vec6::Zero()); }};
}

// Rotation by q about the unit axis a of the joint frame `origin`: origin * (Rot(a, q), 0). The
// child turns about a, which it shares with the joint frame, so its twist is (0, a qdot).
inline JointReference revoluteReference(const Mat4& origin, const Vec3& axis) {
  const Vec3 a = axis.normalized();
  return {
      1,
      [=](const double* q) { return Mat4(origin * homogeneous(axisAngle(a, q[0]), Vec3::Zero())); },
      [=](const double*, const double* qd) { return twistOf(Vec3::Zero(), a * qd[0]); }};
}

// Translation by q along the unit axis a of the joint frame: origin * (I, q a); twist (a qdot, 0).
inline JointReference prismaticReference(const Mat4& origin, const Vec3& axis) {
  const Vec3 a = axis.normalized();
  return {1, [=](const double* q) { return Mat4(origin * translation(q[0] * a)); },
          [=](const double*, const double* qd) { return twistOf(a * qd[0], Vec3::Zero()); }};
}

// Modified Denavit-Hartenberg (Craig): Rx(alpha) Tx(a) Rz(theta) Tz(d), theta = theta0 + q. The
// child turns about its own z axis: twist (0, 0, 0, 0, 0, qdot).
inline JointReference mdhRevoluteReference(double alpha, double a, double d, double theta0) {
  return {1,
          [=](const double* q) {
            return Mat4(rotX(alpha) * transX(a) * rotZ(theta0 + q[0]) * transZ(d));
          },
          [](const double*, const double* qd) { return twistOf(Vec3::Zero(), Vec3(0, 0, qd[0])); }};
}

// Rx(alpha) Tx(a) Rz(theta) Tz(d), d = d0 + q; the child slides along its own z axis.
inline JointReference mdhPrismaticReference(double alpha, double a, double theta, double d0) {
  return {1,
          [=](const double* q) {
            return Mat4(rotX(alpha) * transX(a) * rotZ(theta) * transZ(d0 + q[0]));
          },
          [](const double*, const double* qd) { return twistOf(Vec3(0, 0, qd[0]), Vec3::Zero()); }};
}

// Rotation q0 about and translation q1 along one unit axis a: origin * (Rot(a, q0), q1 a).
inline JointReference cylindricalReference(const Mat4& origin, const Vec3& axis) {
  const Vec3 a = axis.normalized();
  return {2,
          [=](const double* q) {
            return Mat4(origin * homogeneous(axisAngle(a, q[0]), q[1] * a));
          },
          [=](const double*, const double* qd) { return twistOf(a * qd[1], a * qd[0]); }};
}

// Ball joint with rotation vector q: origin * (exp([q]), 0); twist (0, J(q) qdot).
inline JointReference sphericalReference(const Mat4& origin) {
  return {3,
          [=](const double* q) {
            return Mat4(origin * homogeneous(expSO3(Vec3(q[0], q[1], q[2])), Vec3::Zero()));
          },
          [](const double* q, const double* qd) {
            return twistOf(Vec3::Zero(),
                           rightJacobianSO3(Vec3(q[0], q[1], q[2])) * Vec3(qd[0], qd[1], qd[2]));
          }};
}

// Six coordinates q = (p, xi): origin * (exp([xi]), p). The child's origin moves with pdot in the
// joint frame, R^T pdot in its own; its angular velocity is J(xi) xidot.
inline JointReference freeReference(const Mat4& origin) {
  return {6,
          [=](const double* q) {
            return Mat4(origin *
                        homogeneous(expSO3(Vec3(q[3], q[4], q[5])), Vec3(q[0], q[1], q[2])));
          },
          [](const double* q, const double* qd) {
            const Vec3 xi(q[3], q[4], q[5]);
            return twistOf(expSO3(xi).transpose() * Vec3(qd[0], qd[1], qd[2]),
                           rightJacobianSO3(xi) * Vec3(qd[3], qd[4], qd[5]));
          }};
}

}  // namespace zorvik_test

#endif
