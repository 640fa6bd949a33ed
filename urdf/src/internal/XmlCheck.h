// Checks of a URDF document made on the XML itself, before urdfdom builds its model.
//
// urdfdom reports many problems only on its console, with messages that do not always name the
// element, and accepts others silently: a zero axis, a negative mass, an inertia tensor that is not
// positive semi-definite, a mimic of a joint that does not exist; a NaN in an inertial is logged and
// then read as zero. These checks read every number the model uses, strictly and
// locale-independently, and name the file, line and element of the first problem. They also record
// what urdfdom's model forgets: the order of the joints in the file (urdfdom sorts them by name),
// which the depth-first numbering of the joints follows, and the line of every element.
#ifndef ZORVIK_URDF_INTERNAL_XMLCHECK_
#define ZORVIK_URDF_INTERNAL_XMLCHECK_

#include <Eigen/Core>
#include <map>
#include <string>
#include <vector>

namespace ZorvikFoundation {
namespace URDF {
namespace internal {

struct XmlFacts {
  std::string robotName;
  std::string rootLink;
  // Position of each <joint> among the joints of the file, and the line of each joint and link.
  std::map<std::string, int> jointOrder;
  std::map<std::string, int> jointLine;
  std::map<std::string, int> linkLine;
  std::vector<std::string> warnings;
  // Inertia tensors (about the centre of mass, in the inertial frame) that replace the file's,
  // by link name: those repaired under LoadOptions::repairInertia.
  std::map<std::string, Eigen::Matrix3d> repairedInertia;
};

// The principal moments nearest to `moments` (in the Euclidean norm) that a rigid body can have:
// non-negative, each at most the sum of the other two.
Eigen::Vector3d nearestConsistentMoments(const Eigen::Vector3d& moments);

// Throws LoadError at the first problem of the document `xml` read from `source`; repairInertia as
// LoadOptions::repairInertia.
XmlFacts checkXml(const std::string& xml, const std::string& source, bool repairInertia);

// "<source>:<line>: <element>: <problem>", the format of every error and warning.
std::string formatMessage(const std::string& source, int line, const std::string& element,
                          const std::string& problem);

}  // namespace internal
}  // namespace URDF
}  // namespace ZorvikFoundation

#endif  // ZORVIK_URDF_INTERNAL_XMLCHECK_
