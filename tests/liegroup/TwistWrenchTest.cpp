// Twists and wrenches: layout, the Lie bracket of se(3) (adjoint), its dual on wrenches
// (coadjoint), the 6xN bracket and cross product used on Jacobians, and the products with
// block-triangular matrices. References: commutators of 4x4 twist matrices, the derivative of the
// adjoint action, the power pairing, and block products written out in the test.
#include <LieGroup/HTransform>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "support/FiniteDifference.h"
#include "support/JacobianWidths.h"
#include "support/MatrixNear.h"
#include "support/RandomLieGroup.h"
#include "support/ReferenceLieGroup.h"

namespace twist_wrench_test {

using namespace LieGroup;
using zorvik_test::centralDifference;
using zorvik_test::expSE3;
using zorvik_test::hat;
using zorvik_test::inversePose;
using zorvik_test::power;
using zorvik_test::RandomLieGroup;
using zorvik_test::vee;

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Default construction writes zeros: the objects are built over memory filled with garbage first.
TEST(TwistWrenchLayout, DefaultConstructedAreZeroAndPartsAreLinearFirst) {
  alignas(16) unsigned char buffer[sizeof(Twist) > sizeof(Wrench) ? sizeof(Twist) : sizeof(Wrench)];
  std::memset(buffer, 0xA5, sizeof(buffer));
  const Twist* V = new (buffer) Twist();
  EXPECT_MATRIX_NEAR(*V, Vector6d::Zero(), 0);
  std::memset(buffer, 0xA5, sizeof(buffer));
  const Wrench* F = new (buffer) Wrench();
  EXPECT_MATRIX_NEAR(*F, Vector6d::Zero(), 0);

  const Eigen::Vector3d a(1, 2, 3), b(4, 5, 6);
  const Twist T(a, b);
  EXPECT_MATRIX_NEAR(T.head<3>(), a, 0);
  EXPECT_MATRIX_NEAR(T.v(), a, 0);
  EXPECT_MATRIX_NEAR(T.w(), b, 0);
  const Wrench W(a, b);
  EXPECT_MATRIX_NEAR(W.head<3>(), a, 0);
  EXPECT_MATRIX_NEAR(W.f(), a, 0);
  EXPECT_MATRIX_NEAR(W.n(), b, 0);
}

// ad_V U is the Lie bracket: hat(ad_V U) = hat(V) hat(U) - hat(U) hat(V).
TEST(TwistAdjoint, AdjointIsLieBracket) {
  RandomLieGroup rnd(41);
  for (int i = 0; i < 20; ++i) {
    const Twist V = rnd.twist(2), U = rnd.twist(2);
    const Eigen::Matrix4d bracket = hat(V) * hat(U) - hat(U) * hat(V);
    EXPECT_MATRIX_NEAR(V.adjoint(U), vee(bracket), 1e-14);
    EXPECT_MATRIX_NEAR(V.adjoint(U), -U.adjoint(V), 1e-14);
    EXPECT_MATRIX_NEAR(V.adjoint(V), Vector6d::Zero(), 1e-15);
  }
  // A pure rotation acting on a pure translation turns it: ((0, w), (u, 0)) -> (w x u, 0).
  const Eigen::Vector3d w(0.3, -1, 2), u(1.5, 0.5, -0.7);
  EXPECT_MATRIX_NEAR(Twist(Eigen::Vector3d::Zero(), w).adjoint(Twist(u, Eigen::Vector3d::Zero())),
                     Twist(w.cross(u), Eigen::Vector3d::Zero()), 1e-15);
}

// The bracket is the derivative of the frame change: d/dt Ad_exp(tV) U at t = 0 is ad_V U. This
// ties the sign convention of adjoint to that of HTransform::transform.
TEST(TwistAdjoint, AdjointIsDerivativeOfTransform) {
  RandomLieGroup rnd(42);
  for (int i = 0; i < 10; ++i) {
    const Twist V = rnd.twist(), U = rnd.twist();
    const Vector6d numeric = centralDifference(
        [&](double t) {
          const HTransform T(expSE3(t * V));
          return Vector6d(T.transform(U));
        },
        1e-3);
    EXPECT_MATRIX_NEAR(V.adjoint(U), numeric, 1e-10);
  }
}

// coadjoint is -(ad_V)^T: paired with any twist U it gives minus F paired with ad_V U; in
// particular a wrench carried along a twist does no work on that twist.
TEST(TwistCoadjoint, CoadjointIsMinusTransposeOfAdjoint) {
  RandomLieGroup rnd(43);
  for (int i = 0; i < 20; ++i) {
    const Twist V = rnd.twist(2), U = rnd.twist(2);
    const Wrench F = rnd.wrench(2);
    EXPECT_NEAR(power(V.coadjoint(F), U), -power(F, V.adjoint(U)), 1e-13);
    EXPECT_NEAR(power(V.coadjoint(F), V), 0.0, 1e-13);
  }
}

template <typename W>
class TwistJacobianTest : public ::testing::Test {};
TYPED_TEST_SUITE(TwistJacobianTest, zorvik_test::JacobianWidths, zorvik_test::JacobianWidthNames);

TYPED_TEST(TwistJacobianTest, AdjointMatchesSingleColumnForm) {
  constexpr int N = TypeParam::value;
  RandomLieGroup rnd(44 + N);
  for (int trial = 0; trial < 5; ++trial) {
    const Twist V = rnd.twist(2);
    const Eigen::Matrix<double, 6, N> J = rnd.template matrix<6, N>(2);
    Eigen::Matrix<double, 6, N> res = Eigen::Matrix<double, 6, N>::Constant(kNaN);
    V.adjoint(J, res);
    for (int k = 0; k < N; ++k)
      EXPECT_MATRIX_NEAR(res.col(k), V.adjoint(Twist(J.col(k))), 1e-14) << "column " << k;
  }
}

// _cross on 3-row blocks of 6xN matrices: each column of the destination block is the cross product
// with the matching source column, and rows outside the destination block are left alone.
TYPED_TEST(TwistJacobianTest, CrossMatchesColumnwiseCrossProduct) {
  constexpr int N = TypeParam::value;
  RandomLieGroup rnd(48 + N);
  const Eigen::Vector3d a = rnd.vector3(2);
  const Eigen::Matrix<double, 6, N> J = rnd.template matrix<6, N>(2);
  Eigen::Matrix<double, 6, N> res = Eigen::Matrix<double, 6, N>::Constant(7.0);
  internal::_cross(a.x(), a.y(), a.z(), J.template bottomRows<3>(), res.template topRows<3>());
  for (int k = 0; k < N; ++k) {
    EXPECT_MATRIX_NEAR(res.col(k).template head<3>(),
                       a.cross(Eigen::Vector3d(J.col(k).template tail<3>())), 1e-15)
        << "column " << k;
    EXPECT_MATRIX_NEAR(res.col(k).template tail<3>(), Eigen::Vector3d::Constant(7.0), 0);
  }
}

// For M = [[A, B], [C, D]]: (A^T v + B^T w, D^T w). C is set to NaN: the product must not read it.
TEST(TwistBlockProducts, UpperBlockTriTransposedMultTransposesBlocksInPlace) {
  RandomLieGroup rnd(51);
  EXPECT_MATRIX_NEAR(Twist(1, 2, 3, 4, 5, 6).upperBlockTriTransposedMult(Matrix6d::Identity()),
                     Twist(1, 2, 3, 4, 5, 6), 0);
  for (int i = 0; i < 10; ++i) {
    Matrix6d M = rnd.matrix<6, 6>(2);
    const Eigen::Matrix3d A = M.topLeftCorner<3, 3>(), B = M.topRightCorner<3, 3>(),
                          D = M.bottomRightCorner<3, 3>();
    M.bottomLeftCorner<3, 3>().setConstant(kNaN);
    const Twist V = rnd.twist(2);
    const Eigen::Vector3d v = V.v(), w = V.w();
    EXPECT_MATRIX_NEAR(V.upperBlockTriTransposedMult(M),
                       Twist(A.transpose() * v + B.transpose() * w, D.transpose() * w), 1e-14);
    // With A = D = I: (v + B^T w, w).
    Matrix6d S = Matrix6d::Identity();
    S.topRightCorner<3, 3>() = B;
    S.bottomLeftCorner<3, 3>().setConstant(kNaN);
    EXPECT_MATRIX_NEAR(V.upperBlockTriTransposedMult(S), Twist(v + B.transpose() * w, w), 1e-14);
  }
}

// On the SE(3) dexp and dexp_inv of lambda, transposing the blocks in place gives the same matrices
// of -lambda: the diagonal blocks are even in xi up to transposition and the upper-right block is
// odd, so the product equals dexp(-lambda) V. The transform controller relies on this.
TEST(TwistBlockProducts, TransposedMultWithDexpIsDexpOfNegatedTwist) {
  RandomLieGroup rnd(52);
  for (double angle : {0.0, 0.4, 2.0, 3.0}) {
    const Twist lambda = rnd.twistWithAngle(angle, 2), V = rnd.twist(2);
    const Twist minus(-lambda);
    double a, b, t;
    lambda.compute_terms(&a, &b, &t);
    double am, bm, tm;
    minus.compute_terms(&am, &bm, &tm);
    EXPECT_MATRIX_NEAR(V.upperBlockTriTransposedMult(lambda.dexp(a, b, t)),
                       minus.dexp(am, bm, tm) * V, 1e-13);
    EXPECT_MATRIX_NEAR(V.upperBlockTriTransposedMult(lambda.dexp_inv(a, b, t)),
                       minus.dexp_inv(am, bm, tm) * V, 1e-13);
  }
}

// For M = [[A, B], [C, D]]: (A f, C f + D n). B is set to NaN: the product must not read it; the
// lower-left block does enter.
TEST(WrenchBlockProducts, UpperBlockTriRelocatedMultAddsLowerLeftTerm) {
  RandomLieGroup rnd(53);
  for (int i = 0; i < 10; ++i) {
    Matrix6d M = rnd.matrix<6, 6>(2);
    const Eigen::Matrix3d A = M.topLeftCorner<3, 3>(), C = M.bottomLeftCorner<3, 3>(),
                          D = M.bottomRightCorner<3, 3>();
    M.topRightCorner<3, 3>().setConstant(kNaN);
    const Wrench F = rnd.wrench(2);
    const Eigen::Vector3d f = F.f(), n = F.n();
    EXPECT_MATRIX_NEAR(F.upperBlockTriRelocatedMult(M), Wrench(A * f, C * f + D * n), 1e-14);
  }
}

}  // namespace twist_wrench_test
