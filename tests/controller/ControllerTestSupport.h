// Helpers shared by the controller tests: one traits struct per group, so that typed tests run
// the same property on SO(3) (RotationController) and SE(3) (HTransformController); random states;
// motion along a body velocity; and a Runge-Kutta integrator on the group for closed loops. The
// comparisons are those of support/MatrixNear.h.
#ifndef ZORVIK_TEST_CONTROLLER_SUPPORT_H
#define ZORVIK_TEST_CONTROLLER_SUPPORT_H

#include <Controller/HTransformController>
#include <Controller/RotationController>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "support/MatrixNear.h"
#include "support/Random.h"
#include "support/SpatialAlgebra.h"

namespace zorvik_test::controller_test {

using namespace LieGroup;
using ZorvikFoundation::HTransformController;
using ZorvikFoundation::RotationController;

typedef std::mt19937 Rng;

// Rotation about z by b, and the differential of exp at (0, 0, b) in closed form: it fixes z and
// acts on the x-y plane as (sin b / b) I + ((1 - cos b) / b) [z]:
// dexp x = (sin b / b, (1 - cos b) / b, 0).
inline Rotation rotationAboutZ(double b) {
  return Rotation(Eigen::AngleAxisd(b, Eigen::Vector3d::UnitZ()).toRotationMatrix());
}
inline Eigen::Matrix3d dexpAboutZ(double b) {
  const double s = std::sin(b) / b, c = (1 - std::cos(b)) / b;
  Eigen::Matrix3d m;
  m << s, -c, 0, c, s, 0, 0, 0, 1;
  return m;
}

// SO(3): poses are rotations, velocities angular velocities, forces moments.
struct SO3 {
  typedef RotationController Ctrl;
  typedef Rotation Pos;
  typedef Vector3D Vel;
  typedef Vector3D Force;
  typedef Eigen::Vector3d Vec;
  typedef Eigen::Matrix3d Mat;
  static constexpr int kDim = 3;

  static Pos exp(const Vec& u) { return Vector3D(u).exp(); }
  static Pos compose(const Pos& a, const Pos& b) { return a.cascade(b); }
  static Pos inverse(const Pos& a) { return Rotation(a.transpose()); }
  // A pose X exp(u) moves with body velocity v = dexp(-u) u', so u' = dexp_inv(-u) v.
  static Vec rateOfChart(const Vec& u, const Vec& v) { return Vector3D(-u).dexp_inv() * v; }
  // A velocity or force given in the frame of a, re-expressed in the frame of a's parent and back.
  static Vec velToParent(const Pos& a, const Vec& v) { return a * v; }
  static Vec velToChild(const Pos& a, const Vec& v) { return a.transpose() * v; }
  static Vec forceToChild(const Pos& a, const Vec& f) { return a.transpose() * f; }
  // ad(x) y = x x y.
  static Mat ad(const Vec& x) { return skew(x); }
  // A pose at rotation angle `angle` from the identity (with an offset for SE(3)).
  static Pos randomPose(Rng& g, double angle) { return Rotation(randomRotation(g, angle)); }
  static Vec randomVec(Rng& g, double scale) { return scale * randomUnitVector(g); }

  // The force terms of the impedance and compliance laws seen on the relative velocity (see the
  // controller header): with the moment error nt = nd - Rtilde^T n and J = dexp(xi),
  //   impedance: dexp^T Kf eta = kf o (dexpinv J^T nt) = kf o (Rtilde^T nt)
  //   compliance: dexp^T eta = J^T J^T nt.
  static Vec impedanceForce(const Vec& xi, const Vec& nt) {
    return Vector3D(xi).exp().transpose() * nt;
  }
  static Vec complianceForce(const Vec& xi, const Vec& nt) {
    const Mat J = Vector3D(xi).dexp();
    return J.transpose() * (J.transpose() * nt);
  }
};

// SE(3): poses are transforms, velocities twists (v, w), forces wrenches (f, n).
struct SE3 {
  typedef HTransformController Ctrl;
  typedef HTransform Pos;
  typedef Twist Vel;
  typedef Wrench Force;
  typedef Vector6d Vec;
  typedef Matrix6d Mat;
  static constexpr int kDim = 6;

  static Pos exp(const Vec& u) { return Twist(u).exp(); }
  static Pos compose(const Pos& a, const Pos& b) { return a.cascade(b); }
  static Pos inverse(const Pos& a) { return a.inverse(); }
  static Vec rateOfChart(const Vec& u, const Vec& v) { return Twist(-u).dexp_inv() * v; }
  // Ad(a) and its inverse as 6x6 matrices, and the dual action on wrenches.
  static Vec velToParent(const Pos& a, const Vec& v) { return adjoint(a) * v; }
  static Vec velToChild(const Pos& a, const Vec& v) { return adjoint(inverse(a)) * v; }
  static Vec forceToChild(const Pos& a, const Vec& f) { return adjoint(a).transpose() * f; }
  static Mat ad(const Vec& x) { return adMatrix(x); }
  static Pos randomPose(Rng& g, double angle) {
    return HTransform(randomRotation(g, angle), randomMatrix<3>(g));
  }
  static Vec randomVec(Rng& g, double scale) {
    Vec x;
    x << scale * randomUnitVector(g), scale * randomUnitVector(g);
    return x;
  }

  // The force terms of the impedance and compliance laws seen on the relative twist. The wrench
  // error Ft = (ft, nt) enters error coordinates as gamma = (J ft, J nt), J = dexp(xi); with
  // dexp = [[J, Q], [0, J]] and dexpinv = [[Ji, Qi], [0, Ji]]:
  //   impedance: dexp^b Kf gamma = kf o ((dexpinv^b)^T gamma) = kf o (ft, Qi J ft + nt)
  //   compliance: dexp^b gamma = (J^T J ft + Q^T J nt, J^T J nt).
  static Vec impedanceForce(const Vec& lambda, const Vec& Ft) {
    const Eigen::Matrix3d J = Vector3D(lambda.tail<3>()).dexp();
    const Eigen::Matrix3d Qi = Twist(lambda).dexp_inv().topRightCorner<3, 3>();
    Vec r;
    r << Ft.head<3>(), Qi * J * Ft.head<3>() + Ft.tail<3>();
    return r;
  }
  static Vec complianceForce(const Vec& lambda, const Vec& Ft) {
    const Eigen::Matrix3d J = Vector3D(lambda.tail<3>()).dexp();
    const Eigen::Matrix3d Q = Twist(lambda).dexp().topRightCorner<3, 3>();
    Vec r;
    r << J.transpose() * J * Ft.head<3>() + Q.transpose() * J * Ft.tail<3>(),
        J.transpose() * J * Ft.tail<3>();
    return r;
  }
};

typedef ::testing::Types<SO3, SE3> Groups;

// Names the group in typed-test output.
struct GroupNames {
  template <typename G>
  static std::string GetName(int) {
    return G::kDim == 3 ? "SO3" : "SE3";
  }
};

// One measured and desired state: X, v (measured pose and body velocity), Xd, vd, ad (desired
// pose, body velocity and acceleration), f (measured force, in the frame of X), fd (desired force,
// in the frame of Xd).
template <class G>
struct Sample {
  typename G::Pos X, Xd;
  typename G::Vel v, vd, ad;
  typename G::Force f, fd;
};

// A state whose error pose has rotation angle `angle`.
template <class G>
Sample<G> randomSample(Rng& g, double angle) {
  Sample<G> s;
  s.X = G::randomPose(g, uniform(g, 0, 3));
  s.Xd = G::compose(s.X, G::randomPose(g, angle));
  s.v = G::randomVec(g, 0.7);
  s.vd = G::randomVec(g, 0.7);
  s.ad = G::randomVec(g, 1.0);
  s.f = G::randomVec(g, 2.0);
  s.fd = G::randomVec(g, 2.0);
  return s;
}

// Per-axis gains drawn in [lo, hi].
template <class G>
typename G::Vec randomGains(Rng& g, double lo, double hi) {
  typename G::Vec k;
  for (int i = 0; i < G::kDim; ++i) k(i) = uniform(g, lo, hi);
  return k;
}

// The pose at time t of a body that starts at X with body velocity v and constant body
// acceleration a: X exp(t v + t^2/2 a) up to O(t^3) terms odd in t, which cancel in central
// differences.
template <class G>
typename G::Pos moveAlong(const typename G::Pos& X, const typename G::Vec& v,
                          const typename G::Vec& a, double t) {
  return G::compose(X, G::exp(t * v + 0.5 * t * t * a));
}

// One classical Runge-Kutta step of a rigid body X' = X [v], v' = accel(X, v, tau), written in the
// chart X = X0 exp(u) around the pose at the start of the step; tau is the time of the stage from
// the start of the step. The first call (tau = 0) is at the start of the step, so that a caller can
// let only that call advance the state of a controller.
template <class G, class Accel>
void rk4Step(typename G::Pos& X, typename G::Vec& v, double dt, Accel accel) {
  typedef typename G::Vec Vec;
  const typename G::Pos X0 = X;
  const double c[4] = {0, 0.5, 0.5, 1};
  Vec du[4], dv[4];
  for (int s = 0; s < 4; ++s) {
    const Vec u = s == 0 ? Vec(Vec::Zero()) : Vec(c[s] * dt * du[s - 1]);
    const Vec vs = s == 0 ? v : Vec(v + c[s] * dt * dv[s - 1]);
    du[s] = G::rateOfChart(u, vs);
    dv[s] = accel(G::compose(X0, G::exp(u)), vs, c[s] * dt);
  }
  const Vec u = dt / 6 * (du[0] + 2 * du[1] + 2 * du[2] + du[3]);
  v += dt / 6 * (dv[0] + 2 * dv[1] + 2 * dv[2] + dv[3]);
  X = G::compose(X0, G::exp(u));
}

// The same for a first-order body X' = X [vel(X, tau)].
template <class G, class Velocity>
void rk4Step(typename G::Pos& X, double dt, Velocity vel) {
  typedef typename G::Vec Vec;
  const typename G::Pos X0 = X;
  const double c[4] = {0, 0.5, 0.5, 1};
  Vec du[4];
  for (int s = 0; s < 4; ++s) {
    const Vec u = s == 0 ? Vec(Vec::Zero()) : Vec(c[s] * dt * du[s - 1]);
    du[s] = G::rateOfChart(u, vel(G::compose(X0, G::exp(u)), c[s] * dt));
  }
  X = G::compose(X0, G::exp(dt / 6 * (du[0] + 2 * du[1] + 2 * du[2] + du[3])));
}

}  // namespace zorvik_test::controller_test

#endif
