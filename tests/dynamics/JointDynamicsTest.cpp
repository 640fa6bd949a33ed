// Joint-space dynamics M(q) qddot + C(q, qdot) qdot + g(q) = tau from DynamicAnalysisXD<N>.
//
// M is checked against the mass matrix assembled from the body Jacobians, C against the
// passivity-based Coriolis matrix assembled from the Jacobians, their derivatives and the body
// factor C_b(V) = I ad(V) - ad(V)^T I, and the pair against the skew-symmetry of dM/dt - 2 C that
// justifies the factorisation; the three matrices together must reproduce every inverse-dynamics
// pass. Body external wrenches and added bias wrenches must stay out of M, C and G (they are
// torques of the environment, not of the motion), while idyn keeps them.
//
// Tolerances: M, C and G come from the same recursion as idyn, so they agree with it and with the
// Jacobian assemblies to rounding (1e-10 times the scale of the entries). The rate of M is a
// five-point central difference with step 1e-6: rounding 1.5 eps |M| / h ~ 1e-9 |M|, truncation
// h^4 |M^(5)| / 30, far smaller; the tolerance 1e-7 times the scale leaves a wide margin over both.
#include <Vexo/DynamicAnalysisXD>

#include "DynamicsTestUtil.h"
#include "support/AllocationCounter.h"
#include "support/Eigenvalues.h"

namespace zorvik_test::dyn::joint_dynamics_test {

constexpr double kRoundTol = 1e-10;
constexpr double kStep = 1e-6;
constexpr double kFdTol = 1e-7;

template <int N>
struct Matrices {
  typename VexoBaseXD<N>::JointMat M, C;
  typename VexoBaseXD<N>::JointVec G;
};

template <int N>
Matrices<N> jointDynamics(VexoBaseXD<N>& m, const Vector3D& g = gravity()) {
  Matrices<N> d;
  DynamicAnalysisXD<N>::JointDynamics(m, d.M, d.C, d.G, g);
  return d;
}

// C = sum_k J_k^T (I_k Jdot_k + (I_k ad(V_k) - ad(V_k)^T I_k) J_k): body k's reference twist is
// J_k qdot_r, its reference acceleration Jdot_k qdot_r, and its passivity-preserving wrench
// I_k Jdot_k qdot_r + C_b(V_k) J_k qdot_r; the torques are J_k^T of the wrenches. Needs
// updateJacobian(false).
template <int N>
typename VexoBaseXD<N>::JointMat coriolisFromJacobians(const VexoBaseXD<N>& m) {
  typename VexoBaseXD<N>::JointMat C = VexoBaseXD<N>::JointMat::Zero();
  for (int k = 0; k <= N; ++k) {
    const Matrix6d I = m.body(k).inertia();
    const Matrix6d ad = adMatrix(m.body(k).V());
    C += m.J(k).transpose() * (I * m.Jdot(k) + (I * ad - ad.transpose() * I) * m.J(k));
  }
  return C;
}

template <typename T>
class JointDynamicsTest : public ::testing::Test {};
TYPED_TEST_SUITE(JointDynamicsTest, DynamicsWidths, JacobianWidthNames);

TYPED_TEST(JointDynamicsTest, MassMatrixIsSymmetricPositiveDefiniteAndMatchesTheJacobians) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  forEachRobot<N>(51, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    for (int s = 0; s < 2; ++s) {
      randomState<N>(m, rng);
      const Matrices<N> d = jointDynamics<N>(m);
      m.updateJacobian(false);
      const JointMat Mref = massFromJacobians<N>(m);
      EXPECT_MATRIX_NEAR(d.M, Mref, kRoundTol * scale(Mref));
      EXPECT_MATRIX_NEAR(d.M, d.M.transpose(), 1e-12 * scale(d.M));
      const Eigen::VectorXd eigenvalues = symmetricEigenvalues(d.M);
      EXPECT_GT(eigenvalues.minCoeff(), 1e-9 * eigenvalues.maxCoeff());
    }
  });
}

TYPED_TEST(JointDynamicsTest, CoriolisMatrixMatchesTheJacobianAssembly) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  forEachRobot<N>(52, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    for (int s = 0; s < 2; ++s) {
      randomState<N>(m, rng);
      const Matrices<N> d = jointDynamics<N>(m);
      m.updateJacobian(false);
      const JointMat Cref = coriolisFromJacobians<N>(m);
      EXPECT_MATRIX_NEAR(d.C, Cref, kRoundTol * scale(Cref));
      JointMat C2;
      DynamicAnalysisXD<N>::CoriolisMatrix(m, C2);
      EXPECT_MATRIX_EQ(C2, d.C);
    }
  });
}

// The matrices reproduce the recursion: tau = M qddot + C qdot + G for idyn, C qdot for the
// gravity-free idyn at zero acceleration, M qddot_r + C qdot_r (+ G) for the passive form.
TYPED_TEST(JointDynamicsTest, MatricesReassembleEveryInverseDynamicsPass) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(53, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    for (int s = 0; s < 2; ++s) {
      randomState<N>(m, rng);
      const Matrices<N> d = jointDynamics<N>(m);
      const JointVec qdot = m.qdot(), qddot = randomMatrix<N>(rng);
      const JointVec x = randomMatrix<N>(rng), y = randomMatrix<N>(rng);
      const double tol = kRoundTol * (scale(d.M) + scale(d.C) + scale(d.G));
      m.idyn(qdot, qddot, gravity());
      EXPECT_MATRIX_NEAR(m.tau(), d.M * qddot + d.C * qdot + d.G, tol);
      m.idyn(qdot, JointVec::Zero());
      EXPECT_MATRIX_NEAR(m.tau(), d.C * qdot, tol);
      m.idyn(qdot, JointVec::Zero(), gravity());
      EXPECT_MATRIX_NEAR(m.tau() - d.G, d.C * qdot, tol);
      m.idyn_passive(x, y);
      EXPECT_MATRIX_NEAR(m.tau(), d.M * y + d.C * x, tol);
      m.idyn_passive(x, y, gravity());
      EXPECT_MATRIX_NEAR(m.tau(), d.M * y + d.C * x + d.G, tol);
      m.idyn_gravity(gravity());
      EXPECT_MATRIX_NEAR(m.tau(), d.G, tol);

      EXPECT_MATRIX_EQ(jointDynamics<N>(m, Vector3D::Zero()).G, JointVec::Zero());
      // At rest there is no velocity product: C vanishes, M stays.
      setState<N>(m, m.q(), JointVec::Zero());
      const Matrices<N> rest = jointDynamics<N>(m);
      EXPECT_MATRIX_EQ(rest.C, VexoBaseXD<N>::JointMat::Zero());
      EXPECT_MATRIX_EQ(rest.M, d.M);
      EXPECT_MATRIX_EQ(rest.G, d.G);
    }
  });
}

// dM/dt = sum_k (Jdot_k^T I_k J_k + J_k^T I_k Jdot_k), and with C_b(V) skew-symmetric,
// dM/dt - 2 C = sum_k (Jdot_k^T I_k J_k - J_k^T I_k Jdot_k - 2 J_k^T C_b(V_k) J_k) is
// skew-symmetric: the property passivity-based control relies on. dM/dt is taken by central
// differences along qdot, independently of the recursion that gives C.
TYPED_TEST(JointDynamicsTest, MassMatrixRateMinusTwiceCoriolisIsSkewSymmetric) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  forEachRobot<N>(54, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    for (int s = 0; s < 2; ++s) {
      const JointVec q = randomMatrix<N>(rng), qdot = randomMatrix<N>(rng);
      setState<N>(m, q, qdot);
      const JointMat C = jointDynamics<N>(m).C;
      const JointMat Mdot = centralDifference(
          [&](double t) -> JointMat {
            setState<N>(m, q + t * qdot, qdot);
            return jointDynamics<N>(m).M;
          },
          kStep);
      const JointMat S = Mdot - 2 * C;
      EXPECT_GT(S.norm(), 1e-3);  // not trivially zero
      EXPECT_MATRIX_NEAR(S + S.transpose(), JointMat::Zero(), kFdTol * (scale(Mdot) + scale(C)));
    }
  });
}

// A wrench F on body kw (its frame) and a derived body kb whose added bias is a constant wrench b:
// the plain column recursion would add their torques -J_kw^T F + J_kb^T b to every column of C and
// M. JointDynamics keeps them out: M, C and G are those of the same robot without them, while idyn
// and idyn_passive still carry exactly those torques.
TYPED_TEST(JointDynamicsTest, BodyWrenchesAndAddedBiasesStayOutOfTheMatrices) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(55, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    const JointVec qdot = m.qdot(), qddot = randomMatrix<N>(rng);
    const Matrices<N> plain = jointDynamics<N>(m);
    m.idyn(qdot, qddot, gravity());
    const JointVec tau = m.tau();
    m.idyn_passive(qddot, qdot, gravity());
    const JointVec tau_passive = m.tau();
    m.updateJacobian(false);

    const int kw = N, kb = 2;
    const Wrench F(randomTwist(rng, 5.0)), b(randomTwist(rng, 5.0));
    const JointVec wrenchTorques = -m.J(kw).transpose() * F + m.J(kb).transpose() * b;
    ASSERT_GT(wrenchTorques.norm(), 1e-3);
    Body& plainBody = m.body(kb);
    BiasedBody biased(plainBody, b);
    m.addBody(kb, biased);
    m.body(kw).setExtWrench(F);
    m.update(false);

    const Matrices<N> d = jointDynamics<N>(m);
    const double tol = kRoundTol * (scale(plain.M) + scale(plain.C) + scale(wrenchTorques));
    EXPECT_MATRIX_NEAR(d.M, plain.M, tol);
    EXPECT_MATRIX_NEAR(d.M, d.M.transpose(), tol);
    EXPECT_MATRIX_NEAR(d.C, plain.C, tol);
    EXPECT_MATRIX_NEAR(d.G, plain.G, tol);
    m.idyn(qdot, qddot, gravity());
    EXPECT_MATRIX_NEAR(m.tau() - tau, wrenchTorques, tol);
    m.idyn_passive(qddot, qdot, gravity());
    EXPECT_MATRIX_NEAR(m.tau() - tau_passive, wrenchTorques, tol);
    // What the plain column recursion would have given: the same torques in every column.
    for (int k = 0; k < N; ++k) {
      m.idyn_passive(unit<N>(k), JointVec::Zero());
      EXPECT_MATRIX_NEAR(m.tau() - d.C.col(k), wrenchTorques, tol);
    }
    m.addBody(kb, plainBody);
    m.body(kw).clearExtWrench();
    m.update(false);
  });
}

// Without wrenches and added biases the matrices equal the plain recursion: column k of C is
// idyn_passive(e_k, 0), column k of M is idyn(0, e_k) once the velocities are cleared.
TYPED_TEST(JointDynamicsTest, WithoutBodyWrenchesTheMatricesAreThePlainColumnRecursion) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  forEachRobot<N>(56, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    const Matrices<N> d = jointDynamics<N>(m);
    JointMat M, C;
    for (int k = 0; k < N; ++k) {
      m.idyn_passive(unit<N>(k), JointVec::Zero());
      C.col(k) = m.tau();
    }
    const JointVec qdot = m.qdot();
    m.qdot().setZero();
    m.updateVelocity();
    for (int k = 0; k < N; ++k) {
      m.idyn(JointVec::Zero(), unit<N>(k));
      M.col(k) = m.tau();
    }
    m.qdot() = qdot;
    m.updateVelocity();
    EXPECT_MATRIX_NEAR(d.C, C, kRoundTol * scale(C));
    EXPECT_MATRIX_NEAR(d.M, M, kRoundTol * scale(M));
  });
}

// Plain bodies on the library's joints take M from the composite-rigid-body recursion: the matrix
// of the column passes to rounding, and exactly symmetric.
TYPED_TEST(JointDynamicsTest, CompositeRigidBodyMassMatrixIsTheColumnPasses) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  forEachRobot<N>(57, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    const Matrices<N> d = jointDynamics<N>(m);
    JointMat columns;
    ModelProbe<N>(m)._massColumns(columns);
    EXPECT_MATRIX_NEAR(d.M, columns, 1e-13 * scale(columns));
    EXPECT_MATRIX_EQ(d.M, JointMat(d.M.transpose()));
  });
}

// JointDynamics leaves the model as it found it: _tau and _qdot, the body twists and the joints'
// velocity state, so that idyn, Vdot(k) and the Jacobian derivatives right after the call give what
// they gave right before; a second call gives the same matrices.
TYPED_TEST(JointDynamicsTest, LeavesTheModelStateAsItWas) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointJac JointJac;
  forEachRobot<N>(57, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    const JointVec qdot = m.qdot(), qddot = randomMatrix<N>(rng);
    m.qddot() = qddot;
    m.updateJacobian(false);
    m.idyn(qdot, qddot, gravity());
    const JointVec tau = m.tau();
    Twist V[N + 1], A[N + 1], Vadj[N + 1];
    Matrix6d Edot[N + 1];
    JointJac Jdot[N + 1];
    for (int k = 0; k <= N; ++k) {
      V[k] = m.body(k).V();
      A[k] = m.Vdot(k);
      Vadj[k] = m.joint(k).Vadj();
      Edot[k] = m.joint(k).Edot();
      Jdot[k] = m.Jdot(k);
    }
    const JointVec scratch = randomMatrix<N>(rng, 10.0);
    m.tau() = scratch;

    const Matrices<N> d1 = jointDynamics<N>(m);
    EXPECT_MATRIX_EQ(m.tau(), scratch);
    EXPECT_MATRIX_EQ(m.qdot(), qdot);
    for (int k = 0; k <= N; ++k) {
      SCOPED_TRACE("body " + std::to_string(k));
      EXPECT_MATRIX_EQ(m.body(k).V(), V[k]);
      EXPECT_MATRIX_EQ(m.joint(k).Vadj(), Vadj[k]);
      EXPECT_MATRIX_EQ(m.joint(k).Edot(), Edot[k]);
      EXPECT_MATRIX_EQ(m.Vdot(k), A[k]);
    }
    m.updateJacobian(false);
    for (int k = 0; k <= N; ++k) EXPECT_MATRIX_EQ(m.Jdot(k), Jdot[k]);
    m.idyn(qdot, qddot, gravity());
    EXPECT_MATRIX_EQ(m.tau(), tau);

    const Matrices<N> d2 = jointDynamics<N>(m);
    EXPECT_MATRIX_EQ(d2.M, d1.M);
    EXPECT_MATRIX_EQ(d2.C, d1.C);
    EXPECT_MATRIX_EQ(d2.G, d1.G);
  });
}

TYPED_TEST(JointDynamicsTest, DoesNotAllocate) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  RandomRobot<N> r(58, true);
  randomState<N>(r.model(), r.rng());
  JointMat M, C;
  JointVec G;
  const Vector3D g = gravity();
  EXPECT_NO_ALLOCATION(DynamicAnalysisXD<N>::JointDynamics(r.model(), M, C, G, g));
  EXPECT_NO_ALLOCATION(DynamicAnalysisXD<N>::CoriolisMatrix(r.model(), C));
  EXPECT_TRUE(M.allFinite() && C.allFinite() && G.allFinite());
}

}  // namespace zorvik_test::dyn::joint_dynamics_test
