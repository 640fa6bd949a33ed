// Randomly written URDF trees of N moving joints against KDL built from the same text. The trees
// have what the bundled robots lack: prismatic and continuous joints, axes of any direction and
// length, inertial frames rotated by rpy with full inertia tensors, chains of fixed joints between
// moving ones, massless links, branches that split at moving bodies, and joints listed in the file
// in random order. KDL's tree solvers give the reference: link poses, torques with gravity, and
// the columns of M, C qdot and g by recursive Newton-Euler.
#include <kdl/treefksolverpos_recursive.hpp>
#include <kdl/treeidsolver_recursive_newton_euler.hpp>

#include <Vexo/DynamicAnalysisXD>
#include <ZorvikURDF/RobotLoader>
#include <algorithm>
#include <random>
#include <sstream>

#include "support/JacobianWidths.h"
#include "support/KdlBridge.h"
#include "urdf/RobotFiles.h"
#include "urdf/RandomUrdfWriter.h"
#include "urdf/UrdfText.h"

namespace zorvik_test::random_urdf_matches_kdl_test {

using namespace ZorvikFoundation;

const LieGroup::Vector3D kGravity(-0.8, 0.5, -9.81);
constexpr double kTolerance = 1e-10;

template <typename Width>
class RandomUrdfMatchesKdl : public ::testing::Test {};
TYPED_TEST_SUITE(RandomUrdfMatchesKdl, JacobianWidths);

TYPED_TEST(RandomUrdfMatchesKdl, PosesTorquesAndJointSpaceDynamics) {
  constexpr int N = TypeParam::value;
  typedef typename URDF::Robot<N>::JointVec JointVec;
  std::mt19937 rng(100 + N);
  const auto random = [&]() { return randomMatrix<N>(rng, 2.0); };
  for (unsigned seed = 0; seed < 3; ++seed) {
    SCOPED_TRACE("tree seed " + std::to_string(seed));
    TemporaryUrdf file(RandomUrdfWriter(1000 * N + seed).write(N), "random_" + std::to_string(N));
    URDF::Robot<N> robot = URDF::loadRobot<N>(file.path());
    const KDL::Tree tree = kdl::treeFromUrdf(file.path());
    std::vector<std::string> names;
    for (int i = 0; i < N; ++i) names.push_back(robot.jointName(i));
    const std::vector<int> map = kdl::treeToModel(tree, names);
    ASSERT_EQ(std::count(map.begin(), map.end(), -1), 0);

    KDL::TreeFkSolverPos_recursive fk(tree);
    KDL::TreeIdSolver_RNE rne(tree, KDL::Vector(kGravity.x(), kGravity.y(), kGravity.z()));
    KDL::TreeIdSolver_RNE rneNoGravity(tree, KDL::Vector::Zero());
    const auto kdlTorques = [&](KDL::TreeIdSolver_RNE& solver, const JointVec& q,
                                const JointVec& qdot, const JointVec& qddot) {
      KDL::JntArray tau(N);
      EXPECT_GE(solver.CartToJnt(kdl::toKdl(q, map), kdl::toKdl(qdot, map), kdl::toKdl(qddot, map),
                                 KDL::WrenchMap(), tau),
                0);
      return Eigen::VectorXd(kdl::fromKdl(tau, map, N));
    };

    for (int s = 0; s < 2; ++s) {
      robot.q() = random();
      robot.qdot() = random();
      const JointVec qddot = random(), q = robot.q(), qdot = robot.qdot(), zero = JointVec::Zero();
      robot.update(false);

      const KDL::JntArray qk = kdl::toKdl(q, map);
      for (const auto& segment : tree.getSegments()) {
        KDL::Frame F;
        ASSERT_GE(fk.JntToCart(qk, F, segment.first), 0);
        const Eigen::Matrix4d ours = robot.framePose(robot.frameIndex(segment.first));
        EXPECT_LE(relativeError(ours, kdl::toEigen(F)), kTolerance) << segment.first;
      }

      robot.idyn(qdot, qddot, kGravity);
      EXPECT_LE(relativeError(robot.tau(), kdlTorques(rne, q, qdot, qddot)), kTolerance);

      typename URDF::Robot<N>::JointMat M, C;
      JointVec G;
      VexoSDK::DynamicAnalysisXD<N>::JointDynamics(robot, M, C, G, kGravity);
      Eigen::MatrixXd Mk(N, N);
      for (int k = 0; k < N; ++k) Mk.col(k) = kdlTorques(rneNoGravity, q, zero, JointVec::Unit(k));
      EXPECT_LE(relativeError(M, Mk), kTolerance);
      EXPECT_LE(relativeError(C * qdot, kdlTorques(rneNoGravity, q, qdot, zero)), kTolerance);
      EXPECT_LE(relativeError(G, kdlTorques(rne, q, zero, zero)), kTolerance);
    }
  }
}

}  // namespace zorvik_test::random_urdf_matches_kdl_test
