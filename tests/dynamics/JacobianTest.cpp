// Body Jacobians J_k, their derivatives Jdot_k and the body accelerations Vdot(k) of VexoBaseXD<N>.
//
// Column c of J_k is body k's twist (body frame) per unit rate of coordinate c, so J_k qdot is the
// body twist the forward kinematics computes; Jdot_k is the time derivative of J_k along the
// motion, and J_k qddot + Jdot_k qdot the time derivative of body k's twist (in its own frame).
// Both are checked against forward kinematics and central finite differences, on chains and trees
// with joints of 0 to 6 coordinates.
//
// Tolerances: five-point central differences with step h have a truncation error O(h^4) and a
// rounding error of about 1.5 eps/h times the magnitude of the differentiated quantity. With
// h = 1e-6 and entries of order one (links of a few decimetres, rates up to 1) both stay below
// 1e-8; a wrong sign, frame or missing term changes the result at order one. The tolerances 1e-7
// times the scale leave a wide margin over the first and none for a real fault.
#include <Vexo/VexoXD>

#include "DynamicsTestUtil.h"
#include "support/AllocationCounter.h"

namespace zorvik_test::dyn::jacobian_test {

constexpr double kStep = 1e-6;
constexpr double kFdTol = 1e-7;
// Same quantity computed along two different but exact routes: rounding only.
constexpr double kRoundTol = 1e-12;

template <typename T>
class JacobianTest : public ::testing::Test {};
TYPED_TEST_SUITE(JacobianTest, DynamicsWidths, JacobianWidthNames);

TYPED_TEST(JacobianTest, JacobianTimesRateIsBodyTwist) {
  constexpr int N = TypeParam::value;
  forEachRobot<N>(11, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    for (int s = 0; s < 3; ++s) {
      randomState<N>(m, rng);
      m.updateJacobian(false);
      // The base joint is rigid, so the base is at rest and every twist comes from the joints.
      for (int k = 0; k <= N; ++k) {
        SCOPED_TRACE("body " + std::to_string(k));
        EXPECT_MATRIX_NEAR(m.J(k) * m.qdot(), m.body(k).V(), kRoundTol * scale(m.body(k).V()));
      }
      // The position-only update gives the same Jacobians.
      typename VexoBaseXD<N>::JointJac J[N + 1];
      for (int k = 0; k <= N; ++k) J[k] = m.J(k);
      m.update(true);
      m.updateJacobian(true);
      for (int k = 0; k <= N; ++k) EXPECT_MATRIX_EQ(m.J(k), J[k]);
    }
  });
}

TYPED_TEST(JacobianTest, BaseJacobianAndItsDerivativeAreZero) {
  constexpr int N = TypeParam::value;
  forEachRobot<N>(12, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    typedef typename VexoBaseXD<N>::JointJac JointJac;
    // Garbage in the base's matrices must not survive an update (and must not leak into the
    // bodies' Jacobians, which are carried outward from the base's).
    m.J(0).setConstant(3.0);
    m.Jdot(0).setConstant(-2.0);
    m.updateJacobian(false);
    EXPECT_MATRIX_EQ(m.J(0), JointJac::Zero());
    EXPECT_MATRIX_EQ(m.Jdot(0), JointJac::Zero());
    EXPECT_MATRIX_NEAR(m.J(N) * m.qdot(), m.body(N).V(), kRoundTol * scale(m.body(N).V()));
    m.J(0).setConstant(3.0);
    m.updateJacobian(true);
    EXPECT_MATRIX_EQ(m.J(0), JointJac::Zero());
  });
}

// Joint j moves body k only if it lies on the path from the base to k; in a chain these are the
// joints 1..k, so the columns of the joints after k are zero.
TYPED_TEST(JacobianTest, ColumnsOfJointsOffThePathToTheBaseAreZero) {
  constexpr int N = TypeParam::value;
  forEachRobot<N>(13, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    m.updateJacobian(false);
    for (int k = 1; k <= N; ++k) {
      for (int j = 1; j <= N; ++j) {
        const int c = coordinateOffset<N>(m, j), dof = m.joint(j).dof();
        if (dof == 0) continue;
        SCOPED_TRACE("body " + std::to_string(k) + ", joint " + std::to_string(j));
        const double Jcol = m.J(k).middleCols(c, dof).cwiseAbs().maxCoeff();
        const double Jdotcol = m.Jdot(k).middleCols(c, dof).cwiseAbs().maxCoeff();
        if (onPathToBase<N>(m, j, k)) {
          // A joint axis carried into body k's frame keeps its length.
          EXPECT_GT(Jcol, 1e-3);
        } else {
          EXPECT_EQ(Jcol, 0.0);
          EXPECT_EQ(Jdotcol, 0.0);
        }
      }
    }
  });
}

TYPED_TEST(JacobianTest, DerivativeIsFiniteDifferenceOfJacobianAlongTheMotion) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointJac JointJac;
  forEachRobot<N>(14, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    for (int s = 0; s < 2; ++s) {
      const JointVec q = randomMatrix<N>(rng), qdot = randomMatrix<N>(rng);
      setState<N>(m, q, qdot);
      m.updateJacobian(false);
      JointJac Jdot[N + 1];
      for (int k = 0; k <= N; ++k) Jdot[k] = m.Jdot(k);
      for (int k = 0; k <= N; ++k) {
        SCOPED_TRACE("body " + std::to_string(k));
        const JointJac fd = centralDifference(
            [&](double t) -> JointJac {
              m.q() = q + t * qdot;
              m.update(true);
              m.updateJacobian(true);
              return m.J(k);
            },
            kStep);
        EXPECT_MATRIX_NEAR(Jdot[k], fd, kFdTol * scale(fd));
      }
    }
  });
}

// Vdot(k) = J_k qddot + Jdot_k qdot is the rate of body k's twist along q(t) = q + t qdot +
// t^2/2 qddot; the twist is differentiated from forward kinematics, independent of the Jacobians.
TYPED_TEST(JacobianTest, BodyAccelerationIsFiniteDifferenceOfBodyTwist) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(15, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    for (int s = 0; s < 2; ++s) {
      const JointVec q = randomMatrix<N>(rng), qdot = randomMatrix<N>(rng),
                     qddot = randomMatrix<N>(rng);
      setState<N>(m, q, qdot);
      m.qddot() = qddot;
      m.updateJacobian(false);
      Twist A[N + 1];
      for (int k = 0; k <= N; ++k) A[k] = m.Vdot(k);
      for (int k = 0; k <= N; ++k) {
        SCOPED_TRACE("body " + std::to_string(k));
        const Twist fd = centralDifference(
            [&](double t) -> Twist {
              setTrajectoryState<N>(m, q, qdot, qddot, t);
              return m.body(k).V();
            },
            kStep);
        EXPECT_MATRIX_NEAR(A[k], fd, kFdTol * scale(fd));
      }
    }
  });
}

// The refresh from the stored Jacobians brackets joint k's own columns too, but then overwrites
// them with Edot, so with nothing changed it reproduces the derivatives of the full update, and
// after a velocity-only change it gives what a full update at the new velocity gives.
TYPED_TEST(JacobianTest, VelocityResetRefreshMatchesTheFullUpdate) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointJac JointJac;
  forEachRobot<N>(16, [](VexoBaseXD<N>& source, std::mt19937& rng) {
    ModelProbe<N> m(source);
    randomState<N>(m, rng);
    m.updateJacobian(false);
    JointJac J[N + 1], Jdot[N + 1];
    for (int k = 0; k <= N; ++k) {
      J[k] = m.J(k);
      Jdot[k] = m.Jdot(k);
    }
    m._updateJacobianFromBaseByVelocityReset(false);
    for (int k = 0; k <= N; ++k) {
      SCOPED_TRACE("unchanged state, body " + std::to_string(k));
      EXPECT_MATRIX_EQ(m.J(k), J[k]);
      EXPECT_MATRIX_NEAR(m.Jdot(k), Jdot[k], kRoundTol * scale(Jdot[k]));
    }

    // New rates at the same positions: a velocity update, then the refresh ...
    m.qdot() = randomMatrix<N>(rng);
    m.updateVelocity();
    m._updateJacobianFromBaseByVelocityReset(false);
    for (int k = 0; k <= N; ++k) Jdot[k] = m.Jdot(k);
    // ... equals a full Jacobian update at the new rates, and differs from the old derivatives.
    m.updateJacobian(false);
    for (int k = 0; k <= N; ++k) {
      SCOPED_TRACE("new rates, body " + std::to_string(k));
      EXPECT_MATRIX_EQ(m.J(k), J[k]);
      EXPECT_MATRIX_NEAR(Jdot[k], m.Jdot(k), kRoundTol * scale(m.Jdot(k)));
    }

    // With pos_only it does nothing.
    for (int k = 0; k <= N; ++k) m.Jdot(k).setConstant(5.0);
    m._updateJacobianFromBaseByVelocityReset(true);
    for (int k = 0; k <= N; ++k) EXPECT_MATRIX_EQ(m.Jdot(k), JointJac::Constant(5.0));
  });
}

TYPED_TEST(JacobianTest, PositionOnlyUpdateLeavesDerivativesAsTheyWere) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointJac JointJac;
  forEachRobot<N>(17, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    JointJac before[N + 1];
    for (int k = 0; k <= N; ++k) before[k] = m.Jdot(k) = JointJac::Random();
    m.updateJacobian(true);
    for (int k = 0; k <= N; ++k) EXPECT_MATRIX_EQ(m.Jdot(k), before[k]);
  });
}

TYPED_TEST(JacobianTest, JacobianOperationsDoNotAllocate) {
  constexpr int N = TypeParam::value;
  RandomRobot<N> r(18, true);
  ModelProbe<N> m(r.model());
  randomState<N>(m, r.rng());
  m.qddot() = randomMatrix<N>(r.rng());
  EXPECT_NO_ALLOCATION(m.updateJacobian(false));
  EXPECT_NO_ALLOCATION(m.updateJacobian(true));
  EXPECT_NO_ALLOCATION(m._updateJacobianFromBaseByVelocityReset(false));
  Twist a;
  EXPECT_NO_ALLOCATION(a = m.Vdot(N));
  EXPECT_TRUE(a.allFinite());
}

}  // namespace zorvik_test::dyn::jacobian_test
