// Shared pieces of the dynamics tests: the set of robots each property is checked on, the state on
// a trajectory, and independent reference quantities (kinetic and potential energy, the mass matrix
// assembled from the body Jacobians).
#ifndef ZORVIK_TEST_DYNAMICS_TEST_UTIL_H
#define ZORVIK_TEST_DYNAMICS_TEST_UTIL_H

#include <gtest/gtest.h>

#include <Vexo/VexoXD>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/DynamicsRobots.h"
#include "support/FiniteDifference.h"
#include "support/JacobianWidths.h"
#include "support/LibraryVariant.h"
#include "support/MatrixNear.h"
#include "support/RandomLieGroup.h"
#include "support/RandomRobot.h"
#include "support/SpatialAlgebra.h"

namespace zorvik_test {
namespace dyn {

// The sizes the random-model properties of this folder run on: 7, whose joint vectors do not fill
// whole SIMD registers, and 16, the largest. Every prebuilt size (6, 7, 14, 16) is checked on a
// bundled robot against KDL and DART in tests/urdf, the same quantities included.
using DynamicsWidths = ::testing::Types<Width<7>, Width<16>>;

// A gravity vector that is not aligned with any axis of the (randomly posed) base frame, so that a
// missing or transposed rotation of gravity into the base frame shows.
inline Vector3D gravity() { return Vector3D(0.7, -1.3, -9.81); }

// Largest absolute entry, plus one: the scale against which rounding-level tolerances are taken.
template <typename D>
double scale(const Eigen::MatrixBase<D>& a) {
  return 1.0 + a.cwiseAbs().maxCoeff();
}

template <int N>
typename VexoBaseXD<N>::JointVec unit(int i) {
  return VexoBaseXD<N>::JointVec::Unit(i);
}

// The state at time t on the trajectory q(t) = q + t qdot + t^2/2 qddot, whose rate at t = 0 is
// qdot and whose acceleration is qddot.
template <int N>
void setTrajectoryState(VexoBaseXD<N>& m, const typename VexoBaseXD<N>::JointVec& q,
                        const typename VexoBaseXD<N>::JointVec& qdot,
                        const typename VexoBaseXD<N>::JointVec& qddot, double t) {
  setState<N>(m, q + t * qdot + 0.5 * t * t * qddot, qdot + t * qddot);
}

// The robots every property is checked on: chains and trees of one-coordinate joints (RandomRobot),
// and chains and trees that mix joints of 0, 1, 2, 3 and 6 coordinates (MixedJointRobot).
// fn(model, rng) runs once per robot, with a trace naming the robot.
template <int N, typename Fn>
void forEachRobot(unsigned seed, Fn fn) {
  {
    SCOPED_TRACE("chain of revolute and prismatic joints");
    RandomRobot<N> r(seed, false, JointMix::RevolutePrismatic);
    fn(r.model(), r.rng());
  }
  {
    SCOPED_TRACE("tree of one-coordinate joints, MDH included");
    RandomRobot<N> r(seed + 1, true, JointMix::AllOneDof);
    fn(r.model(), r.rng());
  }
  {
    SCOPED_TRACE("chain of mixed multi-coordinate joints");
    MixedJointRobot<N> r(seed + 2, false);
    fn(r.model(), r.rng());
  }
  {
    SCOPED_TRACE("tree of mixed multi-coordinate joints");
    MixedJointRobot<N> r(seed + 3, true);
    fn(r.model(), r.rng());
  }
}

// Number of coordinates of the joints before joint k (k >= 1): the first column of joint k in the
// Jacobians and its first entry in the joint vectors.
template <int N>
int coordinateOffset(const VexoBaseXD<N>& m, int k) {
  int i = 0;
  for (int j = 1; j < k; ++j) i += m.joint(j).dof();
  return i;
}

// Whether joint j lies on the path from the base to body k.
template <int N>
bool onPathToBase(const VexoBaseXD<N>& m, int j, int k) {
  for (int b = k; b > 0; b = m.parent(b))
    if (b == j) return true;
  return false;
}

// Kinetic energy sum over bodies of 1/2 V_k^T I_k V_k from the stored twists (body frames).
template <int N>
double kineticEnergy(const VexoBaseXD<N>& m) {
  double e = 0;
  for (int k = 0; k <= N; ++k) e += 0.5 * m.body(k).V().dot(m.body(k).inertia() * m.body(k).V());
  return e;
}

// Potential energy of gravity, U = -sum_k m_k gacc . c_k, with the centres of mass c_k in the
// reference frame taken from the stored poses; the gravity torques are its gradient.
template <int N>
double potentialEnergy(const VexoBaseXD<N>& m, const Vector3D& gacc) {
  double u = 0;
  for (int k = 0; k <= N; ++k) {
    const Body& b = m.body(k);
    const Eigen::Vector3d c(b.com()[0], b.com()[1], b.com()[2]);
    const Eigen::Vector3d c_ref = b.T().R() * c + b.T().r();
    u -= b.mass() * gacc.dot(c_ref);
  }
  return u;
}

// The mass matrix sum_k J_k^T I_k J_k from the body Jacobians (after updateJacobian).
template <int N>
typename VexoBaseXD<N>::JointMat massFromJacobians(const VexoBaseXD<N>& m) {
  typename VexoBaseXD<N>::JointMat M = VexoBaseXD<N>::JointMat::Zero();
  for (int k = 0; k <= N; ++k) M += m.J(k).transpose() * m.body(k).inertia() * m.J(k);
  return M;
}

// A model made of another model's bodies and joints, with protected recursions made callable (the
// Jacobian-derivative refresh, the mass matrix's column passes). Both models then share their
// bodies' and joints' state; use one at a time.
template <int N>
class ModelProbe : public VexoBaseXD<N> {
 public:
  using VexoBaseXD<N>::_updateJacobianFromBaseByVelocityReset;
  using VexoBaseXD<N>::_massColumns;

  explicit ModelProbe(VexoBaseXD<N>& source) {
    this->addJoint(0, source.joint(0));
    for (int k = 0; k <= N; ++k) this->addBody(k, source.body(k));
    for (int k = 1; k <= N; ++k) this->connect(source.parent(k), k, source.joint(k));
  }
};

// A body whose inertia() is not its stored Inertia: a rotor's reflected inertia on the body's z
// axis, as a gear-driven link would have it.
class RotorBody : public Body {
 public:
  explicit RotorBody(const Body& plain) : Body(plain) {}
  Matrix6d inertia() const override {
    Matrix6d M = Body::inertia();
    M(5, 5) += 0.4;
    return M;
  }
};

// Every fifth body becomes a BiasedBody, every fifth but two a RotorBody, every third carries an
// external wrench: the terms every operation must carry the way idyn does.
struct Loads {
  std::vector<std::unique_ptr<Body>> owned;
  template <int N>
  Loads(VexoBaseXD<N>& m, std::mt19937& rng) {
    for (int k = 1; k <= N; ++k) {
      if (k % 5 == 1) {
        owned.emplace_back(new BiasedBody(m.body(k), randomWrench(rng)));
        m.addBody(k, *owned.back());
      } else if (k % 5 == 3) {
        owned.emplace_back(new RotorBody(m.body(k)));
        m.addBody(k, *owned.back());
      }
      if (k % 3 == 0) m.body(k).setExtWrench(randomWrench(rng));
    }
    m.update(false);
  }
};

}  // namespace dyn
}  // namespace zorvik_test

#endif
