// Reading a URDF description: the file, the XML checks, urdfdom's model, and the reduction to the
// bodies and moving joints of a ZorvikCore model (see ZorvikURDF/RobotDescription).
#include "ZorvikURDF/RobotDescription"

#include <console_bridge/console.h>
#include <urdf_parser/urdf_parser.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <mutex>
#include <set>

#include "internal/JointKinds.h"
#include "internal/XmlCheck.h"

namespace ZorvikFoundation {
namespace URDF {

using internal::formatMessage;

LoadError::LoadError(const std::string& file, int line, const std::string& element,
                     const std::string& problem)
    : std::runtime_error(formatMessage(file, line, element, problem)),
      _file(file),
      _line(line),
      _element(element),
      _problem(problem) {}

const std::vector<int>& RobotDescription::supportedSizes() {
  static const std::vector<int> sizes = {6, 7, 14, 16};
  return sizes;
}

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

std::string readFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw LoadError(path, 0, "", std::string("cannot open the file: ") + std::strerror(errno));
  std::string text;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  const bool failed = std::ferror(f);
  const int error = errno;
  std::fclose(f);
  if (failed) throw LoadError(path, 0, "", std::string("cannot read the file: ") + std::strerror(error));
  return text;
}

// urdfdom reports through console_bridge and goes on after some errors (an unreadable inertial is
// logged and read as zero). While it parses, its messages are collected so that any error it logs
// fails the load with urdfdom's own words. The output handler and the log level are process-wide,
// so parses are serialised and both are restored afterwards.
class UrdfdomMessages : public console_bridge::OutputHandler {
 public:
  void log(const std::string& text, console_bridge::LogLevel level, const char*, int) override {
    if (level >= console_bridge::CONSOLE_BRIDGE_LOG_ERROR)
      errors.push_back(text);
    else if (level == console_bridge::CONSOLE_BRIDGE_LOG_WARN)
      warnings.push_back(text);
  }
  std::vector<std::string> errors;
  std::vector<std::string> warnings;
};

std::mutex& urdfdomMutex() {
  static std::mutex m;
  return m;
}

urdf::ModelInterfaceSharedPtr parseWithUrdfdom(const std::string& xml, const std::string& source,
                                               std::vector<std::string>& warnings) {
  std::lock_guard<std::mutex> lock(urdfdomMutex());
  UrdfdomMessages messages;
  const console_bridge::LogLevel level = console_bridge::getLogLevel();
  console_bridge::useOutputHandler(&messages);
  if (level > console_bridge::CONSOLE_BRIDGE_LOG_WARN)
    console_bridge::setLogLevel(console_bridge::CONSOLE_BRIDGE_LOG_WARN);
  urdf::ModelInterfaceSharedPtr model;
  std::string exception;
  try {
    model = urdf::parseURDF(xml);
  } catch (const std::exception& e) {
    exception = e.what();
  }
  console_bridge::setLogLevel(level);
  console_bridge::restorePreviousOutputHandler();

  for (const std::string& w : messages.warnings)
    warnings.push_back(formatMessage(source, 0, "urdfdom", w));
  if (!exception.empty()) messages.errors.push_back(exception);
  if (!model || !messages.errors.empty()) {
    std::string problem;
    for (const std::string& e : messages.errors) problem += (problem.empty() ? "" : "; ") + e;
    if (problem.empty()) problem = "the description was rejected without a message";
    throw LoadError(source, 0, "urdfdom", problem);
  }
  return model;
}

// urdfdom reads the text with its own XML parser, which keeps what the strict check rejects or
// decodes (an unescaped '&' in a name, say) in its own way. Every link and joint urdfdom reports
// must be one the check read under the same name; otherwise the two readings of the file differ
// and nothing built from them can be trusted.
void requireSameNames(const urdf::ModelInterface& model, const internal::XmlFacts& facts,
                      const std::string& source) {
  const std::string problem =
      "urdfdom reads this name differently from the XML standard; write the characters XML "
      "reserves (&, <, >, \", ') as entities";
  for (const auto& link : model.links_)
    if (!facts.linkLine.count(link.first))
      throw LoadError(source, 0, "link " + quoted(link.first), problem);
  for (const auto& joint : model.joints_)
    if (!facts.jointOrder.count(joint.first))
      throw LoadError(source, 0, "joint " + quoted(joint.first), problem);
}

HTransform toTransform(const urdf::Pose& pose) {
  const Eigen::Quaterniond q(pose.rotation.w, pose.rotation.x, pose.rotation.y, pose.rotation.z);
  return HTransform(q.normalized().toRotationMatrix(),
                    Eigen::Vector3d(pose.position.x, pose.position.y, pose.position.z));
}

// Mass properties of a URDF link in its own frame: the tensor is given about the centre of mass in
// the inertial frame's axes, so with T_link_inertial = (R, c) the link has its centre of mass at c
// and the inertia R I R^T about it (Inertia::transformed). A tensor the check repaired replaces the
// file's.
Inertia linkInertia(const urdf::Link& link, const internal::XmlFacts& facts) {
  if (!link.inertial) return Inertia();
  const urdf::Inertial& i = *link.inertial;
  Eigen::Matrix3d I;
  I << i.ixx, i.ixy, i.ixz, i.ixy, i.iyy, i.iyz, i.ixz, i.iyz, i.izz;
  const auto repaired = facts.repairedInertia.find(link.name);
  if (repaired != facts.repairedInertia.end()) I = repaired->second;
  // Storage order (Ixx, Iyy, Izz, Ixy, Iyz, Izx).
  const Inertia inInertialFrame(i.mass, 0, 0, 0, I(0, 0), I(1, 1), I(2, 2), I(0, 1), I(1, 2),
                                I(0, 2));
  return inInertialFrame.transformed(toTransform(i.origin));
}

bool isMoving(const urdf::Joint& joint) { return internal::movingJointKind(joint) != nullptr; }

// Relative motion of a moving joint at position q, in its joint frame: that of the library joint
// the model gets for it, so that a joint locked at q places its child exactly where the moving
// joint would at q.
HTransform jointMotion(const urdf::Joint& joint, double q) {
  const Vector3D axis(Eigen::Vector3d(joint.axis.x, joint.axis.y, joint.axis.z).normalized());
  return internal::withLibraryJoint(internal::movingJointKind(joint)->joint, [&](auto* type) {
    std::remove_pointer_t<decltype(type)> moving(HTransform(), axis);
    moving.update(&q);
    return HTransform(moving.Tadj());
  });
}

}  // namespace

// Reduction of urdfdom's tree to bodies, moving joints and frames.
struct RobotDescription::Builder {
  Builder(RobotDescription& d, const urdf::ModelInterface& model, const internal::XmlFacts& facts)
      : _d(d), _model(model), _facts(facts) {}

  void run() {
    resolveLocks();
    const urdf::Link& root = *_model.getRoot();
    _d._bodies.push_back(BodyData{root.name, -1, Inertia()});
    visit(root, 0, HTransform());
    warnAboutZeroPosition();
    warnAboutJointsWithoutInertia();
    for (size_t i = 0; i < _d._joints.size(); ++i) _d._jointByName[_d._joints[i].name] = int(i);
    for (size_t f = 0; f < _d._frames.size(); ++f) _d._frameByLink[_d._frames[f].link] = int(f);
  }

 private:
  int lineOf(const std::string& joint) const {
    const auto it = _facts.jointLine.find(joint);
    return it == _facts.jointLine.end() ? 0 : it->second;
  }

  // The joints to merge at a fixed position: those the options lock, and the mimic joints whose
  // master is locked (q = multiplier * q_master + offset), followed through chains of mimics.
  void resolveLocks() {
    for (const auto& lock : _d._options.lockedJoints) {
      const urdf::JointConstSharedPtr joint = _model.getJoint(lock.first);
      if (!joint)
        throw LoadError(_d._source, 0, "LoadOptions::lockedJoints",
                        "there is no joint " + quoted(lock.first) + " to lock");
      if (!isMoving(*joint))
        throw LoadError(_d._source, lineOf(lock.first), "joint " + quoted(lock.first),
                        "cannot be locked: it is not a moving joint");
      if (!std::isfinite(lock.second))
        throw LoadError(_d._source, lineOf(lock.first), "joint " + quoted(lock.first),
                        "the lock position is not a finite number");
      _locked[lock.first] = lock.second;
    }
    for (bool changed = true; changed;) {
      changed = false;
      for (const auto& j : _model.joints_) {
        const urdf::Joint& joint = *j.second;
        if (!isMoving(joint) || !joint.mimic || _locked.count(joint.name)) continue;
        const auto master = _locked.find(joint.mimic->joint_name);
        if (master == _locked.end()) continue;
        _locked[joint.name] = joint.mimic->multiplier * master->second + joint.mimic->offset;
        changed = true;
      }
    }
    for (const auto& lock : _locked) {
      const urdf::Joint& joint = *_model.getJoint(lock.first);
      if (!internal::movingJointKind(joint)->positionLimited || !joint.limits) continue;
      if (lock.second < joint.limits->lower || lock.second > joint.limits->upper)
        _d._warnings.push_back(formatMessage(
            _d._source, lineOf(joint.name), "joint " + quoted(joint.name),
            "locked at " + std::to_string(lock.second) + ", outside its limits [" +
                std::to_string(joint.limits->lower) + ", " + std::to_string(joint.limits->upper) +
                "]"));
    }
  }

  // The child joints of a link in the order of the file (urdfdom keeps them sorted by name).
  std::vector<urdf::JointSharedPtr> childJoints(const urdf::Link& link) const {
    std::vector<urdf::JointSharedPtr> joints = link.child_joints;
    std::sort(joints.begin(), joints.end(),
              [this](const urdf::JointSharedPtr& a, const urdf::JointSharedPtr& b) {
                return _facts.jointOrder.at(a->name) < _facts.jointOrder.at(b->name);
              });
    return joints;
  }

  // Depth-first, pre-order: a link sits on body `body` at the fixed offset T_body_link. A moving
  // joint opens the next body (so parents are numbered before children, and a joint's whole subtree
  // before its next sibling); a fixed or locked joint keeps the body and extends the offset.
  void visit(const urdf::Link& link, int body, const HTransform& T_body_link) {
    _d._frames.push_back(FrameData{link.name, body, T_body_link});
    _d._bodies[body].inertia.addInertia(linkInertia(link, _facts), T_body_link);
    for (const urdf::JointSharedPtr& j : childJoints(link)) {
      const urdf::Joint& joint = *j;
      const urdf::Link& child = *_model.getLink(joint.child_link_name);
      const HTransform origin = T_body_link.cascade(toTransform(joint.parent_to_joint_origin_transform));
      const auto lock = _locked.find(joint.name);
      if (!isMoving(joint)) {
        visit(child, body, origin);
      } else if (lock != _locked.end()) {
        visit(child, body, origin.cascade(jointMotion(joint, lock->second)));
      } else {
        const int childBody = static_cast<int>(_d._bodies.size());
        _d._bodies.push_back(BodyData{child.name, body, Inertia()});
        _d._joints.push_back(movingJoint(joint, childBody, body, origin));
        visit(child, childBody, HTransform());
      }
    }
  }

  // A Robot starts at q = 0: a joint whose limits exclude it starts outside them.
  void warnAboutZeroPosition() {
    for (const MovingJointData& j : _d._joints)
      if (j.lower > 0 || j.upper < 0)
        _d._warnings.push_back(formatMessage(
            _d._source, j.line, "joint " + quoted(j.name),
            "q = 0, where a model starts, lies outside its limits [" + std::to_string(j.lower) +
                ", " + std::to_string(j.upper) + "]"));
  }

  // A moving joint moves the composite body of everything it carries, which at q = 0 is the sum of
  // the carried bodies' spatial inertias in the child frame (each child frame sits at its joint's
  // origin then). Along the joint's motion E that composite has the inertia E^T Ic E: the moment
  // about the axis for a revolute joint, the mass for a prismatic one. Where it is zero (no mass
  // under the joint, or all of it on the axis) the joint's acceleration is undetermined: the
  // articulated inertia, which is at most the composite one, is zero too.
  void warnAboutJointsWithoutInertia() {
    const int bodies = static_cast<int>(_d._bodies.size());
    std::vector<Inertia> composite(bodies);
    for (int k = 0; k < bodies; ++k) composite[k] = _d._bodies[k].inertia;
    // Children are numbered after their parents: from the last body inwards, each is complete
    // when it is added to its parent.
    for (int i = static_cast<int>(_d._joints.size()) - 1; i >= 0; --i) {
      const MovingJointData& j = _d._joints[i];
      composite[j.parentBody].addInertia(composite[j.body], j.origin);
    }
    const double scale = composite[0].bodyInertia().diagonal().maxCoeff();
    for (const MovingJointData& j : _d._joints) {
      const Matrix6d& Ic = composite[j.body].bodyInertia();
      const Eigen::Vector3d a = j.axis;
      const double moved = j.kind == JointKind::Prismatic
                               ? a.dot(Ic.topLeftCorner<3, 3>() * a)
                               : a.dot(Ic.bottomRightCorner<3, 3>() * a);
      if (moved <= 1e-12 * scale)
        _d._warnings.push_back(formatMessage(
            _d._source, j.line, "joint " + quoted(j.name),
            std::string("moves no inertia: at q = 0 the links it carries have no mass") +
                (j.kind == JointKind::Prismatic ? "" : ", or all of it on the joint's axis") +
                "; the forward dynamics cannot tell its acceleration (zero in the release "
                "library, an assertion in the debug one)"));
    }
  }

  MovingJointData movingJoint(const urdf::Joint& joint, int body, int parentBody,
                              const HTransform& origin) const {
    const internal::MovingJointKind& kind = *internal::movingJointKind(joint);
    MovingJointData m;
    m.name = joint.name;
    m.kind = kind.kind;
    m.coordinate = body - 1;
    m.body = body;
    m.parentBody = parentBody;
    m.parentLink = joint.parent_link_name;
    m.childLink = joint.child_link_name;
    m.origin = origin;
    m.axis = Vector3D(Eigen::Vector3d(joint.axis.x, joint.axis.y, joint.axis.z).normalized());
    m.lower = -INFINITY;
    m.upper = INFINITY;
    m.velocity = INFINITY;
    m.effort = INFINITY;
    if (joint.limits) {
      if (kind.positionLimited) {
        m.lower = joint.limits->lower;
        m.upper = joint.limits->upper;
      }
      m.velocity = joint.limits->velocity;
      m.effort = joint.limits->effort;
    }
    m.damping = joint.dynamics ? joint.dynamics->damping : 0;
    m.friction = joint.dynamics ? joint.dynamics->friction : 0;
    m.mimicMultiplier = 1;
    m.mimicOffset = 0;
    if (joint.mimic) {
      m.mimicOf = joint.mimic->joint_name;
      m.mimicMultiplier = joint.mimic->multiplier;
      m.mimicOffset = joint.mimic->offset;
    }
    m.line = lineOf(joint.name);
    return m;
  }

  RobotDescription& _d;
  const urdf::ModelInterface& _model;
  const internal::XmlFacts& _facts;
  std::map<std::string, double> _locked;
};

RobotDescription RobotDescription::fromFile(const std::string& path, const LoadOptions& options) {
  return fromString(readFile(path), path, options);
}

RobotDescription RobotDescription::fromString(const std::string& xml, const std::string& sourceName,
                                              const LoadOptions& options) {
  RobotDescription d;
  d._source = sourceName;
  d._options = options;
  internal::XmlFacts facts = internal::checkXml(xml, sourceName, options.repairInertia);
  d._robotName = facts.robotName;
  d._warnings = std::move(facts.warnings);
  const urdf::ModelInterfaceSharedPtr model = parseWithUrdfdom(xml, sourceName, d._warnings);
  requireSameNames(*model, facts, sourceName);
  Builder(d, *model, facts).run();
  if (options.strict && !d._warnings.empty())
    throw LoadError(sourceName, 0, "LoadOptions::strict",
                    "warnings are errors; " + std::to_string(d._warnings.size()) +
                        " warning(s), the first: " + d._warnings.front());
  return d;
}

int RobotDescription::modelSize() const {
  std::string mimics;
  int line = 0;
  for (const MovingJointData& j : _joints) {
    if (j.mimicOf.empty()) continue;
    if (mimics.empty()) line = j.line;
    mimics += (mimics.empty() ? "" : ", ") + quoted(j.name) + " (mimics " + quoted(j.mimicOf) + ")";
  }
  if (!mimics.empty())
    throw LoadError(_source, line, "mimic joint(s) " + mimics,
                    "a mimic joint has no coordinate of its own in the model; lock it, or lock its "
                    "master (LoadOptions::lockedJoints)");
  if (dof() == 0)
    throw LoadError(_source, 0, "robot " + quoted(_robotName),
                    "no moving joint: a model needs at least one joint coordinate");
  return dof();
}

void internal::throwUnlistedSize(const RobotDescription& description,
                                 const std::vector<int>& sizes) {
  std::vector<int> listed = sizes;
  std::sort(listed.begin(), listed.end());
  listed.erase(std::unique(listed.begin(), listed.end()), listed.end());
  std::string names;
  for (std::size_t i = 0; i < listed.size(); ++i)
    names += (i == 0 ? "" : i + 1 == listed.size() ? " and " : ", ") + std::to_string(listed[i]);
  const int n = description.modelSize();
  throw LoadError(description.source(), 0, "robot " + quoted(description.robotName()),
                  std::to_string(n) + " moving joints; this program has models for " + names +
                      " (add " + std::to_string(n) + " to withRobot's sizes, withRobot<" +
                      std::to_string(n) +
                      ">(...), or lock joints with LoadOptions::lockedJoints to reach one of "
                      "these)");
}

void RobotDescription::checkModelSize(int N) const {
  if (modelSize() != N)
    throw LoadError(_source, 0, "robot " + quoted(_robotName),
                    std::to_string(dof()) + " moving joints, so no model with N = " +
                        std::to_string(N) + " can be built from it (use N = " +
                        std::to_string(dof()) + ")");
}

int RobotDescription::jointIndex(const std::string& joint) const {
  const auto it = _jointByName.find(joint);
  return it == _jointByName.end() ? -1 : it->second;
}

int RobotDescription::frameIndex(const std::string& link) const {
  const auto it = _frameByLink.find(link);
  return it == _frameByLink.end() ? -1 : it->second;
}

int RobotDescription::bodyOfLink(const std::string& link) const {
  const int f = frameIndex(link);
  return f < 0 ? -1 : _frames[f].body;
}

}  // namespace URDF
}  // namespace ZorvikFoundation
