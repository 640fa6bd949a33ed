// The forward dynamics and the inverse mass matrix of the models loaded from the bundled robot
// descriptions against DART's articulated-body forward dynamics and its inverse mass matrix, DART
// loading the same files (tests/support/DartOracle.h). DART works on the whole tree at once, so
// the trees are compared whole.
#include <Vexo/DynamicAnalysisXD>
#include <ZorvikURDF/RobotLoader>
#include <random>

#include "support/DartOracle.h"
#include "urdf/RobotFiles.h"

namespace zorvik_test::forward_dynamics_dart_test {

using namespace ZorvikFoundation;

// Gravity along no axis of any frame, so that an error in the base frame's orientation shows.
const LieGroup::Vector3D kGravity(1.2, -0.7, -9.81);
// Both libraries reach the same numbers by the same kind of recursion in different orders and
// frames: rounding of order 1e-14 relative is seen; 1e-10 leaves room, and a missed term, a sign
// or a frame error gives errors of order one.
constexpr double kTolerance = 1e-10;

template <typename R>
class ForwardDynamicsMatchesDart : public ::testing::Test {};
TYPED_TEST_SUITE(ForwardDynamicsMatchesDart, RobotFiles);

TYPED_TEST(ForwardDynamicsMatchesDart, AccelerationsAndInverseMassMatrix) {
  constexpr int N = TypeParam::N;
  typedef typename URDF::Robot<N>::JointVec JointVec;
  typedef typename URDF::Robot<N>::JointMat JointMat;
  URDF::Robot<N> robot = URDF::loadRobot<N>(robotPath(TypeParam::file()));
  std::vector<std::string> names;
  for (int i = 0; i < N; ++i) names.push_back(robot.jointName(i));
  DartRobot dart(robotPath(TypeParam::file()), names, kGravity);
  std::mt19937 rng(31 + N);
  double worstAcc = 0, worstMinv = 0;
  for (int s = 0; s < 4; ++s) {
    robot.q() = randomMatrix<N>(rng, 3.0);
    robot.qdot() = randomMatrix<N>(rng, 2.0);
    robot.update(false);
    const JointVec tau = randomMatrix<N>(rng, 20.0);
    robot.fdyn(tau, kGravity);
    JointMat Minv;
    VexoSDK::DynamicAnalysisXD<N>::MassInverse(robot, Minv);
    const double acc = relativeError(robot.qddot(), dart.forwardDynamics(robot.q(), robot.qdot(), tau));
    const double minv = relativeError(Minv, dart.inverseMass(robot.q()));
    EXPECT_LE(acc, kTolerance);
    EXPECT_LE(minv, kTolerance);
    worstAcc = std::max(worstAcc, acc);
    worstMinv = std::max(worstMinv, minv);
  }
  std::printf("[ max rel. error vs DART ] %s: qddot %.1e Minv %.1e\n", TypeParam::file().c_str(),
              worstAcc, worstMinv);
}

}  // namespace zorvik_test::forward_dynamics_dart_test
