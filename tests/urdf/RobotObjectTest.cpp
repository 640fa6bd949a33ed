// The robot object a description turns into: its real-time operations allocate nothing, it moves
// but does not copy, the joints carry the file's limits, damping and friction, a floating base
// moves the whole robot, and withRobot picks the model size from the file.
#include <Vexo/DynamicAnalysisXD>
#include <ZorvikURDF/RobotLoader>
#include <random>
#include <type_traits>

#include "support/AllocationCounter.h"
#include "urdf/RobotFiles.h"
#include "urdf/UrdfText.h"

namespace zorvik_test::robot_object_test {

using namespace ZorvikFoundation;

const LieGroup::Vector3D kGravity(0, 0, -9.81);

template <typename R>
class RobotObject : public ::testing::Test {
 protected:
  static constexpr int N = R::N;
  typedef URDF::Robot<N> Robot;
  typedef typename Robot::JointVec JointVec;
};

TYPED_TEST_SUITE(RobotObject, RobotFiles);

static_assert(!std::is_copy_constructible<URDF::Robot<7>>::value,
              "a copied robot would point into the other robot's bodies");
static_assert(!std::is_copy_assignable<URDF::Robot<7>>::value,
              "a copied robot would point into the other robot's bodies");
static_assert(std::is_nothrow_move_constructible<URDF::Robot<16>>::value, "");
static_assert(std::is_nothrow_move_assignable<URDF::Robot<6>>::value, "");

// A loaded model is used in the control loop like a hand-built one: nothing there allocates.
TYPED_TEST(RobotObject, RealTimeOperationsAllocateNothing) {
  constexpr int N = TestFixture::N;
  typename TestFixture::Robot robot = URDF::loadRobot<N>(robotPath(TypeParam::file()));
  std::mt19937 rng(1);
  const typename TestFixture::JointVec q = randomMatrix<TestFixture::N>(rng, 1.5),
                                       qdot = randomMatrix<TestFixture::N>(rng, 1.5),
                                       qddot = randomMatrix<TestFixture::N>(rng, 1.5);
  typename TestFixture::Robot::JointMat M, C;
  typename TestFixture::JointVec G, friction;
  const int lastFrame = static_cast<int>(robot.description().frames().size()) - 1;
  double sink = 0;
  robot.q() = q;
  robot.qdot() = qdot;
  EXPECT_NO_ALLOCATION(robot.update(false));
  EXPECT_NO_ALLOCATION(robot.update(true));
  EXPECT_NO_ALLOCATION(robot.updateVelocity());
  EXPECT_NO_ALLOCATION(robot.updateJacobian(false));
  EXPECT_NO_ALLOCATION(robot.idyn(qdot, qddot, kGravity));
  EXPECT_NO_ALLOCATION(robot.idyn_passive(qdot, qddot, kGravity));
  EXPECT_NO_ALLOCATION(robot.idyn_gravity(kGravity));
  EXPECT_NO_ALLOCATION(robot.idyn_momentum(qddot));
  EXPECT_NO_ALLOCATION((VexoSDK::DynamicAnalysisXD<N>::JointDynamics(robot, M, C, G, kGravity)));
  EXPECT_NO_ALLOCATION(sink += robot.framePose(lastFrame)(0, 3) + robot.frameTwist(lastFrame)(5));
  EXPECT_NO_ALLOCATION(sink += robot.limit(N - 1).posUpper()(0));
  EXPECT_NO_ALLOCATION(for (int k = 1; k <= N; ++k) robot.joint(k).frictionTorque(
      robot.q().data() + k - 1, robot.qdot().data() + k - 1, robot.tau().data() + k - 1,
      friction.data() + k - 1));
  // Limit checks and clamps, with entries beyond the bounds so that the clamp writes.
  typename TestFixture::Robot::LimitSides side;
  typename TestFixture::JointVec x = 3 * qdot;
  for (URDF::LimitKind kind :
       {URDF::LimitKind::Position, URDF::LimitKind::Velocity, URDF::LimitKind::Effort}) {
    EXPECT_NO_ALLOCATION(sink += robot.withinLimits(kind, x, side));
    EXPECT_NO_ALLOCATION(sink += robot.clampToLimits(kind, x, side));
  }
  EXPECT_TRUE(std::isfinite(sink));
}

// Moving a robot moves the ownership of its bodies and joints, which stay where they are, with the
// model's state; the moved-from robot is an empty model. Both directions of a move assignment
// leave a working robot that computes what the original computed.
TYPED_TEST(RobotObject, MovingKeepsBodiesJointsAndState) {
  constexpr int N = TestFixture::N;
  typedef typename TestFixture::Robot Robot;
  std::mt19937 rng(2);
  Robot original = URDF::loadRobot<N>(robotPath(TypeParam::file()));
  original.q() = randomMatrix<TestFixture::N>(rng, 1.5);
  original.qdot() = randomMatrix<TestFixture::N>(rng, 1.5);
  original.update(false);
  const typename TestFixture::JointVec qddot = randomMatrix<TestFixture::N>(rng, 1.5);
  original.idyn(original.qdot(), qddot, kGravity);
  const typename TestFixture::JointVec tau = original.tau();
  const HTransform tip = original.T(N);
  const Body* tipBody = &original.body(N);
  const Joint* tipJoint = &original.joint(N);

  Robot moved(std::move(original));
  EXPECT_TRUE(original.isFloating()) << "the moved-from robot still has a base joint";
  EXPECT_EQ(&moved.body(N), tipBody);
  EXPECT_EQ(&moved.joint(N), tipJoint);
  EXPECT_EQ(moved.T(N), tip);
  EXPECT_EQ(moved.tau(), tau);
  EXPECT_EQ(moved.jointName(N - 1), TypeParam::joints().back());

  // A new configuration moves the bodies the robot owns, and the dynamics follow from them.
  Robot other = URDF::loadRobot<N>(robotPath(TypeParam::file()));
  other = std::move(moved);
  EXPECT_EQ(&other.body(N), tipBody);
  other.q().setZero();
  other.update(false);
  Robot fresh = URDF::loadRobot<N>(robotPath(TypeParam::file()));
  EXPECT_EQ(other.T(N), fresh.T(N));
  other.q() = fresh.q() = randomMatrix<TestFixture::N>(rng, 1.5);
  other.qdot() = fresh.qdot() = randomMatrix<TestFixture::N>(rng, 1.5);
  other.update(false);
  fresh.update(false);
  other.idyn(other.qdot(), qddot, kGravity);
  fresh.idyn(fresh.qdot(), qddot, kGravity);
  EXPECT_EQ(other.tau(), fresh.tau());
}

// The model's size is the file's, whatever the caller's N.
TEST(RobotObject, WithRobotBuildsTheModelOfTheFilesSize) {
  const auto sizeOf = [](const std::string& file) {
    return URDF::withRobot(URDF::RobotDescription::fromFile(robotPath(file)), [](auto& robot) {
      typedef typename std::decay<decltype(robot)>::type Robot;
      EXPECT_EQ(robot.description().dof(), static_cast<int>(Robot::NUM_JOINTS));
      return static_cast<int>(Robot::NUM_JOINTS);
    });
  };
  EXPECT_EQ(sizeOf(Ur5::file()), Ur5::N);
  EXPECT_EQ(sizeOf(PandaArm::file()), PandaArm::N);
  EXPECT_EQ(sizeOf(BaxterArms::file()), BaxterArms::N);
  EXPECT_EQ(sizeOf(AllegroHand::file()), AllegroHand::N);
}

// joint_0.0 of the Allegro hand: <limit effort="15" lower="-0.47" upper="0.47" velocity="7"/>,
// <dynamics damping="3" friction="10"/>; joint_12.0: lower 0.263, upper 1.396, damping 3,
// friction 10.
TEST(RobotObject, JointsCarryTheLimitsDampingAndFrictionOfTheFile) {
  URDF::Robot<16> hand = URDF::loadRobot<16>(robotPath(AllegroHand::file()));
  const JointLimit<1>& limit0 = hand.limit(hand.jointIndex("joint_0.0"));
  EXPECT_EQ(limit0.posLower()(0), -0.47);
  EXPECT_EQ(limit0.posUpper()(0), 0.47);
  EXPECT_EQ(limit0.velLower()(0), -7);
  EXPECT_EQ(limit0.velUpper()(0), 7);
  EXPECT_EQ(limit0.actLower()(0), -15);
  EXPECT_EQ(limit0.actUpper()(0), 15);
  const int i12 = hand.jointIndex("joint_12.0");
  EXPECT_EQ(hand.limit(i12).posLower()(0), 0.263);
  EXPECT_EQ(hand.limit(i12).posUpper()(0), 1.396);
  EXPECT_EQ(hand.joint(i12 + 1).damping()[0], 3);

  // Coulomb friction of 10: against the motion while moving, holding up to 10 at rest.
  const Joint& j0 = hand.joint(hand.jointIndex("joint_0.0") + 1);
  ASSERT_NE(j0.friction(), nullptr);
  const struct {
    double qdot, tau, friction;
  } cases[] = {{0.5, 0, -10}, {-0.1, 30, 10}, {0, 4, -4}, {0, -25, 10}};
  for (const auto& c : cases) {
    const double q = 0;
    double f = NAN;
    j0.friction()->frictionTorque(&q, &c.qdot, &c.tau, &f);
    EXPECT_EQ(f, c.friction) << "qdot " << c.qdot << ", tau " << c.tau;
  }

  // A continuous joint has no position limits; a joint without <dynamics> neither damping nor
  // friction model; a prismatic joint takes its limits in metres.
  std::string body =
      chain(5) + linkXml("slider") +
      jointXml("slide", "prismatic", "l5", "slider", "", "0 0 0.1", "0 0 0", "1 0 0");
  body.replace(body.find("type=\"revolute\""), 15, "type=\"continuous\"");
  body.erase(body.find(jointLimit()), jointLimit().size());
  TemporaryUrdf file(urdfDocument(body), "continuous_and_prismatic");
  URDF::Robot<6> robot = URDF::loadRobot<6>(file.path());
  EXPECT_EQ(robot.description().joints()[0].kind, URDF::JointKind::Continuous);
  EXPECT_EQ(robot.limit(0).posLower()(0), -INFINITY);
  EXPECT_EQ(robot.limit(0).posUpper()(0), INFINITY);
  EXPECT_EQ(robot.joint(1).type(), REVOLUTE);
  EXPECT_EQ(robot.joint(1).damping()[0], 0);
  EXPECT_EQ(robot.joint(1).friction(), nullptr);
  EXPECT_EQ(robot.joint(6).type(), PRISMATIC);
  EXPECT_EQ(robot.limit(5).posLower()(0), -2);
  EXPECT_EQ(robot.limit(5).actUpper()(0), 10);
}

// With a floating base, the base joint's pose and twist, written by the client, carry the whole
// robot: every link's pose is the base pose times its fixed-base pose, and with the base at rest
// accelerating by a, the joint torques are the fixed-base torques under gravity g - a (both in the
// base frame).
TEST(RobotObject, FloatingBaseCarriesTheRobot) {
  URDF::LoadOptions floating;
  floating.floatingBase = true;
  URDF::Robot<7> free = URDF::loadRobot<7>(robotPath(PandaArm::file()), floating);
  URDF::Robot<7> fixed = URDF::loadRobot<7>(robotPath(PandaArm::file()));
  EXPECT_TRUE(free.isFloating());
  EXPECT_EQ(free.joint(0).type(), FLOATING);
  EXPECT_FALSE(fixed.isFloating());

  std::mt19937 rng(4);
  const HTransform base(LieGroup::Vector3D(randomMatrix<3>(rng)).exp(), randomMatrix<3>(rng));
  free.joint(0).Tadj() = base;
  const URDF::Robot<7>::JointVec q = randomMatrix<7>(rng), qdot = randomMatrix<7>(rng),
                                 qddot = randomMatrix<7>(rng);
  free.q() = fixed.q() = q;
  free.qdot() = fixed.qdot() = qdot;
  free.update(false);
  fixed.update(false);
  for (size_t f = 0; f < free.description().frames().size(); ++f)
    EXPECT_LE(relativeError(free.framePose(int(f)), base * fixed.framePose(int(f))), 1e-12);

  const Eigen::Vector3d a(0.3, -2.0, 1.2);
  free.idyn(Twist(), Twist(a, Eigen::Vector3d::Zero()), qdot, qddot, kGravity);
  const LieGroup::Vector3D gBase(Eigen::Vector3d(base.R().transpose() * kGravity - a));
  fixed.idyn(qdot, qddot, gBase);
  EXPECT_LE(relativeError(free.tau(), fixed.tau()), 1e-12);
}

}  // namespace zorvik_test::robot_object_test
