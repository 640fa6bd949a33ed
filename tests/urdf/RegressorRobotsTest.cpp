// Regressors, base parameters and payloads on the bundled robots.
//   - Y pi against idyn and idyn_passive (the torques computed from the mass properties by the
//     recursion itself), for each robot's own parameters and 100 random physically consistent
//     ones, on the library path and the general path (GeneralPathTwin);
//   - Y pi against KDL's recursive Newton-Euler on randomly written URDF trees, pi read from the
//     loaded model;
//   - the number of base parameters against the rank of 200 stacked regressors, found here by a
//     singular value decomposition (Eigen's JacobiSVD) with a clear gap between the kept and the
//     dropped singular values, and Y_base beta = Y pi at other states;
//   - a payload attached by Body::addInertia against the Panda whose last link carries it in the
//     URDF, taken off again by removeInertia, and recovered by least squares from the joint
//     torques it causes through the load's wrench regressor.
#include <Eigen/SVD>
#include <Vexo/BaseParametersXD>
#include <ZorvikURDF/RobotLoader>
#include <fstream>
#include <kdl/treeidsolver_recursive_newton_euler.hpp>
#include <random>
#include <sstream>

#include "support/GeneralPathTwin.h"
#include "support/KdlBridge.h"
#include "support/RandomRobot.h"
#include "urdf/RandomUrdfWriter.h"
#include "urdf/RobotFiles.h"
#include "urdf/UrdfText.h"

namespace zorvik_test::regressor_robots_test {

using namespace ZorvikFoundation;

const LieGroup::Vector3D kGravity(0.3, -0.5, -9.81);
constexpr double kRelTol = 1e-12;

template <typename R>
class RegressorRobotsTest : public ::testing::Test {};
TYPED_TEST_SUITE(RegressorRobotsTest, RobotFiles);

template <int N>
struct Types {
  typedef VexoSDK::DynamicAnalysisXD<N> DA;
  typedef typename DA::ParamVec ParamVec;
  typedef typename DA::RegressorMat RegressorMat;
  typedef typename VexoSDK::VexoBaseXD<N>::JointVec JointVec;
};

template <int N>
void randomState(VexoSDK::VexoBaseXD<N>& m, std::mt19937& rng) {
  m.q() = randomMatrix<N>(rng, 2.0);
  m.qdot() = randomMatrix<N>(rng, 2.0);
  m.update(false);
}

TYPED_TEST(RegressorRobotsTest, TimesParametersGivesInverseDynamicsOnBothPaths) {
  constexpr int N = TypeParam::N;
  typedef Types<N> T;
  URDF::Robot<N> robot = URDF::loadRobot<N>(robotPath(TypeParam::file()));
  std::mt19937 rng(N);
  randomState<N>(robot, rng);
  GeneralPathTwin<N> twin(robot);
  typename T::ParamVec pi;
  T::DA::InertialParameters(robot, pi);
  typename T::RegressorMat Y;
  double worst = 0;
  for (int s = 0; s <= 100; ++s) {
    if (s > 0) pi = randomInertialParameters<N>(rng);
    if (s % 10 == 0) {
      randomState<N>(robot, rng);
      twin.model().q() = robot.q();
      twin.model().qdot() = robot.qdot();
    }
    const typename T::JointVec a = randomMatrix<N>(rng, 3.0), vr = randomMatrix<N>(rng, 2.0);
    for (VexoSDK::VexoBaseXD<N>* m :
         {static_cast<VexoSDK::VexoBaseXD<N>*>(&robot), &twin.model()}) {
      T::DA::SetInertialParameters(*m, pi);
      m->update(false);
      T::DA::Regressor(*m, a, kGravity, Y);
      m->idyn(m->qdot(), a, kGravity);
      const double e = relativeError(Y * pi, m->tau());
      T::DA::PassiveRegressor(*m, vr, a, kGravity, Y);
      m->idyn_passive(vr, a, kGravity);
      const double ep = relativeError(Y * pi, m->tau());
      EXPECT_LE(e, kRelTol) << "sample " << s << (m == &robot ? " library" : " general") << " path";
      EXPECT_LE(ep, kRelTol) << "sample " << s << (m == &robot ? " library" : " general")
                             << " path, passive";
      worst = std::max({worst, e, ep});
    }
  }
  std::ostringstream text;
  text << worst;
  ::testing::Test::RecordProperty("worst_relative_error", text.str());
}

// KDL's tree solver reads the URDF's inertial elements itself; our pi comes from the loader's
// model of the same file, fixed links lumped.
TYPED_TEST(RegressorRobotsTest, RegressorTimesParametersMatchesKdlOnRandomUrdf) {
  constexpr int N = TypeParam::N;
  typedef Types<N> T;
  std::mt19937 rng(200 + N);
  for (unsigned seed = 0; seed < 2; ++seed) {
    TemporaryUrdf file(RandomUrdfWriter(7000 + 10 * N + seed).write(N),
                       "regressor_" + std::to_string(N));
    URDF::Robot<N> robot = URDF::loadRobot<N>(file.path());
    const KDL::Tree tree = kdl::treeFromUrdf(file.path());
    std::vector<std::string> names;
    for (int i = 0; i < N; ++i) names.push_back(robot.jointName(i));
    const std::vector<int> map = kdl::treeToModel(tree, names);
    KDL::TreeIdSolver_RNE rne(tree, KDL::Vector(kGravity.x(), kGravity.y(), kGravity.z()));
    typename T::ParamVec pi;
    T::DA::InertialParameters(robot, pi);
    for (int s = 0; s < 3; ++s) {
      randomState<N>(robot, rng);
      const typename T::JointVec a = randomMatrix<N>(rng, 3.0);
      typename T::RegressorMat Y;
      T::DA::Regressor(robot, a, kGravity, Y);
      KDL::JntArray tau(N);
      ASSERT_GE(rne.CartToJnt(kdl::toKdl(robot.q(), map), kdl::toKdl(robot.qdot(), map),
                              kdl::toKdl(a, map), KDL::WrenchMap(), tau),
                0);
      EXPECT_LE(relativeError(Y * pi, kdl::fromKdl(tau, map, N)), 1e-10);
    }
  }
}

// The rank of W, the regressors at 200 random states stacked, by its singular values: those above
// 1e-9 of the largest. The count is trusted only with a gap of at least five orders of magnitude
// at the cut.
template <int N>
int stackedRank(VexoSDK::VexoBaseXD<N>& m, std::mt19937& rng, double* gap) {
  typedef Types<N> T;
  Eigen::MatrixXd W(200 * N, 10 * N);
  typename T::RegressorMat Y;
  for (int s = 0; s < 200; ++s) {
    m.q() = randomMatrix<N>(rng, 3.0);
    m.qdot() = randomMatrix<N>(rng, 2.0);
    m.update(false);
    T::DA::Regressor(m, randomMatrix<N>(rng, 4.0), kGravity, Y);
    W.middleRows(s * N, N) = Y;
  }
  const Eigen::VectorXd sigma = Eigen::JacobiSVD<Eigen::MatrixXd>(W).singularValues();
  int rank = 0;
  while (rank < sigma.size() && sigma(rank) > 1e-9 * sigma(0)) ++rank;
  const double below = rank < sigma.size() ? sigma(rank) : 0;
  *gap = below > 0 ? sigma(rank - 1) / below : INFINITY;
  return rank;
}

TYPED_TEST(RegressorRobotsTest, BaseParameterCountIsTheRankOfStackedRegressors) {
  constexpr int N = TypeParam::N;
  typedef Types<N> T;
  typedef VexoSDK::BaseParametersXD<N> Base;
  URDF::Robot<N> robot = URDF::loadRobot<N>(robotPath(TypeParam::file()));
  std::mt19937 rng(300 + N);
  const Base base(robot, kGravity);
  double gap = 0;
  const int rank = stackedRank<N>(robot, rng, &gap);
  EXPECT_GE(gap, 1e5);
  EXPECT_EQ(base.count(), rank);
  ::testing::Test::RecordProperty("base_parameters", base.count());
  ::testing::Test::RecordProperty("singular_value_gap", std::to_string(gap));
  ASSERT_EQ(static_cast<int>(base.keptColumns().size()), base.count());
  ASSERT_EQ(base.regrouping().rows(), base.count());
  ASSERT_EQ(base.regrouping().cols(), 10 * N);
  // beta_i keeps its own column with coefficient one: P restricted to the kept columns is 1.
  for (int i = 0; i < base.count(); ++i)
    for (int j = 0; j < base.count(); ++j)
      EXPECT_EQ(base.regrouping()(i, base.keptColumns()[j]), i == j ? 1.0 : 0.0);

  // Y_base beta = Y pi for any pi, at states the construction did not see.
  typename Base::BaseParamVec beta;
  typename Base::BaseRegressorMat Yb;
  typename T::RegressorMat Y;
  for (int s = 0; s < 10; ++s) {
    randomState<N>(robot, rng);
    const typename T::ParamVec pi = randomInertialParameters<N>(rng);
    T::DA::Regressor(robot, randomMatrix<N>(rng, 3.0), kGravity, Y);
    base.baseParameters(pi, beta);
    base.baseRegressor(Y, Yb);
    EXPECT_LE(relativeError(Yb * beta, Y * pi), 1e-9);
  }
  // Without gravity, masses are seen through accelerations only: never more base parameters.
  EXPECT_LE(Base(robot, LieGroup::Vector3D(0, 0, 0)).count(), base.count());
}

// The construction puts the model's state back.
TEST(BaseParameters, LeaveTheModelsStateAsItWas) {
  URDF::Robot<7> robot = URDF::loadRobot<7>(robotPath(PandaArm::file()));
  std::mt19937 rng(11);
  randomState<7>(robot, rng);
  const Eigen::Matrix<double, 7, 1> q = robot.q(), qdot = robot.qdot();
  const LieGroup::Twist V = robot.V(7);
  VexoSDK::BaseParametersXD<7> base(robot);
  EXPECT_TRUE(robot.q() == q && robot.qdot() == qdot);
  EXPECT_TRUE(robot.V(7) == V);
  EXPECT_GT(base.count(), 0);
}

// The Panda with a payload at its tool centre point: through the helpers, and written into the
// URDF as a link fixed to panda_hand_tcp (the loader lumps it into the last body).
TEST(Payload, AttachedByTheHelpersMatchesThePayloadInTheUrdf) {
  typedef Types<7> T;
  const double m = 0.3;
  const Eigen::Vector3d c(0.01, -0.02, 0.03), offset(0.02, 0.01, 0.05), rpy(0.3, -0.2, 0.5);
  Eigen::Matrix3d Icom;
  Icom << 4e-4, 1e-5, -2e-5, 1e-5, 5e-4, 3e-5, -2e-5, 3e-5, 3e-4;
  std::ostringstream xml;
  xml.precision(17);
  xml << "  <link name=\"payload\">\n"
      << inertial(std::to_string(m),
                  std::to_string(c.x()) + " " + std::to_string(c.y()) + " " + std::to_string(c.z()),
                  "0 0 0",
                  "ixx=\"4e-4\" ixy=\"1e-5\" ixz=\"-2e-5\" iyy=\"5e-4\" iyz=\"3e-5\" izz=\"3e-4\"")
      << "  </link>\n"
      << jointXml("payload_joint", "fixed", "panda_hand_tcp", "payload", "",
                  std::to_string(offset.x()) + " " + std::to_string(offset.y()) + " " +
                      std::to_string(offset.z()),
                  std::to_string(rpy.x()) + " " + std::to_string(rpy.y()) + " " +
                      std::to_string(rpy.z()));
  std::ifstream in(robotPath(PandaArm::file()));
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  text.insert(text.rfind("</robot>"), xml.str());
  TemporaryUrdf file(text, "panda_payload");

  URDF::Robot<7> plain = URDF::loadRobot<7>(robotPath(PandaArm::file()));
  URDF::Robot<7> carrying = URDF::loadRobot<7>(file.path());
  URDF::Robot<7> helped = URDF::loadRobot<7>(robotPath(PandaArm::file()));
  // The payload's frame in the last body's frame: the TCP's frame there, then the fixed joint
  // (URDF rpy: R = Rz(yaw) Ry(pitch) Rx(roll)).
  const int tcp = helped.frameIndex("panda_hand_tcp");
  ASSERT_EQ(helped.frameBody(tcp), 7);
  const Eigen::Matrix3d R = (Eigen::AngleAxisd(rpy.z(), Eigen::Vector3d::UnitZ()) *
                             Eigen::AngleAxisd(rpy.y(), Eigen::Vector3d::UnitY()) *
                             Eigen::AngleAxisd(rpy.x(), Eigen::Vector3d::UnitX()))
                                .toRotationMatrix();
  const HTransform T_body_payload =
      helped.frameOffset(tcp).cascade(HTransform(Rotation(R), Displacement(offset)));
  const Inertia load(m, c.x(), c.y(), c.z(), Icom(0, 0), Icom(1, 1), Icom(2, 2), Icom(0, 1),
                     Icom(1, 2), Icom(0, 2));
  helped.body(7).addInertia(load, T_body_payload);

  std::mt19937 rng(13);
  for (int s = 0; s < 5; ++s) {
    const typename T::JointVec q = randomMatrix<7>(rng, 2.0), qdot = randomMatrix<7>(rng, 2.0),
                               a = randomMatrix<7>(rng, 3.0);
    for (URDF::Robot<7>* r : {&carrying, &helped}) {
      r->q() = q;
      r->qdot() = qdot;
      r->update(false);
      r->idyn(qdot, a, kGravity);
    }
    EXPECT_LE(relativeError(helped.tau(), carrying.tau()), 1e-12);
  }
  helped.body(7).removeInertia(load, T_body_payload);
  typename T::ParamVec piPlain, piHelped;
  T::DA::InertialParameters(plain, piPlain);
  T::DA::InertialParameters(helped, piHelped);
  EXPECT_LE(relativeError(piHelped, piPlain), 1e-14);
}

// A client estimates the payload from the joint torques it adds: tau_carrying - tau_plain =
// J_7^T Y_load(V_7, Vdot_7, g_7) pi_load, with the last body's Jacobian, twist, acceleration and
// gravity in its frame. Stacked over states, least squares recovers the ten parameters the loader
// lumped into the last body (the difference of the two models' parameters).
TEST(Payload, EstimatedFromJointTorquesByTheLoadRegressor) {
  typedef Types<7> T;
  const std::string payload =
      "  <link name=\"payload\">\n" +
      inertial("0.7", "0.02 0.01 0.04", "0.1 0.2 0.3",
               "ixx=\"6e-4\" ixy=\"2e-5\" ixz=\"1e-5\" iyy=\"8e-4\" iyz=\"-3e-5\" izz=\"5e-4\"") +
      "  </link>\n" + jointXml("payload_joint", "fixed", "panda_link8", "payload", "", "0 0 0.1");
  std::ifstream in(robotPath(PandaArm::file()));
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  text.insert(text.rfind("</robot>"), payload);
  TemporaryUrdf file(text, "panda_estimate");
  URDF::Robot<7> plain = URDF::loadRobot<7>(robotPath(PandaArm::file()));
  URDF::Robot<7> carrying = URDF::loadRobot<7>(file.path());

  const int states = 20;
  Eigen::MatrixXd A(7 * states, 10);
  Eigen::VectorXd b(7 * states);
  std::mt19937 rng(17);
  for (int s = 0; s < states; ++s) {
    const typename T::JointVec q = randomMatrix<7>(rng, 2.0), qdot = randomMatrix<7>(rng, 2.0),
                               a = randomMatrix<7>(rng, 3.0);
    for (URDF::Robot<7>* r : {&plain, &carrying}) {
      r->q() = q;
      r->qdot() = qdot;
      r->qddot() = a;
      r->update(false);
      r->updateJacobian(false);
      r->idyn(qdot, a, kGravity);
    }
    const LieGroup::Vector3D g(plain.T(7).R().transpose() * kGravity);
    const Inertia::WrenchRegressor Yload = Inertia::wrenchRegressor(plain.V(7), plain.Vdot(7), g);
    A.middleRows(7 * s, 7) = plain.J(7).transpose() * Yload;
    b.segment(7 * s, 7) = carrying.tau() - plain.tau();
    // The same columns as the robot's regressor for the last body.
    typename T::RegressorMat Y;
    T::DA::Regressor(plain, a, kGravity, Y);
    EXPECT_LE(
        relativeError(Eigen::MatrixXd(Y.rightCols(10)), Eigen::MatrixXd(A.middleRows(7 * s, 7))),
        1e-13);
  }
  const Eigen::VectorXd estimate = A.colPivHouseholderQr().solve(b);
  typename T::ParamVec piPlain, piCarrying;
  T::DA::InertialParameters(plain, piPlain);
  T::DA::InertialParameters(carrying, piCarrying);
  const Eigen::VectorXd truth = (piCarrying - piPlain).tail(10);
  EXPECT_NEAR(truth(0), 0.7, 1e-12);
  EXPECT_LE(relativeError(estimate, truth), 1e-9);
}

}  // namespace zorvik_test::regressor_robots_test
