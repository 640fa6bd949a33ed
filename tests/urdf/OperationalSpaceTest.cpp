// The operational-space dynamics (OperationalSpaceXD) and the mass matrix alone (MassMatrix), on the
// bundled robots with their usual tasks (UR5 and Panda: the tool frame; Baxter: both hands, 12 rows;
// Allegro: the four fingertips, position rows), on random chains and trees of every joint kind, on
// a two-link planar arm worked out by hand, and at singular states. The oracles: the dense route a
// client would write (tests/support/OperationalSpaceReference.h), the articulated-body inverse mass
// matrix (MassInverse), DART's inverse mass matrix, the forward dynamics (the commanded task
// acceleration must come out), and the closed form.
#include <Vexo/OperationalSpaceXD>
#include <ZorvikURDF/RobotLoader>
#include <cmath>
#include <random>

#include "support/AllocationCounter.h"
#include "support/DartOracle.h"
#include "support/DynamicsRobots.h"
#include "support/Eigenvalues.h"
#include "support/LibraryVariant.h"
#include "support/GeneralPathTwin.h"
#include "support/OperationalSpaceReference.h"
#include "urdf/RobotFiles.h"

namespace zorvik_test::operational_space_test {

using namespace ZorvikFoundation;
using VexoSDK::JacobianFrame;
using VexoSDK::TaskRows;

const Vector3D kGravity(0.7, -0.4, -9.81);
// The routes differ in order of operations only: rounding of 1e-14 relative; a wrong sign, frame
// or term gives errors of order one.
constexpr double kTolerance = 1e-10;

const JacobianFrame kConventions[] = {JacobianFrame::Body, JacobianFrame::WorldAligned,
                                      JacobianFrame::Spatial};
const TaskRows kRowChoices[] = {TaskRows::All, TaskRows::Linear, TaskRows::Angular};

// The bundled robots' tasks: link names and rows.
template <typename R>
struct RobotTasks;
template <>
struct RobotTasks<Ur5> {
  static std::vector<std::string> links() { return {"tool0"}; }
  static constexpr TaskRows rows = TaskRows::All;
};
template <>
struct RobotTasks<PandaArm> {
  static std::vector<std::string> links() { return {"panda_hand"}; }
  static constexpr TaskRows rows = TaskRows::All;
};
template <>
struct RobotTasks<BaxterArms> {
  static std::vector<std::string> links() { return {"right_hand_link", "left_hand_link"}; }
  static constexpr TaskRows rows = TaskRows::All;
};
template <>
struct RobotTasks<AllegroHand> {
  static std::vector<std::string> links() {
    return {"link_3.0_tip", "link_7.0_tip", "link_11.0_tip", "link_15.0_tip"};
  }
  static constexpr TaskRows rows = TaskRows::Linear;
};

// The same tasks on OperationalSpaceXD and on the dense route.
template <int N>
struct TaskPair {
  VexoSDK::OperationalSpaceXD<N> osc;
  DenseOperationalSpace<N> dense;
  void add(int body, const HTransform& offset, JacobianFrame convention, TaskRows rows) {
    osc.addTask(body, offset, convention, rows);
    dense.addTask(body, offset, convention, rows);
  }
  void add(const URDF::Robot<N>& robot, const std::string& link, JacobianFrame convention,
           TaskRows rows) {
    const int f = robot.frameIndex(link);
    add(robot.frameBody(f), robot.frameOffset(f), convention, rows);
  }
};

template <int N>
void setState(VexoSDK::VexoBaseXD<N>& model, const Eigen::Matrix<double, N, 1>& q,
              const Eigen::Matrix<double, N, 1>& qdot) {
  model.q() = q;
  model.qdot() = qdot;
  model.update(false);
  model.updateJacobian(false);
}

// A random state at which the tasks are well away from any singularity (conditioning of A above
// 1e-6, with the damping threshold below it), so that the exact inverse is compared; the state
// is left in the model and the results in osc.
template <int N, typename Rng>
void drawRegularState(VexoSDK::OperationalSpaceXD<N>& osc, VexoSDK::VexoBaseXD<N>& model,
                      Rng& rng) {
  osc.setSingularThreshold(1e-9);
  for (int attempt = 0; attempt < 50; ++attempt) {
    setState<N>(model, randomMatrix<N>(rng, 1.2), randomMatrix<N>(rng, 1.5));
    osc.compute(model, kGravity);
    if (osc.conditioning() > 1e-6) return;
  }
  FAIL() << "no regular state found";
}

// Every result of OperationalSpaceXD against the dense route at a non-singular state. A square
// task (UR5) has P = 0: P is compared through I - P = J^T Jbar^T.
template <int N>
void expectSameAsDenseRoute(TaskPair<N>& p, VexoSDK::VexoBaseXD<N>& model) {
  typedef typename VexoSDK::VexoBaseXD<N>::JointMat JointMat;
  p.osc.compute(model, kGravity);
  p.dense.compute(model, kGravity);
  ASSERT_FALSE(p.osc.damped()) << "conditioning " << p.osc.conditioning();
  EXPECT_LE(relativeError(p.osc.jacobian(), p.dense.J), kTolerance);
  EXPECT_LE(relativeError(p.osc.inverseInertia(), p.dense.A), kTolerance);
  EXPECT_LE(relativeError(p.osc.taskInertia(), p.dense.Lambda), kTolerance);
  EXPECT_LE(relativeError(p.osc.dynamicallyConsistentInverse(), p.dense.Jbar), kTolerance);
  EXPECT_LE(relativeError(p.osc.taskBias(), p.dense.mu), kTolerance);
  EXPECT_LE(relativeError(JointMat::Identity() - p.osc.nullSpace(), JointMat::Identity() - p.dense.P),
            kTolerance);
  EXPECT_EQ(p.osc.inverseInertia(), p.osc.inverseInertia().transpose());
  EXPECT_EQ(p.osc.taskInertia(), p.osc.taskInertia().transpose());
}

template <typename R>
class OperationalSpaceOnRobots : public ::testing::Test {};
TYPED_TEST_SUITE(OperationalSpaceOnRobots, RobotFiles);

// A = J M^-1 J^T by three other routes: the dense one (Cholesky of the composite-rigid-body M), the
// articulated-body inverse mass matrix, DART's inverse mass matrix. Disjoint branches (Baxter's
// arms, the Allegro's fingers) share no coordinate, so the cross blocks of A are exactly zero.
TYPED_TEST(OperationalSpaceOnRobots, InverseInertiaMatchesDenseArticulatedBodyAndDart) {
  constexpr int N = TypeParam::N;
  typedef typename URDF::Robot<N>::JointMat JointMat;
  URDF::Robot<N> robot = URDF::loadRobot<N>(robotPath(TypeParam::file()));
  std::vector<std::string> names;
  for (int i = 0; i < N; ++i) names.push_back(robot.jointName(i));
  DartRobot dart(robotPath(TypeParam::file()), names, kGravity);
  TaskPair<N> p;
  for (const std::string& link : RobotTasks<TypeParam>::links())
    p.add(robot, link, JacobianFrame::WorldAligned, RobotTasks<TypeParam>::rows);
  const int m = p.osc.rows();
  const int block = m / static_cast<int>(RobotTasks<TypeParam>::links().size());
  std::mt19937 rng(7 + N);
  for (int s = 0; s < 3; ++s) {
    drawRegularState(p.osc, robot, rng);
    expectSameAsDenseRoute(p, robot);
    const auto& J = p.osc.jacobian();
    JointMat Minv;
    VexoSDK::DynamicAnalysisXD<N>::MassInverse(robot, Minv);
    const Eigen::MatrixXd viaAba = J * Minv * J.transpose();
    const Eigen::MatrixXd viaDart = J * dart.inverseMass(robot.q()) * J.transpose();
    EXPECT_LE(relativeError(p.osc.inverseInertia(), viaAba), kTolerance);
    EXPECT_LE(relativeError(p.osc.inverseInertia(), viaDart), kTolerance);
    for (int r = 0; r < m; ++r)
      for (int c = 0; c < m; ++c)
        if (r / block != c / block) {
          EXPECT_EQ(p.osc.inverseInertia()(r, c), 0) << r << ", " << c;
        }
  }
}

// Dynamic consistency: a torque P tau0 accelerates no task frame, J M^-1 P tau0 = 0, and Jbar is a
// generalised inverse of J. Checked with the articulated-body M^-1, not the route's own factor.
TYPED_TEST(OperationalSpaceOnRobots, NullSpaceTorquesDoNotAccelerateTheTasks) {
  constexpr int N = TypeParam::N;
  typedef typename URDF::Robot<N>::JointMat JointMat;
  typedef typename URDF::Robot<N>::JointVec JointVec;
  URDF::Robot<N> robot = URDF::loadRobot<N>(robotPath(TypeParam::file()));
  VexoSDK::OperationalSpaceXD<N> osc;
  for (const std::string& link : RobotTasks<TypeParam>::links()) {
    const int f = robot.frameIndex(link);
    osc.addTask(robot.frameBody(f), robot.frameOffset(f), JacobianFrame::Body,
                RobotTasks<TypeParam>::rows);
  }
  std::mt19937 rng(11 + N);
  for (int s = 0; s < 3; ++s) {
    drawRegularState(osc, robot, rng);
    JointMat Minv;
    VexoSDK::DynamicAnalysisXD<N>::MassInverse(robot, Minv);
    const Eigen::MatrixXd JMinv = osc.jacobian() * Minv;
    const JointVec tau0 = randomMatrix<N>(rng, 10.0);
    EXPECT_LE((JMinv * osc.nullSpace() * tau0).norm(), kTolerance * JMinv.norm() * tau0.norm());
    const Eigen::MatrixXd JJbar = osc.jacobian() * osc.dynamicallyConsistentInverse();
    EXPECT_LE(relativeError(JJbar, Eigen::MatrixXd::Identity(osc.rows(), osc.rows())), kTolerance);
  }
}

// The torque law closes the loop: fdyn of torque(a_task, tau_posture) gives J qddot + Jdot qdot =
// a_task, J and Jdot from the frame kinematics, for every convention and row selection of each
// task, whatever the posture torque. The Allegro's fingertips take position rows only (a finger's
// three parallel flexion axes leave its tip two directions of rotation), and not in the spatial
// convention: those rows, the velocity of the fingertip body's point at the palm's origin, have no
// state with conditioning above 1e-6 among 50 random ones.
TYPED_TEST(OperationalSpaceOnRobots, ForwardDynamicsOfTheTorqueGivesTheTaskAcceleration) {
  constexpr int N = TypeParam::N;
  typedef typename URDF::Robot<N>::JointVec JointVec;
  typedef VexoSDK::OperationalSpaceXD<N> Osc;
  URDF::Robot<N> robot = URDF::loadRobot<N>(robotPath(TypeParam::file()));
  std::mt19937 rng(13 + N);
  for (JacobianFrame convention : kConventions) {
    for (TaskRows rows : kRowChoices) {
      if (RobotTasks<TypeParam>::rows == TaskRows::Linear &&
          (rows != TaskRows::Linear || convention == JacobianFrame::Spatial))
        continue;
      TaskPair<N> p;
      for (const std::string& link : RobotTasks<TypeParam>::links())
        p.add(robot, link, convention, rows);
      drawRegularState(p.osc, robot, rng);
      ASSERT_FALSE(p.osc.damped());
      typename Osc::TaskVector a = Osc::TaskVector::Random(p.osc.rows());
      JointVec tau;
      p.osc.torque(a, randomMatrix<N>(rng, 20.0), tau);
      robot.fdyn(tau, kGravity);
      typename Osc::TaskJacobian J, Jdot;
      p.dense.taskJacobians(robot, J, Jdot);
      const typename Osc::TaskVector achieved = J * robot.qddot() + Jdot * robot.qdot();
      EXPECT_LE((achieved - a).norm(), 1e-9 * a.norm())
          << "convention " << int(convention) << ", rows " << int(rows);
    }
  }
}

// Singular states: the UR5's wrist singularity (wrist 2 at zero: wrists 1 and 3 aligned), the Panda
// stretched out (q = 0), and two tasks that fight (the Panda's hand and its seventh link, 12 rows on
// seven joints). Lambda follows the damped rule: finite, bounded by 1 / (eps s_max), every result
// finite, and the rule reports it.
template <int N>
void expectDampedAndBounded(VexoSDK::OperationalSpaceXD<N>& osc, URDF::Robot<N>& robot) {
  osc.compute(robot, kGravity);
  EXPECT_TRUE(osc.damped());
  EXPECT_LT(osc.conditioning(), osc.singularThreshold());
  const double smax = symmetricEigenvalues(osc.inverseInertia()).maxCoeff();
  const Eigen::VectorXd lam = symmetricEigenvalues(osc.taskInertia());
  EXPECT_LE(lam.maxCoeff(), (1 + 1e-9) / (osc.singularThreshold() * smax));
  EXPECT_GE(lam.minCoeff(), -1e-9 * lam.maxCoeff());
  EXPECT_TRUE(osc.taskInertia().allFinite());
  EXPECT_TRUE(osc.dynamicallyConsistentInverse().allFinite());
  EXPECT_TRUE(osc.taskBias().allFinite());
  EXPECT_TRUE(osc.nullSpace().allFinite());
  typename URDF::Robot<N>::JointVec tau;
  osc.torque(VexoSDK::OperationalSpaceXD<N>::TaskVector::Ones(osc.rows()),
             URDF::Robot<N>::JointVec::Ones(), tau);
  EXPECT_TRUE(tau.allFinite());
}

TEST(OperationalSpaceSingular, WristSingularityStretchedArmAndFightingTasks) {
  URDF::Robot<6> ur5 = URDF::loadRobot<6>(robotPath(Ur5::file()));
  VexoSDK::OperationalSpaceXD<6> tool;
  const int f = ur5.frameIndex("tool0");
  tool.addTask(ur5.frameBody(f), ur5.frameOffset(f), JacobianFrame::WorldAligned, TaskRows::All);
  Eigen::Matrix<double, 6, 1> q;
  q << 0.3, -1.1, 1.4, -0.6, 0.0, 0.8;
  setState<6>(ur5, q, Eigen::Matrix<double, 6, 1>::Constant(0.3));
  expectDampedAndBounded(tool, ur5);
  // Approaching the singularity, the bound holds and the rule takes over continuously.
  double previous = 0;
  for (double q5 : {1e-2, 1e-4, 1e-6}) {
    q(4) = q5;
    setState<6>(ur5, q, Eigen::Matrix<double, 6, 1>::Constant(0.3));
    tool.compute(ur5, kGravity);
    EXPECT_TRUE(tool.taskInertia().allFinite());
    const double norm = tool.taskInertia().norm();
    if (previous > 0) {
      EXPECT_LE(norm, 2 * previous);
    }
    previous = norm;
  }

  URDF::Robot<7> panda = URDF::loadRobot<7>(robotPath(PandaArm::file()));
  const int hand = panda.frameIndex("panda_hand"), link7 = panda.frameIndex("panda_link7");
  VexoSDK::OperationalSpaceXD<7> stretched, fighting;
  stretched.addTask(panda.frameBody(hand), panda.frameOffset(hand), JacobianFrame::Body,
                    TaskRows::All);
  fighting.addTask(panda.frameBody(hand), panda.frameOffset(hand), JacobianFrame::Spatial,
                   TaskRows::All);
  fighting.addTask(panda.frameBody(link7), panda.frameOffset(link7), JacobianFrame::Spatial,
                   TaskRows::All);
  setState<7>(panda, Eigen::Matrix<double, 7, 1>::Zero(), Eigen::Matrix<double, 7, 1>::Zero());
  expectDampedAndBounded(stretched, panda);
  Eigen::Matrix<double, 7, 1> qp;
  qp << 0.2, -0.5, 0.3, -1.8, 0.1, 1.5, 0.4;
  setState<7>(panda, qp, Eigen::Matrix<double, 7, 1>::Constant(0.2));
  expectDampedAndBounded(fighting, panda);
}

// Nothing allocates: compute (undamped and damped), torque, conditioning.
TEST(OperationalSpaceRealTime, ComputeTorqueAndConditioningDoNotAllocate) {
  URDF::Robot<7> panda = URDF::loadRobot<7>(robotPath(PandaArm::file()));
  const int hand = panda.frameIndex("panda_hand");
  VexoSDK::OperationalSpaceXD<7> osc;
  osc.addTask(panda.frameBody(hand), panda.frameOffset(hand), JacobianFrame::WorldAligned,
              TaskRows::All);
  const VexoSDK::OperationalSpaceXD<7>::TaskVector a = VexoSDK::OperationalSpaceXD<7>::TaskVector::Ones(6);
  Eigen::Matrix<double, 7, 1> q, tau;
  q << 0.2, -0.5, 0.3, -1.8, 0.1, 1.5, 0.4;
  for (const bool singular : {false, true}) {
    setState<7>(panda, singular ? Eigen::Matrix<double, 7, 1>::Zero() : q, q);
    EXPECT_NO_ALLOCATION(osc.compute(panda, kGravity));
    EXPECT_EQ(osc.damped(), singular);
    EXPECT_NO_ALLOCATION(osc.torque(a, q, tau));
    EXPECT_NO_ALLOCATION(doNotOptimize(osc.conditioning()));
  }
}

// Random chains and trees of every joint kind (multi-coordinate joints, motion subspaces that depend
// on q), on the library's path and through the general path (derived classes): the factor along the
// tree against the dense route.
TEST(OperationalSpaceRandomModels, MatchesTheDenseRouteOnChainsAndTreesOfEveryJointKind) {
  constexpr int N = 16;
  for (unsigned seed = 0; seed < 4; ++seed) {
    MixedJointRobot<N> robot(300 + seed, seed % 2 == 1);
    std::mt19937& rng = robot.rng();
    GeneralPathTwin<N> twin(robot.model());
    // Tasks on the bodies with the most coordinates on their paths, each kept only if the stack
    // stays regular (a random tree leaves some bodies fewer than six).
    int pathDof[N + 1] = {0};
    for (int k = 1; k <= N; ++k) pathDof[k] = pathDof[robot.model().parent(k)] + robot.joint(k).dof();
    const HTransform offsets[3] = {randomPose(rng), randomPose(rng), randomPose(rng)};
    const JacobianFrame conventions[3] = {JacobianFrame::Spatial, JacobianFrame::Body,
                                          JacobianFrame::WorldAligned};
    const TaskRows rows[3] = {TaskRows::All, TaskRows::Linear, TaskRows::Angular};
    for (VexoSDK::VexoBaseXD<N>* model : {&robot.model(), &twin.model()}) {
      std::mt19937 stateRng(seed);
      setState<N>(*model, randomMatrix<N>(stateRng), randomMatrix<N>(stateRng));
      TaskPair<N> p;
      p.osc.setSingularThreshold(1e-9);
      for (int t = 0, body = N; t < 3 && body > 0; --body) {
        if (pathDof[body] < 6) continue;
        TaskPair<N> trial = p;
        trial.add(body, offsets[t], conventions[t], rows[t]);
        trial.osc.compute(*model, kGravity);
        if (trial.osc.conditioning() < 1e-6) continue;
        p = trial;
        ++t;
      }
      ASSERT_GT(p.osc.taskCount(), 0);
      expectSameAsDenseRoute(p, *model);
    }
  }
}

// MassMatrix: the M of JointDynamics, exactly symmetric, on both paths; its product with DART's
// inverse mass matrix is the identity.
TYPED_TEST(OperationalSpaceOnRobots, MassMatrixIsJointDynamicsMAndInvertsDartsInverse) {
  constexpr int N = TypeParam::N;
  typedef typename URDF::Robot<N>::JointMat JointMat;
  typedef typename URDF::Robot<N>::JointVec JointVec;
  URDF::Robot<N> robot = URDF::loadRobot<N>(robotPath(TypeParam::file()));
  std::vector<std::string> names;
  for (int i = 0; i < N; ++i) names.push_back(robot.jointName(i));
  DartRobot dart(robotPath(TypeParam::file()), names, kGravity);
  GeneralPathTwin<N> twin(robot);
  std::mt19937 rng(17 + N);
  const JointVec q = randomMatrix<N>(rng, 1.2), qdot = randomMatrix<N>(rng);
  for (VexoSDK::VexoBaseXD<N>* model : {static_cast<VexoSDK::VexoBaseXD<N>*>(&robot), &twin.model()}) {
    setState<N>(*model, q, qdot);
    JointMat M, Mj, C;
    JointVec G;
    VexoSDK::DynamicAnalysisXD<N>::MassMatrix(*model, M);
    VexoSDK::DynamicAnalysisXD<N>::JointDynamics(*model, Mj, C, G, kGravity);
    EXPECT_EQ(M, M.transpose());
    EXPECT_LE(relativeError(M, Mj), 1e-13);
    EXPECT_LE(relativeError(M * dart.inverseMass(q), JointMat::Identity()), kTolerance);
  }
}

// A two-link planar arm (revolute about z, links of lengths l1, l2 along x, point masses m1, m2 at
// their ends), the tip's position rows against the textbook closed form:
//   M = [[m1 l1^2 + m2 (l1^2 + l2^2 + 2 l1 l2 c2), m2 (l2^2 + l1 l2 c2)],
//        [m2 (l2^2 + l1 l2 c2),                    m2 l2^2]],
//   J = [[-l1 s1 - l2 s12, -l2 s12], [l1 c1 + l2 c12, l2 c12]]   (x and y of the tip),
// A = J M^-1 J^T on x, y; the z row of the tip never moves: a zero row and column, which the rule
// damps to a zero task inertia in that direction and the exact inverse in the plane.
TEST(OperationalSpaceClosedForm, TwoLinkPlanarArm) {
  const double l1 = 0.7, l2 = 0.45, m1 = 2.0, m2 = 1.3;
  std::vector<std::unique_ptr<Body>> bodies;
  for (int k = 0; k < 3; ++k) bodies.emplace_back(new Body());
  bodies[1]->setInertia(Inertia(m1, l1, 0, 0, 0, 0, 0, 0, 0, 0));
  bodies[2]->setInertia(Inertia(m2, l2, 0, 0, 0, 0, 0, 0, 0, 0));
  RigidJoint base(HTransform::Identity());
  RevoluteJoint j1(HTransform::Identity(), Vector3D(0, 0, 1));
  RevoluteJoint j2(HTransform(Eigen::Matrix3d::Identity(), Eigen::Vector3d(l1, 0, 0)),
                   Vector3D(0, 0, 1));
  VexoSDK::VexoBaseXD<2> arm;
  arm.addJoint(0, base);
  for (int k = 0; k < 3; ++k) arm.addBody(k, *bodies[k]);
  arm.connect(0, 1, j1);
  arm.connect(1, 2, j2);
  const double q1 = 0.4, q2 = 1.1;
  setState<2>(arm, Eigen::Vector2d(q1, q2), Eigen::Vector2d(0.5, -0.3));
  VexoSDK::OperationalSpaceXD<2> osc;
  osc.setSingularThreshold(1e-3);
  osc.addTask(2, HTransform(Eigen::Matrix3d::Identity(), Eigen::Vector3d(l2, 0, 0)),
              JacobianFrame::WorldAligned, TaskRows::Linear);
  osc.compute(arm, Vector3D(0, 0, 0));

  const double c2 = std::cos(q2), s1 = std::sin(q1), c1 = std::cos(q1);
  const double s12 = std::sin(q1 + q2), c12 = std::cos(q1 + q2);
  Eigen::Matrix2d M, J;
  M << m1 * l1 * l1 + m2 * (l1 * l1 + l2 * l2 + 2 * l1 * l2 * c2), m2 * (l2 * l2 + l1 * l2 * c2),
      m2 * (l2 * l2 + l1 * l2 * c2), m2 * l2 * l2;
  J << -l1 * s1 - l2 * s12, -l2 * s12, l1 * c1 + l2 * c12, l2 * c12;
  const Eigen::Matrix2d A = J * M.inverse() * J.transpose();
  EXPECT_LE(relativeError(osc.inverseInertia().topLeftCorner(2, 2), A), kTolerance);
  EXPECT_LE(osc.inverseInertia().row(2).norm(), 1e-15);
  EXPECT_TRUE(osc.damped());
  EXPECT_LT(osc.conditioning(), 1e-12);
  EXPECT_LE(relativeError(osc.taskInertia().topLeftCorner(2, 2), A.inverse()), 1e-9);
  EXPECT_LE(osc.taskInertia().row(2).norm(), 1e-6 * A.inverse().norm());
}

// Tasks on separate branches and tasks sharing part of a path, their rows interleaved: Baxter's
// right hand and right elbow (one arm: rows 0-2 and 9-11) with the left hand between them (rows
// 3-8), then the same tasks in another order on the same object. A is inverted arm by arm and the
// products run over the coordinates on and below each arm's paths, so a row taken from the wrong
// task, a block inverted on the wrong rows or a structure kept from the first task set shows as a
// difference from the dense route; the blocks across the arms are exactly zero.
TEST(OperationalSpaceSparsity, InterleavedTasksOnSeparateArmsMatchTheDenseRoute) {
  URDF::Robot<14> robot = URDF::loadRobot<14>(robotPath(BaxterArms::file()));
  const char* right[] = {"right_hand_link", "right_lower_elbow"};
  TaskPair<14> p, reordered;
  p.add(robot, right[0], JacobianFrame::WorldAligned, TaskRows::Linear);
  p.add(robot, "left_hand_link", JacobianFrame::Spatial, TaskRows::All);
  p.add(robot, right[1], JacobianFrame::Body, TaskRows::Linear);
  std::mt19937 rng(17);
  drawRegularState(p.osc, robot, rng);
  expectSameAsDenseRoute(p, robot);
  const auto leftRow = [](int r) { return r >= 3 && r < 9; };
  for (int r = 0; r < 12; ++r)
    for (int c = 0; c < 12; ++c)
      if (leftRow(r) != leftRow(c)) {
        EXPECT_EQ(p.osc.inverseInertia()(r, c), 0) << r << ", " << c;
        EXPECT_EQ(p.osc.taskInertia()(r, c), 0) << r << ", " << c;
      }
  // The object that held the first task set, its tasks cleared and added anew.
  reordered.osc = p.osc;
  reordered.osc.clearTasks();
  reordered.add(robot, right[1], JacobianFrame::Body, TaskRows::Linear);
  reordered.add(robot, right[0], JacobianFrame::WorldAligned, TaskRows::Linear);
  expectSameAsDenseRoute(reordered, robot);
}

// Tasks beyond four or 24 rows, or on a body the model does not have, are refused (an assertion in
// the debug build) and leave the task set as it was.
TEST(OperationalSpaceTasks, RefusesAFifthTaskMoreThan24RowsAndMissingBodies) {
  ZORVIK_SKIP_WITH_DEBUG_LIBRARY();
  VexoSDK::OperationalSpaceXD<7> osc;
  EXPECT_EQ(osc.addTask(8, HTransform::Identity(), JacobianFrame::Body, TaskRows::All), -1);
  EXPECT_EQ(osc.addTask(7, HTransform::Identity(), JacobianFrame::Body, TaskRows::Linear), 0);
  EXPECT_EQ(osc.addTask(7, HTransform::Identity(), JacobianFrame::Body, TaskRows::All), 3);
  EXPECT_EQ(osc.addTask(6, HTransform::Identity(), JacobianFrame::Body, TaskRows::All), 9);
  EXPECT_EQ(osc.addTask(5, HTransform::Identity(), JacobianFrame::Body, TaskRows::All), 15);
  EXPECT_EQ(osc.addTask(4, HTransform::Identity(), JacobianFrame::Body, TaskRows::Linear), -1);
  EXPECT_EQ(osc.rows(), 21);
  osc.clearTasks();
  for (int t = 0; t < 4; ++t)
    EXPECT_EQ(osc.addTask(7, HTransform::Identity(), JacobianFrame::Body, TaskRows::All), 6 * t);
  EXPECT_EQ(osc.addTask(7, HTransform::Identity(), JacobianFrame::Body, TaskRows::Angular), -1);
  EXPECT_EQ(osc.rows(), 24);
}

}  // namespace zorvik_test::operational_space_test
