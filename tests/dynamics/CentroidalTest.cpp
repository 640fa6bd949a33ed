// Centre of mass, centroidal momentum and energies (CentroidalXD) against quantities the test forms
// itself from each body's mass, centre of mass and rotational inertia at its stored pose and twist:
// the mass-weighted mean, the bodies' momenta summed about the centre of mass, the parallel-axis
// sum; the Jacobians and rate terms against five-point differences along the motion; the kinetic
// energy against 1/2 qdot^T M qdot with M from the body Jacobians, the potential against the
// gravity torques it is the potential of; closed forms on a planar two-link arm; the energy balance
// along a simulation by the forward dynamics. Differences with h = 1e-4 on quantities of order one
// have errors far below the 1e-7 allowed; a missed term, frame or sign gives errors of order one.
#include <Vexo/CentroidalXD>
#include <Vexo/DynamicAnalysisXD>

#include "DynamicsTestUtil.h"

namespace zorvik_test::dyn::centroidal_test {

constexpr double kStep = 1e-4;
constexpr double kFdTol = 1e-7;
constexpr double kTol = 1e-10;

template <typename T>
class CentroidalTest : public ::testing::Test {};
TYPED_TEST_SUITE(CentroidalTest, DynamicsWidths, JacobianWidthNames);

// Body k's centre of mass, its velocity and its angular momentum about x, in the reference frame,
// from the plain body's mass properties, its pose and its twist.
Eigen::Vector3d bodyCom(const Body& b) {
  return b.T().R() * Eigen::Vector3d(b.com()[0], b.com()[1], b.com()[2]) + b.T().r();
}
Eigen::Vector3d bodyComVelocity(const Body& b) {
  const Eigen::Vector3d c(b.com()[0], b.com()[1], b.com()[2]);
  const Eigen::Vector3d v = b.V().v(), w = b.V().w();
  return b.T().R() * (v + w.cross(c));
}
Eigen::Vector3d angularMomentumAbout(const Body& b, const Eigen::Vector3d& x) {
  const Eigen::Matrix3d R = b.T().R();
  const Eigen::Vector3d w = R * Eigen::Vector3d(b.V().w());
  const Eigen::Matrix3d Ic = R * b.getInertia().comInertia() * R.transpose();
  return Ic * w + (bodyCom(b) - x).cross(b.mass() * bodyComVelocity(b));
}

// Whether body k counts in the subtree of root (the system, bodies 1..N of a fixed base, for 0).
template <int N>
bool inSubtree(const VexoBaseXD<N>& m, int root, int k) {
  if (root == 0) return k > 0 || m.isFloating();
  return onPathToBase(m, root, k);
}

template <int N>
Eigen::Vector3d meanCom(const VexoBaseXD<N>& m, int root, double* mass = nullptr) {
  double total = 0;
  Eigen::Vector3d h = Eigen::Vector3d::Zero();
  for (int k = 0; k <= N; ++k) {
    if (!inSubtree(m, root, k)) continue;
    total += m.body(k).mass();
    h += m.body(k).mass() * bodyCom(m.body(k));
  }
  if (mass) *mass = total;
  return h / total;
}

// (l, k): the bodies' linear momenta and their angular momenta about the centre of mass.
template <int N>
Vec6 momentumOfBodies(const VexoBaseXD<N>& m) {
  const Eigen::Vector3d c = meanCom(m, 0);
  Vec6 h = Vec6::Zero();
  for (int k = 0; k <= N; ++k) {
    if (!inSubtree(m, 0, k)) continue;
    h.head<3>() += m.body(k).mass() * bodyComVelocity(m.body(k));
    h.tail<3>() += angularMomentumAbout(m.body(k), c);
  }
  return h;
}

// Roots to check: the system, body 1, a body in the middle and the last body.
template <int N>
std::vector<int> roots() {
  return {0, 1, N / 2, N};
}

TYPED_TEST(CentroidalTest, CenterOfMassIsTheMassWeightedMeanOfTheBodies) {
  constexpr int N = TypeParam::value;
  typedef CentroidalXD<N> Centroidal;
  forEachRobot<N>(11, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    for (int root : roots<N>()) {
      SCOPED_TRACE("root " + std::to_string(root));
      double mass;
      const Eigen::Vector3d expected = meanCom(m, root, &mass);
      EXPECT_NEAR(Centroidal::mass(m, root), mass, kTol * mass);
      EXPECT_MATRIX_CLOSE(Centroidal::centerOfMass(m, root), expected, kTol);
      Displacement c;
      typename Centroidal::ComJac Jc;
      Centroidal::centerOfMass(m, c, Jc, root);
      EXPECT_MATRIX_CLOSE(c, expected, kTol);
    }
  });
}

// d/dt c(q + t qdot) = Jc qdot, and the velocity from the twists is the same.
TYPED_TEST(CentroidalTest, ComJacobianMapsRatesToTheComVelocity) {
  constexpr int N = TypeParam::value;
  typedef CentroidalXD<N> Centroidal;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(12, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    const JointVec q = randomMatrix<N>(rng), qdot = randomMatrix<N>(rng);
    for (int root : roots<N>()) {
      SCOPED_TRACE("root " + std::to_string(root));
      const Eigen::Vector3d fd = centralDifference(
          [&](double t) {
            setTrajectoryState<N>(m, q, qdot, JointVec::Zero(), t);
            return Eigen::Vector3d(Centroidal::centerOfMass(m, root));
          },
          kStep);
      setState<N>(m, q, qdot);
      Displacement c;
      typename Centroidal::ComJac Jc;
      Centroidal::centerOfMass(m, c, Jc, root);
      EXPECT_MATRIX_CLOSE(Jc * qdot, fd, kFdTol);
      EXPECT_MATRIX_CLOSE(Centroidal::centerOfMassVelocity(m, root), Jc * qdot, kTol);
    }
  });
}

// cddot = Jc qddot + Jcdot qdot along q(t) = q + t qdot + t^2/2 qddot.
TYPED_TEST(CentroidalTest, ComBiasAccelerationIsTheVelocityProductTerm) {
  constexpr int N = TypeParam::value;
  typedef CentroidalXD<N> Centroidal;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(13, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    const JointVec q = randomMatrix<N>(rng), qdot = randomMatrix<N>(rng),
                   qddot = randomMatrix<N>(rng);
    for (int root : roots<N>()) {
      SCOPED_TRACE("root " + std::to_string(root));
      const Eigen::Vector3d fd = centralDifference(
          [&](double t) {
            setTrajectoryState<N>(m, q, qdot, qddot, t);
            return Eigen::Vector3d(Centroidal::centerOfMassVelocity(m, root));
          },
          kStep);
      setState<N>(m, q, qdot);
      Displacement c;
      typename Centroidal::ComJac Jc;
      Centroidal::centerOfMass(m, c, Jc, root);
      EXPECT_MATRIX_CLOSE(Jc * qddot + Centroidal::comBiasAcceleration(m, root), fd, kFdTol);
    }
  });
}

TYPED_TEST(CentroidalTest, MomentumIsTheSumOfTheBodiesMomentaAndAqdot) {
  constexpr int N = TypeParam::value;
  typedef CentroidalXD<N> Centroidal;
  forEachRobot<N>(14, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    const Vec6 expected = momentumOfBodies(m);
    const Wrench h = Centroidal::centroidalMomentum(m);
    EXPECT_MATRIX_CLOSE(h, expected, kTol);
    typename VexoBaseXD<N>::JointJac A;
    Centroidal::centroidalMatrix(m, A);
    EXPECT_MATRIX_CLOSE(A * m.qdot(), expected, kTol);
    // l = m cdot.
    EXPECT_MATRIX_CLOSE(h.f(), Centroidal::mass(m) * Centroidal::centerOfMassVelocity(m), kTol);
  });
}

// hdot = A qddot + Adot qdot along the motion.
TYPED_TEST(CentroidalTest, MomentumBiasIsTheVelocityProductTerm) {
  constexpr int N = TypeParam::value;
  typedef CentroidalXD<N> Centroidal;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(15, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    const JointVec q = randomMatrix<N>(rng), qdot = randomMatrix<N>(rng),
                   qddot = randomMatrix<N>(rng);
    const Vec6 fd = centralDifference(
        [&](double t) {
          setTrajectoryState<N>(m, q, qdot, qddot, t);
          return Vec6(Centroidal::centroidalMomentum(m));
        },
        kStep);
    setState<N>(m, q, qdot);
    typename VexoBaseXD<N>::JointJac A;
    Centroidal::centroidalMatrix(m, A);
    EXPECT_MATRIX_CLOSE(A * qddot + Centroidal::momentumBias(m), fd, kFdTol);
  });
}

// [[m 1, 0], [0, Ic]] with Ic = sum R_k Ic_k R_k^T + m_k (|d|^2 1 - d d^T), d = c_k - c.
TYPED_TEST(CentroidalTest, CentroidalInertiaIsTheParallelAxisSum) {
  constexpr int N = TypeParam::value;
  forEachRobot<N>(16, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    double mass;
    const Eigen::Vector3d c = meanCom(m, 0, &mass);
    Matrix6d expected = Matrix6d::Zero();
    expected.topLeftCorner<3, 3>() = mass * Eigen::Matrix3d::Identity();
    for (int k = 1; k <= N; ++k) {
      const Body& b = m.body(k);
      const Eigen::Matrix3d R = b.T().R();
      const Eigen::Vector3d d = bodyCom(b) - c;
      expected.bottomRightCorner<3, 3>() +=
          R * b.getInertia().comInertia() * R.transpose() +
          b.mass() * (d.squaredNorm() * Eigen::Matrix3d::Identity() - d * d.transpose());
    }
    EXPECT_MATRIX_CLOSE(CentroidalXD<N>::centroidalInertia(m), expected, kTol);
  });
}

// T = 1/2 qdot^T M qdot, M = sum J_k^T I_k J_k; dU/dt along the motion = g(q) . qdot with the
// gravity torques of idyn_gravity; U against the bodies' sum.
TYPED_TEST(CentroidalTest, EnergiesMatchTheMassMatrixAndTheGravityTorques) {
  constexpr int N = TypeParam::value;
  typedef CentroidalXD<N> Centroidal;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(17, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    const JointVec q = randomMatrix<N>(rng), qdot = randomMatrix<N>(rng);
    setState<N>(m, q, qdot);
    m.updateJacobian(true);
    const double T = 0.5 * qdot.dot(massFromJacobians(m) * qdot);
    EXPECT_NEAR(Centroidal::kineticEnergy(m), T, kTol * (1 + T));
    const Body& base = m.body(0);
    const double U = potentialEnergy(m, gravity()) + base.mass() * gravity().dot(bodyCom(base));
    EXPECT_NEAR(Centroidal::potentialEnergy(m, gravity()), U, kTol * (1 + std::abs(U)));
    m.idyn_gravity(gravity());
    const double power = m.tau().dot(qdot);
    const double dU = centralDifference(
        [&](double t) {
          setTrajectoryState<N>(m, q, qdot, JointVec::Zero(), t);
          return Centroidal::potentialEnergy(m, gravity());
        },
        kStep);
    EXPECT_NEAR(dU, power, kFdTol * (1 + std::abs(power)));
  });
}

// Bodies whose inertia() adds a rotor's inertia and bias: the energy is the one the dynamics see,
// 1/2 qdot^T M qdot with M from the dynamics, and the momentum matrix still maps the rates.
TYPED_TEST(CentroidalTest, DerivedBodiesCountWithTheInertiaTheDynamicsUse) {
  constexpr int N = TypeParam::value;
  typedef CentroidalXD<N> Centroidal;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(18, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    Loads loads(m, rng);
    JointMat M, C;
    JointVec G;
    DynamicAnalysisXD<N>::JointDynamics(m, M, C, G, gravity());
    const double T = 0.5 * m.qdot().dot(M * m.qdot());
    EXPECT_NEAR(Centroidal::kineticEnergy(m), T, kTol * (1 + T));
    typename VexoBaseXD<N>::JointJac A;
    Centroidal::centroidalMatrix(m, A);
    EXPECT_MATRIX_CLOSE(A * m.qdot(), Centroidal::centroidalMomentum(m), kTol);
    // The rotors add no mass: the centre of mass is the plain bodies'.
    EXPECT_MATRIX_CLOSE(Centroidal::centerOfMass(m), meanCom(m, 0), kTol);
  });
}

// A floating base counts the base body and moves everything with its twist V0:
// cdot = Jc_base V0 + Jc qdot and h = A_base V0 + A qdot, against the bodies' own sums.
TYPED_TEST(CentroidalTest, FloatingBaseBlocksMapTheBaseTwist) {
  constexpr int N = TypeParam::value;
  typedef CentroidalXD<N> Centroidal;
  forEachRobot<N>(19, [](VexoBaseXD<N>& source, std::mt19937& rng) {
    FloatingBaseTwin<N> twin(source);
    VexoBaseXD<N>& m = twin.model();
    twin.baseJoint().Tadj() = randomPose(rng, 1.0);
    twin.baseJoint().Vadj() = randomTwist(rng);
    randomState<N>(m, rng);
    const Twist V0 = m.body(0).V();
    ASSERT_MATRIX_EQ(V0, twin.baseJoint().Vadj());

    Displacement c;
    typename Centroidal::BaseComJac Jb;
    typename Centroidal::ComJac Jc;
    Centroidal::centerOfMass(m, c, Jb, Jc);
    EXPECT_MATRIX_CLOSE(c, meanCom(m, 0), kTol);
    double mass;
    meanCom(m, 0, &mass);
    Eigen::Vector3d l = Eigen::Vector3d::Zero();
    for (int k = 0; k <= N; ++k) l += m.body(k).mass() * bodyComVelocity(m.body(k));
    EXPECT_MATRIX_CLOSE(Jb * V0 + Jc * m.qdot(), l / mass, kTol);

    Matrix6d Ab;
    typename VexoBaseXD<N>::JointJac A;
    Centroidal::centroidalMatrix(m, Ab, A);
    EXPECT_MATRIX_CLOSE(Ab * V0 + A * m.qdot(), momentumOfBodies(m), kTol);
    EXPECT_MATRIX_CLOSE(Centroidal::centroidalMomentum(m), momentumOfBodies(m), kTol);
  });
}

// A planar two-link arm (revolute joints about z, links along x, gravity along -y) on a model of
// six bodies, the other four massless and rigidly fixed: link i has length l_i, mass m_i, centre
// of mass at lc_i along the link and inertia I_i about z at its centre of mass. With
// s1 = sin q1, c12 = cos(q1 + q2) and so on,
//   T = 1/2 (m1 lc1^2 + I1 + m2 (l1^2 + lc2^2 + 2 l1 lc2 c2) + I2) q1dot^2
//     + (m2 (lc2^2 + l1 lc2 c2) + I2) q1dot q2dot + 1/2 (m2 lc2^2 + I2) q2dot^2,
//   U = g (m1 lc1 s1 + m2 (l1 s1 + lc2 s12)),
//   c = (m1 lc1 (c1, s1) + m2 (l1 (c1, s1) + lc2 (c12, s12))) / (m1 + m2).
TEST(CentroidalTwoLinkArm, EnergiesAndCenterOfMassMatchClosedForms) {
  const double l1 = 0.7, m1 = 3.0, lc1 = 0.3, I1 = 0.11, m2 = 1.7, lc2 = 0.45, I2 = 0.05,
               g = 9.81;
  VexoBaseXD<6> arm;
  RigidJoint base;
  RevoluteJoint j1(HTransform(), Vector3D(0, 0, 1));
  RevoluteJoint j2(HTransform(Rotation(), Displacement(l1, 0, 0)), Vector3D(0, 0, 1));
  RigidJoint fixed[4];
  Body bodies[7];
  const double com1[3] = {lc1, 0, 0}, com2[3] = {lc2, 0, 0};
  const double inertia1[6] = {0.02, 0.03, I1, 0, 0, 0}, inertia2[6] = {0.01, 0.04, I2, 0, 0, 0};
  bodies[1].setInertia(Inertia(m1, com1, inertia1));
  bodies[2].setInertia(Inertia(m2, com2, inertia2));
  for (int k = 0; k < 7; ++k) arm.addBody(k, bodies[k]);
  arm.addJoint(0, base);
  arm.connect(0, 1, j1);
  arm.connect(1, 2, j2);
  for (int k = 3; k < 7; ++k) arm.connect(2, k, fixed[k - 3]);

  std::mt19937 rng(20);
  for (int s = 0; s < 5; ++s) {
    const Eigen::Vector2d q = randomMatrix<2>(rng, 3.0), qdot = randomMatrix<2>(rng, 2.0);
    arm.q().setZero();
    arm.qdot().setZero();
    arm.q().head<2>() = q;
    arm.qdot().head<2>() = qdot;
    arm.update(false);
    const double c2 = std::cos(q(1)), s1 = std::sin(q(0)), s12 = std::sin(q(0) + q(1));
    const double T = 0.5 * (m1 * lc1 * lc1 + I1 + m2 * (l1 * l1 + lc2 * lc2 + 2 * l1 * lc2 * c2) + I2) *
                         qdot(0) * qdot(0) +
                     (m2 * (lc2 * lc2 + l1 * lc2 * c2) + I2) * qdot(0) * qdot(1) +
                     0.5 * (m2 * lc2 * lc2 + I2) * qdot(1) * qdot(1);
    const double U = g * (m1 * lc1 * s1 + m2 * (l1 * s1 + lc2 * s12));
    const Eigen::Vector2d u1(std::cos(q(0)), s1), u12(std::cos(q(0) + q(1)), s12);
    const Eigen::Vector2d c = (m1 * lc1 * u1 + m2 * (l1 * u1 + lc2 * u12)) / (m1 + m2);
    EXPECT_NEAR(CentroidalXD<6>::kineticEnergy(arm), T, 1e-12 * (1 + T));
    EXPECT_NEAR(CentroidalXD<6>::potentialEnergy(arm, Vector3D(0, -g, 0)), U, 1e-12 * (1 + std::abs(U)));
    EXPECT_MATRIX_CLOSE(CentroidalXD<6>::centerOfMass(arm), Eigen::Vector3d(c(0), c(1), 0),
                           1e-14);
  }
}

// Along a simulation by the forward dynamics with applied torques tau(t), d/dt (T + U) = qdot .
// tau: the change of T + U equals the work W = integral of qdot . tau. Classical Runge-Kutta on
// (q, qdot, W) has global error O(h^4): the mismatch shrinks about 16-fold when h halves (more
// while higher-order terms still weigh; a missed term in either energy leaves a mismatch that does
// not shrink at all, a first- or second-order error shrinks 2- or 4-fold).
TEST(CentroidalEnergyBalance, EnergyChangeIsTheWorkOfTheTorquesToFourthOrder) {
  constexpr int N = 7;
  typedef VexoBaseXD<N>::JointVec JointVec;
  typedef CentroidalXD<N> Centroidal;
  RandomRobot<N> robot(21, false, JointMix::RevolutePrismatic);
  VexoBaseXD<N>& m = robot.model();
  const JointVec q0 = randomMatrix<N>(robot.rng()), qdot0 = randomMatrix<N>(robot.rng());
  const JointVec amplitude = randomMatrix<N>(robot.rng(), 5.0);
  const auto tau = [&](double t) { return JointVec(amplitude * std::sin(3 * t)); };
  const auto energy = [&](const JointVec& q, const JointVec& qdot) {
    setState<N>(m, q, qdot);
    return Centroidal::kineticEnergy(m) + Centroidal::potentialEnergy(m, gravity());
  };
  // Derivative of (q, qdot, W).
  struct State {
    JointVec q, qdot;
    double W;
  };
  const auto rate = [&](const State& x, double t) {
    setState<N>(m, x.q, x.qdot);
    m.fdyn(tau(t), gravity());
    return State{x.qdot, m.qddot(), x.qdot.dot(tau(t))};
  };
  const auto mismatch = [&](double h) {
    State x{q0, qdot0, 0};
    const double E0 = energy(q0, qdot0);
    const int steps = static_cast<int>(std::lround(0.5 / h));
    for (int s = 0; s < steps; ++s) {
      const double t = s * h;
      const auto at = [&](const State& k, double a) {
        return State{x.q + a * k.q, x.qdot + a * k.qdot, x.W + a * k.W};
      };
      const State k1 = rate(x, t), k2 = rate(at(k1, h / 2), t + h / 2),
                  k3 = rate(at(k2, h / 2), t + h / 2), k4 = rate(at(k3, h), t + h);
      x.q += h / 6 * (k1.q + 2 * k2.q + 2 * k3.q + k4.q);
      x.qdot += h / 6 * (k1.qdot + 2 * k2.qdot + 2 * k3.qdot + k4.qdot);
      x.W += h / 6 * (k1.W + 2 * k2.W + 2 * k3.W + k4.W);
    }
    return std::abs(energy(x.q, x.qdot) - E0 - x.W);
  };
  const double coarse = mismatch(0.01), fine = mismatch(0.005);
  std::printf("[ energy balance ] |T + U - W| after 0.5 s: h = 0.01 %.2e, h = 0.005 %.2e\n",
              coarse, fine);
  EXPECT_LT(coarse, 1e-4);
  EXPECT_GT(coarse / fine, 12.0);
}

}  // namespace zorvik_test::dyn::centroidal_test
