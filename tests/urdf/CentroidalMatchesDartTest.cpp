// The centre of mass, its velocity and Jacobian, the centroidal momentum and the energies of the
// bundled robots against DART loading the same files (tests/support/DartOracle.h), with DART's
// moving bodies (those fixed to the root link left out, as the model leaves out its base body).
// Then the joint-limit checks of URDF::Robot against the limits written in the Panda's file.
#include <Vexo/CentroidalXD>
#include <ZorvikURDF/RobotLoader>
#include <random>

#include "support/DartOracle.h"
#include "urdf/RobotFiles.h"

namespace zorvik_test::centroidal_dart_test {

using namespace ZorvikFoundation;

// Gravity along no axis, so that a wrong frame for it shows in the potential energy.
const LieGroup::Vector3D kGravity(1.2, -0.7, -9.81);
// The same sums of the same bodies in a different order and through different kinematics: errors
// of rounding size are seen, a missed body, term or frame gives errors of order one.
constexpr double kTolerance = 1e-10;

template <typename R>
class CentroidalMatchesDart : public ::testing::Test {};
TYPED_TEST_SUITE(CentroidalMatchesDart, RobotFiles);

TYPED_TEST(CentroidalMatchesDart, CenterOfMassMomentumAndEnergies) {
  constexpr int N = TypeParam::N;
  typedef VexoSDK::CentroidalXD<N> Centroidal;
  URDF::Robot<N> robot = URDF::loadRobot<N>(robotPath(TypeParam::file()));
  std::vector<std::string> names;
  for (int i = 0; i < N; ++i) names.push_back(robot.jointName(i));
  DartRobot dart(robotPath(TypeParam::file()), names, kGravity);
  std::mt19937 rng(41 + N);
  double worst = 0;
  for (int s = 0; s < 4; ++s) {
    robot.q() = randomMatrix<N>(rng, 3.0);
    robot.qdot() = randomMatrix<N>(rng, 2.0);
    robot.update(false);
    const DartRobot::MovingBodies ref = dart.movingBodies(robot.q(), robot.qdot());
    Displacement c;
    typename Centroidal::ComJac Jc;
    Centroidal::centerOfMass(robot, c, Jc);
    const double errors[] = {
        std::abs(Centroidal::mass(robot) - ref.mass) / ref.mass,
        relativeError(c, ref.com),
        relativeError(Jc, ref.comJacobian),
        relativeError(Centroidal::centerOfMassVelocity(robot), ref.comVelocity),
        relativeError(Centroidal::centroidalMomentum(robot), ref.momentum),
        std::abs(Centroidal::kineticEnergy(robot) - ref.kinetic) / ref.kinetic,
        std::abs(Centroidal::potentialEnergy(robot, kGravity) - ref.potential) /
            (1 + std::abs(ref.potential)),
    };
    for (double e : errors) {
      EXPECT_LE(e, kTolerance);
      worst = std::max(worst, e);
    }
  }
  std::printf("[ max rel. error vs DART ] %s: centroidal quantities %.1e\n",
              TypeParam::file().c_str(), worst);
}

// The Panda's first joint: position within [-2.8973, 2.8973], velocity within +-2.175, effort
// within +-87; its second joint's position within [-1.7628, 1.7628]; its fourth joint's within
// [-3.0718, -0.0698] (their <limit> elements).
TEST(JointLimits, CheckAndClampAgainstTheFilesLimits) {
  URDF::Robot<7> robot = URDF::loadRobot<7>(robotPath("panda_arm.urdf"));
  typedef URDF::Robot<7>::JointVec JointVec;
  URDF::Robot<7>::LimitSides side;
  JointVec x = JointVec::Zero();
  x(3) = -1.0;
  EXPECT_TRUE(robot.withinLimits(URDF::LimitKind::Position, x, side));
  EXPECT_TRUE(side.isZero());

  x(0) = 3.0;
  x(1) = -1.7628;  // exactly at joint 2's lower bound: within, and at the limit
  EXPECT_FALSE(robot.withinLimits(URDF::LimitKind::Position, x, side));
  EXPECT_EQ(side(0), 1);
  EXPECT_EQ(side(1), -1);
  EXPECT_EQ(side.tail<5>().cwiseAbs().sum(), 0);

  EXPECT_EQ(robot.clampToLimits(URDF::LimitKind::Position, x, side), 1);
  EXPECT_EQ(x(0), 2.8973);
  EXPECT_EQ(x(1), -1.7628);
  EXPECT_EQ(side(0), 1);
  EXPECT_TRUE(robot.withinLimits(URDF::LimitKind::Position, x, side));

  JointVec v = JointVec::Constant(-3.0);
  EXPECT_EQ(robot.clampToLimits(URDF::LimitKind::Velocity, v, side), 7);
  EXPECT_EQ(v(0), -2.175);
  EXPECT_TRUE((side.array() == -1).all());

  JointVec tau = JointVec::Zero();
  tau(0) = 87.5;
  EXPECT_FALSE(robot.withinLimits(URDF::LimitKind::Effort, tau, side));
  EXPECT_EQ(robot.clampToLimits(URDF::LimitKind::Effort, tau, side), 1);
  EXPECT_EQ(tau(0), 87.0);

  // Zero is above the fourth joint's range; a NaN is outside, with no side to clamp it to.
  x.setZero();
  EXPECT_FALSE(robot.withinLimits(URDF::LimitKind::Position, x, side));
  EXPECT_EQ(side(3), 1);
  x(3) = std::nan("");
  EXPECT_FALSE(robot.withinLimits(URDF::LimitKind::Position, x, side));
  EXPECT_EQ(robot.clampToLimits(URDF::LimitKind::Position, x, side), 1);
  EXPECT_EQ(side(3), 0);
}

}  // namespace zorvik_test::centroidal_dart_test
