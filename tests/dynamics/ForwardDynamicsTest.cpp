// Forward dynamics (fdyn, fixed and floating base) and the inverse mass matrix (MassInverse).
//
// Checked against what does not use the articulated-body recursion: the inverse dynamics it must
// invert, the joint-space equation M qddot = tau - C qdot - g with M, C, g from JointDynamics and
// solved densely in the test, the closed form of a revolute body, the conservation of energy in a
// passive simulation and the momentum balance of a free-floating chain.
//
// Tolerances. Round trips and the joint-space equation compare results of order one (torques and
// accelerations of random models with masses about 1 kg and links about 0.3 m) computed along
// different routes: 1e-12 and 1e-11 relative to the larger of the values compared, as the
// requirement on the recursion states; the random inertias are well conditioned (principal
// moments of at least 0.01 kg m^2 at masses of 0.5 to 2.5 kg), so rounding stays far below.
#include <Vexo/DynamicAnalysisXD>

#include "DynamicsTestUtil.h"
#include "support/AllocationCounter.h"
#include "support/GeneralPathTwin.h"
#include "support/LinearAlgebra.h"

namespace zorvik_test::dyn::forward_dynamics_test {

constexpr double kRoundTripTol = 1e-12;
constexpr double kEquationTol = 1e-11;

template <typename T>
class ForwardDynamicsTest : public ::testing::Test {};
TYPED_TEST_SUITE(ForwardDynamicsTest, DynamicsWidths, JacobianWidthNames);

template <typename A, typename B>
double relativeScale(const A& a, const B& b) {
  return std::max(1.0, std::max(a.cwiseAbs().maxCoeff(), b.cwiseAbs().maxCoeff()));
}

// fdyn(idyn(qddot)) = qddot and idyn(fdyn(tau)) = tau, with and without gravity; fdyn writes
// _qddot only.
TYPED_TEST(ForwardDynamicsTest, InvertsTheInverseDynamicsWithWrenchesBiasesAndDerivedInertias) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(41, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    Loads loads(m, rng);
    for (int s = 0; s < 3; ++s) {
      randomState<N>(m, rng);
      const JointVec qddot = randomMatrix<N>(rng, 2.0);
      m.idyn(m.qdot(), qddot, gravity());
      const JointVec tau = m.tau();
      std::vector<HTransform> T;
      std::vector<Twist> V;
      for (int k = 0; k <= N; ++k) {
        T.push_back(m.body(k).T());
        V.push_back(m.body(k).V());
      }
      m.fdyn(tau, gravity());
      EXPECT_MATRIX_NEAR(m.qddot(), qddot, kRoundTripTol * relativeScale(m.qddot(), qddot));
      EXPECT_MATRIX_EQ(m.tau(), tau);
      for (int k = 0; k <= N; ++k) {
        ASSERT_MATRIX_EQ(m.body(k).T(), T[k]);
        ASSERT_MATRIX_EQ(m.body(k).V(), V[k]);
      }

      const JointVec tau2 = randomMatrix<N>(rng, 5.0);
      m.fdyn(tau2);
      m.idyn(m.qdot(), JointVec(m.qddot()));
      EXPECT_MATRIX_NEAR(m.tau(), tau2, kRoundTripTol * relativeScale(m.tau(), tau2));
    }
  });
}

// On a moving platform (a base joint without coordinates that has its own twist and
// acceleration) the forward dynamics starts from the platform's acceleration, as idyn does.
TYPED_TEST(ForwardDynamicsTest, InvertsTheInverseDynamicsOnAMovingPlatform) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  MixedJointRobot<N> robot(43, true);
  std::mt19937& rng = robot.rng();
  PrescribedBaseJoint platform;
  platform.Tadj() = randomPose(rng);
  platform.Vadj() = randomTwist(rng);
  platform.acc = randomTwist(rng);
  VexoBaseXD<N>& m = robot.model();
  m.addJoint(0, platform);
  randomState<N>(m, rng);
  const JointVec tau = randomMatrix<N>(rng, 5.0);
  m.fdyn(tau, gravity());
  m.idyn(m.qdot(), JointVec(m.qddot()), gravity());
  EXPECT_MATRIX_NEAR(m.tau(), tau, kRoundTripTol * relativeScale(m.tau(), tau));
}

// qddot = M^-1 (tau - h) with M from the column recursion and h = C qdot + g plus the torques of
// the wrenches and biases (idyn at qddot = 0), the solve done densely here; MassInverse is M^-1.
TYPED_TEST(ForwardDynamicsTest, SolvesTheJointSpaceEquationAndMassInverseInvertsM) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  forEachRobot<N>(42, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    Loads loads(m, rng);
    for (int s = 0; s < 2; ++s) {
      randomState<N>(m, rng);
      JointMat M, C, Minv;
      JointVec G;
      DynamicAnalysisXD<N>::JointDynamics(m, M, C, G, gravity());
      // The bodies' wrenches and biases stay out of C and G, so they are read from idyn itself.
      m.idyn(m.qdot(), JointVec::Zero(), gravity());
      const JointVec h = m.tau();
      const JointVec tau = randomMatrix<N>(rng, 5.0);
      const Eigen::VectorXd expected = solveSymmetric(M, tau - h);
      m.tau().setConstant(7.0);
      m.fdyn(tau, gravity());
      EXPECT_MATRIX_NEAR(m.qddot(), expected, kEquationTol * relativeScale(m.qddot(), expected));

      const JointVec qddotBefore = m.qddot(), tauBefore = m.tau();
      DynamicAnalysisXD<N>::MassInverse(m, Minv);
      EXPECT_MATRIX_NEAR(Minv * M, JointMat::Identity(), kEquationTol * relativeScale(Minv, M));
      EXPECT_MATRIX_NEAR(Minv, inverseSymmetric(M), kEquationTol * relativeScale(Minv, M));
      EXPECT_MATRIX_EQ(Minv, JointMat(Minv.transpose()));
      EXPECT_MATRIX_EQ(m.qddot(), qddotBefore);
      EXPECT_MATRIX_EQ(m.tau(), tauBefore);
    }
  });
}

// Body k hangs from the base on a revolute joint about the base's z axis through the origin, its
// centre of mass at distance l_k along its own x axis: every joint is independent, and
//   (Izz_k + m_k l_k^2) qddot_k = tau_k - m_k g l_k cos(q_k)
// for gravity (0, -g, 0) in the base frame, whatever the rates (a body turning about a fixed axis
// has no velocity torque about it).
TEST(ForwardDynamicsClosedForm, RevoluteBodiesUnderConstantTorqueAndGravity) {
  constexpr int N = 6;
  typedef VexoBaseXD<N>::JointVec JointVec;
  typedef VexoBaseXD<N>::JointMat JointMat;
  const double g = 9.81;
  VexoBaseXD<N> m;
  RigidJoint base;
  m.addJoint(0, base);
  std::vector<std::unique_ptr<Body>> bodies;
  std::vector<std::unique_ptr<RevoluteJoint>> joints;
  Eigen::Matrix<double, N, 1> mass, l, Izz;
  for (int k = 0; k <= N; ++k) {
    bodies.emplace_back(new Body());
    m.addBody(k, *bodies.back());
    if (k == 0) continue;
    mass(k - 1) = 0.5 + 0.3 * k;
    l(k - 1) = 0.1 + 0.05 * k;
    Izz(k - 1) = 0.02 + 0.01 * k;
    bodies.back()->setInertia(
        Inertia(mass(k - 1), l(k - 1), 0, 0, 0.03, 0.04, Izz(k - 1), 0.001, 0.002, 0.003));
    joints.emplace_back(new RevoluteJoint(HTransform(), Vector3D(0, 0, 1)));
    m.connect(0, k, *joints.back());
  }
  std::mt19937 rng(43);
  for (int s = 0; s < 4; ++s) {
    randomState<N>(m, rng, 3.0);
    const JointVec tau = randomMatrix<N>(rng, 4.0);
    m.fdyn(tau, Vector3D(0, -g, 0));
    JointMat Minv;
    DynamicAnalysisXD<N>::MassInverse(m, Minv);
    for (int i = 0; i < N; ++i) {
      const double inertia = Izz(i) + mass(i) * l(i) * l(i);
      const double q = m.q()(i);
      EXPECT_NEAR(m.qddot()(i), (tau(i) - mass(i) * g * l(i) * std::cos(q)) / inertia, 1e-12);
      for (int j = 0; j < N; ++j) EXPECT_NEAR(Minv(i, j), i == j ? 1 / inertia : 0, 1e-12);
    }
  }
}

// Total energy of the passive model (tau = 0, gravity only) along RK4 on fdyn for one second.
// RK4's global error is O(h^4), so the energy drift must shrink by 2^4 = 16 when the step halves;
// a wrong acceleration leaves a drift that does not vanish with h (the ratio then tends to 1). The
// ratio is accepted in [8, 32], and the drift at the fine step must also be small against the
// energy's own scale (kinetic energy of order 1 J).
TEST(ForwardDynamicsPhysics, PassiveSimulationConservesEnergyToTheIntegratorsOrder) {
  constexpr int N = 6;
  typedef VexoBaseXD<N>::JointVec JointVec;
  RandomRobot<N> r(44, false, JointMix::RevolutePrismatic);
  VexoBaseXD<N>& m = r.model();
  const Vector3D g = gravity();
  const JointVec q0 = randomMatrix<N>(r.rng()), qdot0 = randomMatrix<N>(r.rng());
  auto energy = [&](const JointVec& q, const JointVec& qdot) {
    setState<N>(m, q, qdot);
    return kineticEnergy<N>(m) + potentialEnergy<N>(m, g);
  };
  auto acceleration = [&](const JointVec& q, const JointVec& qdot) {
    setState<N>(m, q, qdot);
    m.fdyn(JointVec::Zero(), g);
    return JointVec(m.qddot());
  };
  auto drift = [&](int steps) {
    const double h = 1.0 / steps;
    JointVec q = q0, v = qdot0;
    for (int s = 0; s < steps; ++s) {
      const JointVec a1 = acceleration(q, v);
      const JointVec q2 = q + 0.5 * h * v, v2 = v + 0.5 * h * a1;
      const JointVec a2 = acceleration(q2, v2);
      const JointVec q3 = q + 0.5 * h * v2, v3 = v + 0.5 * h * a2;
      const JointVec a3 = acceleration(q3, v3);
      const JointVec q4 = q + h * v3, v4 = v + h * a3;
      const JointVec a4 = acceleration(q4, v4);
      q += h / 6 * (v + 2 * v2 + 2 * v3 + v4);
      v += h / 6 * (a1 + 2 * a2 + 2 * a3 + a4);
    }
    return std::abs(energy(q, v) - energy(q0, qdot0));
  };
  const double coarse = drift(100), fine = drift(200);
  const double ke = (setState<N>(m, q0, qdot0), kineticEnergy<N>(m));
  EXPECT_GT(coarse / fine, 8.0) << "coarse " << coarse << " fine " << fine;
  EXPECT_LT(coarse / fine, 32.0) << "coarse " << coarse << " fine " << fine;
  EXPECT_LT(fine, 1e-5 * (1 + ke));
}

// The total spatial momentum of a free-floating model, in the reference frame,
//   h = sum_k Ad(T_k)^-T (I_k V_k),
// changes only by the external wrenches and gravity (the joint torques are internal):
//   dh/dt = sum_k Ad(T_k)^-T (Fext_k + (m_k R_k^T g, c_k x m_k R_k^T g)).
// Along the motion that fdyn gives (the base's pose follows exp of its twist and acceleration, the
// joints their rates and accelerations) the central difference of h must match that sum.
TYPED_TEST(ForwardDynamicsTest, FreeFloatingMomentumChangesOnlyByExternalWrenchesAndGravity) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(45, [](VexoBaseXD<N>& source, std::mt19937& rng) {
    FloatingBaseTwin<N> twin(source);
    VexoBaseXD<N>& m = twin.model();
    const HTransform T0 = randomPose(rng, 1.0);
    const Twist V0 = randomTwist(rng);
    const JointVec q = randomMatrix<N>(rng), qdot = randomMatrix<N>(rng);
    const JointVec tau = randomMatrix<N>(rng, 3.0);
    for (int k = 0; k <= N; k += 4) m.body(k).setExtWrench(randomWrench(rng));
    const Vector3D g = gravity();
    twin.baseJoint().Tadj() = T0;
    twin.baseJoint().Vadj() = V0;
    setState<N>(m, q, qdot);
    Twist A;
    m.fdyn(V0, A, tau, g);
    const JointVec qddot = m.qddot();

    // The floating idyn with this motion gives tau back.
    m.idyn(V0, A, qdot, qddot, g);
    EXPECT_MATRIX_NEAR(m.tau(), tau, kEquationTol * relativeScale(m.tau(), tau));

    Wrench expected = Wrench::Zero();
    for (int k = 0; k <= N; ++k) {
      const Body& b = m.body(k);
      const Eigen::Vector3d f = b.mass() * (b.T().R().transpose() * g);
      const Eigen::Vector3d c(b.com()[0], b.com()[1], b.com()[2]);
      expected += b.T().transform(Wrench(Wrench(f, c.cross(f)) + b.Fext()));
    }
    auto momentum = [&](double t) {
      twin.baseJoint().Tadj() = T0.cascade(Twist(t * V0 + 0.5 * t * t * A).exp());
      twin.baseJoint().Vadj() = Twist(V0 + t * A);
      setState<N>(m, q + t * qdot + 0.5 * t * t * qddot, qdot + t * qddot);
      Wrench h = Wrench::Zero();
      for (int k = 0; k <= N; ++k)
        h += m.body(k).T().transform(Wrench(m.body(k).momentum(m.body(k).V())));
      return h;
    };
    const double dt = 1e-4;
    const Wrench rate((momentum(dt) - momentum(-dt)) / (2 * dt));
    // Truncation O(dt^2) of derivatives of order 10, rounding eps |h| / dt.
    EXPECT_MATRIX_NEAR(rate, expected, 1e-5 * relativeScale(rate, expected));
  });
}

TYPED_TEST(ForwardDynamicsTest, ForwardDynamicsAndMassInverseDoNotAllocate) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  MixedJointRobot<N> r(46, true);
  VexoBaseXD<N>& m = r.model();
  randomState<N>(m, r.rng());
  const JointVec tau = randomMatrix<N>(r.rng());
  JointMat Minv;
  EXPECT_NO_ALLOCATION(m.fdyn(tau, gravity()));
  EXPECT_NO_ALLOCATION(m.fdyn(tau));
  EXPECT_NO_ALLOCATION(DynamicAnalysisXD<N>::MassInverse(m, Minv));
  FloatingBaseTwin<N> twin(m);
  VexoBaseXD<N>& f = twin.model();
  randomState<N>(f, r.rng());
  Twist A;
  EXPECT_NO_ALLOCATION(f.fdyn(Twist(), A, tau, gravity()));
  EXPECT_NO_ALLOCATION(f.fdyn(Twist(), A, tau));
  EXPECT_TRUE(f.qddot().allFinite());
}

// A massless last body on a revolute joint: its joint moves no inertia, its acceleration is
// undetermined.
// Joint::project serves the client (the joint contract lets a joint leave it empty); the model
// reads the joint's E. Two joints of a client that keep the rest of the contract: one whose project
// writes nothing, one whose project writes NaN. A model made of them must give the forward
// dynamics and the inverse mass matrix of the same model built from the library's joints.
template <typename J>
class EmptyProjection : public J {
 public:
  explicit EmptyProjection(const J& j) : J(j) {}
  void project(const Matrix6d&, double*, double*) override {}
  void project(const Matrix6d&, double*) override {}
};
template <typename J>
class GarbageProjection : public J {
 public:
  explicit GarbageProjection(const J& j) : J(j) {}
  void project(const Matrix6d&, double* EtME, double* ME) override {
    std::fill(ME, ME + 6 * this->dof(), NAN);
    std::fill(EtME, EtME + this->dof() * this->dof(), NAN);
  }
  void project(const Matrix6d&, double* EtME) override {
    std::fill(EtME, EtME + this->dof() * this->dof(), NAN);
  }
};

template <template <typename> class Wrap>
void expectTheLibraryJointsDynamics(unsigned seed, bool tree) {
  typedef VexoBaseXD<7>::JointVec JointVec;
  typedef VexoBaseXD<7>::JointMat JointMat;
  MixedJointRobot<7> robot(seed, tree);  // spherical, cylindrical and one-axis joints
  VexoBaseXD<7>& library = robot.model();
  randomState<7>(library, robot.rng());
  GeneralPathTwin<7, Wrap> twin(library);
  VexoBaseXD<7>& client = twin.model();
  client.update(false);
  const JointVec tau = randomMatrix<7>(robot.rng(), 5.0);
  library.fdyn(tau, gravity());
  client.fdyn(tau, gravity());
  ASSERT_TRUE(client.qddot().allFinite());
  EXPECT_MATRIX_NEAR(client.qddot(), library.qddot(),
                     kRoundTripTol * relativeScale(client.qddot(), library.qddot()));
  JointMat M, C, Minv;
  JointVec G;
  DynamicAnalysisXD<7>::JointDynamics(library, M, C, G, gravity());
  DynamicAnalysisXD<7>::MassInverse(client, Minv);
  EXPECT_MATRIX_NEAR(Minv, inverseSymmetric(M), kEquationTol * relativeScale(Minv, M));
}

TEST(ForwardDynamicsClientJoint, NeitherFdynNorMassInverseReadsTheJointsProject) {
  for (bool tree : {false, true}) {
    expectTheLibraryJointsDynamics<EmptyProjection>(61, tree);
    expectTheLibraryJointsDynamics<GarbageProjection>(62, tree);
  }
}

template <int N>
struct MasslessTip {
  RandomRobot<N> robot{47};
  Body massless;
  MasslessTip() {
    robot.model().addBody(N, massless);
    randomState<N>(robot.model(), robot.rng());
  }
};

TEST(ForwardDynamicsDeathTest, AMasslessSubtreeAsserts) {
  ZORVIK_SKIP_WITH_RELEASE_LIBRARY();
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  MasslessTip<6> tip;
  VexoBaseXD<6>::JointMat Minv;
  const char message[] = "A joint moves no inertia along one of its coordinates";
  EXPECT_DEATH(tip.robot.model().fdyn(VexoBaseXD<6>::JointVec::Ones(), gravity()), message);
  EXPECT_DEATH(DynamicAnalysisXD<6>::MassInverse(tip.robot.model(), Minv), message);
}

// The release build treats the joint as locked: zero acceleration for it, and for the others the
// dynamics of the model with that joint held, which the inverse dynamics confirms on every joint
// but the massless one.
TEST(ForwardDynamicsReleaseTest, AMasslessSubtreeGetsZeroAccelerationAndNoNaN) {
  ZORVIK_SKIP_WITH_DEBUG_LIBRARY();
  typedef VexoBaseXD<6>::JointVec JointVec;
  MasslessTip<6> tip;
  VexoBaseXD<6>& m = tip.robot.model();
  const JointVec tau = randomMatrix<6>(tip.robot.rng(), 3.0);
  m.fdyn(tau, gravity());
  ASSERT_TRUE(m.qddot().allFinite());
  EXPECT_EQ(m.qddot()(5), 0.0);
  m.idyn(m.qdot(), JointVec(m.qddot()), gravity());
  EXPECT_MATRIX_NEAR(m.tau().head<5>(), tau.head<5>(), 1e-11 * relativeScale(m.tau(), tau));
  VexoBaseXD<6>::JointMat Minv;
  DynamicAnalysisXD<6>::MassInverse(m, Minv);
  ASSERT_TRUE(Minv.allFinite());
  EXPECT_EQ(Minv.row(5).cwiseAbs().maxCoeff(), 0.0);
}

}  // namespace zorvik_test::dyn::forward_dynamics_test
