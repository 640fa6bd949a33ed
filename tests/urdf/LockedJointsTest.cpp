// The full Panda (9 joints, a mimic finger) and Baxter (19 joints, two mimic fingers) cannot be
// modelled as they are; locking joints turns them into fixed joints at the given positions, and a
// mimic joint follows its locked master.
#include <kdl/treefksolverpos_recursive.hpp>
#include <kdl/treeidsolver_recursive_newton_euler.hpp>

#include <Vexo/DynamicAnalysisXD>
#include <ZorvikURDF/RobotLoader>
#include <random>

#include "support/KdlBridge.h"
#include "urdf/RobotFiles.h"

namespace zorvik_test::locked_joints_test {

using namespace ZorvikFoundation;

const LieGroup::Vector3D kGravity(0.4, 1.1, -9.81);
constexpr double kTolerance = 1e-10;

// Two models of the same robot with the same coordinates: every link's pose, the inverse dynamics
// and the joint-space dynamics agree at random states.
template <int N>
void expectSameRobot(URDF::Robot<N>& a, URDF::Robot<N>& b) {
  ASSERT_EQ(a.description().frames().size(), b.description().frames().size());
  for (int i = 0; i < N; ++i) ASSERT_EQ(a.jointName(i), b.jointName(i));
  std::mt19937 rng(11);
  for (int s = 0; s < 3; ++s) {
    a.q() = b.q() = randomMatrix<N>(rng, 2.0);
    a.qdot() = b.qdot() = randomMatrix<N>(rng, 2.0);
    const typename URDF::Robot<N>::JointVec qddot = randomMatrix<N>(rng, 2.0);
    a.update(false);
    b.update(false);
    for (const URDF::FrameData& frame : a.description().frames()) {
      const int f = b.frameIndex(frame.link);
      ASSERT_GE(f, 0) << frame.link;
      EXPECT_LE(relativeError(a.framePose(a.frameIndex(frame.link)), b.framePose(f)), kTolerance)
          << frame.link;
    }
    a.idyn(a.qdot(), qddot, kGravity);
    b.idyn(b.qdot(), qddot, kGravity);
    EXPECT_LE(relativeError(a.tau(), b.tau()), kTolerance);
    typename URDF::Robot<N>::JointMat Ma, Ca, Mb, Cb;
    typename URDF::Robot<N>::JointVec Ga, Gb;
    VexoSDK::DynamicAnalysisXD<N>::JointDynamics(a, Ma, Ca, Ga, kGravity);
    VexoSDK::DynamicAnalysisXD<N>::JointDynamics(b, Mb, Cb, Gb, kGravity);
    EXPECT_LE(relativeError(Ma, Mb), kTolerance);
    EXPECT_LE(relativeError(Ca, Cb), kTolerance);
    EXPECT_LE(relativeError(Ga, Gb), kTolerance);
  }
}

// The README counts 9 and 19 moving joints; the mimic joints stand in the way of a model.
TEST(LockedJoints, FullDescriptionsAreCountedAndTheirMimicsNamed) {
  const URDF::RobotDescription panda = URDF::RobotDescription::fromFile(robotPath("panda.urdf"));
  EXPECT_EQ(panda.dof(), 9);
  try {
    panda.modelSize();
    ADD_FAILURE() << "panda.urdf gave a model";
  } catch (const URDF::LoadError& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("panda.urdf"), std::string::npos) << message;
    EXPECT_NE(message.find("mimic"), std::string::npos) << message;
    EXPECT_NE(message.find("'panda_finger_joint2'"), std::string::npos) << message;
  }
  const URDF::RobotDescription baxter = URDF::RobotDescription::fromFile(robotPath("baxter.urdf"));
  EXPECT_EQ(baxter.dof(), 19);
  try {
    URDF::Robot<14> robot(baxter);
    ADD_FAILURE() << "baxter.urdf gave a 14-joint model";
  } catch (const URDF::LoadError& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("baxter.urdf"), std::string::npos) << message;
    EXPECT_NE(message.find("'r_gripper_r_finger_joint'"), std::string::npos) << message;
    EXPECT_NE(message.find("'l_gripper_r_finger_joint'"), std::string::npos) << message;
  }
  // The grippers locked, 15 joints remain: not a size the library is built for, nor one this
  // program adds to withRobot's list.
  URDF::LoadOptions grippers;
  grippers.lockedJoints = {{"l_gripper_l_finger_joint", 0.0}, {"r_gripper_l_finger_joint", 0.0}};
  const URDF::RobotDescription fifteen =
      URDF::RobotDescription::fromFile(robotPath("baxter.urdf"), grippers);
  EXPECT_EQ(fifteen.modelSize(), 15);
  EXPECT_THROW(URDF::withRobot(fifteen, [](auto& robot) { return int(robot.JOINT_DOF); }),
               URDF::LoadError);
}

// The README derives panda_arm.urdf and baxter_arms.urdf from the full files by making the listed
// joints fixed, which is locking them at 0. Locking only the masters locks the mimic fingers too.
TEST(LockedJoints, LockingAtZeroGivesTheReducedDescriptions) {
  URDF::LoadOptions fingers;
  fingers.lockedJoints = {{"panda_finger_joint1", 0.0}};
  URDF::Robot<7> locked = URDF::loadRobot<7>(robotPath("panda.urdf"), fingers);
  URDF::Robot<7> reduced = URDF::loadRobot<7>(robotPath(PandaArm::file()));
  expectSameRobot(locked, reduced);

  URDF::LoadOptions headAndGrippers;
  headAndGrippers.lockedJoints = {
      {"head_pan", 0.0}, {"l_gripper_l_finger_joint", 0.0}, {"r_gripper_l_finger_joint", 0.0}};
  URDF::Robot<14> lockedBaxter = URDF::loadRobot<14>(robotPath("baxter.urdf"), headAndGrippers);
  URDF::Robot<14> arms = URDF::loadRobot<14>(robotPath(BaxterArms::file()));
  expectSameRobot(lockedBaxter, arms);
}

// A joint locked at theta is the joint held at theta: the Panda arm with joint 7 locked behaves
// like the 7-joint arm with q7 = theta and no motion of joint 7, for the pose and twist of every
// link and for the dynamics of joints 1 to 6.
TEST(LockedJoints, RevoluteJointLockedAtAnAngleIsHeldThere) {
  const double theta = 0.83;
  URDF::LoadOptions options;
  options.lockedJoints = {{"panda_joint7", theta}};
  URDF::Robot<6> six = URDF::loadRobot<6>(robotPath(PandaArm::file()), options);
  URDF::Robot<7> seven = URDF::loadRobot<7>(robotPath(PandaArm::file()));
  std::mt19937 rng(5);
  for (int s = 0; s < 3; ++s) {
    URDF::Robot<7>::JointVec q = randomMatrix<7>(rng, 2.0), qdot = randomMatrix<7>(rng, 2.0),
                             qddot = randomMatrix<7>(rng, 2.0);
    q(6) = theta;
    qdot(6) = qddot(6) = 0;
    seven.q() = q;
    seven.qdot() = qdot;
    seven.update(false);
    six.q() = q.head<6>();
    six.qdot() = qdot.head<6>();
    six.update(false);
    for (const URDF::FrameData& frame : seven.description().frames()) {
      const int f7 = seven.frameIndex(frame.link), f6 = six.frameIndex(frame.link);
      ASSERT_GE(f6, 0) << frame.link;
      EXPECT_LE(relativeError(six.framePose(f6), seven.framePose(f7)), kTolerance) << frame.link;
      EXPECT_LE(relativeError(six.frameTwist(f6), seven.frameTwist(f7)), kTolerance) << frame.link;
    }
    six.idyn(six.qdot(), qddot.head<6>(), kGravity);
    seven.idyn(seven.qdot(), qddot, kGravity);
    EXPECT_LE(relativeError(six.tau(), seven.tau().head<6>()), kTolerance);

    URDF::Robot<6>::JointMat M6, C6;
    URDF::Robot<6>::JointVec G6;
    URDF::Robot<7>::JointMat M7, C7;
    URDF::Robot<7>::JointVec G7;
    VexoSDK::DynamicAnalysisXD<6>::JointDynamics(six, M6, C6, G6, kGravity);
    VexoSDK::DynamicAnalysisXD<7>::JointDynamics(seven, M7, C7, G7, kGravity);
    EXPECT_LE(relativeError(M6, M7.topLeftCorner<6, 6>()), kTolerance);
    EXPECT_LE(relativeError(C6 * six.qdot(), (C7 * seven.qdot()).head<6>()), kTolerance);
    EXPECT_LE(relativeError(G6, G7.head<6>()), kTolerance);
  }
}

// The fingers of the full Panda locked open: the prismatic master at 3 cm and, following its mimic
// tag (multiplier 1 by default), the other finger too. KDL's tree of the full file, with both
// finger joints held at 3 cm, must agree on every link's pose and on the arm's torques.
TEST(LockedJoints, PrismaticFingersLockedOpenMatchKdlHoldingThem) {
  const double opening = 0.03;
  URDF::LoadOptions options;
  options.lockedJoints = {{"panda_finger_joint1", opening}};
  URDF::Robot<7> robot = URDF::loadRobot<7>(robotPath("panda.urdf"), options);
  const KDL::Tree tree = kdl::treeFromUrdf(robotPath("panda.urdf"));
  std::vector<std::string> names;
  for (int i = 0; i < 7; ++i) names.push_back(robot.jointName(i));
  const std::vector<int> map = kdl::treeToModel(tree, names);
  ASSERT_EQ(map.size(), 9u);

  KDL::TreeFkSolverPos_recursive fk(tree);
  KDL::TreeIdSolver_RNE rne(tree, KDL::Vector(kGravity.x(), kGravity.y(), kGravity.z()));
  std::mt19937 rng(3);
  for (int s = 0; s < 3; ++s) {
    robot.q() = randomMatrix<7>(rng, 2.0);
    robot.qdot() = randomMatrix<7>(rng, 2.0);
    const URDF::Robot<7>::JointVec qddot = randomMatrix<7>(rng, 2.0);
    robot.update(false);
    robot.idyn(robot.qdot(), qddot, kGravity);

    const KDL::JntArray q = kdl::toKdl(robot.q(), map, opening);
    for (const auto& segment : tree.getSegments()) {
      KDL::Frame F;
      ASSERT_GE(fk.JntToCart(q, F, segment.first), 0);
      const Eigen::Matrix4d ours = robot.framePose(robot.frameIndex(segment.first));
      EXPECT_LE(relativeError(ours, kdl::toEigen(F)), kTolerance) << segment.first;
    }
    KDL::JntArray tau(9);
    ASSERT_GE(rne.CartToJnt(q, kdl::toKdl(robot.qdot(), map), kdl::toKdl(qddot, map),
                            KDL::WrenchMap(), tau),
              0);
    EXPECT_LE(relativeError(robot.tau(), kdl::fromKdl(tau, map, 7)), kTolerance);
  }
}

// Locking a joint outside its limits is allowed but reported.
TEST(LockedJoints, LockOutsideTheLimitsIsAWarning) {
  URDF::LoadOptions options;
  options.lockedJoints = {{"panda_joint4", 0.0}};  // limits [-3.0718, -0.0698]
  const URDF::RobotDescription d =
      URDF::RobotDescription::fromFile(robotPath(PandaArm::file()), options);
  ASSERT_EQ(d.warnings().size(), 1u);
  EXPECT_NE(d.warnings()[0].find("panda_joint4"), std::string::npos) << d.warnings()[0];
  EXPECT_NE(d.warnings()[0].find("outside its limits"), std::string::npos) << d.warnings()[0];
  options.strict = true;
  EXPECT_THROW(URDF::RobotDescription::fromFile(robotPath(PandaArm::file()), options),
               URDF::LoadError);
}

}  // namespace zorvik_test::locked_joints_test
