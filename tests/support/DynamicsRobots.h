// Robot builders for the dynamics tests, next to RandomRobot:
//   - MixedJointRobot<N>: a random chain or tree whose joints have 0, 1, 2, 3 or 6 coordinates
//     (rigid, revolute, prismatic, MDH, cylindrical, spherical, free), adding up to exactly N, so
//     that the multi-coordinate paths (motion subspaces that depend on q, nonzero Edot, joints that
//     consume no coordinate) are exercised;
//   - FloatingBaseTwin<N>: a second model with the same bodies' mass properties, the same joints
//   and
//     the same connectivity as a given model, but a FloatingJoint as base joint;
//   - PrescribedBaseJoint: a base joint without coordinates whose pose, twist and acceleration the
//     test prescribes (a robot on a moving platform, modelled as a fixed base);
//   - BiasedBody: a body whose addedBias() is a constant wrench.
// Every object owns its bodies and joints at stable addresses for the life of its model.
#ifndef ZORVIK_TEST_DYNAMICS_ROBOTS_H
#define ZORVIK_TEST_DYNAMICS_ROBOTS_H

#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "support/RandomRobot.h"

namespace zorvik_test {

// A copy of a joint of one of the library's concrete classes, state included.
inline OwnedJoint cloneJoint(const Joint& j) {
  switch (j.type()) {
    case FLOATING: return ownJoint(new FloatingJoint(static_cast<const FloatingJoint&>(j)));
    case RIGID: return ownJoint(new RigidJoint(static_cast<const RigidJoint&>(j)));
    case REVOLUTE: return ownJoint(new RevoluteJoint(static_cast<const RevoluteJoint&>(j)));
    case PRISMATIC: return ownJoint(new PrismaticJoint(static_cast<const PrismaticJoint&>(j)));
    case CYLINDRICAL:
      return ownJoint(new CylindricalJoint(static_cast<const CylindricalJoint&>(j)));
    case SPHERICAL: return ownJoint(new SphericalJoint(static_cast<const SphericalJoint&>(j)));
    case FREE: return ownJoint(new FreeJoint(static_cast<const FreeJoint&>(j)));
    case MDH_REVOLUTE:
      return ownJoint(new MDHRevoluteJoint(static_cast<const MDHRevoluteJoint&>(j)));
    case MDH_PRISMATIC:
      return ownJoint(new MDHPrismaticJoint(static_cast<const MDHPrismaticJoint&>(j)));
    default: throw std::invalid_argument("cloneJoint: not a joint class of the library");
  }
}

// A base joint without coordinates that moves the base as the test prescribes: the test writes the
// base's pose in the reference frame into Tadj(), its twist (base frame) into Vadj() and its
// acceleration (base frame) into acc. The updates leave them alone. As a fixed-base joint it hands
// the inverse dynamics that acceleration (adjAcc with rates), its twist also as the base's
// reference twist in the passivity-based form (the platform is not driven by the reference rates),
// and no acceleration in the stationary form (adjAcc(qddot) = E qddot, empty for no coordinates).
class PrescribedBaseJoint : public Joint {
 public:
  PrescribedBaseJoint() : Joint(CUSTOM, 0) {}

  void update(const double*) override {}
  void update(const double*, const double*) override {}
  void updateVelocity(const double*, const double*) override {}
  Twist adjTwist(const double*) const override { return _Vadj; }
  Twist adjAcc(const double*, const double*) const override { return acc; }
  Twist adjAcc(const double*) const override { return Twist(); }
  Twist biasAcc(const Twist&) const override { return Twist(); }
  void project(const Matrix6d&, double*, double*) override {}
  void project(const Matrix6d&, double*) override {}
  void idyn(const Wrench&, double*) const override {}
  const double* stiffness() const override { return nullptr; }
  const double* damping() const override { return nullptr; }
  const double* neutralPos() const override { return nullptr; }

  Twist acc;
};

// A body that adds the constant wrench `bias` (body frame) to its Newton-Euler bias.
class BiasedBody : public Body {
 public:
  BiasedBody(const Body& plain, const Wrench& bias) : Body(plain), _bias(bias) {}
  Wrench addedBias() const override { return _bias; }

 private:
  Wrench _bias;
};

template <int N>
class MixedJointRobot {
 public:
  typedef VexoBaseXD<N> Model;
  typedef typename Model::JointVec JointVec;

  // tree = false: a serial chain; tree = true: each body's parent drawn among the earlier bodies.
  explicit MixedJointRobot(unsigned seed, bool tree = false) : rng_(seed), model_(new Model()) {
    base_joint_.reset(new RigidJoint(randomPose(rng_)));
    model_->addJoint(0, *base_joint_);
    for (int k = 0; k <= N; ++k) {
      bodies_.emplace_back(new Body());
      bodies_.back()->setInertia(randomInertia(rng_));
      model_->addBody(k, *bodies_.back());
    }
    // Kinds tried in turn; a kind is taken only if the coordinates left over still fit the joint
    // slots left over (each slot can take one coordinate or none), so the total is exactly N.
    static const int kinds[] = {SPHERICAL, REVOLUTE, RIGID, CYLINDRICAL, MDH_PRISMATIC, FREE,
                                PRISMATIC, RIGID, MDH_REVOLUTE, RIGID, RIGID, RIGID};
    int left = N;
    for (int k = 1; k <= N; ++k) {
      const int slotsAfter = N - k;
      int kind = kinds[(k - 1) % (sizeof(kinds) / sizeof(kinds[0]))];
      if (dofOf(kind) > left || left - dofOf(kind) > slotsAfter)
        kind = left > slotsAfter ? REVOLUTE : RIGID;
      left -= dofOf(kind);
      const int parent = tree ? std::uniform_int_distribution<int>(0, k - 1)(rng_) : k - 1;
      joints_.emplace_back(makeJoint(kind));
      model_->connect(parent, k, *joints_.back());
    }
    if (left != 0) throw std::logic_error("MixedJointRobot: coordinates do not add up to N");
  }
  MixedJointRobot(const MixedJointRobot&) = delete;
  MixedJointRobot& operator=(const MixedJointRobot&) = delete;

  Model& model() { return *model_; }
  Body& body(int k) { return *bodies_[k]; }
  Joint& joint(int k) { return k == 0 ? static_cast<Joint&>(*base_joint_) : *joints_[k - 1]; }
  std::mt19937& rng() { return rng_; }

 private:
  static int dofOf(int kind) {
    switch (kind) {
      case RIGID: return 0;
      case CYLINDRICAL: return 2;
      case SPHERICAL: return 3;
      case FREE: return 6;
      default: return 1;
    }
  }

  OwnedJoint makeJoint(int kind) {
    const HTransform origin = randomPose(rng_);
    const Vector3D axis = randomAxis(rng_);
    std::uniform_real_distribution<double> u(-1, 1);
    switch (kind) {
      case RIGID: return ownJoint(new RigidJoint(origin));
      case PRISMATIC: return ownJoint(new PrismaticJoint(origin, axis));
      case CYLINDRICAL: return ownJoint(new CylindricalJoint(origin, axis));
      case SPHERICAL: return ownJoint(new SphericalJoint(origin));
      case FREE: return ownJoint(new FreeJoint(origin));
      case MDH_REVOLUTE:
        return ownJoint(new MDHRevoluteJoint(u(rng_), 0.2 * u(rng_), 0.2 * u(rng_), u(rng_)));
      case MDH_PRISMATIC:
        return ownJoint(new MDHPrismaticJoint(u(rng_), 0.2 * u(rng_), u(rng_), 0.2 * u(rng_)));
      case REVOLUTE:
      default: return ownJoint(new RevoluteJoint(origin, axis));
    }
  }

  std::mt19937 rng_;
  std::unique_ptr<Model> model_;
  std::unique_ptr<RigidJoint> base_joint_;
  std::vector<std::unique_ptr<Body>> bodies_;
  std::vector<OwnedJoint> joints_;
};

template <int N>
class FloatingBaseTwin {
 public:
  typedef VexoBaseXD<N> Model;

  // Bodies are copied as plain bodies (mass properties, pose, twist and external wrench; a derived
  // body's added bias is not carried over), joints are cloned with their current state.
  explicit FloatingBaseTwin(const Model& source) : model_(new Model()) {
    model_->addJoint(0, base_joint_);
    for (int k = 0; k <= N; ++k) {
      bodies_.emplace_back(new Body(source.body(k)));
      model_->addBody(k, *bodies_.back());
    }
    for (int k = 1; k <= N; ++k) {
      joints_.emplace_back(cloneJoint(source.joint(k)));
      model_->connect(source.parent(k), k, *joints_.back());
    }
  }
  FloatingBaseTwin(const FloatingBaseTwin&) = delete;
  FloatingBaseTwin& operator=(const FloatingBaseTwin&) = delete;

  Model& model() { return *model_; }
  FloatingJoint& baseJoint() { return base_joint_; }

 private:
  FloatingJoint base_joint_;
  std::unique_ptr<Model> model_;
  std::vector<std::unique_ptr<Body>> bodies_;
  std::vector<OwnedJoint> joints_;
};

}  // namespace zorvik_test

#endif
