// Every kind of bad description fails to load with a LoadError whose message names the file, the
// element and the problem; physical-consistency findings are warnings unless the load is strict.
#include <ZorvikURDF/RobotLoader>

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <initializer_list>
#include <random>
#include <sstream>

#include "urdf/RobotFiles.h"
#include "urdf/UrdfText.h"

namespace zorvik_test::bad_input_test {

using namespace ZorvikFoundation;

std::string currentTestName() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

void expectMentions(const std::string& message, std::initializer_list<std::string> parts) {
  for (const std::string& part : parts)
    EXPECT_NE(message.find(part), std::string::npos)
        << "\"" << part << "\" is missing in: " << message;
}

// The message of the LoadError raised by loading `xml` from a file; the message must name the file.
std::string loadError(const std::string& xml,
                      const URDF::LoadOptions& options = URDF::LoadOptions()) {
  TemporaryUrdf file(xml, currentTestName());
  try {
    URDF::RobotDescription::fromFile(file.path(), options);
  } catch (const URDF::LoadError& e) {
    EXPECT_EQ(e.file(), file.path());
    expectMentions(e.what(), {file.path()});
    return e.what();
  }
  ADD_FAILURE() << "loaded without error:\n" << xml;
  return "";
}

// A two-link robot around joint j1, with the given joint and child link.
std::string oneJoint(const std::string& jointXml, const std::string& childLink = linkXml("l1")) {
  return urdfDocument(linkXml("l0") + childLink + jointXml);
}

TEST(BadInput, MissingOrUnreadableFile) {
  const std::string missing = ::testing::TempDir() + "no_such_dir/robot.urdf";
  try {
    URDF::RobotDescription::fromFile(missing);
    ADD_FAILURE() << "a missing file loaded";
  } catch (const URDF::LoadError& e) {
    expectMentions(e.what(), {missing, "cannot open", "No such file"});
  }
  // A directory opens but cannot be read.
  const std::string directory = ::testing::TempDir();
  try {
    URDF::RobotDescription::fromFile(directory);
    ADD_FAILURE() << "a directory loaded";
  } catch (const URDF::LoadError& e) {
    expectMentions(e.what(), {directory, "cannot read", "Is a directory"});
  }
}

TEST(BadInput, MalformedXmlOrNoRobot) {
  expectMentions(loadError("<robot name=\"r\">\n  <link name=\"a\">\n</robot>\n"),
                 {":2: XML", "malformed XML", "XML_ERROR_MISMATCHED_ELEMENT"});
  expectMentions(loadError("<model name=\"r\"><link name=\"a\"/></model>"),
                 {"<model>", "the root element must be <robot>"});
  expectMentions(loadError("<robot><link name=\"a\"/></robot>"), {"<robot>", "'name'"});
  // Text held in memory is named by the name the caller gives it.
  try {
    URDF::RobotDescription::fromString("<robot name=\"r\">", "generated-description");
    ADD_FAILURE() << "an unclosed element loaded";
  } catch (const URDF::LoadError& e) {
    expectMentions(e.what(), {"generated-description:1: XML", "malformed XML"});
  }
}

TEST(BadInput, UnknownOrUnsupportedJointType) {
  expectMentions(loadError(oneJoint(jointXml("j1", "hinge", "l0", "l1"))),
                 {"joint 'j1'", "type=\"hinge\"", "unknown joint type"});
  expectMentions(loadError(oneJoint(jointXml("j1", "planar", "l0", "l1"))),
                 {"joint 'j1'", "type=\"planar\"", "planar joints are not supported"});
  expectMentions(loadError(oneJoint(jointXml("j1", "floating", "l0", "l1"))),
                 {"joint 'j1'", "type=\"floating\"", "floating joints are not supported"});
}

// A mimic joint can be counted but has no coordinate of its own: building a model from it fails,
// naming the joint and its master. On a fixed joint the tag means nothing and is ignored.
TEST(BadInput, MimicOnMovingJointCannotBeModelled) {
  std::string body = chain(6);
  body.insert(body.find("  </joint>", body.find("name=\"j6\"")),
              "    <mimic joint=\"j5\" multiplier=\"2\"/>\n");
  TemporaryUrdf file(urdfDocument(body), currentTestName());
  const URDF::RobotDescription d = URDF::RobotDescription::fromFile(file.path());
  EXPECT_EQ(d.dof(), 6);
  try {
    URDF::loadRobot<6>(file.path());
    ADD_FAILURE() << "a mimic joint was modelled";
  } catch (const URDF::LoadError& e) {
    expectMentions(e.what(), {file.path(), "mimic", "'j6'", "'j5'"});
  }

  const std::string fixedMimic =
      chain(6) + linkXml("tool") +
      jointXml("tool_joint", "fixed", "l6", "tool", "    <mimic joint=\"j1\"/>\n");
  TemporaryUrdf harmless(urdfDocument(fixedMimic), currentTestName() + "_fixed");
  const URDF::Robot<6> robot = URDF::loadRobot<6>(harmless.path());
  EXPECT_TRUE(robot.warnings().empty());

  std::string unknownMaster = chain(2);
  unknownMaster.insert(unknownMaster.find("  </joint>"), "    <mimic joint=\"nobody\"/>\n");
  expectMentions(loadError(urdfDocument(unknownMaster)),
                 {"joint 'j1'", "mimic", "'nobody'", "not defined"});
}

TEST(BadInput, JointWithMissingParentOrChildLink) {
  expectMentions(
      loadError(oneJoint(jointXml("j1", "revolute", "nowhere", "l1"))),
      {"joint 'j1'", "<parent link=\"nowhere\">", "parent link 'nowhere' is not defined"});
  expectMentions(loadError(oneJoint(jointXml("j1", "revolute", "l0", "ghost"))),
                 {"joint 'j1'", "<child link=\"ghost\">", "child link 'ghost' is not defined"});
  expectMentions(
      loadError(oneJoint("  <joint name=\"j1\" type=\"fixed\"><child link=\"l1\"/></joint>\n")),
      {"joint 'j1'", "missing <parent>"});
}

// urdfdom parses the text with its own XML reader, which reads an unescaped '&' in a name
// differently from the standard reading the loader checks; the two readings must agree, or the
// load fails naming the element. (Found by fuzzing: the names of one reading were looked up in
// the other's tables and the lookup threw std::out_of_range.) Escaped, the same name loads.
TEST(BadInput, NamesThatTheXmlReadersReadDifferently) {
  expectMentions(loadError(oneJoint(jointXml("j&&&&1", "revolute", "l0", "l1"))),
                 {"reads this name differently", "as entities"});
  expectMentions(loadError(urdfDocument(linkXml("l0") + linkXml("l&&&&1") +
                                        jointXml("j1", "revolute", "l0", "l&&&&1"))),
                 {"reads this name differently"});
  TemporaryUrdf escaped(oneJoint(jointXml("j&amp;1", "revolute", "l0", "l1")), currentTestName());
  const URDF::RobotDescription d = URDF::RobotDescription::fromFile(escaped.path());
  ASSERT_EQ(d.joints().size(), 1u);
  EXPECT_EQ(d.joints()[0].name, "j&1");
}

// urdfdom reads a zero axis without complaint; a joint cannot move about or along nothing. On a
// fixed joint the axis is not used.
TEST(BadInput, ZeroAxis) {
  expectMentions(
      loadError(oneJoint(jointXml("j1", "revolute", "l0", "l1", "", "0 0 0", "0 0 0", "0 0 0"))),
      {"joint 'j1'", "<axis xyz=\"0 0 0\">", "the axis is zero"});
  expectMentions(
      loadError(oneJoint(jointXml("j1", "prismatic", "l0", "l1", "", "0 0 0", "0 0 0", "0 0 0"))),
      {"joint 'j1'", "the axis is zero"});
  TemporaryUrdf fixed(oneJoint(jointXml("j1", "fixed", "l0", "l1", "", "0 0 0", "0 0 0", "0 0 0")),
                      currentTestName());
  EXPECT_EQ(URDF::RobotDescription::fromFile(fixed.path()).dof(), 0);
}

TEST(BadInput, NegativeMass) {
  expectMentions(
      loadError(oneJoint(jointXml("j1", "revolute", "l0", "l1"), linkXml("l1", inertial("-1")))),
      {"link 'l1'", "<mass value=\"-1\">", "the mass is negative"});
}

// The tensor's eigenvalues must not be negative: a negative moment, or products of inertia too
// large for the moments.
TEST(BadInput, InertiaNotPositiveSemiDefinite) {
  const std::string negativeMoment =
      "ixx=\"-0.1\" ixy=\"0\" ixz=\"0\" iyy=\"1\" iyz=\"0\" izz=\"1\"";
  const std::string largeProduct = "ixx=\"1\" ixy=\"0\" ixz=\"0\" iyy=\"1\" iyz=\"1.5\" izz=\"1\"";
  for (const std::string& moments : {negativeMoment, largeProduct})
    expectMentions(loadError(oneJoint(jointXml("j1", "revolute", "l0", "l1"),
                                      linkXml("l1", inertial("1", "0 0 0", "0 0 0", moments)))),
                   {"link 'l1'", "<inertia>", "not positive semi-definite"});
}

std::string tensorXml(const Eigen::Matrix3d& I) {
  std::ostringstream os;
  os.precision(17);
  os << "ixx=\"" << I(0, 0) << "\" ixy=\"" << I(0, 1) << "\" ixz=\"" << I(0, 2) << "\" iyy=\""
     << I(1, 1) << "\" iyz=\"" << I(1, 2) << "\" izz=\"" << I(2, 2) << "\"";
  return os.str();
}

// Positive semi-definiteness is judged within the rounding of the numbers: relative to the largest
// principal moment, and absolutely for tensors that are nothing but rounding noise (iCub's links
// carry products of 2.4e-35 on zero moments). A negative moment of 38 % of the largest (TIAGo's
// -3.5e-8 next to 9.1e-8) is no rounding: it is refused, and the message names the option that
// repairs it.
TEST(BadInput, InertiaWithinRoundingIsPositiveSemiDefinite) {
  const std::string noise = "ixx=\"0\" ixy=\"2.4e-35\" ixz=\"0\" iyy=\"0\" iyz=\"-1e-36\" izz=\"0\"";
  // Moments -1e-12, 2 and 2 + 1e-12: a negative moment of 1e-12 of the largest, and the triangle
  // inequality violated by 2e-12.
  const std::string rounded =
      "ixx=\"1\" ixy=\"1.000000000001\" ixz=\"0\" iyy=\"1\" iyz=\"0\" izz=\"2\"";
  for (const std::string& moments : {noise, rounded}) {
    TemporaryUrdf file(oneJoint(jointXml("j1", "revolute", "l0", "l1"),
                                linkXml("l1", inertial("0.75", "0.1 0 0", "0 0 0", moments))),
                       currentTestName());
    const URDF::RobotDescription d = URDF::RobotDescription::fromFile(file.path());
    EXPECT_TRUE(d.warnings().empty()) << d.warnings().front();
  }
  Eigen::Matrix3d tiago = Eigen::Vector3d(-3.5e-8, 4e-8, 9.1e-8).asDiagonal();
  expectMentions(loadError(oneJoint(jointXml("j1", "revolute", "l0", "l1"),
                                    linkXml("l1", inertial("1", "0 0 0", "0 0 0",
                                                           tensorXml(tiago))))),
                 {"link 'l1'", "not positive semi-definite", "LoadOptions::repairInertia"});
}

// The triangle inequalities y_i + y_j >= y_k of principal moments: the cone of consistent ones.
const Eigen::Vector3d kTriangleNormals[3] = {Eigen::Vector3d(1, 1, -1), Eigen::Vector3d(1, -1, 1),
                                             Eigen::Vector3d(-1, 1, 1)};

// The projection of principal moments x on that cone by Dykstra's alternating projections on the
// three half-spaces, an algorithm of its own for the loader's choice among the faces of the cone.
// It stops early at a fixed point of a whole sweep (nothing changes after that; typically after
// about a thousand sweeps).
Eigen::Vector3d dykstraProjection(const Eigen::Vector3d& x) {
  const Eigen::Vector3d* a = kTriangleNormals;
  Eigen::Vector3d y = x, p[3] = {Eigen::Vector3d::Zero(), Eigen::Vector3d::Zero(),
                                 Eigen::Vector3d::Zero()};
  for (int iteration = 0; iteration < 20000; ++iteration) {
    bool changed = false;
    for (int i = 0; i < 3; ++i) {
      const Eigen::Vector3d z = y + p[i];
      const Eigen::Vector3d yNext = a[i].dot(z) >= 0 ? z : Eigen::Vector3d(z - a[i].dot(z) / 3 * a[i]);
      changed = changed || yNext != y || z - yNext != p[i];
      y = yNext;
      p[i] = z - y;
    }
    if (!changed) break;
  }
  return y;
}

// LoadOptions::repairInertia: random tensors with a negative principal moment or a violated
// triangle inequality, on random principal axes, load as the nearest consistent tensor (same axes,
// moments projected as Dykstra's algorithm does; no random consistent tensor nearby, on axes turned
// by up to 0.2 rad, is nearer) with a warning naming the link. A consistent tensor is left as it is.
TEST(BadInput, RepairInertiaTakesTheNearestConsistentTensor) {
  std::mt19937 rng(31);
  std::uniform_real_distribution<double> u(-1, 1);
  URDF::LoadOptions repair;
  repair.repairInertia = true;
  for (int trial = 0; trial < 12; ++trial) {
    Eigen::Vector3d moments(0.02 + 0.01 * u(rng), 0.03 + 0.01 * u(rng), 0.04 + 0.01 * u(rng));
    if (trial % 2 == 0)
      moments(trial % 3) = -0.01 * (1 + u(rng));  // a negative moment
    else
      moments(trial % 3) = moments.sum() + 0.02 * (1 + u(rng));  // larger than the other two
    const Eigen::Matrix3d R =
        Eigen::AngleAxisd(3 * u(rng), Eigen::Vector3d(u(rng), u(rng), u(rng)).normalized())
            .toRotationMatrix();
    const Eigen::Matrix3d I = R * moments.asDiagonal() * R.transpose();
    TemporaryUrdf file(oneJoint(jointXml("j1", "revolute", "l0", "l1"),
                                linkXml("l1", inertial("1.2", "0 0 0", "0 0 0", tensorXml(I)))),
                       currentTestName());
    const URDF::RobotDescription d = URDF::RobotDescription::fromFile(file.path(), repair);
    ASSERT_EQ(d.warnings().size(), 1u) << "trial " << trial;
    expectMentions(d.warnings()[0], {"link 'l1'", "repairInertia", "nearest consistent"});
    const Eigen::Matrix3d repaired = d.bodies()[1].inertia.comInertia();
    const Eigen::Vector3d nearest = dykstraProjection(moments);
    const Eigen::Matrix3d expected = R * nearest.asDiagonal() * R.transpose();
    EXPECT_LE((repaired - expected).norm(), 1e-12) << "trial " << trial;
    const Eigen::Vector3d result =
        Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d>(repaired).eigenvalues();
    EXPECT_GE(result(0) + result(1) - result(2), -1e-15) << "trial " << trial;
    for (int other = 0; other < 200; ++other) {
      const Eigen::Matrix3d Q =
          Eigen::AngleAxisd(0.2 * u(rng), Eigen::Vector3d(u(rng), u(rng), u(rng)).normalized())
              .toRotationMatrix() *
          R;
      const Eigen::Vector3d y = nearest + 0.01 * Eigen::Vector3d(u(rng), u(rng), u(rng));
      if (y.dot(kTriangleNormals[0]) < 0 || y.dot(kTriangleNormals[1]) < 0 ||
          y.dot(kTriangleNormals[2]) < 0)
        continue;
      const Eigen::Matrix3d consistent = Q * y.asDiagonal() * Q.transpose();
      EXPECT_GE((consistent - I).norm(), (repaired - I).norm() - 1e-12) << "trial " << trial;
    }
  }
  TemporaryUrdf good(oneJoint(jointXml("j1", "revolute", "l0", "l1")), currentTestName() + "_ok");
  const URDF::RobotDescription d = URDF::RobotDescription::fromFile(good.path(), repair);
  EXPECT_TRUE(d.warnings().empty());
  EXPECT_DOUBLE_EQ(d.bodies()[1].inertia.comInertia()(0, 0), 0.02);
}

// Two findings a new user would otherwise meet only in the dynamics: a moving joint that carries
// no inertia (nothing under it, or its mass on its axis), whose acceleration the forward dynamics
// cannot tell, and limits that exclude q = 0, where a Robot starts. Each names the joint.
TEST(BadInput, JointsWithoutInertiaAndLimitsExcludingZeroAreWarnings) {
  const std::string massless = "    <inertial>\n      <mass value=\"0\"/>\n      <inertia ixx=\"0\" "
                               "ixy=\"0\" ixz=\"0\" iyy=\"0\" iyz=\"0\" izz=\"0\"/>\n    </inertial>\n";
  // j2 carries a link without inertial, followed by a massless one on a fixed joint; j3 turns
  // about z a point mass on its z axis; j1 carries them all and the massive l1.
  const std::string pointOnAxis = inertial(
      "2", "0 0 0.3", "0 0 0", "ixx=\"0\" ixy=\"0\" ixz=\"0\" iyy=\"0\" iyz=\"0\" izz=\"0\"");
  const std::string body =
      linkXml("l0") + linkXml("l1") + "  <link name=\"l2\"/>\n" + linkXml("l2b", massless) +
      linkXml("l3", pointOnAxis) + jointXml("j1", "revolute", "l0", "l1") +
      jointXml("j2", "prismatic", "l1", "l2", "", "0 0 0.1", "0 0 0", "1 0 0") +
      jointXml("j2b", "fixed", "l2", "l2b") + jointXml("j3", "revolute", "l1", "l3", "", "0 0 0.1", "0 0 0", "0 0 1");
  TemporaryUrdf file(urdfDocument(body), currentTestName());
  const URDF::RobotDescription d = URDF::RobotDescription::fromFile(file.path());
  std::vector<std::string> noInertia;
  for (const std::string& w : d.warnings())
    if (w.find("moves no inertia") != std::string::npos) noInertia.push_back(w);
  ASSERT_EQ(noInertia.size(), 2u);
  expectMentions(noInertia[0], {file.path(), "joint 'j2'"});
  expectMentions(noInertia[1], {"joint 'j3'"});

  std::string limited = chain(2);
  limited.replace(limited.find("lower=\"-2\""), 10, "lower=\"0.2\"");
  TemporaryUrdf outside(urdfDocument(limited), currentTestName() + "_limits");
  const URDF::RobotDescription e = URDF::RobotDescription::fromFile(outside.path());
  ASSERT_EQ(e.warnings().size(), 1u);
  expectMentions(e.warnings()[0], {"joint 'j1'", "q = 0", "outside its limits"});
}

// urdfdom rejects some non-finite numbers with a console message and reads others (in an inertial)
// as zero; every one must name its element.
TEST(BadInput, NonFiniteNumbers) {
  struct Case {
    std::string xml, element;
  };
  const std::vector<Case> cases = {
      {oneJoint(jointXml("j1", "revolute", "l0", "l1", "", "0 nan 0")), "<origin xyz=\"0 nan 0\">"},
      {oneJoint(jointXml("j1", "revolute", "l0", "l1", "", "0 0 0", "inf 0 0")),
       "<origin rpy=\"inf 0 0\">"},
      {oneJoint(jointXml("j1", "revolute", "l0", "l1", "", "0 0 0", "0 0 0", "0 0 -inf")),
       "<axis xyz=\"0 0 -inf\">"},
      {oneJoint(jointXml("j1", "continuous", "l0", "l1",
                         "    <limit effort=\"NaN\" velocity=\"1\"/>\n")),
       "<limit effort=\"NaN\">"},
      {oneJoint(jointXml("j1", "continuous", "l0", "l1", "    <dynamics damping=\"inf\"/>\n")),
       "<dynamics damping=\"inf\">"},
      {oneJoint(jointXml("j1", "revolute", "l0", "l1"), linkXml("l1", inertial("nan"))),
       "<mass value=\"nan\">"},
      {oneJoint(jointXml("j1", "revolute", "l0", "l1"),
                linkXml("l1", inertial("1", "0 0 infinity"))),
       "<origin xyz=\"0 0 infinity\">"},
      {oneJoint(jointXml("j1", "revolute", "l0", "l1"),
                linkXml("l1",
                        inertial("1", "0 0 0", "0 0 0",
                                 "ixx=\"nan\" ixy=\"0\" ixz=\"0\" iyy=\"1\" iyz=\"0\" izz=\"1\""))),
       "<inertia ixx=\"nan\">"},
      {oneJoint(jointXml("j1", "revolute", "l0", "l1"),
                linkXml("l1", "    <visual><origin xyz=\"nan 0 0\"/></visual>\n")),
       "<origin xyz=\"nan 0 0\">"},
  };
  for (const Case& c : cases)
    expectMentions(loadError(c.xml), {c.element, "is not a finite number"});
}

TEST(BadInput, MalformedNumbers) {
  const auto withOrigin = [](const std::string& xyz) {
    return oneJoint(jointXml("j1", "revolute", "l0", "l1", "", xyz));
  };
  expectMentions(loadError(withOrigin("0 1,5 0")), {"joint 'j1'", "'1,5' is not a number"});
  expectMentions(loadError(withOrigin("0 ${pi} 0")), {"'${pi}' is not a number"});
  expectMentions(loadError(withOrigin("0 1e400 0")), {"'1e400' is out of the range"});
  expectMentions(loadError(withOrigin("0 1")),
                 {"<origin xyz=\"0 1\">", "expects 3 numbers, found 2"});
  expectMentions(loadError(withOrigin("0 1 2 3")), {"expects 3 numbers, found more"});
  expectMentions(loadError(oneJoint(jointXml("j1", "revolute", "l0", "l1"),
                                    linkXml("l1", inertial("1", "0 0 0", "0 0 0",
                                                        "ixx=\"1\" iyy=\"1\" izz=\"1\"")))),
                 {"link 'l1'", "<inertia>", "missing attribute 'ixy'"});
}

// The joints must make the links one tree.
TEST(BadInput, LinksDoNotFormATree) {
  expectMentions(loadError(urdfDocument(linkXml("l0") + linkXml("l0"))),
                 {"link 'l0'", "already defined at line"});
  expectMentions(loadError(urdfDocument(linkXml("l0") + linkXml("l1") + linkXml("l2") +
                                        jointXml("j1", "fixed", "l0", "l1") +
                                        jointXml("j1", "fixed", "l1", "l2"))),
                 {"joint 'j1'", "already defined at line"});
  expectMentions(loadError(urdfDocument(linkXml("l0") + linkXml("l1") + linkXml("l2") +
                                        jointXml("j1", "fixed", "l0", "l2") +
                                        jointXml("j2", "fixed", "l1", "l2"))),
                 {"joint 'j2'", "'l2' is already the child of joint 'j1'"});
  expectMentions(loadError(urdfDocument(linkXml("l0") + linkXml("l1") + linkXml("l2") +
                                        jointXml("j1", "fixed", "l0", "l1"))),
                 {"several root links", "'l0'", "'l2'"});
  // A cycle detached from the root.
  expectMentions(loadError(urdfDocument(linkXml("l0") + linkXml("l1") + linkXml("l2") +
                                        jointXml("j1", "fixed", "l1", "l2") +
                                        jointXml("j2", "fixed", "l2", "l1"))),
                 {"link 'l1'", "not connected to the root link 'l0'"});
  expectMentions(loadError(oneJoint(jointXml("j1", "fixed", "l1", "l1"))),
                 {"joint 'j1'", "the parent and the child are the same link"});
}

TEST(BadInput, RevoluteOrPrismaticJointWithoutLimit) {
  std::string revolute = jointXml("j1", "revolute", "l0", "l1");
  revolute.erase(revolute.find("    <limit"), jointLimit().size());
  expectMentions(loadError(oneJoint(revolute)), {"joint 'j1'", "a revolute joint needs a <limit>"});
  expectMentions(loadError(oneJoint(jointXml("j1", "continuous", "l0", "l1",
                                          "    <limit lower=\"0\" upper=\"1\"/>\n"))),
                 {"joint 'j1'", "<limit>", "'effort' and 'velocity'"});
}

// urdfdom logs some errors and goes on: a mass with a trailing blank is read as zero. The loader
// turns any error urdfdom logs into a LoadError with urdfdom's message.
TEST(BadInput, ErrorsUrdfdomOnlyLogsFailTheLoad) {
  expectMentions(
      loadError(oneJoint(jointXml("j1", "revolute", "l0", "l1"), linkXml("l1", inertial("1 ")))),
      {"urdfdom", "mass", "l1"});
  expectMentions(loadError(oneJoint(jointXml("j1", "revolute", "l0", "l1",
                                          "    <safety_controller k_velocity=\"fast\"/>\n"))),
                 {"urdfdom", "k_velocity", "j1"});
}

TEST(BadInput, LockingWhatCannotBeLocked) {
  URDF::LoadOptions options;
  options.lockedJoints["no_such_joint"] = 0;
  expectMentions(loadError(urdfDocument(chain(2)), options),
                 {"LoadOptions::lockedJoints", "no joint 'no_such_joint'"});
  options.lockedJoints = {{"tool_joint", 0.0}};
  expectMentions(loadError(urdfDocument(chain(2) + linkXml("tool") +
                                        jointXml("tool_joint", "fixed", "l2", "tool")),
                           options),
                 {"joint 'tool_joint'", "not a moving joint"});
  options.lockedJoints = {{"j1", NAN}};
  expectMentions(loadError(urdfDocument(chain(2)), options), {"joint 'j1'", "not a finite number"});
}

// A model of N coordinates needs a description with exactly N moving joints, N one of the sizes the
// library is built for.
TEST(BadInput, ModelSizeMismatch) {
  TemporaryUrdf six(urdfDocument(chain(6)), currentTestName() + "_6");
  try {
    URDF::loadRobot<7>(six.path());
    ADD_FAILURE() << "a 6-joint description gave a 7-joint model";
  } catch (const URDF::LoadError& e) {
    expectMentions(e.what(), {six.path(), "6 moving joints", "N = 7"});
  }
  // Any size makes a model; withRobot builds those of its list and names the list otherwise.
  TemporaryUrdf nine(urdfDocument(chain(9)), currentTestName() + "_9");
  const URDF::RobotDescription d = URDF::RobotDescription::fromFile(nine.path());
  EXPECT_EQ(d.modelSize(), 9);
  const auto size = [](auto& robot) { return robot.description().dof(); };
  try {
    URDF::withRobot(d, size);
    ADD_FAILURE() << "withRobot built 9 joints without 9 in its sizes";
  } catch (const URDF::LoadError& e) {
    expectMentions(e.what(), {nine.path(), "9 moving joints", "6, 7, 14 and 16", "withRobot<9>"});
  }
  try {
    URDF::withRobot<5, 3>(d, size);
    ADD_FAILURE() << "withRobot<5, 3> built 9 joints";
  } catch (const URDF::LoadError& e) {
    expectMentions(e.what(), {"9 moving joints", "3, 5, 6, 7, 14 and 16"});
  }
  EXPECT_EQ((URDF::withRobot<5, 9>(d, size)), 9);
  EXPECT_EQ(URDF::loadRobot<9>(nine.path()).JOINT_DOF, 9);
  // A description without a moving joint has no model.
  TemporaryUrdf none(urdfDocument(chain(0)), currentTestName() + "_0");
  EXPECT_THROW(URDF::RobotDescription::fromFile(none.path()).modelSize(), URDF::LoadError);
}

// The bundled Allegro hand has 13 links whose principal moments violate the triangle inequality
// (its README's count); they are warnings that name the file and the link, and errors when strict.
TEST(BadInput, PhysicalInconsistenciesAreWarningsUnlessStrict) {
  const std::string path = robotPath(AllegroHand::file());
  const URDF::RobotDescription d = URDF::RobotDescription::fromFile(path);
  const long triangle =
      std::count_if(d.warnings().begin(), d.warnings().end(), [&](const std::string& w) {
        return w.find("triangle inequality") != std::string::npos && w.find(path) == 0 &&
               w.find("link 'link_") != std::string::npos;
      });
  EXPECT_EQ(triangle, 13);
  // Besides: its thumb's first joint has limits [0.263, 1.396], which exclude q = 0.
  ASSERT_EQ(d.warnings().size(), 14u);
  for (const std::string& w : d.warnings())
    if (w.find("triangle inequality") == std::string::npos)
      expectMentions(w, {"joint 'joint_12.0'", "q = 0", "outside its limits"});

  URDF::LoadOptions strict;
  strict.strict = true;
  try {
    URDF::RobotDescription::fromFile(path, strict);
    ADD_FAILURE() << "a strict load accepted the warnings";
  } catch (const URDF::LoadError& e) {
    expectMentions(e.what(), {path, "triangle inequality", "14 warning"});
  }
  // The other bundled robots are consistent; the Panda's fourth joint, limited to
  // [-3.0718, -0.0698], excludes q = 0, its only warning.
  for (const std::string& file : {Ur5::file(), BaxterArms::file()})
    EXPECT_NO_THROW(URDF::RobotDescription::fromFile(robotPath(file), strict)) << file;
  const URDF::RobotDescription panda = URDF::RobotDescription::fromFile(robotPath(PandaArm::file()));
  ASSERT_EQ(panda.warnings().size(), 1u);
  expectMentions(panda.warnings()[0], {"joint 'panda_joint4'", "q = 0", "outside its limits"});
}

}  // namespace zorvik_test::bad_input_test
