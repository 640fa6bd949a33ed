// Rotations: the skew-matrix building blocks, the exponential and logarithm of SO(3), and relative
// rotations. References: explicit skew matrices and Eigen's AngleAxis (Rodrigues' formula).
#include <LieGroup/Rotation>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/MatrixNear.h"
#include "support/RandomLieGroup.h"
#include "support/ReferenceLieGroup.h"

namespace rotation_test {

using namespace LieGroup;
using zorvik_test::expSO3;
using zorvik_test::RandomLieGroup;
using zorvik_test::skew;

const double kPi = M_PI;

TEST(RotationBuildingBlocks, CeilIsCrossProductMatrix) {
  RandomLieGroup rnd(11);
  for (int i = 0; i < 20; ++i) {
    const Eigen::Vector3d a = rnd.vector3(2), b = rnd.vector3(2);
    const Eigen::Matrix3d C = internal::_ceil_expression(a.x(), a.y(), a.z());
    EXPECT_MATRIX_NEAR(C * b, a.cross(b), 1e-15);
    // [a]^2 = a a^T - |a|^2 I, and it is the square of [a].
    const Eigen::Matrix3d C2 = internal::_ceil_sqr_expression(a.x(), a.y(), a.z());
    EXPECT_MATRIX_NEAR(C2, C * C, 1e-14);
    EXPECT_MATRIX_NEAR(C2, a * a.transpose() - a.squaredNorm() * Eigen::Matrix3d::Identity(),
                       1e-14);
  }
}

TEST(RotationBuildingBlocks, CommonExpressionsMatchTheirMatrixForms) {
  RandomLieGroup rnd(12);
  const Eigen::Matrix3d I = Eigen::Matrix3d::Identity();
  for (int i = 0; i < 20; ++i) {
    const Eigen::Vector3d xi = rnd.vector3(2), eta = rnd.vector3(2);
    const double a = rnd.uniform(-2, 2), b = rnd.uniform(-2, 2), c = rnd.uniform(-2, 2),
                 d = rnd.uniform(-2, 2);
    const Eigen::Matrix3d X = skew(xi), E = skew(eta);
    EXPECT_MATRIX_NEAR(internal::_common_expression_1(a, b, xi), I + a * X + b * X * X, 1e-13);
    EXPECT_MATRIX_NEAR(internal::_common_expression_2(a, b, c, d, xi, eta),
                       a * X + b * X * X + c * E + d * (X * E + E * X), 1e-13);
  }
}

// exp([w]) = I + alpha [w] + (beta/2) [w]^2 must agree with Rodrigues' formula at every angle,
// including beyond pi where the logarithm wraps.
TEST(RotationExp, MatchesAngleAxis) {
  RandomLieGroup rnd(13);
  for (double angle : {0.0, 1e-12, 1e-6, 0.5, 2.0, kPi, 4.0, 6.0}) {
    for (int i = 0; i < 5; ++i) {
      const Vector3D w = rnd.rotationVector(angle);
      EXPECT_MATRIX_NEAR(w.exp(), expSO3(w), 1e-14) << "angle " << angle;
    }
  }
}

// Rotations built by Rodrigues' formula from a known angle in [0, pi) and axis: the logarithm is
// angle * axis. The tolerance is relative to the angle, because near zero an absolute tolerance
// would accept the zero vector. At exactly pi the sign of the axis is a convention, so there the
// result is compared through the exponential: it must reproduce the rotation with an angle of pi.
TEST(RotationExpCoord, MatchesAngleAxisOverTheRange) {
  RandomLieGroup rnd(14);
  std::vector<double> angles = {0.0, 1e-12, 1e-8, 1e-4, 0.3, 1.0, 2.0, 3.0, kPi - 1e-6, kPi - 1e-9};
  for (int i = 0; i < 40; ++i) angles.push_back(rnd.uniform(0, kPi));
  for (double angle : angles) {
    for (int i = 0; i < 8; ++i) {
      const Eigen::Vector3d axis = rnd.unitVector();
      const Rotation R(Eigen::AngleAxisd(angle, axis).toRotationMatrix());
      const Vector3D w = R.expCoord();
      EXPECT_MATRIX_NEAR(w, angle * axis, 1e-13 * angle) << "angle " << angle;
      EXPECT_MATRIX_NEAR(expSO3(w), R, 1e-14) << "angle " << angle;
    }
  }
  for (int i = 0; i < 20; ++i) {
    const Eigen::Vector3d axis = rnd.unitVector();
    const Rotation R(Eigen::AngleAxisd(kPi, axis).toRotationMatrix());
    const Vector3D w = R.expCoord();
    EXPECT_NEAR(w.norm(), kPi, 1e-14);
    EXPECT_MATRIX_NEAR(expSO3(w), R, 1e-14);
  }
}

TEST(RotationExpCoord, ReproducesUniformRandomRotations) {
  RandomLieGroup rnd(15);
  for (int i = 0; i < 200; ++i) {
    const Rotation R = rnd.rotation();
    const Vector3D w = R.expCoord();
    EXPECT_LE(w.norm(), kPi + 1e-15);
    EXPECT_MATRIX_NEAR(expSO3(w), R, 1e-14);
  }
}

// A rotation by theta in (pi, 2 pi) about n is the rotation by 2 pi - theta about -n; the logarithm
// returns the latter, (theta - 2 pi) n, e.g. 4 rad about z gives (0, 0, 4 - 2 pi).
TEST(RotationExpCoord, WrapsAnglesAbovePi) {
  RandomLieGroup rnd(16);
  const Rotation Rz(Eigen::AngleAxisd(4.0, Eigen::Vector3d::UnitZ()).toRotationMatrix());
  EXPECT_MATRIX_NEAR(Rz.expCoord(), Eigen::Vector3d(0, 0, 4.0 - 2 * kPi), 1e-14);
  EXPECT_MATRIX_NEAR(
      Rotation(Eigen::AngleAxisd(0.3, Eigen::Vector3d::UnitZ()).toRotationMatrix()).expCoord(),
      Eigen::Vector3d(0, 0, 0.3), 1e-15);
  for (int i = 0; i < 40; ++i) {
    const double angle = rnd.uniform(kPi + 1e-6, 2 * kPi - 1e-3);
    const Eigen::Vector3d axis = rnd.unitVector();
    const Rotation R(Eigen::AngleAxisd(angle, axis).toRotationMatrix());
    EXPECT_MATRIX_NEAR(R.expCoord(), (angle - 2 * kPi) * axis, 1e-13) << "angle " << angle;
  }
}

// At exactly pi, R = 2 n n^T - I is symmetric and both n and -n are logarithms. The quaternion
// route takes the largest diagonal entry R_ii = 2 n_i^2 - 1 as pivot and makes that component
// positive.
TEST(RotationExpCoord, HalfTurnFavoursAxisOfLargestDiagonalEntry) {
  EXPECT_MATRIX_NEAR(Rotation(Eigen::Vector3d(1, -1, -1).asDiagonal().toDenseMatrix()).expCoord(),
                     Eigen::Vector3d(kPi, 0, 0), 1e-15);
  EXPECT_MATRIX_NEAR(Rotation(Eigen::Vector3d(-1, 1, -1).asDiagonal().toDenseMatrix()).expCoord(),
                     Eigen::Vector3d(0, kPi, 0), 1e-15);
  EXPECT_MATRIX_NEAR(Rotation(Eigen::Vector3d(-1, -1, 1).asDiagonal().toDenseMatrix()).expCoord(),
                     Eigen::Vector3d(0, 0, kPi), 1e-15);

  RandomLieGroup rnd(17);
  for (int i = 0; i < 50; ++i) {
    const Eigen::Vector3d n = rnd.unitVector();
    const Eigen::Matrix3d M = 2 * n * n.transpose() - Eigen::Matrix3d::Identity();
    const Rotation R(0.5 * (M + M.transpose()));  // exactly symmetric: a half turn to the last bit
    int pivot;
    R.diagonal().maxCoeff(&pivot);
    const Vector3D w = R.expCoord();
    EXPECT_GT(w(pivot), 0) << "axis " << n.transpose();
    EXPECT_NEAR(w.norm(), kPi, 1e-14);
    const Eigen::Vector3d expected = (n(pivot) > 0 ? kPi : -kPi) * n;
    EXPECT_MATRIX_NEAR(w, expected, 1e-13);
  }
}

TEST(RotationRelative, IcascadeAndIrotateInvertTheRotation) {
  RandomLieGroup rnd(18);
  for (int i = 0; i < 20; ++i) {
    const Rotation R = rnd.rotation(), Rd = rnd.rotation();
    const Vector3D v(rnd.vector3());
    // Rd relative to R, composed back onto R, is Rd.
    EXPECT_MATRIX_NEAR(R * R.icascade(Rd), Rd, 1e-15);
    EXPECT_MATRIX_NEAR(R.icascade(R), Eigen::Matrix3d::Identity(), 1e-15);
    // irotate re-expresses a vector given in the reference frame in the rotated frame.
    EXPECT_MATRIX_NEAR(R * R.irotate(v), v, 1e-15);
  }
}

}  // namespace rotation_test
