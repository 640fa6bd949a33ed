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

#include "support/KdlBridge.h"
#include "urdf/RobotFiles.h"
#include "urdf/UrdfText.h"

using namespace ZorvikFoundation;
using namespace zorvik_test;

namespace {

const LieGroup::Vector3D kGravity(-0.8, 0.5, -9.81);
constexpr double kTolerance = 1e-10;

class RandomUrdfWriter {
 public:
  explicit RandomUrdfWriter(unsigned seed) : _rng(seed) {}

  // A tree of n moving joints and some fixed ones, the <link> and <joint> elements shuffled.
  std::string write(int n) {
    std::vector<std::string> links = {"root"};
    std::vector<std::string> elements = {link("root", true)};
    int moving = 0, fixed = 0;
    while (moving < n) {
      const std::string parent = links[std::uniform_int_distribution<size_t>(0, links.size() - 1)(_rng)];
      if (uniform(0, 1) < 0.3) {
        const std::string child = "f" + std::to_string(++fixed);
        elements.push_back(link(child, uniform(0, 1) < 0.7));
        elements.push_back(joint("fixed_" + child, "fixed", parent, child));
        links.push_back(child);
      } else {
        const std::string child = "m" + std::to_string(++moving);
        static const char* types[] = {"revolute", "prismatic", "continuous"};
        elements.push_back(link(child, true));
        elements.push_back(joint("joint_" + child, types[moving % 3], parent, child));
        links.push_back(child);
      }
    }
    std::shuffle(elements.begin() + 1, elements.end(), _rng);
    std::string body;
    for (const std::string& e : elements) body += e;
    return urdfDocument(body, "random");
  }

 private:
  double uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(_rng); }
  std::string numbers(std::initializer_list<double> values) {
    std::ostringstream os;
    os.precision(17);
    for (double v : values) os << (os.tellp() > 0 ? " " : "") << v;
    return os.str();
  }
  std::string vec3(double range) { return numbers({uniform(-range, range), uniform(-range, range), uniform(-range, range)}); }

  // Mass properties of a box with random sides, its principal axes turned by a random rotation
  // inside an inertial frame that is itself placed by a random origin and rpy.
  std::string link(const std::string& name, bool massive) {
    if (!massive) return "  <link name=\"" + name + "\"/>\n";
    const double m = uniform(0.2, 3), a = uniform(0.02, 0.3), b = uniform(0.02, 0.3), c = uniform(0.02, 0.3);
    const Eigen::Vector3d principal(m * (b * b + c * c) / 12, m * (a * a + c * c) / 12, m * (a * a + b * b) / 12);
    const Eigen::Matrix3d R =
        Eigen::AngleAxisd(uniform(0, 3), Eigen::Vector3d(uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)).normalized())
            .toRotationMatrix();
    const Eigen::Matrix3d I = R * principal.asDiagonal() * R.transpose();
    std::ostringstream os;
    os.precision(17);
    os << "ixx=\"" << I(0, 0) << "\" ixy=\"" << I(0, 1) << "\" ixz=\"" << I(0, 2) << "\" iyy=\""
       << I(1, 1) << "\" iyz=\"" << I(1, 2) << "\" izz=\"" << I(2, 2) << "\"";
    return linkXml(name, inertial(numbers({m}), vec3(0.1), vec3(3.1), os.str()));
  }

  // A joint at a random origin; moving joints get an axis of random direction and length
  // (normalised by both readers).
  std::string joint(const std::string& name, const std::string& type, const std::string& parent,
                    const std::string& child) {
    const Eigen::Vector3d axis =
        Eigen::Vector3d(uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)).normalized() * uniform(0.5, 2);
    const std::string inner =
        type == "continuous" ? "    <limit effort=\"20\" velocity=\"4\"/>\n" : "";
    return jointXml(name, type, parent, child, inner, vec3(0.3), vec3(3.1),
                    numbers({axis.x(), axis.y(), axis.z()}));
  }

  std::mt19937 _rng;
};

}  // namespace

template <typename Size>
class RandomUrdfMatchesKdl : public ::testing::Test {};

template <int Value>
struct Size {
  static constexpr int N = Value;
};
typedef ::testing::Types<Size<6>, Size<7>, Size<14>, Size<16>> Sizes;
TYPED_TEST_SUITE(RandomUrdfMatchesKdl, Sizes);

TYPED_TEST(RandomUrdfMatchesKdl, PosesTorquesAndJointSpaceDynamics) {
  constexpr int N = TypeParam::N;
  typedef typename URDF::Robot<N>::JointVec JointVec;
  std::mt19937 rng(100 + N);
  std::uniform_real_distribution<double> u(-2, 2);
  const auto random = [&]() {
    JointVec v;
    for (int i = 0; i < N; ++i) v(i) = u(rng);
    return v;
  };
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
