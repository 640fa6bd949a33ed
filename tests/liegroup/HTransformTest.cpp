// Homogeneous transforms: layout, composition and the change of frame of twists, wrenches and 6xN
// matrices of twists. References: 4x4 matrix products, the closed-form pose inverse, the adjoint
// action T hat(V) T^-1 on 4x4 twist matrices, and the invariance of power.
#include <LieGroup/HTransform>

#include <gtest/gtest.h>

#include <cmath>

#include "support/JacobianWidths.h"
#include "support/MatrixNear.h"
#include "support/RandomLieGroup.h"
#include "support/ReferenceLieGroup.h"

namespace htransform_test {

using namespace LieGroup;
using zorvik_test::hat;
using zorvik_test::inversePose;
using zorvik_test::power;
using zorvik_test::RandomLieGroup;
using zorvik_test::vee;

TEST(HTransformLayout, BlocksAreRotationThenPositionColumn) {
  RandomLieGroup rnd(31);
  const Rotation R = rnd.rotation();
  const Displacement r(rnd.vector3());
  const HTransform T(R, r);
  EXPECT_MATRIX_NEAR((T.topLeftCorner<3, 3>()), R, 0);
  EXPECT_MATRIX_NEAR((T.topRightCorner<3, 1>()), r, 0);
  EXPECT_MATRIX_NEAR(T.bottomRows<1>(), Eigen::RowVector4d(0, 0, 0, 1), 0);
  EXPECT_MATRIX_NEAR(T.R(), R, 0);
  EXPECT_MATRIX_NEAR(T.r(), r, 0);
  // The pose maps a point given in the moved frame to R p + r.
  const Eigen::Vector3d p = rnd.vector3();
  EXPECT_MATRIX_NEAR((T * p.homogeneous()).head<3>(), R * p + r, 1e-15);

  // set writes R and r only: the bottom row keeps whatever it held.
  HTransform S(Eigen::Matrix4d::Constant(7.0));
  S.set(R, r);
  EXPECT_MATRIX_NEAR(S.R(), R, 0);
  EXPECT_MATRIX_NEAR(S.r(), r, 0);
  EXPECT_MATRIX_NEAR(S.bottomRows<1>(), Eigen::RowVector4d::Constant(7.0), 0);
}

TEST(HTransformComposition, CascadeIsMatrixProduct) {
  RandomLieGroup rnd(32);
  for (int i = 0; i < 20; ++i) {
    const HTransform A = rnd.pose(2), B = rnd.pose(2);
    const HTransform AB = A.cascade(B);
    EXPECT_MATRIX_NEAR(AB, Eigen::Matrix4d(A * B), 1e-14);
    EXPECT_MATRIX_NEAR(AB.bottomRows<1>(), Eigen::RowVector4d(0, 0, 0, 1), 0);
  }
}

TEST(HTransformComposition, IcascadeIsRelativePose) {
  RandomLieGroup rnd(33);
  for (int i = 0; i < 20; ++i) {
    const HTransform A = rnd.pose(2), B = rnd.pose(2);
    const HTransform AinvB = A.icascade(B);
    EXPECT_MATRIX_NEAR(AinvB, Eigen::Matrix4d(inversePose(A) * B), 1e-14);
    EXPECT_MATRIX_NEAR(AinvB.bottomRows<1>(), Eigen::RowVector4d(0, 0, 0, 1), 0);
    EXPECT_MATRIX_NEAR(A.icascade(A), Eigen::Matrix4d::Identity(), 1e-14);
    EXPECT_MATRIX_NEAR(A.cascade(A.icascade(B)), B, 1e-14);
  }
}

// transform is Ad_T: hat(Ad_T V) = T hat(V) T^-1; itransform is Ad_T^-1.
TEST(HTransformFrameChange, TwistTransformIsAdjointAction) {
  RandomLieGroup rnd(34);
  for (int i = 0; i < 20; ++i) {
    const HTransform T = rnd.pose(2);
    const Twist V = rnd.twist(2);
    const Eigen::Matrix4d Tinv = inversePose(T);
    EXPECT_MATRIX_NEAR(T.transform(V), vee(Eigen::Matrix4d(T * hat(V) * Tinv)), 1e-14);
    EXPECT_MATRIX_NEAR(T.itransform(V), vee(Eigen::Matrix4d(Tinv * hat(V) * T)), 1e-14);
  }
}

// Frame B sits at c in frame A, rotated by R. A body spinning with angular velocity w_B about an
// axis through B's origin has the twist (0, w_B) in B. In A the twist refers to A's origin: the
// body point passing through A's origin moves with w x (0 - c) = c x w, where w = R w_B.
TEST(HTransformFrameChange, SpinAboutOffsetOriginGainsLinearVelocity) {
  RandomLieGroup rnd(35);
  for (int i = 0; i < 10; ++i) {
    const Rotation R = rnd.rotation();
    const Eigen::Vector3d c = rnd.vector3(2), wB = rnd.vector3(2);
    const HTransform T(R, c);
    const Twist VA = T.transform(Twist(Eigen::Vector3d::Zero(), wB));
    EXPECT_MATRIX_NEAR(VA.w(), R * wB, 1e-15);
    EXPECT_MATRIX_NEAR(VA.v(), c.cross(R * wB), 1e-14);
    // Velocity of any point p_A of the body from the twist in A: v + w x p; zero on the axis at c.
    EXPECT_MATRIX_NEAR(VA.v() + VA.w().cross(c), Eigen::Vector3d::Zero(), 1e-14);
  }
}

// A force f_B through B's origin, seen from A, has moment r x (R f_B) about A's origin.
TEST(HTransformFrameChange, WrenchTransformMovesMomentToNewOrigin) {
  RandomLieGroup rnd(36);
  for (int i = 0; i < 10; ++i) {
    const Eigen::Vector3d r = rnd.vector3(2), f = rnd.vector3(2), n = rnd.vector3(2);
    const HTransform translation(Eigen::Matrix3d::Identity(), r);
    EXPECT_MATRIX_NEAR(translation.transform(Wrench(f, Eigen::Vector3d::Zero())),
                       Wrench(f, r.cross(f)), 1e-14);
    const Rotation R = rnd.rotation();
    const HTransform T(R, r);
    EXPECT_MATRIX_NEAR(T.transform(Wrench(f, n)), Wrench(R * f, R * n + r.cross(R * f)), 1e-14);
  }
}

// The wrench maps are the duals of the twist maps: power f.v + n.w is the same in both frames.
TEST(HTransformFrameChange, PowerPairingIsInvariant) {
  RandomLieGroup rnd(37);
  for (int i = 0; i < 20; ++i) {
    const HTransform T = rnd.pose(2);
    const Twist V = rnd.twist(2);
    const Wrench F = rnd.wrench(2);
    EXPECT_NEAR(power(T.transform(F), T.transform(V)), power(F, V), 1e-13);
    EXPECT_NEAR(power(T.itransform(F), T.itransform(V)), power(F, V), 1e-13);
  }
}

TEST(HTransformFrameChange, ItransformUndoesTransform) {
  RandomLieGroup rnd(38);
  for (int i = 0; i < 20; ++i) {
    const HTransform T = rnd.pose(2);
    const Twist V = rnd.twist(2);
    const Wrench F = rnd.wrench(2);
    EXPECT_MATRIX_NEAR(T.itransform(T.transform(V)), V, 1e-14);
    EXPECT_MATRIX_NEAR(T.transform(T.itransform(V)), V, 1e-14);
    EXPECT_MATRIX_NEAR(T.itransform(T.transform(F)), F, 1e-14);
    EXPECT_MATRIX_NEAR(T.transform(T.itransform(F)), F, 1e-14);
  }
}

template <typename W>
class HTransformJacobianTest : public ::testing::Test {};
TYPED_TEST_SUITE(HTransformJacobianTest, zorvik_test::JacobianWidths,
                 zorvik_test::JacobianWidthNames);

// Re-expressing a Jacobian column by column: the 6xN form gives the numbers of the single-twist
// form on every column.
TYPED_TEST(HTransformJacobianTest, ItransformMatchesSingleColumnForm) {
  constexpr int N = TypeParam::value;
  RandomLieGroup rnd(39 + N);
  for (int trial = 0; trial < 5; ++trial) {
    const HTransform T = rnd.pose(2);
    const Eigen::Matrix<double, 6, N> J = rnd.template matrix<6, N>(2);
    Eigen::Matrix<double, 6, N> res = Eigen::Matrix<double, 6, N>::Constant(std::nan(""));
    T.itransform(J, res);
    for (int k = 0; k < N; ++k)
      EXPECT_MATRIX_NEAR(res.col(k), T.itransform(Twist(J.col(k))), 1e-14) << "column " << k;
  }
}

}  // namespace htransform_test
