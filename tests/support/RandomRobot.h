// Randomly made robots for tests that need a model but no particular robot: a serial chain or a
// tree of N moving joints with random mass properties, joint frames and axes. The object owns its
// bodies and joints at stable addresses for the life of the model. Random states of any model.
#ifndef ZORVIK_TEST_RANDOM_ROBOT_H
#define ZORVIK_TEST_RANDOM_ROBOT_H

#include <Vexo/VexoXD>

#include <memory>
#include <random>
#include <vector>

#include "support/Random.h"

namespace zorvik_test {

using namespace ZorvikFoundation;
using namespace ZorvikFoundation::VexoSDK;
using LieGroup::HTransform;
using LieGroup::Rotation;
using LieGroup::Twist;
using LieGroup::Vector3D;
using LieGroup::Wrench;

// Physically valid random mass properties: positive mass, principal moments that satisfy the
// triangle inequality, a random principal frame and an offset centre of mass.
inline Inertia randomInertia(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  const double m = 0.5 + 2.0 * std::abs(u(rng));
  const double a = 0.01 + 0.02 * std::abs(u(rng)), b = 0.01 + 0.02 * std::abs(u(rng)),
               c = 0.01 + 0.02 * std::abs(u(rng));
  // Moments of a box-like body: each at most the sum of the other two.
  const Eigen::Vector3d d(b + c, a + c, a + b);
  const Rotation R = Vector3D(u(rng), u(rng), u(rng)).exp();
  Inertia I(m, 0.1 * u(rng), 0.1 * u(rng), 0.1 * u(rng), 0, 0, 0, 0, 0, 0);
  I.inertia(R, m * d(0), m * d(1), m * d(2), 0, 0, 0);
  return I;
}

// The ten inertial parameters of n random bodies (randomInertia: positive masses, moments of
// boxes), stacked as the regressors take them.
template <int n>
Eigen::Matrix<double, 10 * n, 1> randomInertialParameters(std::mt19937& rng) {
  Eigen::Matrix<double, 10 * n, 1> pi;
  for (int k = 0; k < n; ++k) pi.template segment<10>(10 * k) = randomInertia(rng).parameters();
  return pi;
}

inline HTransform randomPose(std::mt19937& rng, double reach = 0.3) {
  std::uniform_real_distribution<double> u(-1, 1);
  return HTransform(Vector3D(u(rng), u(rng), u(rng)).exp(),
                    Eigen::Vector3d(reach * u(rng), reach * u(rng), reach * u(rng)));
}

inline Vector3D randomAxis(std::mt19937& rng) {
  std::normal_distribution<double> n;
  return Vector3D(Eigen::Vector3d(n(rng), n(rng), n(rng)).normalized());
}

// Joint has no virtual destructor: each joint is deleted through its concrete type.
struct OwnedJointDeleter {
  void (*destroy)(Joint*);
  void operator()(Joint* j) const { destroy(j); }
};
typedef std::unique_ptr<Joint, OwnedJointDeleter> OwnedJoint;

template <typename J>
OwnedJoint ownJoint(J* j) {
  return OwnedJoint(j, OwnedJointDeleter{[](Joint* p) { delete static_cast<J*>(p); }});
}

// The state (q, qdot) and a full update, with velocities.
template <int N>
void setState(VexoBaseXD<N>& m, const typename VexoBaseXD<N>::JointVec& q,
              const typename VexoBaseXD<N>::JointVec& qdot) {
  m.q() = q;
  m.qdot() = qdot;
  m.update(false);
}

// Positions and rates uniform in [-range, range].
template <int N>
void randomState(VexoBaseXD<N>& m, std::mt19937& rng, double range = 1.0) {
  setState<N>(m, randomMatrix<N>(rng, range), randomMatrix<N>(rng, range));
}

enum class JointMix { Revolute, RevolutePrismatic, AllOneDof };

template <int N>
class RandomRobot {
 public:
  typedef VexoBaseXD<N> Model;
  typedef typename Model::JointVec JointVec;

  // tree = false: a serial chain; tree = true: each body's parent drawn among the earlier bodies.
  explicit RandomRobot(unsigned seed, bool tree = false, JointMix mix = JointMix::RevolutePrismatic)
      : rng_(seed), model_(new Model()) {
    base_joint_.reset(new RigidJoint(randomPose(rng_)));
    model_->addJoint(0, *base_joint_);
    for (int k = 0; k <= N; ++k) {
      bodies_.emplace_back(new Body());
      bodies_.back()->setInertia(randomInertia(rng_));
      model_->addBody(k, *bodies_.back());
    }
    for (int k = 1; k <= N; ++k) {
      const int parent = tree ? std::uniform_int_distribution<int>(0, k - 1)(rng_) : k - 1;
      joints_.emplace_back(makeJoint(k, mix));
      model_->connect(parent, k, *joints_.back());
    }
  }
  RandomRobot(const RandomRobot&) = delete;
  RandomRobot& operator=(const RandomRobot&) = delete;

  Model& model() { return *model_; }
  Body& body(int k) { return *bodies_[k]; }
  Joint& joint(int k) { return k == 0 ? static_cast<Joint&>(*base_joint_) : *joints_[k - 1]; }

  std::mt19937& rng() { return rng_; }

 private:
  OwnedJoint makeJoint(int k, JointMix mix) {
    const HTransform origin = randomPose(rng_);
    const Vector3D axis = randomAxis(rng_);
    std::uniform_real_distribution<double> u(-1, 1);
    switch (mix) {
      case JointMix::Revolute:
        return ownJoint(new RevoluteJoint(origin, axis));
      case JointMix::RevolutePrismatic:
        if (k % 3 == 0) return ownJoint(new PrismaticJoint(origin, axis));
        return ownJoint(new RevoluteJoint(origin, axis));
      case JointMix::AllOneDof:
      default:
        switch (k % 4) {
          case 0: return ownJoint(new PrismaticJoint(origin, axis));
          case 1: return ownJoint(new RevoluteJoint(origin, axis));
          case 2:
            return ownJoint(new MDHRevoluteJoint(u(rng_), 0.2 * u(rng_), 0.2 * u(rng_), u(rng_)));
          default:
            return ownJoint(new MDHPrismaticJoint(u(rng_), 0.2 * u(rng_), u(rng_), 0.2 * u(rng_)));
        }
    }
  }

  std::mt19937 rng_;
  std::unique_ptr<Model> model_;
  std::unique_ptr<RigidJoint> base_joint_;
  std::vector<std::unique_ptr<Body>> bodies_;
  std::vector<OwnedJoint> joints_;
};

}  // namespace zorvik_test

#endif
