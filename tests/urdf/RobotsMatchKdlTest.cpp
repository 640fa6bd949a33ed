// Models loaded from the bundled robot descriptions against Orocos KDL built from the same files:
// link poses, body twists, Jacobians and their derivatives, inverse dynamics torques, and the
// joint-space mass matrix, Coriolis torques and gravity torques, the forward dynamics and the
// inverse mass matrix. The trees (Baxter's arms, the
// Allegro hand) branch off fixed bodies, so each branch is an independent KDL chain whose joints'
// results must equal the same joints' entries of the whole model. Randomly written serial chains
// of 16 and 32 joints add prismatic joints and axes of any direction; the 9-joint Panda on a
// gantry and the 32-joint chain are sizes the library is not built for, compiled here.
#include <algorithm>
#include <kdl/chaindynparam.hpp>
#include <kdl/chainfdsolver_recursive_newton_euler.hpp>
#include <kdl/chainfksolvervel_recursive.hpp>
#include <kdl/chainidsolver_recursive_newton_euler.hpp>
#include <kdl/chainjnttojacdotsolver.hpp>
#include <kdl/chainjnttojacsolver.hpp>
#include <kdl/treefksolverpos_recursive.hpp>

#include <Vexo/DynamicAnalysisXD>
#include <Vexo/FrameKinematics>
#include <ZorvikURDF/RobotLoader>
#include <cstdio>
#include <random>

#include "support/KdlBridge.h"
#include "support/LinearAlgebra.h"
#include "urdf/RandomUrdfWriter.h"
#include "urdf/RobotFiles.h"

namespace zorvik_test::robots_match_kdl_test {

using namespace ZorvikFoundation;

// Gravity along no axis of any frame, so that an error in the base frame's orientation shows.
const LieGroup::Vector3D kGravity(1.2, -0.7, -9.81);
constexpr double kTolerance = 1e-10;
constexpr int kStates = 4;

struct MaxErrors {
  double pose = 0, twist = 0, jacobian = 0, jacobianDot = 0, torque = 0, mass = 0, coriolis = 0,
         gravity = 0, acceleration = 0, massInverse = 0;
};

void note(double& worst, double error) {
  EXPECT_LE(error, kTolerance);
  worst = std::max(worst, error);
}

template <typename R>
std::string pathOf() {
  return robotPath(R::file());
}

// N moving joints in one serial chain (revolute, prismatic and continuous, axes of any direction,
// fixed joints in between), written once per process.
template <int Size>
struct SerialChain {
  static constexpr int N = Size;
  static std::string file() { return "random serial chain of " + std::to_string(N); }
  static std::vector<std::string> joints() {
    std::vector<std::string> names;
    for (int i = 1; i <= N; ++i) names.push_back("joint_m" + std::to_string(i));
    return names;
  }
};

template <>
std::string pathOf<SerialChain<16>>() {
  static const TemporaryUrdf file(RandomUrdfWriter(1616).write(16, true), "serial_chain_16");
  return file.path();
}

template <>
std::string pathOf<SerialChain<32>>() {
  static const TemporaryUrdf file(RandomUrdfWriter(3232).write(32, true), "serial_chain_32");
  return file.path();
}

template <typename R>
class RobotsMatchKdl : public ::testing::Test {
 protected:
  static constexpr int N = R::N;
  typedef URDF::Robot<N> Robot;
  typedef typename Robot::JointVec JointVec;
  typedef typename Robot::JointMat JointMat;

  RobotsMatchKdl()
      : robot(URDF::loadRobot<N>(pathOf<R>())),
        tree(kdl::treeFromUrdf(pathOf<R>())),
        rng(7 + N) {
    for (int i = 0; i < N; ++i) names.push_back(robot.jointName(i));
    for (const std::string& tip : kdl::branchTips(tree)) {
      chains.push_back(kdl::branchChain(tree, tip));
      chainMaps.push_back(kdl::chainToModel(chains.back(), names));
    }
  }

  static MaxErrors& worst() {
    static MaxErrors errors;
    return errors;
  }
  static void TearDownTestSuite() {
    const MaxErrors& e = worst();
    std::printf(
        "[ max rel. error vs KDL ] %s: pose %.1e twist %.1e jacobian %.1e jdot %.1e torque %.1e M "
        "%.1e "
        "C*qdot %.1e G %.1e qddot %.1e Minv %.1e\n",
        R::file().c_str(), e.pose, e.twist, e.jacobian, e.jacobianDot, e.torque, e.mass, e.coriolis,
        e.gravity, e.acceleration, e.massInverse);
  }

  JointVec random(double range) { return randomMatrix<N>(rng, range); }
  // A random state, the model updated with it.
  void randomState() {
    robot.q() = random(3.0);
    robot.qdot() = random(2.0);
    robot.update(false);
  }
  // The entries of a model-ordered vector that belong to the joints of chain c, in chain order.
  Eigen::VectorXd onChain(const JointVec& x, size_t c) const {
    const std::vector<int>& map = chainMaps[c];
    Eigen::VectorXd y(map.size());
    for (size_t j = 0; j < map.size(); ++j) y(j) = x(map[j]);
    return y;
  }
  Eigen::MatrixXd onChain(const JointMat& X, size_t c) const {
    const std::vector<int>& map = chainMaps[c];
    Eigen::MatrixXd Y(map.size(), map.size());
    for (size_t i = 0; i < map.size(); ++i)
      for (size_t j = 0; j < map.size(); ++j) Y(i, j) = X(map[i], map[j]);
    return Y;
  }
  KDL::Vector kdlGravity() const { return KDL::Vector(kGravity.x(), kGravity.y(), kGravity.z()); }

  Robot robot;
  KDL::Tree tree;
  std::mt19937 rng;
  std::vector<std::string> names;
  std::vector<KDL::Chain> chains;
  std::vector<std::vector<int>> chainMaps;
};

typedef ::testing::Types<Ur5, PandaArm, BaxterArms, AllegroHand, PandaOnGantry, SerialChain<16>,
                         SerialChain<32>>
    KdlRobots;
TYPED_TEST_SUITE(RobotsMatchKdl, KdlRobots);

// The joint order follows the README's listing (depth-first, siblings in file order), every parent
// body is numbered before its child, every moving joint of KDL's tree is a coordinate, and the
// branches cover every coordinate exactly once.
TYPED_TEST(RobotsMatchKdl, JointsAreNumberedDepthFirstAndCoverKdlsJoints) {
  EXPECT_EQ(this->names, TypeParam::joints());
  for (const URDF::MovingJointData& j : this->robot.description().joints()) {
    EXPECT_LT(j.parentBody, j.body) << j.name;
    EXPECT_EQ(j.body, j.coordinate + 1) << j.name;
  }
  EXPECT_EQ(this->tree.getNrOfJoints(), static_cast<unsigned>(this->N));
  std::vector<int> covered(this->N, 0);
  for (const std::vector<int>& map : this->chainMaps)
    for (int i : map) {
      ASSERT_GE(i, 0);
      ++covered[i];
    }
  for (int i = 0; i < this->N; ++i) EXPECT_EQ(covered[i], 1) << this->names[i];
}

// Every URDF link, on a moving body or merged into one, sits where KDL's tree puts it.
TYPED_TEST(RobotsMatchKdl, LinkPosesMatchKdl) {
  const std::vector<int> treeMap = kdl::treeToModel(this->tree, this->names);
  KDL::TreeFkSolverPos_recursive fk(this->tree);
  EXPECT_EQ(this->robot.description().frames().size(), this->tree.getSegments().size());
  for (int s = 0; s < kStates; ++s) {
    this->randomState();
    const KDL::JntArray q = kdl::toKdl(this->robot.q(), treeMap);
    for (const auto& segment : this->tree.getSegments()) {
      const int f = this->robot.frameIndex(segment.first);
      ASSERT_GE(f, 0) << segment.first;
      KDL::Frame F;
      ASSERT_GE(fk.JntToCart(q, F, segment.first), 0);
      const Eigen::Matrix4d ours = this->robot.framePose(f);
      note(this->worst().pose, relativeError(ours, kdl::toEigen(F)));
    }
  }
}

// Body twists of every link of every branch, and body Jacobians and their derivatives of the moving
// bodies, against KDL's velocity, Jacobian and Jacobian-derivative solvers converted to body-frame
// quantities.
TYPED_TEST(RobotsMatchKdl, BodyTwistsAndJacobiansMatchKdl) {
  for (int s = 0; s < kStates; ++s) {
    this->randomState();
    this->robot.updateJacobian(false);
    for (size_t c = 0; c < this->chains.size(); ++c) {
      const KDL::Chain& chain = this->chains[c];
      const std::vector<int>& map = this->chainMaps[c];
      KDL::ChainFkSolverVel_recursive fkVel(chain);
      KDL::ChainJntToJacSolver jacSolver(chain);
      KDL::ChainJntToJacDotSolver jacDotSolver(chain);
      jacDotSolver.setHybridRepresentation();
      const KDL::JntArrayVel qv(kdl::toKdl(this->robot.q(), map),
                                kdl::toKdl(this->robot.qdot(), map));
      for (unsigned i = 0; i < chain.getNrOfSegments(); ++i) {
        const std::string& link = chain.getSegment(i).getName();
        KDL::FrameVel F;
        ASSERT_GE(fkVel.JntToCart(qv, F, i + 1), 0);
        const Eigen::Matrix<double, 6, 1> ours =
            this->robot.frameTwist(this->robot.frameIndex(link));
        note(this->worst().twist, relativeError(ours, kdl::bodyTwist(F)));

        if (!kdl::isMoving(chain.getSegment(i).getJoint())) continue;
        KDL::Jacobian J(chain.getNrOfJoints());
        ASSERT_GE(jacSolver.JntToJac(qv.q, J, i + 1), 0);
        const kdl::Jacobian6 expected = kdl::bodyJacobian(F.GetFrame(), J);
        const int body = this->robot.description().bodyOfLink(link);
        // The body's Jacobian in model columns: the chain's columns, and zero for the joints of
        // other branches.
        Eigen::MatrixXd scattered = Eigen::MatrixXd::Zero(6, this->N);
        for (size_t j = 0; j < map.size(); ++j) scattered.col(map[j]) = expected.col(j);
        note(this->worst().jacobian, relativeError(this->robot.J(body), scattered));

        // KDL's derivative is that of the hybrid Jacobian J_h (base-frame axes, reference point at
        // the body origin). The body Jacobian is J_b = diag(R^T, R^T) J_h, and d/dt R^T =
        // -R^T [w], w the body's angular velocity in the base frame, so
        //   Jdot_b = diag(R^T, R^T) (Jdot_h - diag([w], [w]) J_h).
        KDL::Jacobian Jdot(chain.getNrOfJoints());
        ASSERT_GE(jacDotSolver.JntToJacDot(qv, Jdot, i + 1), 0);
        const Eigen::Matrix4d pose = kdl::toEigen(F.GetFrame());
        const Eigen::Matrix3d Rt = pose.topLeftCorner<3, 3>().transpose();
        const KDL::Vector w = F.GetTwist().rot;
        Eigen::Matrix3d W;
        W << 0, -w.z(), w.y(), w.z(), 0, -w.x(), -w.y(), w.x(), 0;
        Eigen::MatrixXd JdotBody = Eigen::MatrixXd::Zero(6, this->N);
        for (size_t j = 0; j < map.size(); ++j) {
          const Eigen::Matrix<double, 6, 1> jh = J.data.col(j), jdh = Jdot.data.col(j);
          JdotBody.col(map[j]).head<3>() = Rt * (jdh.head<3>() - W * jh.head<3>());
          JdotBody.col(map[j]).tail<3>() = Rt * (jdh.tail<3>() - W * jh.tail<3>());
        }
        // A body whose own joint is the first of its branch has a constant body Jacobian: its
        // derivative is zero, ours exactly, KDL's as the rounding residue of the cancelling terms
        // above, each of the size |J| |qdot|. Relative to a zero norm that residue would count as
        // a full error, so the error is taken relative to that size when it is the larger.
        const double termSize = scattered.norm() * qv.qdot.data.norm();
        const double scale = std::max(JdotBody.norm(), termSize);
        note(this->worst().jacobianDot, (this->robot.Jdot(body) - JdotBody).norm() / scale);
      }
    }
  }
}

// tau = M qddot + C qdot + g for random states and accelerations, against KDL's recursive
// Newton-Euler solver on each branch (no external wrench).
TYPED_TEST(RobotsMatchKdl, InverseDynamicsMatchesKdlRnePerBranch) {
  for (int s = 0; s < kStates; ++s) {
    this->randomState();
    const typename TestFixture::JointVec qddot = this->random(3.0);
    this->robot.idyn(this->robot.qdot(), qddot, kGravity);
    for (size_t c = 0; c < this->chains.size(); ++c) {
      const KDL::Chain& chain = this->chains[c];
      const std::vector<int>& map = this->chainMaps[c];
      KDL::ChainIdSolver_RNE rne(chain, this->kdlGravity());
      KDL::JntArray tau(chain.getNrOfJoints());
      const KDL::Wrenches noWrench(chain.getNrOfSegments(), KDL::Wrench::Zero());
      ASSERT_GE(rne.CartToJnt(kdl::toKdl(this->robot.q(), map), kdl::toKdl(this->robot.qdot(), map),
                              kdl::toKdl(qddot, map), noWrench, tau),
                0);
      note(this->worst().torque, relativeError(this->onChain(this->robot.tau(), c), tau.data));
    }
  }
}

// M, C qdot and G from DynamicAnalysisXD against KDL's ChainDynParam on each branch; the mass
// matrix couples no two joints of different branches.
TYPED_TEST(RobotsMatchKdl, MassCoriolisGravityMatchKdlDynParamPerBranch) {
  for (int s = 0; s < kStates; ++s) {
    this->randomState();
    typename TestFixture::JointMat M, C;
    typename TestFixture::JointVec G;
    VexoSDK::DynamicAnalysisXD<TestFixture::N>::JointDynamics(this->robot, M, C, G, kGravity);
    const typename TestFixture::JointVec Cqdot = C * this->robot.qdot();
    Eigen::MatrixXd coupling = M;
    for (size_t c = 0; c < this->chains.size(); ++c) {
      const KDL::Chain& chain = this->chains[c];
      const std::vector<int>& map = this->chainMaps[c];
      const unsigned n = chain.getNrOfJoints();
      const KDL::JntArray q = kdl::toKdl(this->robot.q(), map);
      KDL::ChainDynParam dyn(chain, this->kdlGravity());
      KDL::JntSpaceInertiaMatrix Mk(n);
      KDL::JntArray ck(n), gk(n);
      ASSERT_GE(dyn.JntToMass(q, Mk), 0);
      ASSERT_GE(dyn.JntToCoriolis(q, kdl::toKdl(this->robot.qdot(), map), ck), 0);
      ASSERT_GE(dyn.JntToGravity(q, gk), 0);
      note(this->worst().mass, relativeError(this->onChain(M, c), Mk.data));
      note(this->worst().coriolis, relativeError(this->onChain(Cqdot, c), ck.data));
      note(this->worst().gravity, relativeError(this->onChain(G, c), gk.data));
      for (int i : map)
        for (int j : map) coupling(i, j) = 0;
    }
    EXPECT_LE(coupling.norm(), 1e-12 * M.norm());
  }
}

// fdyn against KDL's ChainFdSolver_RNE on each branch (the branches share no moving joint, so the
// forward dynamics of the whole model is that of each branch), and MassInverse against the inverse,
// solved densely here, of KDL's mass matrix of each branch; the inverse couples no two branches.
TYPED_TEST(RobotsMatchKdl, ForwardDynamicsAndMassInverseMatchKdlPerBranch) {
  for (int s = 0; s < kStates; ++s) {
    this->randomState();
    const typename TestFixture::JointVec tau = this->random(20.0);
    typename TestFixture::JointMat Minv;
    this->robot.fdyn(tau, kGravity);
    VexoSDK::DynamicAnalysisXD<TestFixture::N>::MassInverse(this->robot, Minv);
    Eigen::MatrixXd coupling = Minv;
    for (size_t c = 0; c < this->chains.size(); ++c) {
      const KDL::Chain& chain = this->chains[c];
      const std::vector<int>& map = this->chainMaps[c];
      const unsigned n = chain.getNrOfJoints();
      const KDL::JntArray q = kdl::toKdl(this->robot.q(), map);
      KDL::ChainFdSolver_RNE fd(chain, this->kdlGravity());
      KDL::JntArray qddot(n);
      const KDL::Wrenches noWrench(chain.getNrOfSegments(), KDL::Wrench::Zero());
      ASSERT_GE(fd.CartToJnt(q, kdl::toKdl(this->robot.qdot(), map), kdl::toKdl(tau, map),
                             noWrench, qddot),
                0);
      note(this->worst().acceleration, relativeError(this->onChain(this->robot.qddot(), c),
                                                     qddot.data));
      KDL::ChainDynParam dyn(chain, this->kdlGravity());
      KDL::JntSpaceInertiaMatrix Mk(n);
      ASSERT_GE(dyn.JntToMass(q, Mk), 0);
      note(this->worst().massInverse,
           relativeError(this->onChain(Minv, c), inverseSymmetric(Mk.data)));
      for (int i : map)
        for (int j : map) coupling(i, j) = 0;
    }
    EXPECT_LE(coupling.norm(), 1e-12 * Minv.norm());
  }
}

// fdyn(idyn(qddot)) = qddot on the robot itself, with an external wrench on every third body, of
// the size of the body's own weight (forces up to 10 m N, moments up to 1 m N m): a wrench far
// beyond what a link of a few grams (the hand's) can carry would only measure the cancellation
// between the wrench's torques and those it leaves for the acceleration.
TYPED_TEST(RobotsMatchKdl, ForwardDynamicsInvertsTheInverseDynamicsWithWrenches) {
  std::mt19937& rng = this->rng;
  for (int k = 1; k <= TestFixture::N; k += 3) {
    Eigen::Matrix<double, 6, 1> w = randomMatrix<6>(rng, 10.0 * this->robot.body(k).mass());
    w.tail<3>() *= 0.1;
    this->robot.body(k).setExtWrench(LieGroup::Wrench(w));
  }
  for (int s = 0; s < kStates; ++s) {
    this->randomState();
    const typename TestFixture::JointVec qddot = this->random(3.0);
    this->robot.idyn(this->robot.qdot(), qddot, kGravity);
    this->robot.fdyn(typename TestFixture::JointVec(this->robot.tau()), kGravity);
    EXPECT_LE(relativeError(this->robot.qddot(), qddot), 1e-12);
  }
}

// The world-aligned Jacobian of a tool frame at the tip of each branch (the tip link's frame moved
// by a fixed tool offset) and its derivative, against KDL's ChainJntToJacSolver and the hybrid
// ChainJntToJacDotSolver on the branch with the tool as one more fixed segment: both take the
// reference point at the tool's origin and the base frame's axes.
TYPED_TEST(RobotsMatchKdl, WorldAlignedToolJacobianMatchesKdl) {
  typedef typename TestFixture::Robot::JointJac JointJac;
  const KDL::Frame tool(KDL::Rotation::RPY(0.2, -0.4, 0.3), KDL::Vector(0.05, 0.02, 0.12));
  for (int s = 0; s < kStates; ++s) {
    this->randomState();
    this->robot.updateJacobian(false);
    for (size_t c = 0; c < this->chains.size(); ++c) {
      KDL::Chain chain = this->chains[c];
      const std::vector<int>& map = this->chainMaps[c];
      const std::string tip = chain.getSegment(chain.getNrOfSegments() - 1).getName();
      chain.addSegment(KDL::Segment("tool", KDL::Joint(KDL::Joint::None), tool));
      const int f = this->robot.frameIndex(tip);
      ASSERT_GE(f, 0) << tip;
      const HTransform offset =
          this->robot.frameOffset(f).cascade(HTransform(Eigen::Matrix4d(kdl::toEigen(tool))));
      JointJac J, Jdot;
      VexoSDK::frameJacobian(this->robot, this->robot.frameBody(f), offset,
                             VexoSDK::JacobianFrame::WorldAligned, J);
      VexoSDK::frameJacobianDot(this->robot, this->robot.frameBody(f), offset,
                                VexoSDK::JacobianFrame::WorldAligned, Jdot);
      const KDL::JntArrayVel qv(kdl::toKdl(this->robot.q(), map),
                                kdl::toKdl(this->robot.qdot(), map));
      KDL::ChainJntToJacSolver jacSolver(chain);
      KDL::ChainJntToJacDotSolver jacDotSolver(chain);
      jacDotSolver.setHybridRepresentation();
      KDL::Jacobian Jk(chain.getNrOfJoints()), Jdotk(chain.getNrOfJoints());
      ASSERT_GE(jacSolver.JntToJac(qv.q, Jk), 0);
      ASSERT_GE(jacDotSolver.JntToJacDot(qv, Jdotk), 0);
      Eigen::MatrixXd expected = Eigen::MatrixXd::Zero(6, this->N), expectedDot = expected;
      for (size_t j = 0; j < map.size(); ++j) {
        expected.col(map[j]) = Jk.data.col(j);
        expectedDot.col(map[j]) = Jdotk.data.col(j);
      }
      note(this->worst().jacobian, relativeError(J, expected));
      note(this->worst().jacobianDot, relativeError(Jdot, expectedDot));
    }
  }
}

}  // namespace zorvik_test::robots_match_kdl_test
