// Inverse kinematics on the bundled arms (UR5, Panda) with their URDF limits: convergence from
// random seeds to random reachable targets, checked on the pose KDL computes for the solution (not
// the solver's own error); limits at every solution; unreachable and singular targets; the same
// answer for the same question, bit for bit; no allocation; position-only targets.
#include <kdl/chainfksolverpos_recursive.hpp>

#include <Vexo/InverseKinematicsXD>
#include <ZorvikURDF/RobotLoader>
#include <chrono>
#include <limits>
#include <random>

#include "support/AllocationCounter.h"
#include "support/KdlBridge.h"
#include "support/MatrixNear.h"
#include "urdf/RobotFiles.h"

namespace zorvik_test::inverse_kinematics_test {

using namespace ZorvikFoundation;

template <typename R>
class InverseKinematics : public ::testing::Test {
 protected:
  static constexpr int N = R::N;
  typedef URDF::Robot<N> Robot;
  typedef typename Robot::JointVec JointVec;

  InverseKinematics()
      : robot(URDF::loadRobot<N>(robotPath(R::file()))),
        ik(robot.inverseKinematics()),
        tree(kdl::treeFromUrdf(robotPath(R::file()))),
        rng(11 + N) {
    std::vector<std::string> names;
    for (int i = 0; i < N; ++i) names.push_back(robot.jointName(i));
    const std::string tipLink = kdl::branchTips(tree).front();
    chain = kdl::branchChain(tree, tipLink);
    map = kdl::chainToModel(chain, names);
    tip = robot.frameIndex(tipLink);
  }

  // Uniform within the limits.
  JointVec randomCoordinates() {
    JointVec q;
    for (int i = 0; i < N; ++i) q(i) = uniform(rng, ik.lower()(i), ik.upper()(i));
    return q;
  }
  HTransform poseAt(const JointVec& q) {
    robot.q() = q;
    robot.update(true);
    return robot.framePose(tip);
  }
  VexoSDK::IKResult solve(const HTransform& target, const JointVec& seed, JointVec& q) {
    return ik.solve(robot, robot.frameBody(tip), robot.frameOffset(tip), target, seed, q);
  }
  // The tip's pose at q by KDL.
  Eigen::Matrix4d kdlPose(const JointVec& q) {
    KDL::ChainFkSolverPos_recursive fk(chain);
    KDL::Frame F;
    EXPECT_GE(fk.JntToCart(kdl::toKdl(q, map), F), 0);
    return kdl::toEigen(F);
  }
  void expectWithinLimits(const JointVec& q) {
    ASSERT_TRUE(q.allFinite());
    for (int i = 0; i < N; ++i) {
      EXPECT_GE(q(i), ik.lower()(i)) << i;
      EXPECT_LE(q(i), ik.upper()(i)) << i;
    }
  }

  Robot robot;
  VexoSDK::InverseKinematicsXD<N> ik;
  KDL::Tree tree;
  KDL::Chain chain;
  std::vector<int> map;
  int tip;
  std::mt19937 rng;
};

typedef ::testing::Types<Ur5, PandaArm> Arms;
TYPED_TEST_SUITE(InverseKinematics, Arms);

// More restarts than the defaults: about 1 target in 500 lies where every default start ends in
// a local minimum near the limits (the defaults' solve rate is the benchmark's, bench/IkBench.cpp);
// here every target must be reached.
TYPED_TEST(InverseKinematics, ReachesRandomTargetsFromRandomSeedsWithinTheLimits) {
  this->ik.setRestarts(100);
  for (int s = 0; s < 40; ++s) {
    const HTransform target = this->poseAt(this->randomCoordinates());
    typename TestFixture::JointVec q;
    const VexoSDK::IKResult r = this->solve(target, this->randomCoordinates(), q);
    EXPECT_TRUE(r.converged) << s;
    this->expectWithinLimits(q);
    const Eigen::Matrix4d reached = this->kdlPose(q);
    const Eigen::Matrix3d dR = reached.topLeftCorner<3, 3>().transpose() * target.R();
    const double angle = Eigen::AngleAxisd(dR).angle();
    EXPECT_LE((reached.topRightCorner<3, 1>() - target.r()).norm(), 1.0000001e-6) << s;
    EXPECT_LE(angle, 1.0000001e-6) << s;
    // The model is left at the solution.
    EXPECT_EQ(this->robot.q(), q);
    EXPECT_MATRIX_NEAR(this->robot.framePose(this->tip), reached, 1e-12);
  }
}

// 3 m from the base is beyond either arm's reach (UR5 0.85 m, Panda 0.86 m); the stretched-out
// arm moved 5 mm further along its own reach is just beyond it, at a singular configuration.
TYPED_TEST(InverseKinematics, UnreachableAndSingularTargetsReportFailureWithFiniteOutput) {
  typedef typename TestFixture::JointVec JointVec;
  const HTransform home = this->poseAt(JointVec::Zero());
  HTransform far = home;
  far.r() = Eigen::Vector3d(3.0, 0.5, 0.4);
  JointVec q;
  this->ik.setMaxIterations(20);
  this->ik.setRestarts(20);
  VexoSDK::IKResult r = this->solve(far, JointVec::Zero(), q);
  EXPECT_FALSE(r.converged);
  this->expectWithinLimits(q);
  EXPECT_GT(r.positionError, 2.0);
  EXPECT_LE(r.iterations, 21 * 20);

  // Stretched out: the farthest tip from the shoulder (body 1's origin, on the first joint's axis)
  // among many reachable poses.
  JointVec stretched = JointVec::Zero();
  double reach = 0;
  for (int s = 0; s < 2000; ++s) {
    const JointVec x = this->randomCoordinates();
    const double d = (this->poseAt(x).r() - this->robot.body(1).T().r()).norm();
    if (d > reach) reach = d, stretched = x;
  }
  const HTransform edge = this->poseAt(stretched);
  HTransform beyond = edge;
  const Eigen::Vector3d out = (edge.r() - this->robot.body(1).T().r()).normalized();
  beyond.r() += 5e-3 * out;
  r = this->solve(beyond, this->randomCoordinates(), q);
  this->expectWithinLimits(q);
  ASSERT_TRUE(std::isfinite(r.positionError) && std::isfinite(r.rotationError));
  if (r.converged) {
    // Not beyond after all (the sample missed the true reach): then it met the tolerance.
    EXPECT_LE(r.positionError, 1e-6);
  } else {
    EXPECT_GT(r.positionError + r.rotationError, 1e-6);
    EXPECT_LT(r.positionError, 5.1e-3);
  }
}

TYPED_TEST(InverseKinematics, TheSameQuestionGetsTheSameAnswerBitForBit) {
  typedef typename TestFixture::JointVec JointVec;
  const HTransform target = this->poseAt(this->randomCoordinates());
  const JointVec seed = this->randomCoordinates();
  JointVec a, b;
  const VexoSDK::IKResult ra = this->solve(target, seed, a);
  this->poseAt(this->randomCoordinates());  // whatever state the model is left in
  const VexoSDK::IKResult rb = this->solve(target, seed, b);
  EXPECT_EQ(a, b);
  EXPECT_EQ(ra.converged, rb.converged);
  EXPECT_EQ(ra.iterations, rb.iterations);
  EXPECT_EQ(ra.positionError, rb.positionError);
  EXPECT_EQ(ra.rotationError, rb.rotationError);
  // Restarts draw from the settable seed: a far target makes every restart run.
  HTransform far = target;
  far.r() += Eigen::Vector3d(2, 2, 2);
  const VexoSDK::IKResult fa = this->solve(far, seed, a);
  const VexoSDK::IKResult fb = this->solve(far, seed, b);
  EXPECT_EQ(a, b);
  EXPECT_EQ(fa.iterations, fb.iterations);
  EXPECT_EQ(fa.positionError, fb.positionError);
}

TYPED_TEST(InverseKinematics, SolvesWithoutAllocating) {
  typedef typename TestFixture::JointVec JointVec;
  const HTransform target = this->poseAt(this->randomCoordinates());
  const JointVec seed = this->randomCoordinates();
  JointVec q;
  VexoSDK::IKResult r;
  EXPECT_NO_ALLOCATION(r = this->solve(target, seed, q));
  HTransform far = target;
  far.r() += Eigen::Vector3d(2, 2, 2);
  EXPECT_NO_ALLOCATION(r = this->solve(far, seed, q));
}

// The defaults are IKDefaults, read back through the solver's accessors, on a solver of its own
// and on the URDF robot's (which sets only the limits). An unreachable target runs every start:
// each takes at least one iteration and at most maxIterations().
TYPED_TEST(InverseKinematics, DefaultsAreTheStatedOnesAndBoundAnUnreachableSolve) {
  typedef typename TestFixture::JointVec JointVec;
  typedef VexoSDK::IKDefaults D;
  typedef VexoSDK::InverseKinematicsXD<TestFixture::N> Solver;
  const Solver fresh;
  for (const Solver* ik : {&fresh, static_cast<const Solver*>(&this->ik)}) {
    EXPECT_EQ(ik->positionTolerance(), D::positionTolerance);
    EXPECT_EQ(ik->rotationTolerance(), D::rotationTolerance);
    EXPECT_EQ(ik->maxIterations(), D::maxIterations);
    EXPECT_EQ(ik->restarts(), D::restarts);
    EXPECT_EQ(ik->positionWeight(), D::positionWeight);
    EXPECT_EQ(ik->rotationWeight(), D::rotationWeight);
    EXPECT_EQ(ik->randomSeed(), D::seed);
    EXPECT_EQ(ik->iterationBudget(), std::numeric_limits<int>::max());
  }
  EXPECT_TRUE((fresh.lower().array() == -std::numeric_limits<double>::infinity()).all());
  HTransform far = this->poseAt(JointVec::Zero());
  far.r() = Eigen::Vector3d(3.0, 0.5, 0.4);
  JointVec q;
  const VexoSDK::IKResult r = this->solve(far, JointVec::Zero(), q);
  EXPECT_FALSE(r.converged);
  EXPECT_FALSE(r.stopped);
  EXPECT_GE(r.iterations, D::restarts + 1);
  EXPECT_LE(r.iterations, (D::restarts + 1) * D::maxIterations);
}

// An iteration budget ends the solve after exactly that many iterations, with the best iterate so
// far: the same as a solve whose starts run out there. A budget beyond the solve's own length
// changes nothing, bit for bit.
TYPED_TEST(InverseKinematics, AnIterationBudgetEndsTheSolveAtExactlyThatCount) {
  typedef typename TestFixture::JointVec JointVec;
  HTransform far = this->poseAt(JointVec::Zero());
  far.r() = Eigen::Vector3d(3.0, 0.5, 0.4);
  JointVec unbounded, q;
  const VexoSDK::IKResult full = this->solve(far, JointVec::Zero(), unbounded);
  this->ik.setIterationBudget(37);
  VexoSDK::IKResult r;
  EXPECT_NO_ALLOCATION(r = this->solve(far, JointVec::Zero(), q));
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.iterations, 37);
  this->expectWithinLimits(q);
  EXPECT_GT(r.positionError, 2.0);
  this->ik.setIterationBudget(full.iterations);
  r = this->solve(far, JointVec::Zero(), q);
  EXPECT_FALSE(r.stopped);
  EXPECT_EQ(q, unbounded);
  EXPECT_EQ(r.positionError, full.positionError);
}

// The stop test is asked before every iteration with the current start's index, 0 .. restarts in
// order; true ends the solve there. A deadline already past ends it before the first iteration,
// with the (clamped) seed.
TYPED_TEST(InverseKinematics, AStopTestSeesEveryStartAndEndsTheSolve) {
  typedef typename TestFixture::JointVec JointVec;
  struct Log {
    int calls = 0, stopAt = -1, lastStart = 0;
    bool ordered = true;
  } log;
  auto test = [](void* context, int start) {
    Log& l = *static_cast<Log*>(context);
    l.ordered = l.ordered && (start == l.lastStart || start == l.lastStart + 1);
    l.lastStart = start;
    return ++l.calls == l.stopAt;
  };
  this->ik.setStopTest(test, &log);
  HTransform far = this->poseAt(JointVec::Zero());
  far.r() = Eigen::Vector3d(3.0, 0.5, 0.4);
  JointVec q;
  VexoSDK::IKResult r = this->solve(far, JointVec::Zero(), q);
  EXPECT_FALSE(r.stopped);
  EXPECT_EQ(log.calls, r.iterations);
  EXPECT_TRUE(log.ordered);
  EXPECT_EQ(log.lastStart, this->ik.restarts());
  log = Log();
  log.stopAt = 5;
  r = this->solve(far, JointVec::Zero(), q);
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.iterations, 4);

  const auto past = std::chrono::steady_clock::now();
  this->ik.setStopTest(&VexoSDK::stopAtDeadline,
                       const_cast<std::chrono::steady_clock::time_point*>(&past));
  const JointVec seed = this->randomCoordinates();
  EXPECT_NO_ALLOCATION(r = this->solve(far, seed, q));
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.iterations, 0);
  EXPECT_EQ(q, seed);
}

// With the rotation weighted out, any orientation of the target is fine: the position is met
// exactly, the rotation error is whatever the solution has.
TYPED_TEST(InverseKinematics, PositionOnlyTargetsIgnoreTheOrientation) {
  typedef typename TestFixture::JointVec JointVec;
  this->ik.setWeights(1, 0);
  for (int s = 0; s < 10; ++s) {
    HTransform target = this->poseAt(this->randomCoordinates());
    target.R() = Eigen::AngleAxisd(2.0, Eigen::Vector3d(1, 2, 3).normalized()).toRotationMatrix();
    JointVec q;
    const VexoSDK::IKResult r = this->solve(target, this->randomCoordinates(), q);
    EXPECT_TRUE(r.converged) << s;
    EXPECT_LE((this->kdlPose(q).template topRightCorner<3, 1>() - target.r()).norm(), 1.0000001e-6);
  }
}

// The by-name forms of URDF::Robot are the frame functions on the link's body and offset; a name
// that is no link of the description is an out_of_range error.
TYPED_TEST(InverseKinematics, ByNameFramesAreTheFrameFunctionsOnBodyAndOffset) {
  typedef typename TestFixture::Robot::JointJac JointJac;
  typename TestFixture::Robot& robot = this->robot;
  robot.q() = this->randomCoordinates();
  robot.qdot() = this->randomCoordinates();
  robot.update(false);
  robot.updateJacobian(false);
  const std::string link = robot.description().frames()[this->tip].link;
  const int body = robot.frameBody(this->tip);
  const HTransform offset = robot.frameOffset(this->tip);
  EXPECT_EQ(robot.framePose(link), VexoSDK::framePose(robot, body, offset));
  EXPECT_EQ(robot.frameTwist(link), VexoSDK::frameTwist(robot, body, offset));
  EXPECT_EQ(robot.frameAcceleration(link), VexoSDK::frameAcceleration(robot, body, offset));
  JointJac a, b;
  robot.frameJacobian(link, VexoSDK::JacobianFrame::Spatial, a);
  VexoSDK::frameJacobian(robot, body, offset, VexoSDK::JacobianFrame::Spatial, b);
  EXPECT_EQ(a, b);
  robot.frameJacobianDot(link, VexoSDK::JacobianFrame::WorldAligned, a);
  VexoSDK::frameJacobianDot(robot, body, offset, VexoSDK::JacobianFrame::WorldAligned, b);
  EXPECT_EQ(a, b);
  EXPECT_THROW(robot.framePose("no_such_link"), std::out_of_range);
  EXPECT_THROW(robot.frameJacobian("no_such_link", VexoSDK::JacobianFrame::Body, a),
               std::out_of_range);
}

}  // namespace zorvik_test::inverse_kinematics_test
