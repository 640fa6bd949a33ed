// Layout and base-kind checks of the inverse dynamics. The debug build asserts that
//   - the floating-base overloads (explicit base motion) run on a floating model: no base joint, or
//     one of type FLOATING;
//   - the fixed-base operations have a base joint, that it has no coordinates (joints 1..N own the
//     joint vectors: a base joint with coordinates would push every later slice of qdot and qddot
//     one entry further), and that the joints' coordinates fit in N (the passes would otherwise
//     read and write past the end of the joint vectors);
//   - update() checks the same sum before it reads the coordinates.
// The release build checks nothing: there the floating-base call on a fixed base runs and gives
// what the fixed-base form gives for the same base acceleration.
#include <Vexo/DynamicAnalysisXD>
#include <Vexo/MomentumObserverXD>

#include "dynamics/DynamicsTestUtil.h"

namespace zorvik_test::dyn::inverse_dynamics_assertion_test {

template <int N>
void bodiesAndChain(VexoBaseXD<N>& m, std::vector<std::unique_ptr<Body>>& bodies) {
  std::mt19937 rng(7);
  for (int k = 0; k <= N; ++k) {
    bodies.emplace_back(new Body());
    bodies.back()->setInertia(randomInertia(rng));
    m.addBody(k, *bodies.back());
  }
}

#ifndef NDEBUG

const char kFloatingOnly[] = "The base body should not have any joint, even the free joint\\.";

template <typename T>
class InverseDynamicsDeathTest : public ::testing::Test {};
TYPED_TEST_SUITE(InverseDynamicsDeathTest, DynamicsWidths, JacobianWidthNames);

TYPED_TEST(InverseDynamicsDeathTest, FloatingBaseOverloadsRejectAFixedBase) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  RandomRobot<N> r(61);
  VexoBaseXD<N>& m = r.model();
  randomState<N>(m, r.rng());
  ASSERT_FALSE(m.isFloating());
  const JointVec a = JointVec::Ones(), b = JointVec::Ones();
  const Twist V, A;
  const Vector3D g = gravity();
  EXPECT_DEATH(m.idyn(V, A, a, b, g), kFloatingOnly);
  EXPECT_DEATH(m.idyn(V, A, a, b), kFloatingOnly);
  EXPECT_DEATH(m.idyn_passive(V, A, a, b, g), kFloatingOnly);
  EXPECT_DEATH(m.idyn_passive(V, A, a, b), kFloatingOnly);
  EXPECT_DEATH(m.idyn_momentum(A, a), kFloatingOnly);

  // A FREE base joint (six coordinates of its own) is not a floating base either.
  FreeJoint free;
  m.addJoint(0, free);
  EXPECT_DEATH(m.idyn(V, A, a, b, g), kFloatingOnly);
  m.addJoint(0, r.joint(0));
}

// A RevoluteJoint as base joint, with a rigid joint among the others so that the coordinates still
// add up to N: update() accepts the layout, every fixed-base operation rejects it.
TYPED_TEST(InverseDynamicsDeathTest, FixedBaseOperationsRejectABaseJointWithCoordinates) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  VexoBaseXD<N> m;
  std::vector<std::unique_ptr<Body>> bodies;
  bodiesAndChain<N>(m, bodies);
  RevoluteJoint base;
  RigidJoint rigid;
  std::vector<RevoluteJoint> revolutes(N);
  m.addJoint(0, base);
  m.connect(0, 1, rigid);
  for (int k = 2; k <= N; ++k) m.connect(k - 1, k, revolutes[k - 1]);
  m.update(false);

  const char msg[] = "base joint without coordinates";
  const JointVec a = JointVec::Ones();
  const Vector3D g = gravity();
  EXPECT_DEATH(m.idyn(a, a, g), msg);
  EXPECT_DEATH(m.idyn(a, a), msg);
  EXPECT_DEATH(m.idyn_passive(a, a, g), msg);
  EXPECT_DEATH(m.idyn_passive(a, a), msg);
  EXPECT_DEATH(m.idyn_gravity(g), msg);
  EXPECT_DEATH(m.idyn_momentum(a), msg);
  JointMat M, C;
  JointVec G;
  EXPECT_DEATH(DynamicAnalysisXD<N>::JointDynamics(m, M, C, G, g), msg);
  MomentumObserverXD<N> obs;
  EXPECT_DEATH(obs.estimate(m, G, g), msg);
}

TYPED_TEST(InverseDynamicsDeathTest, FixedBaseOperationsNeedABaseJoint) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  VexoBaseXD<N> m;
  std::vector<std::unique_ptr<Body>> bodies;
  bodiesAndChain<N>(m, bodies);
  std::vector<RevoluteJoint> revolutes(N);
  for (int k = 1; k <= N; ++k) m.connect(k - 1, k, revolutes[k - 1]);
  const char msg[] = "needs a base joint";
  const JointVec a = JointVec::Ones();
  EXPECT_DEATH(m.idyn(a, a, gravity()), msg);
  EXPECT_DEATH(m.idyn_gravity(gravity()), msg);
  EXPECT_DEATH(m.idyn_momentum(a), msg);
}

// A SphericalJoint among N-1 revolute joints: N+2 coordinates in N-entry vectors. Nothing may read
// the coordinates; the checks run first.
TYPED_TEST(InverseDynamicsDeathTest, CoordinatesBeyondNAreRejected) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  VexoBaseXD<N> m;
  std::vector<std::unique_ptr<Body>> bodies;
  bodiesAndChain<N>(m, bodies);
  RigidJoint base;
  SphericalJoint ball;
  std::vector<RevoluteJoint> revolutes(N);
  m.addJoint(0, base);
  for (int k = 1; k <= N; ++k) {
    if (k == 3)
      m.connect(k - 1, k, ball);
    else
      m.connect(k - 1, k, revolutes[k - 1]);
  }
  const char msg[] = "coordinates add up to more than N";
  const JointVec a = JointVec::Ones();
  const Vector3D g = gravity();
  EXPECT_DEATH(m.update(false), msg);
  EXPECT_DEATH(m.update(true), msg);
  EXPECT_DEATH(m.idyn(a, a, g), msg);
  EXPECT_DEATH(m.idyn(a, a), msg);
  EXPECT_DEATH(m.idyn_passive(a, a, g), msg);
  EXPECT_DEATH(m.idyn_passive(a, a), msg);
  EXPECT_DEATH(m.idyn_gravity(g), msg);
  EXPECT_DEATH(m.idyn_momentum(a), msg);
}

#else

template <typename T>
class InverseDynamicsReleaseTest : public ::testing::Test {};
TYPED_TEST_SUITE(InverseDynamicsReleaseTest, DynamicsWidths, JacobianWidthNames);

// Without the check, the floating-base idyn on a fixed base uses the given base acceleration and
// slices from offset 0 (the base joint has no coordinates here), so with the fixed base's own
// acceleration (zero: the base joint is rigid) it gives the fixed-base torques.
TYPED_TEST(InverseDynamicsReleaseTest, FloatingBaseOverloadOnAFixedBaseRunsUnchecked) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  RandomRobot<N> r(62);
  VexoBaseXD<N>& m = r.model();
  randomState<N>(m, r.rng());
  const JointVec qddot = randomMatrix<N>(r.rng());
  m.idyn(m.qdot(), qddot, gravity());
  const JointVec fixedTau = m.tau();
  m.idyn(Twist(), Twist(), m.qdot(), qddot, gravity());
  EXPECT_MATRIX_NEAR(m.tau(), fixedTau, 1e-10 * scale(fixedTau));
}

#endif

}  // namespace zorvik_test::dyn::inverse_dynamics_assertion_test
