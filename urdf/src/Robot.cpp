// Robot<N>: the model built from a RobotDescription, with the bodies and joints it owns; explicitly
// instantiated for N = 6, 7, 14 and 16.
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

namespace internal {

// Heap objects at addresses that never change while the robot lives, whatever happens to the
// Robot object itself; each moving joint is deleted as its concrete type, which owns the virtual
// destructor (Joint's is not virtual).
struct RobotStorage {
  typedef std::unique_ptr<Joint, void (*)(Joint*)> OwnedJoint;
  std::vector<std::unique_ptr<Body>> bodies;
  std::unique_ptr<RigidJoint> fixedBase;
  std::unique_ptr<FloatingJoint> floatingBase;
  std::vector<OwnedJoint> joints;
  std::vector<std::unique_ptr<CoulombFriction>> frictions;
  // Limits of coordinate i, inside the joint that owns it.
  std::vector<JointLimit<1>*> limits;
};

}  // namespace internal

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
JointType& buildJoint(internal::RobotStorage& s, const MovingJointData& data) {
  s.joints.emplace_back(nullptr, &destroyJoint<JointType>);
  JointType* joint = new JointType(data.origin, data.axis);
  s.joints.back().reset(joint);
  configureJoint(*joint, data, s.frictions);
  s.limits.push_back(&joint->limit());
  return *joint;
}

}  // namespace

template <int N>
Robot<N>::Robot(const RobotDescription& description) : Model(), _description(description) {
  _build();
}

template <int N>
Robot<N>::Robot(RobotDescription&& description) : Model(), _description(std::move(description)) {
  _build();
}

template <int N>
Robot<N>::~Robot() = default;

template <int N>
void Robot<N>::_build() {
  _description.checkModelSize(N);
  std::unique_ptr<internal::RobotStorage> s(new internal::RobotStorage);

  const std::vector<BodyData>& bodies = _description.bodies();
  for (int k = 0; k <= N; ++k) {
    s->bodies.emplace_back(new Body());
    s->bodies.back()->setInertia(bodies[k].inertia);
    this->addBody(k, *s->bodies.back());
  }
  if (_description.options().floatingBase) {
    s->floatingBase.reset(new FloatingJoint());
    this->addJoint(0, *s->floatingBase);
  } else {
    s->fixedBase.reset(new RigidJoint());
    this->addJoint(0, *s->fixedBase);
  }
  for (const MovingJointData& data : _description.joints()) {
    Joint& joint = internal::withLibraryJoint(
        internal::movingJointKind(data.kind).joint, [&](auto* type) -> Joint& {
          return buildJoint<std::remove_pointer_t<decltype(type)>>(*s, data);
        });
    // The description numbers parents before children, which connect() requires.
    if (!this->connect(data.parentBody, data.body, joint))
      throw LoadError(_description.source(), data.line, "joint '" + data.name + "'",
                      "internal error: the joint cannot connect body " +
                          std::to_string(data.parentBody) + " to body " +
                          std::to_string(data.body));
  }
  this->_configureJointIndex();
  _storage = std::move(s);
  this->q().setZero();
  this->qdot().setZero();
  this->update(false);
}

// The model's state (pointers into the storage, connectivity, joint vectors, Jacobians) is copied
// member by member through the subsystem's assignment, then the other robot is reset to an empty,
// unconnected model so that it no longer refers to the storage it gave away.
template <int N>
void Robot<N>::_takeModelFrom(Robot& other) {
  typedef SubsysBase<N + 1, N, N> Subsys;
  static_cast<Subsys&>(*this) = static_cast<const Subsys&>(other);
  static_cast<Subsys&>(other) = Subsys();
}

template <int N>
Robot<N>::Robot(Robot&& other) noexcept
    : Model(), _description(std::move(other._description)), _storage(std::move(other._storage)) {
  _takeModelFrom(other);
}

template <int N>
Robot<N>& Robot<N>::operator=(Robot&& other) noexcept {
  if (this != &other) {
    _description = std::move(other._description);
    _storage = std::move(other._storage);
    _takeModelFrom(other);
  }
  return *this;
}

template <int N>
JointLimit<1>& Robot<N>::limit(int i) {
  return *_storage->limits[i];
}

template <int N>
const JointLimit<1>& Robot<N>::limit(int i) const {
  return *_storage->limits[i];
}

template class Robot<6>;
template class Robot<7>;
template class Robot<14>;
template class Robot<16>;

}  // namespace URDF
}  // namespace ZorvikFoundation
