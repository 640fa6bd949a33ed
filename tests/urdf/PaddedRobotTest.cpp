// A robot loaded into a larger model (ModelFit::AtMost) against the same robot in a model of its
// own size: every algorithm must give the small model's numbers for the robot's coordinates and
// exact zeros for the padding ones, on a fixed and a floating base; a padding coordinate that
// leaked (a row of the inverse mass matrix, a torque, a draw of the IK's random restarts) shows as
// a difference here.
#include <Vexo/BaseParametersXD>
#include <Vexo/CentroidalXD>
#include <Vexo/DynamicAnalysisXD>
#include <Vexo/MomentumObserverXD>
#include <Vexo/OperationalSpaceXD>
#include <ZorvikURDF/RobotLoader>
#include <random>

#include "support/Random.h"
#include "support/RandomLieGroup.h"
#include "urdf/RobotFiles.h"

namespace zorvik_test::padded_robot_test {

using namespace ZorvikFoundation;
using LieGroup::HTransform;
using LieGroup::Twist;
using LieGroup::Vector3D;

const Vector3D kGravity(0.4, -0.3, -9.81);

// The padded result's block of the exact one's shape equals it to rounding (relative to its
// largest entry), and every other entry is exactly zero. (Dense arguments: one instantiation for
// every result type.)
void expectPaddedEqual(const Eigen::MatrixXd& exact, const Eigen::MatrixXd& padded,
                       const char* what) {
  const Eigen::Index r = exact.rows(), c = exact.cols();
  const double scale = std::max(1.0, exact.cwiseAbs().maxCoeff());
  EXPECT_LE((padded.topLeftCorner(r, c) - exact).cwiseAbs().maxCoeff(), 1e-12 * scale) << what;
  Eigen::MatrixXd rest = padded;
  rest.topLeftCorner(r, c).setZero();
  EXPECT_TRUE(rest.isZero(0)) << what << ": a padding entry is not zero\n" << rest;
}

template <int n, int P>
struct Pair {
  URDF::Robot<n> exact;
  URDF::Robot<P> padded;
  Pair(const std::string& file, bool floating)
      : exact(description(file, floating)),
        padded(description(file, floating), URDF::ModelFit::AtMost) {}
  static URDF::RobotDescription description(const std::string& file, bool floating) {
    URDF::LoadOptions options;
    options.floatingBase = floating;
    return URDF::RobotDescription::fromFile(robotPath(file), options);
  }
  // The same state in both (padding coordinates at zero), with a moving base when floating.
  template <class Rng>
  void setState(Rng& rng) {
    exact.q() = randomMatrix<n>(rng, 2.0);
    exact.qdot() = randomMatrix<n>(rng, 2.0);
    padded.q().setZero();
    padded.qdot().setZero();
    padded.q().template head<n>() = exact.q();
    padded.qdot().template head<n>() = exact.qdot();
    if (exact.isFloating()) {
      const HTransform T(randomRotation(rng), randomMatrix<3>(rng));
      const Twist V = randomTwist(rng);
      exact.joint(0).Tadj() = padded.joint(0).Tadj() = T;
      exact.joint(0).Vadj() = padded.joint(0).Vadj() = V;
    }
    exact.update(false);
    padded.update(false);
    exact.updateJacobian(false);
    padded.updateJacobian(false);
  }
  Eigen::Matrix<double, P, 1> pad(const Eigen::Matrix<double, n, 1>& x) const {
    Eigen::Matrix<double, P, 1> y = Eigen::Matrix<double, P, 1>::Zero();
    y.template head<n>() = x;
    return y;
  }
};

template <int n, int P>
void expectSameKinematicsAndDynamics(const std::string& file, bool floating) {
  SCOPED_TRACE(file + (floating ? " floating" : " fixed") + " in a model of " +
               std::to_string(P));
  Pair<n, P> r(file, floating);
  ASSERT_EQ(r.padded.coordinates(), n);
  EXPECT_EQ(r.padded.jointName(n - 1), r.exact.jointName(n - 1));
  EXPECT_EQ(r.padded.jointName(n), "");
  std::mt19937 rng(7 * P + n + floating);
  typedef VexoSDK::DynamicAnalysisXD<n> DynN;
  typedef VexoSDK::DynamicAnalysisXD<P> DynP;
  for (int s = 0; s < 2; ++s) {
    r.setState(rng);
    const Eigen::Matrix<double, n, 1> qddot = randomMatrix<n>(rng, 3.0);
    const auto qddotP = r.pad(qddot);
    for (int k = 0; k <= n; ++k) {
      EXPECT_TRUE(r.padded.T(k).matrix().isApprox(r.exact.T(k).matrix(), 1e-13)) << k;
      expectPaddedEqual(r.exact.V(k), r.padded.V(k), "V");
      expectPaddedEqual(r.exact.J(k), r.padded.J(k), "J");
      expectPaddedEqual(r.exact.Jdot(k), r.padded.Jdot(k), "Jdot");
    }

    // The idyn family; on a floating base with the base's own motion.
    const Twist Vdot0 = randomTwist(rng);
    const auto idynBoth = [&](auto call) {
      call(r.exact, r.exact.qdot(), qddot);
      call(r.padded, r.padded.qdot(), qddotP);
      expectPaddedEqual(r.exact.tau(), r.padded.tau(), "tau");
    };
    if (floating) {
      idynBoth([&](auto& m, const auto& v, const auto& a) { m.idyn(m.V(0), Vdot0, v, a, kGravity); });
      idynBoth([&](auto& m, const auto& v, const auto& a) {
        m.idyn_passive(m.V(0), Vdot0, v, a, kGravity);
      });
      idynBoth([&](auto& m, const auto&, const auto& a) { m.idyn_momentum(Vdot0, a); });
    } else {
      idynBoth([&](auto& m, const auto& v, const auto& a) { m.idyn(v, a, kGravity); });
      idynBoth([&](auto& m, const auto& v, const auto& a) { m.idyn_passive(v, a, kGravity); });
      idynBoth([&](auto& m, const auto&, const auto& a) { m.idyn_momentum(a); });
    }
    idynBoth([&](auto& m, const auto&, const auto&) { m.idyn_gravity(kGravity); });

    // Forward dynamics from the torques of the first idyn.
    const Eigen::Matrix<double, n, 1> tau = randomMatrix<n>(rng, 10.0);
    if (floating) {
      Twist aN, aP;
      r.exact.fdyn(r.exact.V(0), aN, tau, kGravity);
      r.padded.fdyn(r.padded.V(0), aP, r.pad(tau), kGravity);
      expectPaddedEqual(aN, aP, "base acceleration");
    } else {
      r.exact.fdyn(tau, kGravity);
      r.padded.fdyn(r.pad(tau), kGravity);
    }
    expectPaddedEqual(r.exact.qddot(), r.padded.qddot(), "fdyn");

    typename DynN::JointMat M, C, Minv, A, B;
    typename DynP::JointMat MP, CP, MinvP, AP, BP;
    typename DynN::JointVec g;
    typename DynP::JointVec gP;
    DynN::JointDynamics(r.exact, M, C, g, kGravity);
    DynP::JointDynamics(r.padded, MP, CP, gP, kGravity);
    expectPaddedEqual(M, MP, "M");
    expectPaddedEqual(C, CP, "C");
    expectPaddedEqual(g, gP, "g");
    DynN::MassMatrix(r.exact, M);
    DynP::MassMatrix(r.padded, MP);
    expectPaddedEqual(M, MP, "MassMatrix");
    DynN::MassInverse(r.exact, Minv);
    DynP::MassInverse(r.padded, MinvP);
    expectPaddedEqual(Minv, MinvP, "MassInverse");
    if (!floating) {
      DynN::IdynDerivatives(r.exact, qddot, kGravity, A, B);
      DynP::IdynDerivatives(r.padded, qddotP, kGravity, AP, BP);
      expectPaddedEqual(A, AP, "dtau/dq");
      expectPaddedEqual(B, BP, "dtau/dqdot");
      DynN::FdynDerivatives(r.exact, tau, kGravity, A, B, Minv);
      DynP::FdynDerivatives(r.padded, r.pad(tau), kGravity, AP, BP, MinvP);
      expectPaddedEqual(A, AP, "dqddot/dq");
      expectPaddedEqual(B, BP, "dqddot/dqdot");
      expectPaddedEqual(Minv, MinvP, "Minv of the derivatives");
      typename DynN::RegressorMat Y;
      typename DynP::RegressorMat YP;
      DynN::Regressor(r.exact, qddot, kGravity, Y);
      DynP::Regressor(r.padded, qddotP, kGravity, YP);
      expectPaddedEqual(Y, YP, "Regressor");
      DynN::PassiveRegressor(r.exact, r.exact.qdot(), qddot, kGravity, Y);
      DynP::PassiveRegressor(r.padded, r.padded.qdot(), qddotP, kGravity, YP);
      expectPaddedEqual(Y, YP, "PassiveRegressor");
    }

    typedef VexoSDK::CentroidalXD<n> CenN;
    typedef VexoSDK::CentroidalXD<P> CenP;
    EXPECT_NEAR(CenP::mass(r.padded), CenN::mass(r.exact), 1e-12);
    typename CenN::ComJac Jc;
    typename CenP::ComJac JcP;
    LieGroup::Displacement c, cP;
    CenN::centerOfMass(r.exact, c, Jc);
    CenP::centerOfMass(r.padded, cP, JcP);
    expectPaddedEqual(c, cP, "centre of mass");
    expectPaddedEqual(Jc, JcP, "centre-of-mass Jacobian");
    typename CenN::JointJac Ag;
    typename CenP::JointJac AgP;
    CenN::centroidalMatrix(r.exact, Ag);
    CenP::centroidalMatrix(r.padded, AgP);
    expectPaddedEqual(Ag, AgP, "centroidal matrix");
    expectPaddedEqual(CenN::centroidalInertia(r.exact), CenP::centroidalInertia(r.padded),
                      "centroidal inertia");
    EXPECT_NEAR(CenP::kineticEnergy(r.padded), CenN::kineticEnergy(r.exact), 1e-12);
    EXPECT_NEAR(CenP::potentialEnergy(r.padded, kGravity), CenN::potentialEnergy(r.exact, kGravity),
                1e-11);
  }
}

TEST(PaddedRobot, EveryAlgorithmGivesTheExactModelsNumbersAndZerosForThePadding) {
  expectSameKinematicsAndDynamics<6, 7>(Ur5::file(), false);
  expectSameKinematicsAndDynamics<6, 7>(Ur5::file(), true);
  expectSameKinematicsAndDynamics<7, 16>(PandaArm::file(), false);
  expectSameKinematicsAndDynamics<7, 14>(PandaArm::file(), true);
}

// The operational-space quantities factor M along the tree: the padding coordinates, whose rows of
// M are zero, are locked there (their torques pass the null space unchanged, so only its robot
// block is the small model's).
TEST(PaddedRobot, OperationalSpaceIgnoresThePadding) {
  Pair<7, 16> r(PandaArm::file(), false);
  std::mt19937 rng(5);
  r.setState(rng);
  VexoSDK::OperationalSpaceXD<7> oscN;
  VexoSDK::OperationalSpaceXD<16> oscP;
  const HTransform offset(randomRotation(rng), randomMatrix<3>(rng, 0.1));
  oscN.addTask(7, offset, VexoSDK::JacobianFrame::WorldAligned, VexoSDK::TaskRows::All);
  oscP.addTask(7, offset, VexoSDK::JacobianFrame::WorldAligned, VexoSDK::TaskRows::All);
  oscN.addTask(4, HTransform::Identity(), VexoSDK::JacobianFrame::Body, VexoSDK::TaskRows::Linear);
  oscP.addTask(4, HTransform::Identity(), VexoSDK::JacobianFrame::Body, VexoSDK::TaskRows::Linear);
  oscN.compute(r.exact, kGravity);
  oscP.compute(r.padded, kGravity);
  ASSERT_EQ(oscP.rows(), 9);
  expectPaddedEqual(oscN.inverseInertia(), oscP.inverseInertia(), "inverse inertia");
  expectPaddedEqual(oscN.taskInertia(), oscP.taskInertia(), "task inertia");
  expectPaddedEqual(oscN.taskBias(), oscP.taskBias(), "task bias");
  expectPaddedEqual(oscN.jacobian(), oscP.jacobian(), "task Jacobian");
  expectPaddedEqual(oscN.dynamicallyConsistentInverse(), oscP.dynamicallyConsistentInverse(),
                    "dynamically consistent inverse");
  const double scale = oscN.nullSpace().cwiseAbs().maxCoeff();
  EXPECT_LE((oscP.nullSpace().topLeftCorner<7, 7>() - oscN.nullSpace()).cwiseAbs().maxCoeff(),
            1e-12 * scale);
  const Eigen::Matrix<double, 9, 1> a = randomMatrix<9>(rng);
  const Eigen::Matrix<double, 7, 1> posture = randomMatrix<7>(rng, 5.0);
  Eigen::Matrix<double, 7, 1> tauN;
  Eigen::Matrix<double, 16, 1> tauP;
  oscN.torque(a, posture, tauN);
  oscP.torque(a, r.pad(posture), tauP);
  expectPaddedEqual(tauN, tauP, "operational-space torque");
}

TEST(PaddedRobot, ObserverRegressorParametersAndLimitsIgnoreThePadding) {
  Pair<7, 16> r(PandaArm::file(), false);
  std::mt19937 rng(3);
  r.setState(rng);
  // The observer over a few steps of a torque the robot does not follow.
  VexoSDK::MomentumObserverXD<7> obsN;
  VexoSDK::MomentumObserverXD<16> obsP;
  obsN.setPeriod(1e-3);
  obsP.setPeriod(1e-3);
  const Eigen::Matrix<double, 7, 1> L = Eigen::Matrix<double, 7, 1>::Constant(50);
  obsN.setGain(L);
  obsP.setGain(r.pad(L));
  Eigen::Matrix<double, 7, 1> extN;
  Eigen::Matrix<double, 16, 1> extP;
  for (int step = 0; step < 5; ++step) {
    r.exact.tau() = randomMatrix<7>(rng, 5.0);
    r.padded.tau() = r.pad(r.exact.tau());
    obsN.estimate(r.exact, extN, kGravity);
    obsP.estimate(r.padded, extP, kGravity);
    expectPaddedEqual(extN, extP, "observer");
  }

  // The base parameters: padding bodies never move, so they add none.
  VexoSDK::BaseParametersXD<7> baseN(r.exact, kGravity);
  VexoSDK::BaseParametersXD<16> baseP(r.padded, kGravity);
  ASSERT_EQ(baseP.count(), baseN.count());
  EXPECT_EQ(baseP.keptColumns(), baseN.keptColumns());
  expectPaddedEqual(baseN.regrouping(), baseP.regrouping(), "regrouping");

  // Parameters: the padding bodies are massless, and the robot's own round-trip.
  VexoSDK::DynamicAnalysisXD<7>::ParamVec pi;
  VexoSDK::DynamicAnalysisXD<16>::ParamVec piP;
  VexoSDK::DynamicAnalysisXD<7>::InertialParameters(r.exact, pi);
  VexoSDK::DynamicAnalysisXD<16>::InertialParameters(r.padded, piP);
  expectPaddedEqual(pi, piP, "inertial parameters");

  // Limits: the padding coordinates have none (the arm's own at mid-range).
  URDF::Robot<16>::LimitSides side;
  Eigen::Matrix<double, 16, 1> x;
  x.tail<9>().setConstant(1e9);
  for (int i = 0; i < 7; ++i)
    x(i) = (r.exact.limit(i).posLower()(0) + r.exact.limit(i).posUpper()(0)) / 2;
  EXPECT_TRUE(r.padded.withinLimits(URDF::LimitKind::Position, x, side));
  EXPECT_EQ(r.padded.clampToLimits(URDF::LimitKind::Velocity, x, side), 0);
}

TEST(PaddedRobot, InverseKinematicsTakesTheSameStepsAndRestarts) {
  Pair<6, 7> r(Ur5::file(), false);
  const auto ikN = r.exact.inverseKinematics();
  const auto ikP = r.padded.inverseKinematics();
  const int f = r.exact.frameIndex("ee_link");
  ASSERT_GE(f, 0);
  std::mt19937 rng(11);
  // A reachable pose from a far seed, and one 3 m away that spends every restart.
  r.setState(rng);
  const HTransform reachable = r.exact.framePose(f);
  const HTransform unreachable(reachable.R(), Vector3D(3, 0, 0));
  for (const HTransform& target : {reachable, unreachable}) {
    const Eigen::Matrix<double, 6, 1> seed = randomMatrix<6>(rng, 2.0);
    Eigen::Matrix<double, 6, 1> qN;
    Eigen::Matrix<double, 7, 1> qP;
    const VexoSDK::IKResult a = ikN.solve(r.exact, r.exact.frameBody(f), r.exact.frameOffset(f),
                                          target, seed, qN);
    const VexoSDK::IKResult b = ikP.solve(r.padded, r.padded.frameBody(f),
                                          r.padded.frameOffset(f), target, r.pad(seed), qP);
    EXPECT_EQ(a.converged, b.converged);
    EXPECT_EQ(a.iterations, b.iterations);
    expectPaddedEqual(qN, qP, "IK solution");
  }
}

// withPaddedRobot takes the smallest prebuilt size that holds the robot; a robot larger than the
// model is a LoadError, padded or not, and so is a size mismatch without padding.
TEST(PaddedRobot, TheSmallestPrebuiltSizeHoldsTheRobotAndALargerRobotIsALoadError) {
  const auto sizeFor = [](const std::string& file) {
    return URDF::withPaddedRobot(Pair<7, 7>::description(file, false), [](auto& robot) {
      return std::make_pair(static_cast<int>(robot.q().size()), robot.coordinates());
    });
  };
  EXPECT_EQ(sizeFor(Ur5::file()), std::make_pair(6, 6));
  EXPECT_EQ(sizeFor(PandaArm::file()), std::make_pair(7, 7));
  EXPECT_EQ(sizeFor("panda_on_gantry.urdf"), std::make_pair(14, 9));
  EXPECT_EQ(sizeFor(AllegroHand::file()), std::make_pair(16, 16));
  const URDF::RobotDescription panda = Pair<7, 7>::description(PandaArm::file(), false);
  EXPECT_THROW(URDF::Robot<6>(panda, URDF::ModelFit::AtMost), URDF::LoadError);
  EXPECT_THROW(URDF::Robot<14>{panda}, URDF::LoadError);
}

}  // namespace zorvik_test::padded_robot_test
