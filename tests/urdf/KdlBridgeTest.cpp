// The KDL bridge itself, checked without the library under test: its twist and Jacobian conversions
// against finite differences of KDL's own poses, and its branch chains against KDL's tree solver.
#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/chainfksolvervel_recursive.hpp>
#include <kdl/chainidsolver_recursive_newton_euler.hpp>
#include <kdl/chainjnttojacsolver.hpp>
#include <kdl/treeidsolver_recursive_newton_euler.hpp>

#include <random>

#include "support/FiniteDifference.h"
#include "support/KdlBridge.h"
#include "urdf/RobotFiles.h"
#include "urdf/UrdfText.h"

namespace zorvik_test::kdl_bridge_test {

Eigen::Matrix4d pose(KDL::ChainFkSolverPos_recursive& fk, const KDL::JntArray& q) {
  KDL::Frame F;
  EXPECT_GE(fk.JntToCart(q, F), 0);
  return kdl::toEigen(F);
}

// Body twist of the motion q(t) = q + t dq at t = 0 by central differences of the pose:
// T^-1 dT/dt = [[ [w], v ], [0, 0]] with v = R^T pdot and [w] = R^T Rdot.
kdl::Vector6 finiteDifferenceBodyTwist(KDL::ChainFkSolverPos_recursive& fk, const KDL::JntArray& q,
                                       const Eigen::VectorXd& dq) {
  const Eigen::Matrix4d dT = centralDifference(
      [&](double t) -> Eigen::Matrix4d {
        KDL::JntArray qt = q;
        qt.data += t * dq;
        return pose(fk, qt);
      },
      1e-6);
  const Eigen::Matrix4d X = pose(fk, q).inverse() * dT;
  kdl::Vector6 V;
  V << X(0, 3), X(1, 3), X(2, 3), X(2, 1), X(0, 2), X(1, 0);
  return V;
}

KDL::JntArray randomArray(std::mt19937& rng, unsigned n) {
  KDL::JntArray a(n);
  for (unsigned i = 0; i < n; ++i) a(i) = uniform(rng, -2, 2);
  return a;
}

// KDL's twists and Jacobians refer to the base frame with the reference point at the tip; the
// conversions must give the body twist and the body Jacobian, and the spatial form (reference
// point moved to the base origin) must convert to the same Jacobian.
TEST(KdlBridge, TwistAndJacobianConversionsGiveBodyQuantities) {
  const KDL::Tree tree = kdl::treeFromUrdf(robotPath(PandaArm::file()));
  KDL::Chain chain;
  ASSERT_TRUE(tree.getChain("panda_link0", "panda_link7", chain));
  const unsigned n = chain.getNrOfJoints();
  KDL::ChainFkSolverPos_recursive fk(chain);
  KDL::ChainFkSolverVel_recursive fkVel(chain);
  KDL::ChainJntToJacSolver jacobianSolver(chain);
  std::mt19937 rng(9);
  for (int s = 0; s < 3; ++s) {
    const KDL::JntArray q = randomArray(rng, n), qdot = randomArray(rng, n);
    KDL::FrameVel Fv;
    ASSERT_GE(fkVel.JntToCart(KDL::JntArrayVel(q, qdot), Fv), 0);
    const kdl::Vector6 expected = finiteDifferenceBodyTwist(fk, q, qdot.data);
    EXPECT_LE(relativeError(kdl::bodyTwist(Fv), expected), 1e-8);

    KDL::Jacobian J(n);
    ASSERT_GE(jacobianSolver.JntToJac(q, J), 0);
    const KDL::Frame F = Fv.GetFrame();
    KDL::Jacobian spatial = J;
    spatial.changeRefPoint(-F.p);
    const kdl::Jacobian6 body = kdl::bodyJacobian(F, J);
    const kdl::Jacobian6 fromSpatial = kdl::bodyJacobianFromSpatial(F, spatial);
    for (unsigned j = 0; j < n; ++j) {
      const kdl::Vector6 column = finiteDifferenceBodyTwist(fk, q, Eigen::VectorXd::Unit(n, j));
      EXPECT_LE(relativeError(body.col(j), column), 1e-8) << "joint " << j;
      EXPECT_LE(relativeError(fromSpatial.col(j), column), 1e-8) << "joint " << j;
    }
  }
}

// A branch chain must give its joints the torques the whole tree gives them: the UR5's wrist
// carries two fixed links (ee_link, tool0) that no single KDL chain contains, and each of Baxter's
// arms carries its gripper and sensors.
TEST(KdlBridge, BranchChainsCarryTheirFixedSideBranches) {
  const KDL::Vector gravity(0.5, -1.0, -9.81);
  std::mt19937 rng(10);
  for (const std::string& file : {Ur5::file(), BaxterArms::file()}) {
    SCOPED_TRACE(file);
    const KDL::Tree tree = kdl::treeFromUrdf(robotPath(file));
    const unsigned nt = tree.getNrOfJoints();
    KDL::TreeIdSolver_RNE treeSolver(tree, gravity);
    const KDL::JntArray q = randomArray(rng, nt), qdot = randomArray(rng, nt),
                        qddot = randomArray(rng, nt);
    KDL::JntArray treeTau(nt);
    ASSERT_GE(treeSolver.CartToJnt(q, qdot, qddot, KDL::WrenchMap(), treeTau), 0);

    std::vector<std::string> treeNames(nt);
    for (const auto& s : tree.getSegments()) {
      const KDL::Joint& joint = GetTreeElementSegment(s.second).getJoint();
      if (kdl::isMoving(joint)) treeNames[GetTreeElementQNr(s.second)] = joint.getName();
    }
    const std::vector<std::string> tips = kdl::branchTips(tree);
    ASSERT_EQ(tips.size(), file == Ur5::file() ? 1u : 2u);
    for (const std::string& tip : tips) {
      const KDL::Chain chain = kdl::branchChain(tree, tip);
      const std::vector<int> map = kdl::chainToModel(chain, treeNames);
      KDL::ChainIdSolver_RNE chainSolver(chain, gravity);
      KDL::JntArray tau(chain.getNrOfJoints());
      ASSERT_GE(
          chainSolver.CartToJnt(kdl::toKdl(q.data, map), kdl::toKdl(qdot.data, map),
                                kdl::toKdl(qddot.data, map),
                                KDL::Wrenches(chain.getNrOfSegments(), KDL::Wrench::Zero()), tau),
          0);
      Eigen::VectorXd expected(map.size());
      for (size_t j = 0; j < map.size(); ++j) expected(j) = treeTau(map[j]);
      EXPECT_LE(relativeError(tau.data, expected), 1e-12) << tip;
    }
  }
}

// When moving joints split below a moving joint, no chain can stand for a branch.
TEST(KdlBridge, BranchChainRefusesBranchesThatSplitBelowAMovingJoint) {
  const std::string body = linkXml("l0") + linkXml("l1") + linkXml("l2") + linkXml("l3") +
                           jointXml("j1", "revolute", "l0", "l1") +
                           jointXml("j2", "revolute", "l1", "l2") +
                           jointXml("j3", "revolute", "l1", "l3");
  TemporaryUrdf file(urdfDocument(body), "split_branches");
  const KDL::Tree tree = kdl::treeFromUrdf(file.path());
  const std::vector<std::string> tips = kdl::branchTips(tree);
  ASSERT_EQ(tips.size(), 2u);
  for (const std::string& tip : tips) EXPECT_THROW(kdl::branchChain(tree, tip), std::runtime_error);
}

}  // namespace zorvik_test::kdl_bridge_test
