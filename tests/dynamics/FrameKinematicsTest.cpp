// Frame kinematics: the pose, twist, acceleration, Jacobian and Jacobian derivative of a frame at a
// random offset on a body, in each convention, against finite differences of the frame's pose
// along the motion, with each convention's own velocity definition:
//   Body          the twist of log(T(0)^-1 T(t)), d/dt at t = 0;
//   WorldAligned  (dp/dt, w) with w = vee(dR/dt R^T), in the reference axes;
//   Spatial       (dp/dt + p x w, w), the velocity of the point at the reference origin.
// Five-point differences with h = 1e-4 on quantities of order one: truncation h^4 / 30 times fifth
// derivatives of order ten, rounding 1.5 eps / h; both far below the 1e-8 allowed.
#include <Vexo/FrameKinematics>

#include "DynamicsTestUtil.h"
#include "support/AllocationCounter.h"

namespace zorvik_test::dyn::frame_kinematics_test {

constexpr double kStep = 1e-4;
constexpr double kFdTol = 1e-8;
constexpr JacobianFrame kConventions[] = {JacobianFrame::Body, JacobianFrame::WorldAligned,
                                          JacobianFrame::Spatial};

template <typename T>
class FrameKinematicsTest : public ::testing::Test {};
TYPED_TEST_SUITE(FrameKinematicsTest, DynamicsWidths, JacobianWidthNames);

// The frame's velocity in a convention from the derivative of its pose: dT the time derivative of
// T = (R, p), computed from the pose alone.
Vec6 velocityFromPose(JacobianFrame convention, const Eigen::Matrix4d& T, const Eigen::Matrix4d& dT) {
  const Eigen::Matrix3d R = T.topLeftCorner<3, 3>(), dR = dT.topLeftCorner<3, 3>();
  const Eigen::Vector3d p = T.topRightCorner<3, 1>(), dp = dT.topRightCorner<3, 1>();
  const Eigen::Vector3d w = vee(dR * R.transpose());
  Vec6 V;
  switch (convention) {
    case JacobianFrame::Body: V << R.transpose() * dp, R.transpose() * w; break;
    case JacobianFrame::WorldAligned: V << dp, w; break;
    case JacobianFrame::Spatial: V << dp + p.cross(w), w; break;
  }
  return V;
}

const char* name(JacobianFrame c) {
  return c == JacobianFrame::Body ? "Body" : c == JacobianFrame::WorldAligned ? "WorldAligned"
                                                                               : "Spatial";
}

// J qdot is the frame's velocity in every convention; the Body one is also the frame's twist.
TYPED_TEST(FrameKinematicsTest, JacobiansGiveEachConventionsVelocityOfThePose) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointJac JointJac;
  forEachRobot<N>(81, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    for (int s = 0; s < 2; ++s) {
      const int k = 1 + std::uniform_int_distribution<int>(0, N - 1)(rng);
      const HTransform offset = randomPose(rng, 0.2);
      const JointVec q = randomMatrix<N>(rng), qdot = randomMatrix<N>(rng);
      const Eigen::Matrix4d dT = centralDifference(
          [&](double t) {
            setState<N>(m, q + t * qdot, qdot);
            return Eigen::Matrix4d(framePose(m, k, offset));
          },
          kStep);
      setState<N>(m, q, qdot);
      m.updateJacobian(true);
      const Eigen::Matrix4d T = framePose(m, k, offset);
      for (JacobianFrame c : kConventions) {
        SCOPED_TRACE(name(c));
        JointJac J;
        frameJacobian(m, k, offset, c, J);
        EXPECT_MATRIX_CLOSE(J * qdot, velocityFromPose(c, T, dT), kFdTol);
      }
      JointJac Jb;
      frameJacobian(m, k, offset, JacobianFrame::Body, Jb);
      EXPECT_MATRIX_CLOSE(frameTwist(m, k, offset), Jb * qdot, 1e-12);
    }
  });
}

// Jdot is dJ/dt along the motion with the stored rates; the frame's acceleration is the
// derivative of its twist along q(t) = q + t qdot + t^2/2 qddot.
TYPED_TEST(FrameKinematicsTest, DerivativesAreFiniteDifferencesAlongTheMotion) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointJac JointJac;
  forEachRobot<N>(82, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    const int k = 1 + std::uniform_int_distribution<int>(0, N - 1)(rng);
    const HTransform offset = randomPose(rng, 0.2);
    const JointVec q = randomMatrix<N>(rng), qdot = randomMatrix<N>(rng),
                   qddot = randomMatrix<N>(rng);
    for (JacobianFrame c : kConventions) {
      SCOPED_TRACE(name(c));
      const JointJac numeric = centralDifference(
          [&](double t) {
            setState<N>(m, q + t * qdot, qdot);
            m.updateJacobian(true);
            JointJac J;
            frameJacobian(m, k, offset, c, J);
            return J;
          },
          kStep);
      setState<N>(m, q, qdot);
      m.updateJacobian(false);
      JointJac Jdot;
      frameJacobianDot(m, k, offset, c, Jdot);
      EXPECT_MATRIX_CLOSE(Jdot, numeric, kFdTol);
    }
    const Twist numeric = centralDifference(
        [&](double t) {
          setTrajectoryState<N>(m, q, qdot, qddot, t);
          return Twist(frameTwist(m, k, offset));
        },
        kStep);
    setState<N>(m, q, qdot);
    m.updateJacobian(false);
    m.qddot() = qddot;
    EXPECT_MATRIX_CLOSE(frameAcceleration(m, k, offset), numeric, kFdTol);
  });
}

TYPED_TEST(FrameKinematicsTest, FrameKinematicsDoNotAllocate) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointJac JointJac;
  MixedJointRobot<N> r(83, true);
  VexoBaseXD<N>& m = r.model();
  randomState<N>(m, r.rng());
  m.updateJacobian(false);
  const HTransform offset = randomPose(r.rng());
  JointJac J;
  for (JacobianFrame c : kConventions) {
    EXPECT_NO_ALLOCATION(frameJacobian(m, N, offset, c, J));
    EXPECT_NO_ALLOCATION(frameJacobianDot(m, N, offset, c, J));
  }
  EXPECT_NO_ALLOCATION(framePose(m, N, offset));
  EXPECT_NO_ALLOCATION(frameAcceleration(m, N, offset));
}

}  // namespace zorvik_test::dyn::frame_kinematics_test
