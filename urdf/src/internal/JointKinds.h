// The URDF joint types the loader turns into moving joints, and what each becomes: one row per type
// with its name in the file, urdfdom's code for it, the kind the reduced description records,
// whether the URDF <limit> bounds the position, and the library joint class the model builds. The
// XML check, the reduction and the model builder all read this table; any other type is fixed, or
// rejected by the XML check.
#ifndef ZORVIK_URDF_INTERNAL_JOINTKINDS_H_
#define ZORVIK_URDF_INTERNAL_JOINTKINDS_H_

#include <urdf_model/joint.h>

#include <AMBS/Joint>
#include <string>

#include "ZorvikURDF/RobotDescription"

namespace ZorvikFoundation {
namespace URDF {
namespace internal {

enum class LibraryJoint { Revolute, Prismatic };

struct MovingJointKind {
  const char* urdfType;
  int urdfdomType;
  JointKind kind;
  bool positionLimited;
  LibraryJoint joint;
};

inline const MovingJointKind* movingJointKinds(int* count) {
  static const MovingJointKind kinds[] = {
      {"revolute", urdf::Joint::REVOLUTE, JointKind::Revolute, true, LibraryJoint::Revolute},
      {"continuous", urdf::Joint::CONTINUOUS, JointKind::Continuous, false, LibraryJoint::Revolute},
      {"prismatic", urdf::Joint::PRISMATIC, JointKind::Prismatic, true, LibraryJoint::Prismatic},
  };
  *count = sizeof(kinds) / sizeof(kinds[0]);
  return kinds;
}

// The row that matches, or null for a type that is not a moving joint.
template <typename Match>
const MovingJointKind* findMovingJointKind(Match match) {
  int count;
  const MovingJointKind* kinds = movingJointKinds(&count);
  for (int i = 0; i < count; ++i)
    if (match(kinds[i])) return &kinds[i];
  return nullptr;
}
inline const MovingJointKind* movingJointKind(const std::string& urdfType) {
  return findMovingJointKind([&](const MovingJointKind& k) { return urdfType == k.urdfType; });
}
inline const MovingJointKind* movingJointKind(const urdf::Joint& joint) {
  return findMovingJointKind([&](const MovingJointKind& k) { return joint.type == k.urdfdomType; });
}
inline const MovingJointKind& movingJointKind(JointKind kind) {
  return *findMovingJointKind([&](const MovingJointKind& k) { return kind == k.kind; });
}

// Calls f with a null pointer of the library joint class of `joint`, so that f can build one:
//   withLibraryJoint(kind.joint, [&](auto* type) { std::remove_pointer_t<decltype(type)> j(...); });
template <typename F>
decltype(auto) withLibraryJoint(LibraryJoint joint, F&& f) {
  if (joint == LibraryJoint::Prismatic) return f(static_cast<PrismaticJoint*>(nullptr));
  return f(static_cast<RevoluteJoint*>(nullptr));
}

}  // namespace internal
}  // namespace URDF
}  // namespace ZorvikFoundation

#endif  // ZORVIK_URDF_INTERNAL_JOINTKINDS_H_
