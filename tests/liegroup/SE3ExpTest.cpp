// Exponential coordinates on SE(3): the logarithm HTransform::expCoord, the 6x6 dexp and dexp_inv
// of a twist, and the time derivative ddt_dexp with its small-angle branch. References: the general
// matrix exponential of the 4x4 twist matrix, finite differences, and series expansions worked out
// below.
#include <LieGroup/HTransform>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "support/FiniteDifference.h"
#include "support/MatrixNear.h"
#include "support/RandomLieGroup.h"
#include "support/ReferenceLieGroup.h"

namespace se3_exp_test {

using namespace LieGroup;
using zorvik_test::centralDifference;
using zorvik_test::expSE3;
using zorvik_test::hat;
using zorvik_test::inversePose;
using zorvik_test::RandomLieGroup;
using zorvik_test::skew;
using zorvik_test::vee;

const double kPi = M_PI;
typedef Eigen::Matrix3d M3;

Matrix6d dexpOf(const Twist& lambda) {
  double a, b, t;
  lambda.compute_terms(&a, &b, &t);
  return lambda.dexp(a, b, t);
}

Matrix6d dexpInvOf(const Twist& lambda) {
  double a, b, t;
  lambda.compute_terms(&a, &b, &t);
  return lambda.dexp_inv(a, b, t);
}

// ddt_dexp of lambda = (eta, xi) moving with lambda_dot = (etadot, xidot), with the dot products
// the caller is expected to supply.
Matrix6d ddtDexpOf(const Twist& lambda, const Twist& lambda_dot) {
  double a, b, t;
  lambda.compute_terms(&a, &b, &t);
  const Eigen::Vector3d eta = lambda.v(), xi = lambda.w();
  const Eigen::Vector3d etadot = lambda_dot.v(), xidot = lambda_dot.w();
  return lambda.ddt_dexp(a, b, t, xi.dot(eta), xi.dot(xidot), xi.dot(etadot), xidot.dot(eta),
                         lambda_dot);
}

// d/dt of Twist::dexp along lambda + t lambda_dot, by central differences.
Matrix6d numericDdtDexp(const Twist& lambda, const Twist& lambda_dot, double h) {
  return centralDifference([&](double t) { return dexpOf(Twist(lambda + t * lambda_dot)); }, h);
}

// Exponential coordinates with the rotation angle given.
Twist twistWithAngle(RandomLieGroup& rnd, double angle) { return rnd.twistWithAngle(angle, 1.0); }

TEST(SE3ExpCoord, EdgeCasesHaveClosedForms) {
  EXPECT_MATRIX_NEAR(HTransform(M3::Identity(), Eigen::Vector3d::Zero()).expCoord(),
                     Vector6d::Zero(), 0);
  const Eigen::Vector3d r(0.3, -1.2, 2.5);
  EXPECT_MATRIX_NEAR(HTransform(M3::Identity(), r).expCoord(), Twist(r, Eigen::Vector3d::Zero()),
                     0);
  RandomLieGroup rnd(61);
  const Rotation R = rnd.rotation();
  EXPECT_MATRIX_NEAR(HTransform(R, Eigen::Vector3d::Zero()).expCoord(),
                     Twist(Eigen::Vector3d::Zero(), R.expCoord()), 0);
  // A screw along z: rotation by phi about z, translation d along the same axis. The translation
  // is along the rotation axis, so eta = (0, 0, d) untouched by dexp_inv.
  for (double phi : {0.1, 1.0, 3.0}) {
    const double d = 0.7;
    const HTransform T(Eigen::AngleAxisd(phi, Eigen::Vector3d::UnitZ()).toRotationMatrix(),
                       Eigen::Vector3d(0, 0, d));
    EXPECT_MATRIX_NEAR(T.expCoord(), Twist(0, 0, d, 0, 0, phi), 1e-15) << "phi " << phi;
  }
}

// expCoord inverts the matrix exponential for rotation angles in [0, pi). At exactly pi the axis
// sign is a convention, so there the result is checked through the exponential.
TEST(SE3ExpCoord, InvertsMatrixExponential) {
  RandomLieGroup rnd(62);
  std::vector<double> angles = {0.0, 1e-12, 1e-8, 1e-4, 0.5, 2.0, 3.0, kPi - 1e-6, kPi - 1e-9};
  for (int i = 0; i < 20; ++i) angles.push_back(rnd.uniform(0, kPi));
  for (double angle : angles) {
    for (int i = 0; i < 5; ++i) {
      const Twist lambda = rnd.twistWithAngle(angle, 2.0);
      const HTransform T(expSE3(lambda));
      const Twist log = T.expCoord();
      EXPECT_MATRIX_NEAR(log, lambda, 1e-12) << "angle " << angle;
    }
  }
  for (int i = 0; i < 10; ++i) {
    const Twist lambda = rnd.twistWithAngle(kPi, 2.0);
    const HTransform T(expSE3(lambda));
    const Twist log = T.expCoord();
    EXPECT_NEAR(log.w().norm(), kPi, 1e-14);
    EXPECT_MATRIX_NEAR(expSE3(log), T, 1e-13);
  }
}

TEST(SE3Exp, TwistExpMatchesMatrixExponential) {
  RandomLieGroup rnd(63);
  for (double angle : {0.0, 1e-10, 1e-4, 0.5, 2.0, kPi, 5.0}) {
    for (int i = 0; i < 5; ++i) {
      const Twist lambda = rnd.twistWithAngle(angle, 2.0);
      EXPECT_MATRIX_NEAR(lambda.exp(), expSE3(lambda), 1e-13) << "angle " << angle;
    }
  }
}

// Left-trivialised derivative on SE(3): d/dt exp(lambda + t mu) exp(lambda)^-1 at t = 0 is
// hat(dexp(lambda) mu), i.e. exp(lambda + h mu) exp(lambda)^-1 = exp(h dexp mu) + O(h^2). The
// derivative runs on the general matrix exponential.
TEST(SE3Dexp, DexpIsLeftTrivialisedDerivative) {
  RandomLieGroup rnd(64);
  for (double angle : {0.0, 1e-6, 1e-3, 0.5, 2.0, kPi - 1e-6, kPi}) {
    for (int i = 0; i < 5; ++i) {
      const Twist lambda = twistWithAngle(rnd, angle), mu = rnd.twist();
      const Eigen::Matrix4d dT = centralDifference(
          [&](double t) { return Eigen::Matrix4d(expSE3(lambda + t * mu)); }, 1e-3);
      const Eigen::Matrix4d lhs = dT * inversePose(expSE3(lambda));
      const Vector6d rhs = dexpOf(lambda) * mu;
      EXPECT_MATRIX_NEAR(lhs, hat(rhs), 1e-10) << "angle " << angle;
    }
  }
  // At xi = 0 the closed forms are [[I, (1/2)[eta]], [0, I]] and its inverse.
  const Eigen::Vector3d eta(0.4, -1.1, 0.8);
  const Twist pure(eta, Eigen::Vector3d::Zero());
  Matrix6d expected = Matrix6d::Identity();
  expected.topRightCorner<3, 3>() = 0.5 * skew(eta);
  EXPECT_MATRIX_NEAR(dexpOf(pure), expected, 1e-16);
  expected.topRightCorner<3, 3>() = -0.5 * skew(eta);
  EXPECT_MATRIX_NEAR(dexpInvOf(pure), expected, 1e-16);
}

// dexp_inv is the inverse of dexp over [0, pi]. For small angles the coefficients
// (1 - alpha)/theta^2 and (1 - alpha/beta)/theta^2 are differences of numbers next to 1 divided by
// theta^2, good only to about 1e-16/theta^2, and they multiply upper-right terms of size
// theta |eta|: the product is the identity to about |eta| min(1e-16/theta, theta), which peaks
// near theta = 1e-8 at about 1e-8.
TEST(SE3Dexp, DexpTimesDexpInvIsIdentity) {
  RandomLieGroup rnd(65);
  for (double angle : {0.0, 1e-12, 1e-8, 1e-4, 0.5, 2.0, kPi - 1e-6, kPi}) {
    for (int i = 0; i < 5; ++i) {
      const Twist lambda = twistWithAngle(rnd, angle);
      const double tol = 1e-13 + lambda.v().norm() * std::min(1e-15 / angle, angle);
      const Matrix6d J = dexpOf(lambda), Ji = dexpInvOf(lambda);
      EXPECT_MATRIX_NEAR(J * Ji, Matrix6d::Identity(), tol) << "angle " << angle;
      EXPECT_MATRIX_NEAR(Ji * J, Matrix6d::Identity(), tol) << "angle " << angle;
      EXPECT_MATRIX_NEAR((J.bottomLeftCorner<3, 3>()), M3::Zero(), 0);
      EXPECT_MATRIX_NEAR((J.topLeftCorner<3, 3>()), (J.bottomRightCorner<3, 3>()), 0);
    }
  }
}

TEST(SE3BuildingBlocks, CommonExpressionsMatchTheirMatrixForms) {
  RandomLieGroup rnd(66);
  for (int i = 0; i < 20; ++i) {
    const Eigen::Vector3d xi = rnd.vector3(2), xidot = rnd.vector3(2), eta = rnd.vector3(2),
                          etadot = rnd.vector3(2);
    double c[9];
    for (double& ci : c) ci = rnd.uniform(-2, 2);
    const M3 X = skew(xi), U = skew(xidot), E = skew(eta), P = skew(etadot);
    const M3 expected3 = c[0] * X + c[1] * U + c[2] * E + c[3] * P + c[4] * X * X +
                         c[5] * (X * U + U * X) + c[6] * (X * E + E * X) + c[7] * (X * P + P * X) +
                         c[8] * (U * E + E * U);
    EXPECT_MATRIX_NEAR(internal::_common_expression_3(c[0], c[1], c[2], c[3], c[4], c[5], c[6],
                                                      c[7], c[8], xi, xidot, eta, etadot),
                       expected3, 1e-12);
    // a [etadot] + b ([xidot][eta] + [eta][xidot]).
    EXPECT_MATRIX_NEAR(internal::_common_expression_4(c[0], c[1], etadot, eta, xidot),
                       c[0] * P + c[1] * (U * E + E * U), 1e-13);
  }
}

// Away from the small-angle branch, ddt_dexp is the derivative of Twist::dexp along the path
// lambda + t lambda_dot, to finite-difference accuracy. At xi = 0 the branch's first-order form is
// exact (the terms it drops carry a factor xi), so that point belongs here too. The step 1e-3 keeps
// the path's angles at or above about 1e-4, where Twist::dexp's own rounding noise (about
// 1e-16/theta) divided by the step stays below 1e-9.
TEST(SE3DdtDexp, DdtDexpIsDerivativeOfDexpAlongPath) {
  RandomLieGroup rnd(67);
  for (double angle : {0.0, 0.05, 0.3, 1.0, 2.0, kPi - 1e-3, kPi}) {
    for (int i = 0; i < 5; ++i) {
      const Twist lambda = twistWithAngle(rnd, angle), lambda_dot = rnd.twist();
      EXPECT_MATRIX_NEAR(ddtDexpOf(lambda, lambda_dot), numericDdtDexp(lambda, lambda_dot, 1e-3),
                         1e-8)
          << "angle " << angle;
    }
  }
}

// Just above the threshold |theta^2| = 1e-6, the general branch keeps enough digits: its
// coefficients f = (beta/2 - 3c)/theta^2 and e = (alpha - beta)/theta^2 carry absolute errors of
// about 1e-16/theta^4 but multiply terms of order theta^2, so the block is good to about 1e-9. The
// finite difference of Twist::dexp there is good to about 1e-8 (its own (1 - alpha)/theta^2 noise
// of about 1e-13 divided by the step 1e-4).
TEST(SE3DdtDexp, AboveThresholdMatchesFiniteDifference) {
  RandomLieGroup rnd(68);
  for (double theta_sqr : {1e-6 * (1 + 1e-9), 2e-6, 1e-5}) {
    for (int i = 0; i < 5; ++i) {
      const Twist lambda = twistWithAngle(rnd, std::sqrt(theta_sqr)), lambda_dot = rnd.twist();
      double a, b, t;
      lambda.compute_terms(&a, &b, &t);
      ASSERT_GE(t, 1e-6);
      EXPECT_MATRIX_NEAR(ddtDexpOf(lambda, lambda_dot), numericDdtDexp(lambda, lambda_dot, 1e-4),
                         1e-7)
          << "theta^2 " << theta_sqr;
    }
  }
}

// The first-order terms that the small-angle branch leaves out of the upper-right block. From
//   Q(xi, eta) = (1/2)[eta] + (1/6)([xi][eta] + [eta][xi]) - (xi.eta/12)[xi] - (theta^2/24)[eta]
//                + O(theta^3),
// its time derivative is the branch's (1/2)[etadot] + (1/6)([xidot][eta] + [eta][xidot]) plus
//   (1/6)([xi][etadot] + [etadot][xi])
//   - (1/12)((xidot.eta)[xi] + (xi.eta)[xidot] + (xi.xidot)[eta])
// plus O(theta^2).
M3 droppedFirstOrderTerm(const Twist& lambda, const Twist& lambda_dot) {
  const Eigen::Vector3d eta = lambda.v(), xi = lambda.w();
  const Eigen::Vector3d etadot = lambda_dot.v(), xidot = lambda_dot.w();
  const M3 X = skew(xi), P = skew(etadot);
  return (X * P + P * X) / 6 -
         (xidot.dot(eta) * X + xi.dot(eta) * skew(xidot) + xi.dot(xidot) * skew(eta)) / 12;
}

// Size of the dropped term: theta (|etadot| + |xidot| |eta|) bounds it in the Frobenius norm
// (||[a][b] + [b][a]||_F <= 5.5 |a||b| and ||[a]||_F = sqrt(2) |a| give at most 0.92 and 0.36).
double firstOrderBound(const Twist& lambda, const Twist& lambda_dot) {
  return lambda.w().norm() * (lambda_dot.v().norm() + lambda_dot.w().norm() * lambda.v().norm());
}

// Below the threshold the upper-right block is the first-order form
// (1/2)[etadot] + (1/6)([xidot][eta] + [eta][xidot]); it differs from the true derivative by the
// dropped term above, of order theta, while the diagonal blocks stay exact.
TEST(SE3DdtDexp, BelowThresholdIsFirstOrderFormWithinOrderTheta) {
  RandomLieGroup rnd(69);
  for (double theta : {1e-6, 1e-4, 5e-4, std::sqrt(1e-6 * (1 - 1e-9))}) {
    for (int i = 0; i < 5; ++i) {
      const Twist lambda = twistWithAngle(rnd, theta), lambda_dot = rnd.twist();
      double a, b, t;
      lambda.compute_terms(&a, &b, &t);
      ASSERT_LT(t, 1e-6);
      const Eigen::Vector3d eta = lambda.v(), etadot = lambda_dot.v(), xidot = lambda_dot.w();
      const Matrix6d analytic = ddtDexpOf(lambda, lambda_dot);
      const Matrix6d numeric = numericDdtDexp(lambda, lambda_dot, 1e-4);
      const M3 D = analytic.topRightCorner<3, 3>();
      const M3 first_order =
          0.5 * skew(etadot) + (skew(xidot) * skew(eta) + skew(eta) * skew(xidot)) / 6;
      EXPECT_MATRIX_NEAR(D, first_order, 1e-15) << "theta " << theta;

      const M3 error = numeric.topRightCorner<3, 3>() - D;
      EXPECT_LE(error.norm(), firstOrderBound(lambda, lambda_dot) + 1e-7) << "theta " << theta;
      EXPECT_MATRIX_NEAR(error, droppedFirstOrderTerm(lambda, lambda_dot), 2 * theta * theta + 1e-7)
          << "theta " << theta;

      EXPECT_MATRIX_NEAR((analytic.topLeftCorner<3, 3>()), (numeric.topLeftCorner<3, 3>()), 1e-9);
      EXPECT_MATRIX_NEAR((analytic.bottomRightCorner<3, 3>()), (numeric.bottomRightCorner<3, 3>()),
                         1e-9);
      EXPECT_MATRIX_NEAR((analytic.bottomLeftCorner<3, 3>()), M3::Zero(), 0);
    }
  }
}

// Crossing |theta^2| = 1e-6 with everything else fixed, the upper-right block jumps by the dropped
// first-order term: of order theta = 1e-3, not larger; the diagonal blocks do not jump.
TEST(SE3DdtDexp, JumpAcrossThresholdIsOrderTheta) {
  RandomLieGroup rnd(70);
  for (int i = 0; i < 10; ++i) {
    const Eigen::Vector3d axis = rnd.unitVector(), eta = rnd.vector3();
    const Twist lambda_dot = rnd.twist();
    const Twist below(eta, std::sqrt(1e-6 * (1 - 1e-9)) * axis);
    const Twist above(eta, std::sqrt(1e-6 * (1 + 1e-9)) * axis);
    double a, b, t_below, t_above;
    below.compute_terms(&a, &b, &t_below);
    above.compute_terms(&a, &b, &t_above);
    ASSERT_LT(t_below, 1e-6);
    ASSERT_GE(t_above, 1e-6);
    const Matrix6d D_below = ddtDexpOf(below, lambda_dot), D_above = ddtDexpOf(above, lambda_dot);
    const M3 jump = D_above.topRightCorner<3, 3>() - D_below.topRightCorner<3, 3>();
    EXPECT_LE(jump.norm(), firstOrderBound(above, lambda_dot));
    EXPECT_MATRIX_NEAR(jump, droppedFirstOrderTerm(above, lambda_dot), 2e-6);
    EXPECT_MATRIX_NEAR((D_above.topLeftCorner<3, 3>()), (D_below.topLeftCorner<3, 3>()), 1e-9);
  }
}

}  // namespace se3_exp_test
