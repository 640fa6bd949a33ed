// Forward kinematics of VexoBaseXD<N> against independent computations:
//   - a UR5 (N = 6) from its published classic Denavit-Hartenberg table, built with the library's
//     modified-DH revolute joints, and a Franka Panda (N = 7) from its published modified-DH table,
//     built with URDF-style revolute joints; every body pose against the product of homogeneous
//     transforms of the table, every body twist against the sum of the joints' twists carried into
//     the body and against finite differences of the poses;
//   - a 16-joint chain of every joint kind (including zero- and multi-coordinate joints) and random
//     chains and trees for N = 6, 7, 14, 16, likewise;
//   - the edge cases of the update operations, the moving base, the copy constructor and the way
//     coordinates are handed to the joints.
#include <Vexo/VexoXD>

#include <memory>
#include <type_traits>

#include "ModelReference.h"
#include "support/JacobianWidths.h"
#include "support/RandomRobot.h"

namespace zorvik_test::forward_kinematics_test {

constexpr double kPoseTol = 1e-12;   // relative, poses and exact twists
constexpr double kFdTol = 1e-9;      // twists against fourth-order finite differences, h = 1e-3

template <int N>
struct Constants {
  typedef VexoBaseXD<N> M;
  static_assert(M::NUM_BODIES == N + 1 && M::NUM_JOINTS == N && M::NUM_TOTAL_JOINTS == N + 1 &&
                    M::JOINT_DOF == N && M::SYSTEM_DOF == N,
                "robot model constants");
  static_assert(sizeof(M) == sizeof(SubsysBase<N + 1, N, N>), "the robot model adds no members");
  static_assert(std::is_same<typename M::JointVec, Eigen::Matrix<double, N, 1>>::value, "JointVec");
  static_assert(std::is_same<typename M::JointMat, Eigen::Matrix<double, N, N>>::value, "JointMat");
};
template struct Constants<6>;
template struct Constants<7>;
template struct Constants<14>;
template struct Constants<16>;

// A robot model that owns its bodies and joints, together with the test's own description of the
// same robot.
template <int N>
class OwnedRobot {
 public:
  typedef VexoBaseXD<N> Model;
  typedef typename Model::JointVec JointVec;

  OwnedRobot(std::shared_ptr<Joint> base, JointReference baseRef) : model_(new Model()) {
    for (int k = 0; k <= N; ++k) {
      bodies_.emplace_back(new Body());
      model_->addBody(k, *bodies_.back());
    }
    joints_.push_back(base);
    model_->addJoint(0, *base);
    ref_.joints.push_back(baseRef);
    ref_.parent.push_back(-1);
  }
  void attach(int parent, std::shared_ptr<Joint> joint, JointReference jointRef) {
    const int child = static_cast<int>(joints_.size());
    ASSERT_TRUE(model_->connect(parent, child, *joint));
    joints_.push_back(joint);
    ref_.joints.push_back(jointRef);
    ref_.parent.push_back(parent);
  }
  Model& model() { return *model_; }
  const KinematicReference& reference() const { return ref_; }

 private:
  std::unique_ptr<Model> model_;
  std::vector<std::unique_ptr<Body>> bodies_;
  std::vector<std::shared_ptr<Joint>> joints_;
  KinematicReference ref_;
};

// Every pose against the reference product, every twist against the reference sum and against
// finite differences of the model's own poses, at `trials` random states.
template <int N>
void expectKinematicsMatch(VexoBaseXD<N>& model, const KinematicReference& ref, unsigned seed,
                           int trials = 5, double range = 1.5) {
  std::mt19937 rng(seed);
  for (int trial = 0; trial < trials; ++trial) {
    for (int i = 0; i < N; ++i) {
      model.q()(i) = uniform(rng, -range, range);
      model.qdot()(i) = uniform(rng, -1, 1);
    }
    model.update(false);
    const std::vector<Mat4> T = ref.poses(model.q().data());
    const std::vector<Vec6> V = ref.twists(model.q().data(), model.qdot().data());
    const std::vector<Vec6> Vfd = twistsByFiniteDifference(model);
    for (int k = 0; k <= N; ++k) {
      EXPECT_MATRIX_CLOSE(model.T(k), T[k], kPoseTol) << "pose of body " << k;
      EXPECT_MATRIX_CLOSE(model.V(k), V[k], kPoseTol) << "twist of body " << k;
      EXPECT_MATRIX_CLOSE(model.V(k), Vfd[k], kFdTol) << "twist of body " << k;
    }
  }
}

// A mounting pose of the base, so that the base joint's transform takes part in every product.
Mat4 mountingPose() { return homogeneous(expSO3(Vec3(0.1, -0.2, 0.6)), Vec3(0.5, -0.3, 0.8)); }

std::shared_ptr<Joint> rigid(const Mat4& T) { return std::make_shared<RigidJoint>(HTransform(T)); }

// ---------------------------------------------------------------------------------------------
// UR5, classic Denavit-Hartenberg parameters as published by the manufacturer: frame i follows
// frame i-1 by A_i = Rz(theta_i) Tz(d_i) Tx(a_i) Rx(alpha_i).
const double kUr5D[6] = {0.089159, 0, 0, 0.10915, 0.09465, 0.0823};
const double kUr5A[6] = {0, -0.425, -0.39225, 0, 0, 0};
const double kUr5Alpha[6] = {M_PI / 2, 0, 0, M_PI / 2, -M_PI / 2, 0};

Mat4 ur5Link(int i, double theta) {
  return rotZ(theta) * transZ(kUr5D[i]) * transX(kUr5A[i]) * rotX(kUr5Alpha[i]);
}

// Body k of the model is the frame reached after joint k's Rz(theta_k) Tz(d_k), i.e.
//   T_k = mount A_1 ... A_(k-1) Rz(theta_k) Tz(d_k).
// Regrouped, the chain is a product of modified-DH links Rx(alpha_(k-1)) Tx(a_(k-1)) Rz(theta_k)
// Tz(d_k) (Tx and Rx commute), which is how the model is built.
std::vector<Mat4> ur5Poses(const Mat4& mount, const double* q) {
  std::vector<Mat4> T{mount};
  Mat4 chain = mount;
  for (int i = 0; i < 6; ++i) {
    T.push_back(chain * rotZ(q[i]) * transZ(kUr5D[i]));
    chain = chain * ur5Link(i, q[i]);
  }
  return T;
}

std::unique_ptr<OwnedRobot<6>> makeUr5(const Mat4& mount) {
  std::unique_ptr<OwnedRobot<6>> r(new OwnedRobot<6>(rigid(mount), fixedReference(mount)));
  for (int k = 1; k <= 6; ++k) {
    const double alpha = k == 1 ? 0 : kUr5Alpha[k - 2], a = k == 1 ? 0 : kUr5A[k - 2];
    r->attach(k - 1, std::make_shared<MDHRevoluteJoint>(alpha, a, kUr5D[k - 1], 0.0),
              mdhRevoluteReference(alpha, a, kUr5D[k - 1], 0.0));
  }
  return r;
}

TEST(Ur5, BodyPosesAreTheProductsOfThePublishedClassicTable) {
  auto robot = makeUr5(mountingPose());
  auto& model = robot->model();
  std::mt19937 rng(101);
  for (int trial = 0; trial < 10; ++trial) {
    for (int i = 0; i < 6; ++i) model.q()(i) = uniform(rng, -M_PI, M_PI);
    model.update(false);
    const std::vector<Mat4> T = ur5Poses(mountingPose(), model.q().data());
    for (int k = 0; k <= 6; ++k) EXPECT_MATRIX_CLOSE(model.T(k), T[k], kPoseTol) << "body " << k;
  }
}

TEST(Ur5, ZeroPoseFlangeIsWhereThePublishedTablePutsIt) {
  // With every angle zero the flange (body 6, a_6 = alpha_6 = 0) sits at
  // (a2 + a3, -(d4 + d6), d1 - d5) with its z axis along -y of the base.
  auto robot = makeUr5(Mat4::Identity());
  robot->model().update(false);
  const Mat4 T = robot->model().T(6);
  EXPECT_MATRIX_CLOSE(Vec3(T.topRightCorner<3, 1>()), Vec3(-0.81725, -0.19145, -0.005491),
                      kPoseTol);
  EXPECT_MATRIX_CLOSE(Vec3(T.block<3, 1>(0, 2)), Vec3(0, -1, 0), kPoseTol);
}

TEST(Ur5, BodyTwistsMatchJointTwistsAndFiniteDifferences) {
  auto robot = makeUr5(mountingPose());
  expectKinematicsMatch(robot->model(), robot->reference(), 102, 10, M_PI);
}

// ---------------------------------------------------------------------------------------------
// Franka Emika Panda, modified (Craig) Denavit-Hartenberg parameters as published by the
// manufacturer: frame i follows frame i-1 by Rx(alpha_i) Tx(a_i) Rz(theta_i) Tz(d_i).
const double kPandaA[7] = {0, 0, 0, 0.0825, -0.0825, 0, 0.088};
const double kPandaD[7] = {0.333, 0, 0.316, 0, 0.384, 0, 0};
const double kPandaAlpha[7] = {0, -M_PI / 2, M_PI / 2, M_PI / 2, -M_PI / 2, M_PI / 2, M_PI / 2};

std::vector<Mat4> pandaPoses(const Mat4& mount, const double* q) {
  std::vector<Mat4> T{mount};
  for (int i = 0; i < 7; ++i)
    T.push_back(T.back() * rotX(kPandaAlpha[i]) * transX(kPandaA[i]) * rotZ(q[i]) *
                transZ(kPandaD[i]));
  return T;
}

// Built URDF-style: joint frame Rx(alpha) Tx(a) Tz(d), rotation about its z axis (Rz and Tz
// commute).
std::unique_ptr<OwnedRobot<7>> makePanda(const Mat4& mount) {
  std::unique_ptr<OwnedRobot<7>> r(new OwnedRobot<7>(rigid(mount), fixedReference(mount)));
  for (int k = 1; k <= 7; ++k) {
    const Mat4 origin = rotX(kPandaAlpha[k - 1]) * transX(kPandaA[k - 1]) * transZ(kPandaD[k - 1]);
    r->attach(k - 1, std::make_shared<RevoluteJoint>(HTransform(origin), Vector3D(0, 0, 1)),
              revoluteReference(origin, Vec3::UnitZ()));
  }
  return r;
}

TEST(Panda, BodyPosesAreTheProductsOfThePublishedModifiedTable) {
  auto robot = makePanda(mountingPose());
  auto& model = robot->model();
  std::mt19937 rng(201);
  for (int trial = 0; trial < 10; ++trial) {
    for (int i = 0; i < 7; ++i) model.q()(i) = uniform(rng, -2.8, 2.8);
    model.update(false);
    const std::vector<Mat4> T = pandaPoses(mountingPose(), model.q().data());
    for (int k = 0; k <= 7; ++k) EXPECT_MATRIX_CLOSE(model.T(k), T[k], kPoseTol) << "body " << k;
  }
}

TEST(Panda, ZeroPoseLastLinkIsWhereThePublishedTablePutsIt) {
  // All angles zero: link 7 at (a4 + a5 + a7, 0, d1 + d3 + d5) = (0.088, 0, 1.033), its z axis
  // pointing down (the flange is 0.107 further along it, at height 0.926).
  auto robot = makePanda(Mat4::Identity());
  robot->model().update(false);
  const Mat4 T = robot->model().T(7);
  EXPECT_MATRIX_CLOSE(Vec3(T.topRightCorner<3, 1>()), Vec3(0.088, 0, 1.033), kPoseTol);
  EXPECT_MATRIX_CLOSE(Vec3(T.block<3, 1>(0, 2)), Vec3(0, 0, -1), kPoseTol);
}

TEST(Panda, BodyTwistsMatchJointTwistsAndFiniteDifferences) {
  auto robot = makePanda(mountingPose());
  expectKinematicsMatch(robot->model(), robot->reference(), 202, 10, 2.8);
}

// ---------------------------------------------------------------------------------------------
// A 16-joint chain of every joint kind: 13 one-coordinate joints, a ball joint (3), a cylindrical
// joint (2) and three rigid joints (0) use exactly the 16 coordinates.
std::unique_ptr<OwnedRobot<16>> makeMixedChain() {
  std::mt19937 rng(301);
  std::unique_ptr<OwnedRobot<16>> r(
      new OwnedRobot<16>(rigid(mountingPose()), fixedReference(mountingPose())));
  auto next = [&](std::shared_ptr<Joint> j, JointReference ref) {
    r->attach(static_cast<int>(r->reference().joints.size()) - 1, j, ref);
  };
  auto frame = [&]() { return randomPose(rng, 0.3); };
  auto axis = [&]() { return Vec3(randomMatrix<3>(rng) + Vec3(0, 0, 0.5)); };
  for (int k = 1; k <= 16; ++k) {
    const Mat4 F = frame();
    const Vec3 a = axis();
    const double p1 = uniform(rng, -1, 1), p2 = uniform(rng, -0.3, 0.3),
                 p3 = uniform(rng, -0.3, 0.3), p4 = uniform(rng, -1, 1);
    switch (k) {
      case 1: case 10: case 14:
        next(std::make_shared<RevoluteJoint>(HTransform(F), Vector3D(a)), revoluteReference(F, a));
        break;
      case 2: case 16:
        next(std::make_shared<PrismaticJoint>(HTransform(F), Vector3D(a)),
             prismaticReference(F, a));
        break;
      case 3: case 12: case 15:
        next(std::make_shared<MDHRevoluteJoint>(p1, p2, p3, p4),
             mdhRevoluteReference(p1, p2, p3, p4));
        break;
      case 4: case 9: case 13:
        next(rigid(F), fixedReference(F));
        break;
      case 5:
        next(std::make_shared<SphericalJoint>(HTransform(F)), sphericalReference(F));
        break;
      case 6:
        next(std::make_shared<MDHPrismaticJoint>(p1, p2, p4, p3),
             mdhPrismaticReference(p1, p2, p4, p3));
        break;
      case 7:
        next(std::make_shared<CylindricalJoint>(HTransform(F), Vector3D(a)),
             cylindricalReference(F, a));
        break;
      case 8:
        next(std::make_shared<RevoluteJoint>(p1), revoluteReference(rotZ(p1), Vec3::UnitZ()));
        break;
      case 11:
        next(std::make_shared<PrismaticJoint>(p2), prismaticReference(transZ(p2), Vec3::UnitZ()));
        break;
    }
  }
  return r;
}

TEST(MixedChain16, PosesAndTwistsMatchTheJointGeometry) {
  auto robot = makeMixedChain();
  int dofs = 0;
  for (const auto& j : robot->reference().joints) dofs += j.dof;
  ASSERT_EQ(dofs, 16);
  expectKinematicsMatch(robot->model(), robot->reference(), 302, 10);
}

// ---------------------------------------------------------------------------------------------
// Random chains and trees for every instantiated size, one-coordinate joints of the four kinds.

template <typename T>
class RandomRobots : public ::testing::Test {};
TYPED_TEST_SUITE(RandomRobots, JacobianWidths, JacobianWidthNames);

TYPED_TEST(RandomRobots, ChainsAndTreesMatchTheJointGeometry) {
  constexpr int N = TypeParam::value;
  for (bool tree : {false, true}) {
    RandomRobot<N> robot(400 + N, tree, JointMix::AllOneDof);
    expectKinematicsMatch(robot.model(), referenceOf(robot.model()), 500 + N, 3);
  }
}

TYPED_TEST(RandomRobots, PositionOnlyUpdateLeavesEveryTwistAlone) {
  constexpr int N = TypeParam::value;
  RandomRobot<N> robot(410 + N, N >= 14);
  auto& model = robot.model();
  randomState<N>(model, robot.rng());
  std::vector<Twist> before;
  for (int k = 0; k <= N; ++k) {
    model.V(k) = Twist(randomMatrix<6>(robot.rng()));  // anything but the current twists
    before.push_back(model.V(k));
  }
  model.q() = randomMatrix<N>(robot.rng());
  model.qdot() = randomMatrix<N>(robot.rng());
  model.update(true);
  for (int k = 0; k <= N; ++k) EXPECT_TRUE(model.V(k) == before[k]) << "body " << k;
  const std::vector<Mat4> T = referenceOf(model).poses(model.q().data());
  for (int k = 0; k <= N; ++k) EXPECT_MATRIX_CLOSE(model.T(k), T[k], kPoseTol) << "body " << k;
}

TYPED_TEST(RandomRobots, ZeroCoordinatesComposeTheJointFrames) {
  constexpr int N = TypeParam::value;
  // Revolute and prismatic joints put the child frame at the joint frame at zero coordinates.
  RandomRobot<N> robot(420 + N, N >= 14, JointMix::RevolutePrismatic);
  auto& model = robot.model();
  randomState<N>(model, robot.rng());
  model.q().setZero();
  model.update(false);
  std::vector<Mat4> T{Mat4(model.joint(0).Tadj())};
  for (int k = 1; k <= N; ++k) T.push_back(T[model.parent(k)] * model.joint(k).jointFrame());
  for (int k = 0; k <= N; ++k) EXPECT_MATRIX_CLOSE(model.T(k), T[k], kPoseTol) << "body " << k;
}

TYPED_TEST(RandomRobots, ZeroRatesOnAFixedBaseGiveZeroTwists) {
  constexpr int N = TypeParam::value;
  RandomRobot<N> robot(430 + N, N >= 14);
  auto& model = robot.model();
  randomState<N>(model, robot.rng());  // nonzero twists first
  model.qdot().setZero();
  model.update(false);
  for (int k = 0; k <= N; ++k) EXPECT_TRUE(model.V(k).isZero(0)) << "body " << k;
}

TYPED_TEST(RandomRobots, VelocityUpdateReproducesTheTwistsOfAFullUpdate) {
  constexpr int N = TypeParam::value;
  RandomRobot<N> robot(440 + N, N >= 14);
  auto& model = robot.model();
  randomState<N>(model, robot.rng());
  std::vector<Twist> V;
  std::vector<HTransform> T;
  for (int k = 0; k <= N; ++k) {
    V.push_back(model.V(k));
    T.push_back(model.T(k));
  }
  // Same rates: the same twists.
  model.updateVelocity();
  for (int k = 0; k <= N; ++k) EXPECT_MATRIX_CLOSE(model.V(k), V[k], 1e-14) << "body " << k;
  // New rates: the twists of a full update, with every pose left as it was.
  model.qdot() = randomMatrix<N>(robot.rng());
  model.updateVelocity();
  std::vector<Twist> Vnew;
  for (int k = 0; k <= N; ++k) {
    EXPECT_TRUE(model.T(k) == T[k]) << "body " << k;
    Vnew.push_back(model.V(k));
  }
  model.update(false);
  for (int k = 0; k <= N; ++k) EXPECT_MATRIX_CLOSE(Vnew[k], model.V(k), 1e-14) << "body " << k;
}

template <int N>
struct ModelPeek : VexoBaseXD<N> {
  typedef SubsysBase<N + 1, N, N> S;
  static Body* body(const S& s, int k) { return (s.*(&ModelPeek::_bodies))[k]; }
  static Joint* joint(const S& s, int k) { return (s.*(&ModelPeek::_joints))[k]; }
};

TYPED_TEST(RandomRobots, CopyConstructionGivesAFreshEmptyModel) {
  constexpr int N = TypeParam::value;
  RandomRobot<N> robot(450 + N, N >= 14);
  randomState<N>(robot.model(), robot.rng());
  const typename VexoBaseXD<N>::JointVec q = robot.model().q();
  VexoBaseXD<N> copy(robot.model());
  for (int k = 0; k <= N; ++k) {
    EXPECT_EQ(ModelPeek<N>::body(copy, k), nullptr);
    EXPECT_EQ(ModelPeek<N>::joint(copy, k), nullptr);
    EXPECT_EQ(copy.parent(k), -1);
  }
  EXPECT_TRUE(copy.q().isZero(0));
  EXPECT_TRUE(copy.qdot().isZero(0));
  EXPECT_TRUE(copy.tau().isZero(0));
  // The original is untouched and still usable.
  EXPECT_TRUE(robot.model().q() == q);
  for (int k = 0; k <= N; ++k) EXPECT_EQ(&robot.model().body(k), &robot.body(k));
  expectKinematicsMatch(robot.model(), referenceOf(robot.model()), 460 + N, 1);
  // Assignment would share the original's bodies and joints instead; it must not compile.
  static_assert(!std::is_copy_assignable<VexoBaseXD<N>>::value, "a model must not be assignable");
}

// A floating base: the client writes the base pose and twist into a FloatingJoint; the model
// copies them into the base body and carries the base twist into every body.
TYPED_TEST(RandomRobots, MovingBaseTwistIsCarriedIntoEveryBody) {
  constexpr int N = TypeParam::value;
  RandomRobot<N> robot(470 + N, N >= 14);
  auto& model = robot.model();
  FloatingJoint base;
  model.addJoint(0, base);
  const Mat4 T0 = randomPose(robot.rng());
  const Vec6 V0 = randomMatrix<6>(robot.rng());
  base.Tadj() = HTransform(T0);
  base.Vadj() = Twist(V0);
  model.q() = randomMatrix<N>(robot.rng());
  model.qdot().setZero();
  model.update(false);
  EXPECT_MATRIX_CLOSE(model.T(0), T0, 0);
  EXPECT_MATRIX_CLOSE(model.V(0), V0, 0);
  // Zero rates: each body moves rigidly with the base, V_k = Ad(T_k^-1 T_0) V_0.
  for (int k = 0; k <= N; ++k)
    EXPECT_MATRIX_CLOSE(model.V(k), Vec6(adjoint(inversePose(model.T(k)) * T0) * V0), kPoseTol)
        << k;

  // With joint rates: the body twists are the derivative of the poses when the base moves along
  // T0 exp(t V0) and the coordinates along q + t qdot.
  const typename VexoBaseXD<N>::JointVec q = model.q(), qdot = randomMatrix<N>(robot.rng());
  model.qdot() = qdot;
  model.update(false);
  std::vector<Vec6> V;
  for (int k = 0; k <= N; ++k) V.push_back(model.V(k));
  for (int k = 0; k <= N; ++k) {
    const Vec6 fd = bodyTwistByFiniteDifference(
        [&](double t) -> Mat4 {
          base.Tadj() = HTransform(T0 * curveWithTwist(V0, t));
          model.q() = q + t * qdot;
          model.update(true);
          return model.T(k);
        },
        1e-3);
    EXPECT_MATRIX_CLOSE(V[k], fd, kFdTol) << "body " << k;
  }
}

// ---------------------------------------------------------------------------------------------
// Coordinates are handed out joint after joint. A joint that records the pointers it is given.

template <int D>
class RecordingJoint;
}  // namespace zorvik_test::forward_kinematics_test

template <int D>
struct ZorvikFoundation::JointTraits<zorvik_test::forward_kinematics_test::RecordingJoint<D>> {
  enum { DOF = D };
  static constexpr ZorvikFoundation::JOINTTYPE TYPE = ZorvikFoundation::CUSTOM;
};

namespace zorvik_test::forward_kinematics_test {

template <int D>
class RecordingJoint : public JointBase<RecordingJoint<D>> {
 public:
  void update(const double* q) override { positionsOnly = q; }
  void update(const double* q, const double* qdot) override {
    positions = q;
    rates = qdot;
  }
  void updateVelocity(const double* q, const double* qdot) override {
    velocityPositions = q;
    velocityRates = qdot;
  }
  const double* positionsOnly = nullptr;
  const double* positions = nullptr;
  const double* rates = nullptr;
  const double* velocityPositions = nullptr;
  const double* velocityRates = nullptr;
};

template <int D>
void expectReceived(const RecordingJoint<D>& j, const double* q, const double* qdot, int offset) {
  EXPECT_EQ(j.positionsOnly, q + offset);
  EXPECT_EQ(j.positions, q + offset);
  EXPECT_EQ(j.rates, qdot + offset);
  EXPECT_EQ(j.velocityPositions, q + offset);
  EXPECT_EQ(j.velocityRates, qdot + offset);
}

TEST(CoordinateLayout, JointsReceiveConsecutiveSlicesAndZeroCoordinateJointsConsumeNone) {
  VexoBaseXD<7> model;
  Body bodies[8];
  for (int k = 0; k < 8; ++k) model.addBody(k, bodies[k]);
  RecordingJoint<0> base, rigid2, rigid5;
  RecordingJoint<1> j1, j3;
  RecordingJoint<2> j4;
  RecordingJoint<1> j6, j7;
  model.addJoint(0, base);
  model.connect(0, 1, j1);
  model.connect(1, 2, rigid2);
  model.connect(2, 3, j3);
  model.connect(3, 4, j4);
  model.connect(4, 5, rigid5);
  model.connect(5, 6, j6);
  model.connect(6, 7, j7);
  for (bool posOnly : {true, false}) model.update(posOnly);
  model.updateVelocity();
  const double* q = model.q().data();
  const double* qd = model.qdot().data();
  expectReceived(base, q, qd, 0);
  expectReceived(j1, q, qd, 0);  // the base joint has no coordinates
  expectReceived(rigid2, q, qd, 1);
  expectReceived(j3, q, qd, 1);  // the same slice as the rigid joint before it
  expectReceived(j4, q, qd, 2);
  expectReceived(rigid5, q, qd, 4);
  expectReceived(j6, q, qd, 4);
  expectReceived(j7, q, qd, 5);
}

TEST(CoordinateLayout, ForwardKinematicsSkipsTheBaseJointsCoordinates) {
  VexoBaseXD<6> model;
  Body bodies[7];
  for (int k = 0; k < 7; ++k) model.addBody(k, bodies[k]);
  RecordingJoint<2> base;
  RecordingJoint<1> j[4];
  RecordingJoint<0> end5, end6;
  model.addJoint(0, base);
  for (int k = 1; k <= 4; ++k) model.connect(k - 1, k, j[k - 1]);
  model.connect(4, 5, end5);
  model.connect(5, 6, end6);
  for (bool posOnly : {true, false}) model.update(posOnly);
  model.updateVelocity();
  const double* q = model.q().data();
  const double* qd = model.qdot().data();
  expectReceived(base, q, qd, 0);
  expectReceived(j[0], q, qd, 2);
  expectReceived(j[3], q, qd, 5);
  expectReceived(end6, q, qd, 6);
}

}  // namespace zorvik_test::forward_kinematics_test
