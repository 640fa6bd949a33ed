// The differential of the exponential map on SO(3): series coefficients, dexp, dexp_inv and their
// time derivatives. References: Rodrigues' formula through Eigen's AngleAxis and finite
// differences.
#include <LieGroup/Vector3D>

#include <gtest/gtest.h>

#include <cmath>

#include "support/FiniteDifference.h"
#include "support/MatrixNear.h"
#include "support/RandomLieGroup.h"
#include "support/ReferenceLieGroup.h"

namespace so3_exp_test {

using namespace LieGroup;
using zorvik_test::centralDifference;
using zorvik_test::expSO3;
using zorvik_test::RandomLieGroup;
using zorvik_test::skew;

const double kPi = M_PI;

struct Terms {
  double alpha, beta, theta_sqr;
};

Terms termsOf(const Vector3D& w) {
  Terms t;
  w.compute_terms(&t.alpha, &t.beta, &t.theta_sqr);
  return t;
}

Eigen::Matrix3d dexpOf(const Vector3D& w) {
  const Terms t = termsOf(w);
  return w.dexp(t.alpha, t.beta, t.theta_sqr);
}

Eigen::Matrix3d dexpInvOf(const Vector3D& w) {
  const Terms t = termsOf(w);
  return w.dexp_inv(t.alpha, t.beta, t.theta_sqr);
}

TEST(SO3Terms, ComputeTermsMatchClosedForms) {
  const Terms zero = termsOf(Vector3D(0, 0, 0));
  EXPECT_EQ(zero.theta_sqr, 0.0);
  EXPECT_EQ(zero.alpha, 1.0);
  EXPECT_EQ(zero.beta, 1.0);

  const Terms half_turn = termsOf(Vector3D(0, 0, kPi));
  EXPECT_NEAR(half_turn.theta_sqr, kPi * kPi, 1e-14);
  EXPECT_NEAR(half_turn.alpha, 0.0, 1e-16);
  EXPECT_NEAR(half_turn.beta, 4 / (kPi * kPi), 1e-16);

  RandomLieGroup rnd(21);
  // alpha = sin(theta)/theta, beta = 2 (1 - cos theta)/theta^2, away from 0 where 1 - cos theta
  // keeps its digits.
  for (int i = 0; i < 50; ++i) {
    const double theta = rnd.uniform(0.1, 2 * kPi - 0.1);
    const Vector3D w = rnd.rotationVector(theta);
    const Terms t = termsOf(w);
    EXPECT_DOUBLE_EQ(t.theta_sqr, w.squaredNorm());
    EXPECT_NEAR(t.alpha, std::sin(theta) / theta, 1e-14);
    EXPECT_NEAR(t.beta, 2 * (1 - std::cos(theta)) / (theta * theta), 1e-13);
  }
  // Near 0 by their Taylor series: alpha = 1 - theta^2/6 + theta^4/120, beta = 1 - theta^2/12 +
  // theta^4/360.
  for (double theta : {1e-8, 1e-5, 1e-3}) {
    const Terms t = termsOf(rnd.rotationVector(theta));
    const double s = theta * theta;
    EXPECT_NEAR(t.alpha, 1 - s / 6 + s * s / 120, 4.5e-16);
    EXPECT_NEAR(t.beta, 1 - s / 12 + s * s / 360, 4.5e-16);
  }
}

// Left-trivialised derivative: d/dt exp(w + t u) at t = 0, multiplied on the right by exp(w)^-1,
// is the skew matrix of dexp(w) u. The finite difference runs on Rodrigues' formula, not on the
// library's exp. A right-trivialised dexp (the transpose) fails this by the sign of its [w] term.
TEST(SO3Dexp, DexpIsLeftTrivialisedDerivative) {
  RandomLieGroup rnd(22);
  for (double angle : {0.0, 1e-8, 1e-4, 0.5, 1.5, 2.5, kPi - 1e-6, kPi}) {
    for (int i = 0; i < 5; ++i) {
      const Vector3D w = rnd.rotationVector(angle);
      const Eigen::Vector3d u = rnd.vector3();
      const Eigen::Matrix3d dR =
          centralDifference([&](double t) { return Eigen::Matrix3d(expSO3(w + t * u)); }, 1e-3);
      const Eigen::Matrix3d lhs = dR * expSO3(w).transpose();
      EXPECT_MATRIX_NEAR(lhs, skew(dexpOf(w) * u), 1e-10) << "angle " << angle;
    }
  }
}

// dexp_inv is the inverse of dexp, and both leave the rotation vector itself fixed
// (dexp(w) w = w: moving along w only changes the angle).
TEST(SO3Dexp, DexpTimesDexpInvIsIdentity) {
  RandomLieGroup rnd(23);
  const Eigen::Matrix3d I = Eigen::Matrix3d::Identity();
  for (double angle : {0.0, 1e-12, 1e-8, 1e-4, 0.5, 2.0, kPi - 1e-6, kPi}) {
    for (int i = 0; i < 5; ++i) {
      const Vector3D w = rnd.rotationVector(angle);
      const Eigen::Matrix3d J = dexpOf(w), Ji = dexpInvOf(w);
      EXPECT_MATRIX_NEAR(J * Ji, I, 1e-14) << "angle " << angle;
      EXPECT_MATRIX_NEAR(Ji * J, I, 1e-14) << "angle " << angle;
      EXPECT_MATRIX_NEAR(J * w, w, 1e-15) << "angle " << angle;
      EXPECT_MATRIX_NEAR(Ji * w, w, 1e-15) << "angle " << angle;
    }
  }
}

// Along the path w(t) = w0 + t u, the analytic time derivatives equal the central differences of
// dexp and dexp_inv. The smallest nonzero angle is 1e-3: there (1 - alpha)/theta^2 still holds
// ten digits, so the analytic side is good to about 1e-13 and the comparison is limited by the
// stencil (about 1e-12 with h = 1e-4). At exactly 0 the derivatives are (1/2)[u] and -(1/2)[u].
const double kPathAngles[] = {0.0, 1e-3, 0.3, 1.0, 2.5, kPi - 1e-3, kPi};

TEST(SO3Dexp, DdtDexpIsDerivativeOfDexpAlongPath) {
  RandomLieGroup rnd(24);
  for (double angle : kPathAngles) {
    for (int i = 0; i < 5; ++i) {
      const Vector3D w0 = rnd.rotationVector(angle);
      const Eigen::Vector3d u = rnd.vector3();
      const Terms t = termsOf(w0);
      const Eigen::Matrix3d analytic = w0.ddt_dexp(t.alpha, t.beta, t.theta_sqr, w0.dot(u), u);
      const Eigen::Matrix3d numeric =
          centralDifference([&](double s) { return dexpOf(Vector3D(w0 + s * u)); }, 1e-4);
      EXPECT_MATRIX_NEAR(analytic, numeric, 1e-10) << "angle " << angle;
    }
  }
}

TEST(SO3Dexp, DdtDexpInvIsDerivativeOfDexpInvAlongPath) {
  RandomLieGroup rnd(25);
  for (double angle : kPathAngles) {
    for (int i = 0; i < 5; ++i) {
      const Vector3D w0 = rnd.rotationVector(angle);
      const Eigen::Vector3d u = rnd.vector3();
      const Terms t = termsOf(w0);
      const Eigen::Matrix3d analytic = w0.ddt_dexp_inv(t.alpha, t.beta, t.theta_sqr, w0.dot(u), u);
      const Eigen::Matrix3d numeric =
          centralDifference([&](double s) { return dexpInvOf(Vector3D(w0 + s * u)); }, 1e-4);
      EXPECT_MATRIX_NEAR(analytic, numeric, 1e-10) << "angle " << angle;
    }
  }
}

// Rotation vectors so small that 1/theta^4 overflows (theta^2 < 1e-154), though theta^2 itself is a
// normal number: the time derivative of dexp_inv must stay finite and equal its limit -(1/2)[u],
// whose neglected terms are of relative size theta. (Found by fuzzing the transform controller,
// whose error rate goes through the SE(3) dexp_inv and hence this derivative: a NaN there.)
TEST(SO3Dexp, DdtDexpInvOfTinyRotationVectorsIsItsLimit) {
  RandomLieGroup rnd(26);
  const Eigen::Matrix3d limit = -0.5 * skew(Eigen::Vector3d(0.3, -1.2, 2.0));
  for (double theta : {1e-70, 1e-77, 1.2e-77, 1e-100, 1e-132, 1e-150}) {
    const Vector3D w0 = rnd.rotationVector(1.0).normalized() * theta;
    const Eigen::Vector3d u(0.3, -1.2, 2.0);
    const Terms t = termsOf(w0);
    ASSERT_GT(t.theta_sqr, 0) << theta;
    const Eigen::Matrix3d d = w0.ddt_dexp_inv(t.alpha, t.beta, t.theta_sqr, w0.dot(u), u);
    ASSERT_TRUE(d.allFinite()) << theta;
    EXPECT_MATRIX_NEAR(d, limit, 1e-15) << theta;
  }
}

}  // namespace so3_exp_test
