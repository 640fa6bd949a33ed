// Derivatives of the inverse and forward dynamics (IdynDerivatives, FdynDerivatives).
//
// Checked against what shares no code with their recursions: numerical derivatives of idyn and
// fdyn themselves, the Hessian of the potential energy computed from the poses alone, the
// homogeneity of the velocity terms (quadratic in the rates) and the joint-space mass equation with
// M from the column passes.
//
// Numerical derivatives: the five-point stencil (support/StateJacobian.h) at h = 1e-3, truncation
// of order h^4 = 1e-12 times the fifth derivative, rounding of order 1e-16 / h; 1e-8 relative to
// the largest entry leaves room for both, and a missed term, a sign or a frame error gives errors
// of order one.
#include <Vexo/DynamicAnalysisXD>

#include "DynamicsTestUtil.h"
#include "support/AllocationCounter.h"
#include "support/StateJacobian.h"

namespace zorvik_test::dyn::derivatives_test {

constexpr double kStep = 1e-3;
constexpr double kTolerance = 1e-8;

template <typename T>
class DerivativesTest : public ::testing::Test {};
TYPED_TEST_SUITE(DerivativesTest, DynamicsWidths, JacobianWidthNames);

template <int N, typename F>
typename VexoBaseXD<N>::JointMat numericalJacobian(VexoBaseXD<N>& m, bool rates, F f) {
  return stateJacobian<N>(m, rates, f, kStep);
}

template <int N>
typename VexoBaseXD<N>::JointVec idynAt(VexoBaseXD<N>& m,
                                        const typename VexoBaseXD<N>::JointVec& qddot) {
  m.idyn(m.qdot(), qddot, gravity());
  return m.tau();
}

template <int N>
typename VexoBaseXD<N>::JointVec fdynAt(VexoBaseXD<N>& m,
                                        const typename VexoBaseXD<N>::JointVec& tau) {
  m.fdyn(tau, gravity());
  return m.qddot();
}

// Both derivatives of idyn and of fdyn against the numerical ones, with external wrenches, added
// biases and derived inertias on the bodies (all constant in their frames), on chains and trees of
// every joint kind (spherical and free joints: derivatives in their rotation vectors).
template <int N>
void checkAgainstNumericalDerivatives(VexoBaseXD<N>& m, std::mt19937& rng) {
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  Loads loads(m, rng);
  for (int s = 0; s < 2; ++s) {
    randomState<N>(m, rng);
    const JointVec qddot = randomMatrix<N>(rng, 2.0), tau = randomMatrix<N>(rng, 5.0);
    JointMat dq, dqdot, ddq, ddqdot, Minv;
    DynamicAnalysisXD<N>::IdynDerivatives(m, qddot, gravity(), dq, dqdot);
    const JointMat dqNum = numericalJacobian(m, false, [&] { return idynAt(m, qddot); });
    const JointMat dqdotNum = numericalJacobian(m, true, [&] { return idynAt(m, qddot); });
    EXPECT_MATRIX_NEAR(dq, dqNum, kTolerance * scale(dqNum));
    EXPECT_MATRIX_NEAR(dqdot, dqdotNum, kTolerance * scale(dqdotNum));

    DynamicAnalysisXD<N>::FdynDerivatives(m, tau, gravity(), ddq, ddqdot, Minv);
    const JointVec qddotFound = m.qddot();
    EXPECT_MATRIX_NEAR(qddotFound, fdynAt(m, tau), 1e-12 * scale(qddotFound));
    const JointMat ddqNum = numericalJacobian(m, false, [&] { return fdynAt(m, tau); });
    const JointMat ddqdotNum = numericalJacobian(m, true, [&] { return fdynAt(m, tau); });
    EXPECT_MATRIX_NEAR(ddq, ddqNum, kTolerance * scale(ddqNum));
    EXPECT_MATRIX_NEAR(ddqdot, ddqdotNum, kTolerance * scale(ddqdotNum));
  }
}

TYPED_TEST(DerivativesTest, MatchNumericalDerivativesOfIdynAndFdyn) {
  constexpr int N = TypeParam::value;
  forEachRobot<N>(61, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    checkAgainstNumericalDerivatives<N>(m, rng);
  });
}

// A base on a moving platform (its own twist and acceleration, not driven by q) changes every
// velocity and acceleration the derivatives start from.
TYPED_TEST(DerivativesTest, MatchNumericalDerivativesOnAMovingPlatform) {
  constexpr int N = TypeParam::value;
  MixedJointRobot<N> robot(62, true);
  PrescribedBaseJoint platform;
  std::mt19937 rng(63);
  platform.Tadj() = randomPose(rng);
  platform.Vadj() = randomTwist(rng);
  platform.acc = randomTwist(rng);
  robot.model().addJoint(0, platform);
  checkAgainstNumericalDerivatives<N>(robot.model(), rng);
}

// The potential energy U(q) of gravity, from the poses alone, by nested five-point differences.
template <int N>
typename VexoBaseXD<N>::JointMat potentialHessian(VexoBaseXD<N>& m) {
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  const JointVec q0 = m.q(), zero = JointVec::Zero();
  typename VexoBaseXD<N>::JointMat H;
  const double h = 1e-3;
  for (int r = 0; r < N; ++r)
    for (int c = 0; c < N; ++c)
      H(r, c) = centralDifference(
          [&](double s) {
            return centralDifference(
                [&](double t) {
                  JointVec q = q0;
                  q(r) += s;
                  q(c) += t;
                  setState<N>(m, q, zero);
                  return potentialEnergy(m, gravity());
                },
                h);
          },
          h);
  setState<N>(m, q0, zero);
  return H;
}

// At rest and without acceleration tau = g(q) = dU/dq, so d tau / dq is the Hessian of the
// potential energy, symmetric, and nothing depends on the rates to first order.
TYPED_TEST(DerivativesTest, AtRestTheStiffnessIsTheHessianOfThePotential) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  forEachRobot<N>(64, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    setState<N>(m, randomMatrix<N>(rng, 1.0), JointVec::Zero());
    JointMat dq, dqdot;
    DynamicAnalysisXD<N>::IdynDerivatives(m, JointVec::Zero(), gravity(), dq, dqdot);
    EXPECT_MATRIX_NEAR(dq, dq.transpose(), 1e-12 * scale(dq));
    // Second differences of U: rounding of order 1e-16 |U| / h^2 = 1e-10 |U|.
    const JointMat H = potentialHessian(m);
    EXPECT_MATRIX_NEAR(dq, H, 1e-6 * scale(H));
    // With an acceleration but no rates, the rate derivative still vanishes.
    DynamicAnalysisXD<N>::IdynDerivatives(m, randomMatrix<N>(rng, 2.0), gravity(), dq, dqdot);
    EXPECT_MATRIX_NEAR(dqdot, JointMat::Zero(), 1e-13 * scale(dq));
  });
}

// The velocity terms tau - M qddot - g are homogeneous of degree two in the rates, so by Euler's
// theorem d tau / d qdot times qdot is twice them; M and g from the column passes.
TYPED_TEST(DerivativesTest, RateDerivativeTimesRatesIsTwiceTheVelocityTerms) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  forEachRobot<N>(65, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    const JointVec qddot = randomMatrix<N>(rng, 2.0);
    JointMat dq, dqdot, M, C;
    JointVec G;
    DynamicAnalysisXD<N>::IdynDerivatives(m, qddot, gravity(), dq, dqdot);
    DynamicAnalysisXD<N>::JointDynamics(m, M, C, G, gravity());
    const JointVec velocityTerms = idynAt(m, qddot) - M * qddot - G;
    const JointVec lhs = dqdot * m.qdot();
    EXPECT_MATRIX_NEAR(lhs, 2 * velocityTerms, 1e-12 * scale(lhs));
  });
}

// At fixed tau, idyn(q, qdot, fdyn(q, qdot, tau)) = tau, so M d qddot / dq = -d tau / dq at the
// forward dynamics' qddot (likewise for the rates), and d qddot / d tau = M^-1.
TYPED_TEST(DerivativesTest, ForwardDerivativesSatisfyTheMassEquation) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  forEachRobot<N>(66, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    Loads loads(m, rng);
    randomState<N>(m, rng);
    const JointVec tau = randomMatrix<N>(rng, 5.0);
    JointMat ddq, ddqdot, Minv, dq, dqdot, M, C;
    JointVec G;
    DynamicAnalysisXD<N>::FdynDerivatives(m, tau, gravity(), ddq, ddqdot, Minv);
    DynamicAnalysisXD<N>::IdynDerivatives(m, JointVec(m.qddot()), gravity(), dq, dqdot);
    DynamicAnalysisXD<N>::JointDynamics(m, M, C, G, gravity());
    EXPECT_MATRIX_NEAR(JointMat(M * ddq), JointMat(-dq), 1e-10 * scale(dq));
    EXPECT_MATRIX_NEAR(JointMat(M * ddqdot), JointMat(-dqdot), 1e-10 * scale(dqdot));
    EXPECT_MATRIX_NEAR(JointMat(Minv * M), JointMat::Identity(), 1e-10);
  });
}

// Nothing in the model changes but what the header names (fdyn's qddot), and nothing allocates.
TYPED_TEST(DerivativesTest, LeaveTheModelAsItWasAndDoNotAllocate) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  MixedJointRobot<N> robot(67, true);
  VexoBaseXD<N>& m = robot.model();
  std::mt19937& rng = robot.rng();
  randomState<N>(m, rng);
  m.tau().setConstant(3.0);
  m.qddot().setConstant(4.0);
  const JointVec qddot = randomMatrix<N>(rng, 2.0), tau = randomMatrix<N>(rng, 5.0);
  std::vector<Twist> V, Vadj;
  for (int k = 0; k <= N; ++k) {
    V.push_back(m.body(k).V());
    Vadj.push_back(m.joint(k).Vadj());
  }
  JointMat a, b, c;
  EXPECT_NO_ALLOCATION(DynamicAnalysisXD<N>::IdynDerivatives(m, qddot, gravity(), a, b));
  EXPECT_MATRIX_EQ(m.tau(), JointVec::Constant(3.0));
  EXPECT_MATRIX_EQ(m.qddot(), JointVec::Constant(4.0));
  EXPECT_NO_ALLOCATION(DynamicAnalysisXD<N>::FdynDerivatives(m, tau, gravity(), a, b, c));
  EXPECT_MATRIX_EQ(m.tau(), JointVec::Constant(3.0));
  const JointVec qddotFound = m.qddot();
  EXPECT_MATRIX_NEAR(qddotFound, fdynAt(m, tau), 1e-12 * scale(qddotFound));
  for (int k = 0; k <= N; ++k) {
    EXPECT_MATRIX_EQ(m.body(k).V(), V[k]);
    EXPECT_MATRIX_EQ(m.joint(k).Vadj(), Vadj[k]);
  }
}

// A massless last link leaves M singular: the Cholesky route has no positive pivot there, and the
// result is the articulated-body inverse's, zero row and column for that joint, finite elsewhere.
TEST(DerivativesOfAMasslessSubtree, TakeTheArticulatedBodyInverse) {
  ZORVIK_SKIP_WITH_DEBUG_LIBRARY();
  typedef VexoBaseXD<7>::JointVec JointVec;
  typedef VexoBaseXD<7>::JointMat JointMat;
  RandomRobot<7> robot(68);
  VexoBaseXD<7>& m = robot.model();
  m.body(7).setInertia(Inertia());
  randomState<7>(m, robot.rng());
  JointMat ddq, ddqdot, Minv, expected;
  DynamicAnalysisXD<7>::FdynDerivatives(m, JointVec::Constant(1.0), gravity(), ddq, ddqdot, Minv);
  DynamicAnalysisXD<7>::MassInverse(m, expected);
  EXPECT_MATRIX_EQ(Minv, expected);
  EXPECT_TRUE(Minv.row(6).isZero(0));
  EXPECT_TRUE(ddq.allFinite() && ddqdot.allFinite() && m.qddot().allFinite());
}

// ---------------------------------------------------------------------------------------------
// Client joints: a screw joint written by a client (E constant: exact), and a class derived from
// the spherical joint (taken as a client's; E depends on q, which the contract cannot tell).

class ScrewJoint;
class DerivedBallJoint;

}  // namespace zorvik_test::dyn::derivatives_test

template <>
struct ZorvikFoundation::JointTraits<zorvik_test::dyn::derivatives_test::ScrewJoint>
    : ZorvikFoundation::JointKind<ZorvikFoundation::CUSTOM, 1> {};

namespace zorvik_test::dyn::derivatives_test {

// Rotation q about the joint frame's z axis and translation pitch q along it:
// M(q) = (Rz(q), pitch q z), whose body twist is (pitch z, z) qdot, so E is constant.
class ScrewJoint : public JointBase<ScrewJoint> {
 public:
  using JointBase::update;
  ScrewJoint(const HTransform& origin, double pitch) : JointBase(origin), _pitch(pitch) {
    _E(2, 0) = pitch;
    _E(5, 0) = 1;
  }
  void update(const double* q) override {
    const HTransform M(ZorvikFoundation::internal::axisRotation(Eigen::Vector3d::UnitZ(), q[0]),
                       Eigen::Vector3d(0, 0, _pitch * q[0]));
    _Tadj = _Toffset.cascade(M);
  }
  void updateVelocity(const double*, const double* qdot) override {
    _Vadj = Twist(_E.col(0) * qdot[0]);
  }

 private:
  double _pitch;
};

class DerivedBallJoint : public SphericalJoint {
 public:
  explicit DerivedBallJoint(const HTransform& origin) : SphericalJoint(origin) {}
};

// A random chain of seven bodies with joints revolute, screw, rigid, ball, screw, rigid, revolute;
// the ball is the library's spherical joint or the derived class.
class ClientJointChain {
 public:
  ClientJointChain(unsigned seed, bool derivedBall) : robot_(seed, false, JointMix::Revolute) {
    std::mt19937& rng = robot_.rng();
    replace(2, new ScrewJoint(randomPose(rng), 0.3));
    replace(3, new RigidJoint(randomPose(rng)));
    if (derivedBall)
      replace(4, new DerivedBallJoint(randomPose(rng)));
    else
      replace(4, new SphericalJoint(randomPose(rng)));
    replace(5, new ScrewJoint(randomPose(rng), -0.2));
    replace(6, new RigidJoint(randomPose(rng)));
    randomState<7>(model(), rng);
  }
  VexoBaseXD<7>& model() { return robot_.model(); }
  std::mt19937& rng() { return robot_.rng(); }
  // Columns of the ball's coordinates: after joints 1 and 2, one coordinate each.
  static constexpr int kBallColumn = 2;

 private:
  template <typename J>
  void replace(int k, J* joint) {
    owned_.push_back(ownJoint(joint));
    robot_.model().addJoint(k, *joint);
  }
  RandomRobot<7> robot_;
  std::vector<OwnedJoint> owned_;
};

TEST(DerivativesOfClientJoints, AJointWithConstantMotionSubspaceIsExact) {
  ClientJointChain chain(71, false);
  checkAgainstNumericalDerivatives<7>(chain.model(), chain.rng());
}

// The derived ball's E depends on its coordinates: its own columns of d tau / dq are NaN, every
// other column and d tau / d qdot are exact, and the joint's rates are put back.
TEST(DerivativesOfClientJoints, AJointWhoseMotionSubspaceVariesGetsNaNColumnsInARelease) {
  ZORVIK_SKIP_WITH_DEBUG_LIBRARY();
  typedef VexoBaseXD<7>::JointVec JointVec;
  typedef VexoBaseXD<7>::JointMat JointMat;
  ClientJointChain chain(72, true), reference(72, false);
  VexoBaseXD<7>& m = chain.model();
  const JointVec qddot = randomMatrix<7>(chain.rng(), 2.0);
  const Twist Vadj = m.joint(4).Vadj();
  const Matrix6d Edot = m.joint(4).Edot();
  JointMat dq, dqdot, dqRef, dqdotRef;
  DynamicAnalysisXD<7>::IdynDerivatives(m, qddot, gravity(), dq, dqdot);
  DynamicAnalysisXD<7>::IdynDerivatives(reference.model(), qddot, gravity(), dqRef, dqdotRef);
  EXPECT_MATRIX_EQ(m.joint(4).Vadj(), Vadj);
  EXPECT_MATRIX_EQ(m.joint(4).Edot(), Edot);
  const int b = ClientJointChain::kBallColumn;
  EXPECT_TRUE(dq.middleCols(b, 3).array().isNaN().all());
  EXPECT_MATRIX_NEAR(dq.leftCols(b), dqRef.leftCols(b), 1e-13 * scale(dqRef));
  EXPECT_MATRIX_NEAR(dq.rightCols(7 - b - 3), dqRef.rightCols(7 - b - 3), 1e-13 * scale(dqRef));
  EXPECT_MATRIX_NEAR(dqdot, dqdotRef, 1e-13 * scale(dqdotRef));
}

}  // namespace zorvik_test::dyn::derivatives_test
