// Recursive Newton-Euler inverse dynamics of VexoBaseXD<N>: idyn, idyn_passive, idyn_gravity and
// idyn_momentum, fixed and floating base.
//
// The torques are checked against quantities computed without the recursion: the mass matrix
// assembled from the body Jacobians (sum of J_k^T I_k J_k), the rate of the kinetic energy along a
// trajectory, and the gradient of the gravitational potential energy computed from the body poses.
// The floating-base forms are checked against the fixed-base forms on a twin model whose base moves
// as the fixed base does.
//
// Tolerances: results that two exact routes must share agree to rounding, taken as 1e-10 times the
// scale of the torques (sums over up to 16 bodies of products of order-one quantities). Five-point
// central differences with step h: the energy (of order 10 J) has rounding error about 1.5 eps E /
// h and truncation error h^4 E^(5) / 30; with h = 1e-5 both stay below 1e-8, tolerance 1e-6 times
// the scale.
#include <Vexo/VexoXD>

#include "DynamicsTestUtil.h"
#include "support/AllocationCounter.h"

namespace zorvik_test::dyn::inverse_dynamics_test {

constexpr double kRoundTol = 1e-10;
constexpr double kStep = 1e-5;
constexpr double kFdTol = 1e-6;

template <typename T>
class InverseDynamicsTest : public ::testing::Test {};
TYPED_TEST_SUITE(InverseDynamicsTest, DynamicsWidths, JacobianWidthNames);

// tau(qdot, qddot) = M qddot + (terms without qddot): the change of the torques with the
// acceleration is the mass matrix, which the stationary pass gives and the Jacobians confirm.
TYPED_TEST(InverseDynamicsTest, TorqueIsAffineInAccelerationWithTheMassMatrixAsSlope) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(21, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    for (int s = 0; s < 2; ++s) {
      randomState<N>(m, rng);
      m.updateJacobian(true);
      const JointVec qdot = m.qdot(), a = randomMatrix<N>(rng), b = randomMatrix<N>(rng);
      const Vector3D g = gravity();
      m.idyn(qdot, JointVec::Zero(), g);
      const JointVec t0 = m.tau();
      m.idyn(qdot, a, g);
      const JointVec ta = m.tau();
      m.idyn(qdot, b, g);
      const JointVec tb = m.tau();
      m.idyn(qdot, a + b, g);
      const JointVec tab = m.tau();
      m.idyn(qdot, 2.5 * a, g);
      const JointVec t25a = m.tau();
      const double tol = kRoundTol * scale(ta) * scale(tb);
      EXPECT_MATRIX_NEAR(tab - t0, (ta - t0) + (tb - t0), tol);
      EXPECT_MATRIX_NEAR(t25a - t0, 2.5 * (ta - t0), tol);

      m.idyn_momentum(a);
      EXPECT_MATRIX_NEAR(m.tau(), ta - t0, tol);
      EXPECT_MATRIX_NEAR(m.tau(), massFromJacobians<N>(m) * a, tol);
      // Without gravity only the constant part changes.
      m.idyn(qdot, a);
      const JointVec ta_free = m.tau();
      m.idyn(qdot, JointVec::Zero());
      EXPECT_MATRIX_NEAR(ta_free - m.tau(), ta - t0, tol);
    }
  });
}

TYPED_TEST(InverseDynamicsTest, AtRestOnlyGravityRemains) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(22, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    setState<N>(m, randomMatrix<N>(rng), JointVec::Zero());
    const JointVec zero = JointVec::Zero();
    m.idyn_gravity(gravity());
    const JointVec G = m.tau();
    EXPECT_GT(G.norm(), 0.1);
    m.idyn(zero, zero, gravity());
    EXPECT_MATRIX_NEAR(m.tau(), G, kRoundTol * scale(G));
    m.idyn_passive(zero, zero, gravity());
    EXPECT_MATRIX_NEAR(m.tau(), G, kRoundTol * scale(G));
    m.tau().setConstant(1.0);
    m.idyn(zero, zero);
    EXPECT_MATRIX_EQ(m.tau(), zero);
    m.tau().setConstant(1.0);
    m.idyn_gravity(Vector3D::Zero());
    EXPECT_MATRIX_EQ(m.tau(), zero);
    // Gravity torques depend on the positions only.
    m.qdot() = randomMatrix<N>(rng);
    m.update(false);
    m.idyn_gravity(gravity());
    EXPECT_MATRIX_EQ(m.tau(), G);
  });
}

// Along q(t) = q + t qdot + t^2/2 qddot the kinetic energy E = sum of 1/2 V_k^T I_k V_k changes at
// the rate qdot^T (M qddot + 1/2 Mdot qdot) = qdot^T (tau - g): the power of the torques that do
// not balance gravity. This holds for any inverse dynamics that is right, whatever the
// factorisation of the velocity terms, and fails for a wrong sign, frame or missing term in the
// recursion.
TYPED_TEST(InverseDynamicsTest, KineticEnergyRateIsPowerOfTheNonGravityTorques) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(23, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    for (int s = 0; s < 3; ++s) {
      const JointVec q = randomMatrix<N>(rng), qdot = randomMatrix<N>(rng),
                     qddot = randomMatrix<N>(rng);
      setState<N>(m, q, qdot);
      m.idyn(qdot, qddot, gravity());
      const JointVec tau = m.tau();
      m.idyn_gravity(gravity());
      const double power = qdot.dot(tau - m.tau());
      m.idyn(qdot, qddot);
      EXPECT_NEAR(qdot.dot(m.tau()), power, kRoundTol * scale(tau));

      const double E = kineticEnergy<N>(m);
      const double rate = centralDifference(
          [&](double t) {
            setTrajectoryState<N>(m, q, qdot, qddot, t);
            return kineticEnergy<N>(m);
          },
          kStep);
      EXPECT_NEAR(power, rate, kFdTol * (1 + std::abs(rate) + E));
    }
  });
}

// idyn_momentum(e_j) is column j of the mass matrix sum of J_k^T I_k J_k. It uses no stored twist,
// so a velocity update with other rates does not change it.
TYPED_TEST(InverseDynamicsTest, MomentumColumnsAreTheMassMatrixWhateverTheStoredTwists) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  forEachRobot<N>(24, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    m.updateJacobian(true);
    const JointMat Mref = massFromJacobians<N>(m);
    JointMat M1, M2;
    for (int j = 0; j < N; ++j) {
      m.idyn_momentum(unit<N>(j));
      M1.col(j) = m.tau();
    }
    m.qdot() = randomMatrix<N>(rng, 3.0);
    m.updateVelocity();
    for (int j = 0; j < N; ++j) {
      m.idyn_momentum(unit<N>(j));
      M2.col(j) = m.tau();
    }
    EXPECT_MATRIX_NEAR(M1, Mref, kRoundTol * scale(Mref));
    EXPECT_MATRIX_EQ(M1, M2);
    // p = M qdot in one pass.
    m.idyn_momentum(m.qdot());
    EXPECT_MATRIX_NEAR(m.tau(), Mref * m.qdot(), kRoundTol * scale(Mref) * scale(m.qdot()));
  });
}

// g(q) is the gradient of U(q) = -sum_k m_k gacc . c_k(q), c_k the centre of mass of body k in the
// reference frame from the body poses. This fixes the sign of gravity (gacc points down, the base
// accelerates up) and the frame it is expressed in (rotated into the base frame).
TYPED_TEST(InverseDynamicsTest, GravityTorqueIsGradientOfPotentialEnergy) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(25, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    for (int s = 0; s < 2; ++s) {
      const JointVec q = randomMatrix<N>(rng);
      setState<N>(m, q, JointVec::Zero());
      m.idyn_gravity(gravity());
      const JointVec G = m.tau();
      JointVec grad;
      for (int i = 0; i < N; ++i)
        grad(i) = centralDifference(
            [&](double t) {
              m.q() = q + t * unit<N>(i);
              m.update(true);
              return potentialEnergy<N>(m, gravity());
            },
            kStep);
      EXPECT_MATRIX_NEAR(G, grad, kFdTol * scale(G));
    }
  });
}

// With the actual rates as reference values the reference twists are the stored twists, and the
// passivity-preserving body wrench reduces to the ordinary one.
TYPED_TEST(InverseDynamicsTest, PassiveFormWithActualRatesEqualsIdyn) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(26, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    for (int s = 0; s < 2; ++s) {
      randomState<N>(m, rng);
      const JointVec qdot = m.qdot(), qddot = randomMatrix<N>(rng);
      m.idyn(qdot, qddot, gravity());
      const JointVec tau = m.tau();
      m.idyn_passive(qdot, qddot, gravity());
      EXPECT_MATRIX_NEAR(m.tau(), tau, kRoundTol * scale(tau));
      m.idyn(qdot, qddot);
      const JointVec tau_free = m.tau();
      m.idyn_passive(qdot, qddot);
      EXPECT_MATRIX_NEAR(m.tau(), tau_free, kRoundTol * scale(tau));
    }
  });
}

// tau = M qddot_r + C(q, qdot) qdot_r + g: after removing g the passive form is linear in the pair
// of reference values, the actual velocity held fixed in the model.
TYPED_TEST(InverseDynamicsTest, PassiveFormIsLinearInTheReferenceValuesBesidesGravity) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(27, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    const Vector3D g = gravity();
    m.idyn_gravity(g);
    const JointVec G = m.tau();
    const JointVec x1 = randomMatrix<N>(rng), y1 = randomMatrix<N>(rng);
    const JointVec x2 = randomMatrix<N>(rng), y2 = randomMatrix<N>(rng);
    const double a = 0.7, b = -1.9;
    m.idyn_passive(x1, y1, g);
    const JointVec t1 = m.tau() - G;
    m.idyn_passive(x2, y2, g);
    const JointVec t2 = m.tau() - G;
    m.idyn_passive(a * x1 + b * x2, a * y1 + b * y2, g);
    const JointVec t12 = m.tau() - G;
    m.idyn_passive(JointVec::Zero(), JointVec::Zero(), g);
    const double tol = kRoundTol * scale(t1) * scale(t2) * 4;
    EXPECT_MATRIX_NEAR(m.tau(), G, tol);
    EXPECT_MATRIX_NEAR(t12, a * t1 + b * t2, tol);
    m.idyn_passive(a * x1 + b * x2, a * y1 + b * y2);
    EXPECT_MATRIX_NEAR(m.tau(), t12, tol);
    // The part in qddot_r is the mass matrix.
    m.idyn_passive(x1, y1);
    const JointVec t_xy = m.tau();
    m.idyn_passive(x1, JointVec::Zero());
    m.updateJacobian(true);
    EXPECT_MATRIX_NEAR(t_xy - m.tau(), massFromJacobians<N>(m) * y1, tol);
  });
}

// A fixed-base model on a moving platform (PrescribedBaseJoint) and its twin with a FloatingJoint
// whose pose and twist the client writes to match: given the platform's acceleration as the base
// acceleration, every floating-base form must give the torques of the fixed-base form.
TYPED_TEST(InverseDynamicsTest, FloatingBaseFormsMatchTheFixedBaseMovingTheSameWay) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(28, [](VexoBaseXD<N>& fixed, std::mt19937& rng) {
    Joint& rigidBase = fixed.joint(0);
    PrescribedBaseJoint platform;
    fixed.addJoint(0, platform);
    FloatingBaseTwin<N> twin(fixed);
    VexoBaseXD<N>& floating = twin.model();
    ASSERT_FALSE(fixed.isFloating());
    ASSERT_TRUE(floating.isFloating());
    const Vector3D g = gravity();
    for (int s = 0; s < 2; ++s) {
      const HTransform T0 = randomPose(rng, 1.0);
      const Twist V0 = randomTwist(rng), A0 = randomTwist(rng);
      platform.Tadj() = T0;
      platform.Vadj() = V0;
      platform.acc = A0;
      twin.baseJoint().Tadj() = T0;
      twin.baseJoint().Vadj() = V0;
      const JointVec q = randomMatrix<N>(rng), qdot = randomMatrix<N>(rng),
                     qddot = randomMatrix<N>(rng);
      const JointVec qr = randomMatrix<N>(rng), qddr = randomMatrix<N>(rng),
                     x = randomMatrix<N>(rng);
      setState<N>(fixed, q, qdot);
      setState<N>(floating, q, qdot);
      for (int k = 0; k <= N; ++k) ASSERT_MATRIX_EQ(floating.body(k).V(), fixed.body(k).V());

      fixed.idyn(qdot, qddot, g);
      const JointVec tau = fixed.tau();
      floating.idyn(V0, A0, qdot, qddot, g);
      const double tol = kRoundTol * scale(tau);
      EXPECT_MATRIX_NEAR(floating.tau(), tau, tol);

      fixed.idyn(qdot, qddot);
      floating.idyn(V0, A0, qdot, qddot);
      EXPECT_MATRIX_NEAR(floating.tau(), fixed.tau(), tol);

      fixed.idyn_passive(qr, qddr, g);
      floating.idyn_passive(V0, A0, qr, qddr, g);
      EXPECT_MATRIX_NEAR(floating.tau(), fixed.tau(), tol);
      fixed.idyn_passive(qr, qddr);
      floating.idyn_passive(V0, A0, qr, qddr);
      EXPECT_MATRIX_NEAR(floating.tau(), fixed.tau(), tol);
      // The floating passive form with the actual base twist and rates is the ordinary one.
      floating.idyn_passive(V0, A0, qdot, qddot, g);
      EXPECT_MATRIX_NEAR(floating.tau(), tau, tol);

      fixed.idyn_momentum(x);
      floating.idyn_momentum(Twist(), x);
      EXPECT_MATRIX_NEAR(floating.tau(), fixed.tau(), tol);
    }
    fixed.addJoint(0, rigidBase);
  });
}

// The floating-base idyn reads the base twist stored by the update, not its twist argument.
TYPED_TEST(InverseDynamicsTest, FloatingBaseIdynIgnoresItsTwistArgument) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(29, [](VexoBaseXD<N>& source, std::mt19937& rng) {
    FloatingBaseTwin<N> twin(source);
    VexoBaseXD<N>& m = twin.model();
    twin.baseJoint().Tadj() = randomPose(rng, 1.0);
    twin.baseJoint().Vadj() = randomTwist(rng);
    randomState<N>(m, rng);
    const JointVec qdot = m.qdot(), qddot = randomMatrix<N>(rng);
    const Twist A = randomTwist(rng);
    m.idyn(Twist(), A, qdot, qddot, gravity());
    const JointVec t1 = m.tau();
    m.idyn(randomTwist(rng, 5.0), A, qdot, qddot, gravity());
    EXPECT_MATRIX_EQ(m.tau(), t1);
    m.idyn(Twist(), A, qdot, qddot);
    const JointVec t2 = m.tau();
    m.idyn(randomTwist(rng, 5.0), A, qdot, qddot);
    EXPECT_MATRIX_EQ(m.tau(), t2);
    // The base's own velocity does matter.
    twin.baseJoint().Vadj() = randomTwist(rng);
    m.update(false);
    m.idyn(Twist(), A, qdot, qddot);
    EXPECT_GT((m.tau() - t2).norm(), 1e-6);
  });
}

// The stationary floating form is the floating idyn at zero velocity (base and joints at rest):
// M x plus the torques of the base acceleration.
TYPED_TEST(InverseDynamicsTest, FloatingMomentumIsInverseDynamicsAtRest) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(30, [](VexoBaseXD<N>& source, std::mt19937& rng) {
    FloatingBaseTwin<N> twin(source);
    VexoBaseXD<N>& m = twin.model();
    twin.baseJoint().Tadj() = randomPose(rng, 1.0);
    twin.baseJoint().Vadj() = randomTwist(rng);
    randomState<N>(m, rng);
    const JointVec x = randomMatrix<N>(rng);
    const Twist A = randomTwist(rng);
    m.idyn_momentum(A, x);  // with the model moving
    const JointVec moving = m.tau();
    twin.baseJoint().Vadj() = Twist();
    m.qdot().setZero();
    m.update(false);
    m.idyn(Twist(), A, JointVec::Zero(), x);
    EXPECT_MATRIX_NEAR(moving, m.tau(), kRoundTol * scale(moving));
    m.idyn_momentum(A, JointVec::Zero());
    const JointVec baseOnly = m.tau();
    m.idyn_momentum(Twist(), x);
    EXPECT_MATRIX_NEAR(moving, baseOnly + m.tau(), kRoundTol * scale(moving));
  });
}

TYPED_TEST(InverseDynamicsTest, InverseDynamicsDoesNotAllocate) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  RandomRobot<N> r(31, true);
  VexoBaseXD<N>& m = r.model();
  randomState<N>(m, r.rng());
  const JointVec a = randomMatrix<N>(r.rng()), b = randomMatrix<N>(r.rng());
  const Vector3D g = gravity();
  EXPECT_NO_ALLOCATION(m.idyn(a, b, g));
  EXPECT_NO_ALLOCATION(m.idyn(a, b));
  EXPECT_NO_ALLOCATION(m.idyn_passive(a, b, g));
  EXPECT_NO_ALLOCATION(m.idyn_passive(a, b));
  EXPECT_NO_ALLOCATION(m.idyn_gravity(g));
  EXPECT_NO_ALLOCATION(m.idyn_momentum(a));

  FloatingBaseTwin<N> twin(m);
  VexoBaseXD<N>& f = twin.model();
  randomState<N>(f, r.rng());
  const Twist V = randomTwist(r.rng()), A = randomTwist(r.rng());
  EXPECT_NO_ALLOCATION(f.idyn(V, A, a, b, g));
  EXPECT_NO_ALLOCATION(f.idyn(V, A, a, b));
  EXPECT_NO_ALLOCATION(f.idyn_passive(V, A, a, b, g));
  EXPECT_NO_ALLOCATION(f.idyn_passive(V, A, a, b));
  EXPECT_NO_ALLOCATION(f.idyn_momentum(A, a));
  EXPECT_TRUE(f.tau().allFinite());
}

}  // namespace zorvik_test::dyn::inverse_dynamics_test
