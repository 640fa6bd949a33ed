// The articulated-body quantities of one joint, shared by the forward dynamics and the inverse
// mass matrix.
//
// Body k with joint k: E the first dof columns of the joint's E (joint rates to the body's twist
// relative to its parent), X = Ad(Tadj^-1) the map of the parent's twists into body k's frame. The
// articulated inertia IA_k is body k's inertia as felt through its subtree when every joint of the
// subtree is free: a wrench F applied to body k accelerates it with a such that F = IA_k a + (the
// subtree's velocity and applied-torque terms). With the joint's own inertia and its inverse
//   U = IA E,   D = E^T IA E,
// the inertia body k hands to its parent, its joint being free, is
//   Ia = IA - U D^-1 U^T,        IA_parent += X^T Ia X.
// D is symmetric positive definite whenever the subtree moves mass along every coordinate of the
// joint; a joint whose subtree carries no inertia along one of its directions has an undetermined
// acceleration.
#ifndef VEXO_ARTICULATEDBODY_H
#define VEXO_ARTICULATEDBODY_H

#include <cassert>
#include <cmath>

#include "AMBS/Joint"

namespace ZorvikFoundation {
namespace VexoSDK {
namespace internal {

// IAp += X^T Ia X for X = Ad(T^-1), T = (R, p) the child's pose in its parent. With the blocks of
// Ia = [[A, B], [B^T, C]] turned into the parent's axes (A' = R A R^T, likewise B', C') and P = [p]:
//   X^T Ia X = [[A', B' - A' P], [B'^T + P A', C' + P B' - B'^T P - P A' P]].
inline void addCarriedInertia(const HTransform& T, const Matrix6d& Ia, Matrix6d& IAp) {
  typedef Eigen::Matrix3d M3;
  const M3 R = T.R();
  const M3 P = LieGroup::internal::_ceil_expression(T.r()(0), T.r()(1), T.r()(2));
  const M3 A = R * Ia.topLeftCorner<3, 3>() * R.transpose();
  const M3 B = R * Ia.topRightCorner<3, 3>() * R.transpose();
  const M3 C = R * Ia.bottomRightCorner<3, 3>() * R.transpose();
  const M3 AP = A * P;
  const M3 BAP = B - AP;
  const M3 PB = P * B;
  IAp.topLeftCorner<3, 3>() += A;
  IAp.topRightCorner<3, 3>() += BAP;
  IAp.bottomLeftCorner<3, 3>() += BAP.transpose();
  IAp.bottomRightCorner<3, 3>() += C + PB + PB.transpose() - P * AP;
}

// Dinv = D^-1 for the symmetric dof x dof matrix D (column-major, leading dimension dof) by
// Cholesky's factorisation D = L L^T, then D^-1 = L^-T L^-1. A pivot at or below tol means that D
// is not positive definite to working precision: Dinv is then zero and false is returned.
inline bool invertSymmetric(const double* D, int dof, double tol, double* Dinv) {
  double L[36] = {}, Li[36] = {};
  for (int j = 0; j < dof; ++j) {
    double d = D[j + j * dof];
    for (int c = 0; c < j; ++c) d -= L[j + c * dof] * L[j + c * dof];
    if (!(d > tol)) {
      for (int i = 0; i < dof * dof; ++i) Dinv[i] = 0;
      return false;
    }
    L[j + j * dof] = std::sqrt(d);
    for (int i = j + 1; i < dof; ++i) {
      double s = D[i + j * dof];
      for (int c = 0; c < j; ++c) s -= L[i + c * dof] * L[j + c * dof];
      L[i + j * dof] = s / L[j + j * dof];
    }
  }
  // Li = L^-1, lower triangular, column by column by forward substitution.
  for (int j = 0; j < dof; ++j) {
    Li[j + j * dof] = 1 / L[j + j * dof];
    for (int i = j + 1; i < dof; ++i) {
      double s = 0;
      for (int c = j; c < i; ++c) s -= L[i + c * dof] * Li[c + j * dof];
      Li[i + j * dof] = s / L[i + i * dof];
    }
  }
  // Dinv = Li^T Li, both triangles from the same sums: exactly symmetric.
  for (int j = 0; j < dof; ++j)
    for (int i = j; i < dof; ++i) {
      double s = 0;
      for (int c = i; c < dof; ++c) s += Li[c + i * dof] * Li[c + j * dof];
      Dinv[i + j * dof] = Dinv[j + i * dof] = s;
    }
  return true;
}

// The pivot below which a joint counts as moving no inertia, relative to the size of the
// articulated inertia it sees: far below any physical ratio, far above the rounding of D.
constexpr double kMasslessPivot = 1e-12;

// U = IA E and D^-1 of one joint, U in the first dof columns (6 x dof, column-major) and D^-1 as a
// dof x dof column-major array.
struct ArticulatedJoint {
  double U[36];
  double Dinv[36];
  int dof;

  // From body k's articulated inertia IA: U and D^-1, then IA reduced in place to Ia. A joint whose
  // subtree moves no inertia along one of its coordinates (D singular) gets D^-1 = 0 and leaves IA
  // as it is: its coordinates then have zero acceleration, and a debug build stops.
  void reduce(Joint& joint, Matrix6d& IA) {
    dof = joint.dof();
    double D[36];
    joint.project(IA, D, U);
    const double scale = IA.diagonal().cwiseAbs().maxCoeff();
    const bool massive = invertSymmetric(D, dof, kMasslessPivot * scale, Dinv);
    assert(massive &&
           "A joint moves no inertia along one of its coordinates (a massless subtree): its "
           "acceleration is undetermined.");
    if (!massive) return;
    // IA -= U D^-1 U^T, with W = U D^-1 (6 x dof).
    double W[36];
    for (int c = 0; c < dof; ++c)
      for (int r = 0; r < 6; ++r) {
        double s = 0;
        for (int i = 0; i < dof; ++i) s += U[r + i * 6] * Dinv[i + c * dof];
        W[r + c * 6] = s;
      }
    for (int b = 0; b < 6; ++b)
      for (int a = 0; a < 6; ++a) {
        double s = 0;
        for (int c = 0; c < dof; ++c) s += W[a + c * 6] * U[b + c * 6];
        IA(a, b) -= s;
      }
  }

  // x = D^-1 r (dof values).
  void solve(const double* r, double* x) const {
    for (int i = 0; i < dof; ++i) {
      double s = 0;
      for (int c = 0; c < dof; ++c) s += Dinv[i + c * dof] * r[c];
      x[i] = s;
    }
  }
  // out = U^T a (dof values).
  void Ut(const double* a, double* out) const {
    for (int c = 0; c < dof; ++c) {
      double s = 0;
      for (int r = 0; r < 6; ++r) s += U[r + c * 6] * a[r];
      out[c] = s;
    }
  }
  // F += U x.
  void addU(const double* x, double* F) const {
    for (int r = 0; r < 6; ++r) {
      double s = 0;
      for (int c = 0; c < dof; ++c) s += U[r + c * 6] * x[c];
      F[r] += s;
    }
  }
};

}  // namespace internal
}  // namespace VexoSDK
}  // namespace ZorvikFoundation

#endif
