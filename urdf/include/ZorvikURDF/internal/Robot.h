// The members of URDF::Robot<N> and the storage of its bodies and joints. Included by
// <ZorvikURDF/Robot>, so that a client builds a robot of any size; the bodies and joints themselves
// are made by the loader library (buildRobotParts), whatever N.
#ifndef ZORVIK_URDF_INTERNAL_ROBOT_
#define ZORVIK_URDF_INTERNAL_ROBOT_

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ZorvikFoundation {
namespace URDF {

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
  // Limits of coordinate i, inside the joint that owns it (unboundedLimits for padding).
  std::vector<JointLimit<1>*> limits;
  // Padding: the joints of the massless bodies after the description's, and the limits of the
  // coordinates no joint owns.
  std::vector<std::unique_ptr<RigidJoint>> padding;
  std::vector<std::unique_ptr<JointLimit<1>>> unboundedLimits;
};

// Fills the storage from the description: body k with the mass properties of BodyData k, the base
// joint (rigid or floating), and moving joint i with its library joint class, damping, limits and
// friction, in the description's order.
void buildRobotParts(const RobotDescription& description, RobotStorage& storage);
}  // namespace internal

template <int N>
Robot<N>::Robot(const RobotDescription& description) : Robot(description, ModelFit::Exact) {}

template <int N>
Robot<N>::Robot(RobotDescription&& description)
    : Robot(std::move(description), ModelFit::Exact) {}

template <int N>
Robot<N>::Robot(const RobotDescription& description, ModelFit fit)
    : Model(), _description(description) {
  _build(fit);
}

template <int N>
Robot<N>::Robot(RobotDescription&& description, ModelFit fit)
    : Model(), _description(std::move(description)) {
  _build(fit);
}

template <int N>
Robot<N>::~Robot() = default;

template <int N>
void Robot<N>::_build(ModelFit fit) {
  if (fit == ModelFit::Exact || _description.modelSize() > N) _description.checkModelSize(N);
  std::unique_ptr<internal::RobotStorage> s(new internal::RobotStorage);
  internal::buildRobotParts(_description, *s);
  const int n = _description.dof();
  for (int k = n + 1; k <= N; ++k) {
    s->bodies.emplace_back(new Body());
    s->padding.emplace_back(new RigidJoint());
    s->unboundedLimits.emplace_back(new JointLimit<1>());
    s->limits.push_back(s->unboundedLimits.back().get());
  }
  for (int k = 0; k <= N; ++k) this->addBody(k, *s->bodies[k]);
  if (s->floatingBase)
    this->addJoint(0, *s->floatingBase);
  else
    this->addJoint(0, *s->fixedBase);
  const std::vector<MovingJointData>& joints = _description.joints();
  for (std::size_t i = 0; i < joints.size(); ++i) {
    const MovingJointData& data = joints[i];
    // The description numbers parents before children, which connect() requires.
    if (!this->connect(data.parentBody, data.body, *s->joints[i]))
      throw LoadError(_description.source(), data.line, "joint '" + data.name + "'",
                      "internal error: the joint cannot connect body " +
                          std::to_string(data.parentBody) + " to body " +
                          std::to_string(data.body));
  }
  for (int k = n + 1; k <= N; ++k) this->connect(0, k, *s->padding[k - n - 1]);
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
  _assertNotMovedFrom();
  return *_storage->limits[i];
}

template <int N>
const JointLimit<1>& Robot<N>::limit(int i) const {
  _assertNotMovedFrom();
  return *_storage->limits[i];
}

template <int N>
void Robot<N>::_limitBounds(LimitKind kind, int i, double& lower, double& upper) const {
  const JointLimit<1>& l = limit(i);
  const bool velocity = kind == LimitKind::Velocity, effort = kind == LimitKind::Effort;
  lower = (velocity ? l.velLower() : effort ? l.actLower() : l.posLower())(0);
  upper = (velocity ? l.velUpper() : effort ? l.actUpper() : l.posUpper())(0);
}

template <int N>
bool Robot<N>::withinLimits(LimitKind kind, const JointVec& x, LimitSides& side) const {
  bool within = true;
  for (int i = 0; i < N; ++i) {
    double lower, upper;
    _limitBounds(kind, i, lower, upper);
    side(i) = x(i) <= lower ? -1 : (x(i) >= upper ? 1 : 0);
    within = within && x(i) >= lower && x(i) <= upper;
  }
  return within;
}

template <int N>
int Robot<N>::clampToLimits(LimitKind kind, JointVec& x, LimitSides& side) const {
  int outside = 0;
  for (int i = 0; i < N; ++i) {
    double lower, upper;
    _limitBounds(kind, i, lower, upper);
    if (!(x(i) >= lower && x(i) <= upper)) ++outside;
    if (x(i) < lower) x(i) = lower;
    if (x(i) > upper) x(i) = upper;
  }
  withinLimits(kind, x, side);
  return outside;
}

}  // namespace URDF
}  // namespace ZorvikFoundation

#endif  // ZORVIK_URDF_INTERNAL_ROBOT_
