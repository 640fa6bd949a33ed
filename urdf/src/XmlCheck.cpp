// Checks of a URDF document on its XML (see internal/XmlCheck.h).
#include "internal/XmlCheck.h"

#include <tinyxml2.h>

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <set>
#include <sstream>

#include "ZorvikURDF/RobotDescription"
#include "internal/JointKinds.h"

namespace ZorvikFoundation {
namespace URDF {
namespace internal {

using tinyxml2::XMLElement;

std::string formatMessage(const std::string& source, int line, const std::string& element,
                          const std::string& problem) {
  std::string message = source;
  if (line > 0) message += ":" + std::to_string(line);
  message += ": ";
  if (!element.empty()) message += element + ": ";
  return message + problem;
}

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// <name attr="value">, the way an offending attribute is shown in messages.
std::string tagWith(const XMLElement* e, const char* attr) {
  std::string tag = std::string("<") + e->Name();
  if (attr) {
    const char* value = e->Attribute(attr);
    tag += std::string(" ") + attr + "=\"" + (value ? value : "") + "\"";
  }
  return tag + ">";
}

std::string numberString(double x) {
  std::ostringstream os;
  os.precision(6);
  os << x;
  return os.str();
}

// Moments of inertia and other magnitudes are compared with a relative tolerance: the files print
// them with a few significant digits, so values that are equal on paper differ by rounding.
constexpr double kRelativeTolerance = 1e-9;
// Moments of inertia are also compared with an absolute tolerance, in kg m^2: the rounding of a
// moment of 1 kg m^2, and the moment of a milligram 10 um from the axis, below anything a link
// has. Without it, a tensor of rounding noise (zero moments, products of 1e-35) fails the relative
// test against its own noise.
constexpr double kAbsoluteInertiaTolerance = 1e-16;

class Checker {
 public:
  Checker(const std::string& source, bool repairInertia)
      : _source(source), _repairInertia(repairInertia) {}

  [[noreturn]] void fail(const XMLElement* e, const std::string& element,
                         const std::string& problem) const {
    throw LoadError(_source, e ? e->GetLineNum() : 0, element, problem);
  }
  void warn(const XMLElement* e, const std::string& element, const std::string& problem) {
    _facts.warnings.push_back(formatMessage(_source, e ? e->GetLineNum() : 0, element, problem));
  }

  XmlFacts run(const std::string& xml);

 private:
  // Reads exactly `count` numbers from attribute `attr` of `e` into `out`; false when the attribute
  // is absent. Numbers are read with std::from_chars: decimal, locale-independent, finite.
  bool readNumbers(const XMLElement* e, const std::string& owner, const char* attr, int count,
                   double* out) const;
  double readRequiredNumber(const XMLElement* e, const std::string& owner, const char* attr) const;
  void checkOrigin(const XMLElement* parent, const std::string& owner) const;
  void checkLink(const XMLElement* link, const std::string& name);
  void checkInertial(const XMLElement* inertial, const std::string& link);
  void checkJoint(const XMLElement* joint, const std::string& name);
  void checkTree(const XMLElement* robot);

  const std::string& _source;
  const bool _repairInertia;
  XmlFacts _facts;

  struct JointFacts {
    const XMLElement* element;
    std::string type;
    std::string parent;
    std::string child;
    const XMLElement* mimic;
  };
  std::map<std::string, const XMLElement*> _links;
  std::map<std::string, JointFacts> _joints;
  std::vector<std::string> _jointsInFileOrder;
};

bool Checker::readNumbers(const XMLElement* e, const std::string& owner, const char* attr,
                          int count, double* out) const {
  const char* text = e->Attribute(attr);
  if (!text) return false;
  const std::string element = owner + " " + tagWith(e, attr);
  const char* p = text;
  const char* const end = text + std::char_traits<char>::length(text);
  int found = 0;
  while (true) {
    while (p != end && std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (p == end) break;
    const char* tokenEnd = p;
    while (tokenEnd != end && !std::isspace(static_cast<unsigned char>(*tokenEnd))) ++tokenEnd;
    const std::string token(p, tokenEnd);
    if (found == count)
      fail(e, element, "expects " + std::to_string(count) + " number" + (count > 1 ? "s" : "") +
                           ", found more");
    // from_chars takes no leading '+'; URDF writers sometimes emit one.
    const char* first = (*p == '+' && tokenEnd - p > 1 && p[1] != '-') ? p + 1 : p;
    double value = 0;
    const std::from_chars_result r = std::from_chars(first, tokenEnd, value);
    if (r.ec == std::errc::result_out_of_range)
      fail(e, element, quoted(token) + " is out of the range of a double");
    if (r.ec != std::errc() || r.ptr != tokenEnd) fail(e, element, quoted(token) + " is not a number");
    if (!std::isfinite(value)) fail(e, element, quoted(token) + " is not a finite number");
    out[found++] = value;
    p = tokenEnd;
  }
  if (found != count)
    fail(e, element, "expects " + std::to_string(count) + " number" + (count > 1 ? "s" : "") +
                         ", found " + std::to_string(found));
  return true;
}

double Checker::readRequiredNumber(const XMLElement* e, const std::string& owner,
                                   const char* attr) const {
  double value = 0;
  if (!readNumbers(e, owner, attr, 1, &value))
    fail(e, owner + " " + tagWith(e, nullptr), std::string("missing attribute '") + attr + "'");
  return value;
}

void Checker::checkOrigin(const XMLElement* parent, const std::string& owner) const {
  double v[3];
  for (const XMLElement* o = parent->FirstChildElement("origin"); o;
       o = o->NextSiblingElement("origin")) {
    readNumbers(o, owner, "xyz", 3, v);
    readNumbers(o, owner, "rpy", 3, v);
  }
}

XmlFacts Checker::run(const std::string& xml) {
  tinyxml2::XMLDocument doc;
  if (doc.Parse(xml.c_str(), xml.size()) != tinyxml2::XML_SUCCESS) {
    // ErrorStr() is "Error=<name> ErrorID=<id> (<hex>) Line number=<line>[: <detail>]"; the name
    // and the line are reported on their own, the detail after them.
    const std::string text = doc.ErrorStr() ? doc.ErrorStr() : "";
    const size_t detail = text.find(": ", text.find("Line number="));
    std::string problem = std::string("malformed XML (") + doc.ErrorName();
    if (detail != std::string::npos) problem += ", " + text.substr(detail + 2);
    throw LoadError(_source, doc.ErrorLineNum(), "XML", problem + ")");
  }
  const XMLElement* robot = doc.RootElement();
  if (!robot) throw LoadError(_source, 0, "XML", "the document has no element");
  if (std::string(robot->Name()) != "robot")
    fail(robot, tagWith(robot, nullptr), "the root element must be <robot>");
  const char* robotName = robot->Attribute("name");
  if (!robotName || !*robotName) fail(robot, "<robot>", "missing attribute 'name'");
  _facts.robotName = robotName;

  // Links first, so that joints can refer to links defined anywhere in the file.
  for (const XMLElement* link = robot->FirstChildElement("link"); link;
       link = link->NextSiblingElement("link")) {
    const char* name = link->Attribute("name");
    if (!name || !*name) fail(link, "<link>", "missing attribute 'name'");
    const auto inserted = _links.emplace(name, link);
    if (!inserted.second)
      fail(link, "link " + quoted(name),
           "a link of this name is already defined at line " +
               std::to_string(inserted.first->second->GetLineNum()));
    _facts.linkLine[name] = link->GetLineNum();
  }
  if (_links.empty()) fail(robot, "<robot>", "the description has no link");
  for (const XMLElement* link = robot->FirstChildElement("link"); link;
       link = link->NextSiblingElement("link"))
    checkLink(link, link->Attribute("name"));

  for (const XMLElement* joint = robot->FirstChildElement("joint"); joint;
       joint = joint->NextSiblingElement("joint")) {
    const char* name = joint->Attribute("name");
    if (!name || !*name) fail(joint, "<joint>", "missing attribute 'name'");
    if (_joints.count(name))
      fail(joint, "joint " + quoted(name),
           "a joint of this name is already defined at line " +
               std::to_string(_joints.at(name).element->GetLineNum()));
    _facts.jointOrder[name] = static_cast<int>(_jointsInFileOrder.size());
    _facts.jointLine[name] = joint->GetLineNum();
    _jointsInFileOrder.push_back(name);
    checkJoint(joint, name);
  }
  checkTree(robot);
  return _facts;
}

void Checker::checkLink(const XMLElement* link, const std::string& name) {
  const std::string owner = "link " + quoted(name);
  if (const XMLElement* inertial = link->FirstChildElement("inertial"))
    checkInertial(inertial, name);
  for (const char* kind : {"visual", "collision"})
    for (const XMLElement* e = link->FirstChildElement(kind); e; e = e->NextSiblingElement(kind))
      checkOrigin(e, owner + " <" + kind + ">");
}

// Mass and inertia. A rigid body's inertia tensor about its centre of mass is symmetric positive
// semi-definite, and its principal moments satisfy the triangle inequality I1 + I2 >= I3 (each is
// an integral of a sum of two squared coordinates). The URDF form (ixx, ixy, ixz, iyy, iyz, izz) is
// symmetric by construction; a negative eigenvalue is an error, a violated triangle inequality a
// warning, since real descriptions carry such estimates; with repairInertia both are replaced by
// the nearest consistent tensor and reported. Both are judged within the tolerances above.
void Checker::checkInertial(const XMLElement* inertial, const std::string& link) {
  const std::string owner = "link " + quoted(link);
  const std::string where = owner + " <inertial>";
  checkOrigin(inertial, where);
  const XMLElement* mass = inertial->FirstChildElement("mass");
  if (!mass) fail(inertial, where, "missing <mass>");
  const double m = readRequiredNumber(mass, where, "value");
  if (m < 0) fail(mass, where + " " + tagWith(mass, "value"), "the mass is negative");

  const XMLElement* inertia = inertial->FirstChildElement("inertia");
  if (!inertia) fail(inertial, where, "missing <inertia>");
  const double ixx = readRequiredNumber(inertia, where, "ixx");
  const double ixy = readRequiredNumber(inertia, where, "ixy");
  const double ixz = readRequiredNumber(inertia, where, "ixz");
  const double iyy = readRequiredNumber(inertia, where, "iyy");
  const double iyz = readRequiredNumber(inertia, where, "iyz");
  const double izz = readRequiredNumber(inertia, where, "izz");
  Eigen::Matrix3d I;
  I << ixx, ixy, ixz, ixy, iyy, iyz, ixz, iyz, izz;
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(I);
  const Eigen::Vector3d moments = eigen.eigenvalues();  // increasing
  const double scale = std::max(std::fabs(moments(0)), std::fabs(moments(2)));
  const double tolerance = kRelativeTolerance * scale + kAbsoluteInertiaTolerance;
  const std::string tensor = where + " <inertia>";
  auto text = [](const Eigen::Vector3d& v) {
    return "(" + numberString(v(0)) + ", " + numberString(v(1)) + ", " + numberString(v(2)) + ")";
  };
  const bool negative = moments(0) < -tolerance;
  const bool triangle = moments(0) + moments(1) < moments(2) - tolerance;
  if (negative && !_repairInertia)
    fail(inertia, tensor,
         "the inertia tensor is not positive semi-definite: principal moments " + text(moments) +
             " (LoadOptions::repairInertia replaces it by the nearest consistent tensor)");
  if (_repairInertia && (negative || triangle)) {
    const Eigen::Vector3d repaired = nearestConsistentMoments(moments);
    _facts.repairedInertia[link] =
        eigen.eigenvectors() * repaired.asDiagonal() * eigen.eigenvectors().transpose();
    warn(inertia, tensor,
         "principal moments " + text(moments) + " that no rigid body has (" +
             (negative ? "a negative moment" : "the triangle inequality I1 + I2 >= I3 violated") +
             ") replaced by the nearest consistent ones " + text(repaired) +
             ", on the same principal axes (LoadOptions::repairInertia)");
  } else if (triangle) {
    warn(inertia, tensor,
         "the principal moments " + text(moments) + " violate the triangle inequality I1 + I2 >= I3");
  }
  if (m == 0 && scale > kAbsoluteInertiaTolerance)
    warn(inertia, tensor, "a massless link has a non-zero inertia tensor");
}

void Checker::checkJoint(const XMLElement* joint, const std::string& name) {
  const std::string owner = "joint " + quoted(name);
  const char* typeText = joint->Attribute("type");
  if (!typeText || !*typeText) fail(joint, owner, "missing attribute 'type'");
  const std::string type = typeText;
  const MovingJointKind* kind = movingJointKind(type);
  if (!kind && type != "fixed" && type != "floating" && type != "planar")
    fail(joint, owner + " " + tagWith(joint, "type"),
         "unknown joint type (URDF has revolute, continuous, prismatic, fixed, floating, planar)");
  if (type == "planar")
    fail(joint, owner + " " + tagWith(joint, "type"),
         "planar joints are not supported (the library's joints have one coordinate)");
  if (type == "floating")
    fail(joint, owner + " " + tagWith(joint, "type"),
         "floating joints are not supported inside the tree (a free-floating root is "
         "LoadOptions::floatingBase)");
  const bool moving = kind != nullptr;

  JointFacts facts{joint, type, "", "", nullptr};
  for (const char* role : {"parent", "child"}) {
    const XMLElement* e = joint->FirstChildElement(role);
    if (!e) fail(joint, owner, std::string("missing <") + role + ">");
    const char* link = e->Attribute("link");
    if (!link || !*link) fail(e, owner + " " + tagWith(e, nullptr), "missing attribute 'link'");
    if (!_links.count(link))
      fail(e, owner + " " + tagWith(e, "link"),
           std::string("the ") + role + " link " + quoted(link) + " is not defined in the file");
    (std::string(role) == "parent" ? facts.parent : facts.child) = link;
  }
  if (facts.parent == facts.child)
    fail(joint, owner, "the parent and the child are the same link " + quoted(facts.child));

  checkOrigin(joint, owner);

  if (const XMLElement* axis = joint->FirstChildElement("axis")) {
    double a[3];
    if (readNumbers(axis, owner, "xyz", 3, a) && moving) {
      const double norm = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
      if (norm < 1e-12) fail(axis, owner + " " + tagWith(axis, "xyz"), "the axis is zero");
      if (std::fabs(norm - 1) > 1e-6)
        warn(axis, owner + " " + tagWith(axis, "xyz"),
             "the axis is not a unit vector (length " + numberString(norm) + "); it is normalised");
    }
  }

  if (const XMLElement* limit = joint->FirstChildElement("limit")) {
    double lower = 0, upper = 0, effort = 0, velocity = 0;
    const bool hasLower = readNumbers(limit, owner, "lower", 1, &lower);
    const bool hasUpper = readNumbers(limit, owner, "upper", 1, &upper);
    const bool hasEffort = readNumbers(limit, owner, "effort", 1, &effort);
    const bool hasVelocity = readNumbers(limit, owner, "velocity", 1, &velocity);
    if (moving && (!hasEffort || !hasVelocity))
      fail(limit, owner + " <limit>", "a joint limit needs the attributes 'effort' and 'velocity'");
    if (moving && kind->positionLimited && hasLower && hasUpper && lower > upper)
      warn(limit, owner + " <limit>",
           "the lower limit " + numberString(lower) + " is above the upper limit " +
               numberString(upper));
    if (effort < 0 || velocity < 0)
      warn(limit, owner + " <limit>", "negative effort or velocity bound");
  } else if (moving && kind->positionLimited) {
    fail(joint, owner, "a " + type + " joint needs a <limit>");
  }

  if (const XMLElement* dynamics = joint->FirstChildElement("dynamics")) {
    double damping = 0, friction = 0;
    readNumbers(dynamics, owner, "damping", 1, &damping);
    readNumbers(dynamics, owner, "friction", 1, &friction);
    if (damping < 0 || friction < 0)
      warn(dynamics, owner + " <dynamics>", "negative damping or friction");
  }

  if (const XMLElement* mimic = joint->FirstChildElement("mimic")) {
    const char* master = mimic->Attribute("joint");
    if (!master || !*master)
      fail(mimic, owner + " <mimic>", "missing attribute 'joint'");
    double value;
    readNumbers(mimic, owner, "multiplier", 1, &value);
    readNumbers(mimic, owner, "offset", 1, &value);
    // A mimic on a fixed joint says nothing about the model; it is ignored.
    if (moving) facts.mimic = mimic;
  }
  _joints.emplace(name, facts);
}

// The joints must make the links a tree: every link is the child of at most one joint, exactly one
// link (the root) is the child of none, and every link is reached from the root.
void Checker::checkTree(const XMLElement* robot) {
  std::map<std::string, std::string> parentJoint;
  std::map<std::string, std::vector<std::string>> children;
  for (const std::string& name : _jointsInFileOrder) {
    const JointFacts& j = _joints.at(name);
    const auto inserted = parentJoint.emplace(j.child, name);
    if (!inserted.second)
      fail(j.element, "joint " + quoted(name),
           "the link " + quoted(j.child) + " is already the child of joint " +
               quoted(inserted.first->second) + ": a link has at most one parent");
    children[j.parent].push_back(j.child);
  }
  std::vector<std::string> roots;
  for (const auto& link : _links)
    if (!parentJoint.count(link.first)) roots.push_back(link.first);
  if (roots.empty())
    fail(robot, "<robot>", "no root link: every link is the child of a joint, so they form a cycle");
  if (roots.size() > 1) {
    std::string list;
    for (const std::string& r : roots) list += (list.empty() ? "" : ", ") + quoted(r);
    fail(_links.at(roots[1]), "link " + quoted(roots[1]),
         "several root links (" + list +
             "): every link but the root must be the child of a joint");
  }
  _facts.rootLink = roots.front();

  std::set<std::string> reached;
  std::vector<std::string> stack{roots.front()};
  while (!stack.empty()) {
    const std::string link = stack.back();
    stack.pop_back();
    reached.insert(link);
    for (const std::string& c : children[link]) stack.push_back(c);
  }
  for (const auto& link : _links)
    if (!reached.count(link.first))
      fail(link.second, "link " + quoted(link.first),
           "not connected to the root link " + quoted(roots.front()) +
               ": its joints form a cycle");

  for (const auto& j : _joints) {
    if (!j.second.mimic) continue;
    const std::string master = j.second.mimic->Attribute("joint");
    const std::string owner = "joint " + quoted(j.first) + " " + tagWith(j.second.mimic, "joint");
    const auto m = _joints.find(master);
    if (m == _joints.end())
      fail(j.second.mimic, owner, "mimics the joint " + quoted(master) + ", which is not defined");
    if (m->second.type == "fixed")
      fail(j.second.mimic, owner, "mimics the fixed joint " + quoted(master));
  }
}

}  // namespace

// The projection of the principal moments x on the cone K of consistent ones, whose faces are
// a_i . x >= 0 for a_1 = (1, 1, -1), a_2 = (1, -1, 1), a_3 = (-1, 1, 1) (the triangle inequalities,
// which also imply x >= 0: a_1 + a_2 = (2, 0, 0)). The projection lies in the relative interior of
// one face of K (K itself, a facet, an edge or the apex), and there it is the projection on that
// face's linear span: of the eight spans' projections, it is the nearest one that lies in K.
Eigen::Vector3d nearestConsistentMoments(const Eigen::Vector3d& x) {
  const Eigen::Vector3d a[3] = {Eigen::Vector3d(1, 1, -1), Eigen::Vector3d(1, -1, 1),
                                Eigen::Vector3d(-1, 1, 1)};
  auto consistent = [&](const Eigen::Vector3d& y) {
    const double tol = 1e-12 * y.cwiseAbs().maxCoeff();
    return a[0].dot(y) >= -tol && a[1].dot(y) >= -tol && a[2].dot(y) >= -tol;
  };
  Eigen::Vector3d best = Eigen::Vector3d::Zero();  // the apex, always in K
  auto consider = [&](const Eigen::Vector3d& y) {
    if (consistent(y) && (y - x).norm() < (best - x).norm()) best = y;
  };
  consider(x);
  for (int i = 0; i < 3; ++i) {
    consider(x - a[i].dot(x) / 3 * a[i]);           // on the facet a_i . y = 0
    const Eigen::Vector3d d = a[i].cross(a[(i + 1) % 3]);  // on the edge of two facets
    consider(d.dot(x) / d.squaredNorm() * d);
  }
  return best;
}

XmlFacts checkXml(const std::string& xml, const std::string& source, bool repairInertia) {
  return Checker(source, repairInertia).run(xml);
}

}  // namespace internal
}  // namespace URDF
}  // namespace ZorvikFoundation
