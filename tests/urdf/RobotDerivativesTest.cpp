// The derivatives of the inverse and forward dynamics of the bundled robots against numerical
// derivatives of idyn and fdyn (five-point stencil, support/StateJacobian.h), with an external
// wrench on every other link.
#include <Vexo/DynamicAnalysisXD>
#include <ZorvikURDF/RobotLoader>
#include <random>

#include "support/MatrixNear.h"
#include "support/RandomLieGroup.h"
#include "support/StateJacobian.h"
#include "urdf/RobotFiles.h"

namespace zorvik_test::robot_derivatives_test {

using namespace ZorvikFoundation;

const LieGroup::Vector3D kGravity(1.2, -0.7, -9.81);
// Step 1e-3: truncation and rounding of the stencil stay below 1e-10 relative on these robots
// (torques up to some 100 N m); 1e-8 leaves room, a missed term gives errors of order one.
constexpr double kStep = 1e-3;
constexpr double kTolerance = 1e-8;

template <typename R>
class RobotDerivatives : public ::testing::Test {};
TYPED_TEST_SUITE(RobotDerivatives, RobotFiles);

TYPED_TEST(RobotDerivatives, MatchNumericalDerivativesOfIdynAndFdynWithExternalWrenches) {
  constexpr int N = TypeParam::N;
  typedef typename URDF::Robot<N>::JointVec JointVec;
  typedef typename URDF::Robot<N>::JointMat JointMat;
  URDF::Robot<N> robot = URDF::loadRobot<N>(robotPath(TypeParam::file()));
  std::mt19937 rng(81 + N);
  // Wrenches of each link's weight's size: the hand's links weigh grams.
  for (int k = 1; k <= N; k += 2)
    robot.body(k).setExtWrench(randomWrench(rng, 9.81 * robot.body(k).mass()));
  const auto tauAt = [&](const JointVec& qddot) {
    robot.idyn(robot.qdot(), qddot, kGravity);
    return JointVec(robot.tau());
  };
  const auto qddotAt = [&](const JointVec& tau) {
    robot.fdyn(tau, kGravity);
    return JointVec(robot.qddot());
  };
  double worst = 0;
  for (int s = 0; s < 2; ++s) {
    robot.q() = randomMatrix<N>(rng, 2.0);
    robot.qdot() = randomMatrix<N>(rng, 2.0);
    robot.update(false);
    // Torques that accelerate the robot at a few rad/s^2, whatever its size.
    const JointVec qddot = randomMatrix<N>(rng, 3.0), tau = tauAt(randomMatrix<N>(rng, 3.0));
    JointMat dq, dqdot, ddq, ddqdot, Minv;
    VexoSDK::DynamicAnalysisXD<N>::IdynDerivatives(robot, qddot, kGravity, dq, dqdot);
    VexoSDK::DynamicAnalysisXD<N>::FdynDerivatives(robot, tau, kGravity, ddq, ddqdot, Minv);
    const JointMat expected[4] = {
        stateJacobian<N>(robot, false, [&] { return tauAt(qddot); }, kStep),
        stateJacobian<N>(robot, true, [&] { return tauAt(qddot); }, kStep),
        stateJacobian<N>(robot, false, [&] { return qddotAt(tau); }, kStep),
        stateJacobian<N>(robot, true, [&] { return qddotAt(tau); }, kStep)};
    const JointMat* computed[4] = {&dq, &dqdot, &ddq, &ddqdot};
    for (int i = 0; i < 4; ++i) {
      const double error = relativeError(*computed[i], expected[i]);
      EXPECT_LE(error, kTolerance) << "derivative " << i;
      worst = std::max(worst, error);
    }
  }
  std::printf("[ max rel. error vs five-point differences ] %s: %.1e\n", TypeParam::file().c_str(),
              worst);
}

}  // namespace zorvik_test::robot_derivatives_test
