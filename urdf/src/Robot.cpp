// Robot<N>: the size-independent part of building a robot (its bodies and joints from the
// description), and the prebuilt sizes N = 6, 7, 14 and 16.
#include "ZorvikURDF/Robot"

#include <algorithm>
#include <type_traits>
#include <vector>

#include "internal/JointKinds.h"

namespace ZorvikFoundation {
namespace URDF {

void CoulombFriction::frictionTorque(const double*, const double* qdot, const double* tau,
                                     double* friction) {
  if (qdot[0] > 0)
    friction[0] = -_fc;
  else if (qdot[0] < 0)
    friction[0] = _fc;
  else
    friction[0] = -std::clamp(tau[0], -_fc, _fc);
}


namespace {

template <typename JointType>
void configureJoint(JointType& joint, const MovingJointData& data,
                    std::vector<std::unique_ptr<CoulombFriction>>& frictions) {
  joint.setDamping(data.damping);
  JointLimit<1>& limit = joint.limit();
  limit.setPosLimitLower(data.lower);
  limit.setPosLimitUpper(data.upper);
  limit.setVelLimitLower(-data.velocity);
  limit.setVelLimitUpper(data.velocity);
  limit.setActLimitLower(-data.effort);
  limit.setActLimitUpper(data.effort);
  if (data.friction != 0) {
    frictions.emplace_back(new CoulombFriction(data.friction));
    joint.setFriction(frictions.back().get());
  }
}

template <typename JointType>
void destroyJoint(Joint* joint) {
  delete static_cast<JointType*>(joint);
}

// The library joint of a moving joint of the description, with its damping, limits and friction,
// owned by the storage.
template <typename JointType>
void buildJoint(internal::RobotStorage& s, const MovingJointData& data) {
  s.joints.emplace_back(nullptr, &destroyJoint<JointType>);
  JointType* joint = new JointType(data.origin, data.axis);
  s.joints.back().reset(joint);
  configureJoint(*joint, data, s.frictions);
  s.limits.push_back(&joint->limit());
}

}  // namespace

// The bodies, the base joint and the moving joints of a description, whatever N.
void internal::buildRobotParts(const RobotDescription& description, RobotStorage& s) {
  for (const BodyData& body : description.bodies()) {
    s.bodies.emplace_back(new Body());
    s.bodies.back()->setInertia(body.inertia);
  }
  if (description.options().floatingBase)
    s.floatingBase.reset(new FloatingJoint());
  else
    s.fixedBase.reset(new RigidJoint());
  for (const MovingJointData& data : description.joints())
    internal::withLibraryJoint(internal::movingJointKind(data.kind).joint, [&](auto* type) {
      buildJoint<std::remove_pointer_t<decltype(type)>>(s, data);
    });
}

template class Robot<6>;
template class Robot<7>;
template class Robot<14>;
template class Robot<16>;

}  // namespace URDF
}  // namespace ZorvikFoundation
