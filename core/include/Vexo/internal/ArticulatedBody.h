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
#ifndef VEXO_INTERNAL_ARTICULATEDBODY_
#define VEXO_INTERNAL_ARTICULATEDBODY_

#include <cassert>
#include <cmath>

#include "../../AMBS/Joint"

namespace ZorvikFoundation {
namespace internal {

// IAp += X^T Ia X for X = Ad(T^-1), T = (R, p) the child's pose in its parent. With the blocks of
// Ia = [[A, B], [B^T, C]] turned into the parent's axes (A' = R A R^T, likewise B', C') and P = [p]:
//   X^T Ia X = [[A', B' - A' P], [B'^T + P A', C' + P B' + (P B')^T - P A' P]].
// Written out in scalars: A' and C' are symmetric (half their entries), and a product with P is a
// cross product with p (row i of A' P is a'_i x p, column j of P Y is p x y_j).
inline void addCarriedInertia(const HTransform& T, const Matrix6d& Ia, Matrix6d& IAp) {
  const double* t = T.data();  // column-major 4 x 4: R(i, j) = t[i + 4 j], p = t[12..14]
  const double p[3] = {t[12], t[13], t[14]};
  auto R = [t](int i, int j) { return t[i + 4 * j]; };
  double A[3][3], B[3][3], C[3][3];
  // Y = R X R^T for the 3 x 3 block of Ia at (r0, c0); symmetric blocks get their upper half.
  auto rotate = [&](int r0, int c0, bool symmetric, double Y[3][3]) {
    double M[3][3];
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 3; ++k)
        M[i][k] = R(i, 0) * Ia(r0, c0 + k) + R(i, 1) * Ia(r0 + 1, c0 + k) + R(i, 2) * Ia(r0 + 2, c0 + k);
    for (int i = 0; i < 3; ++i)
      for (int j = symmetric ? i : 0; j < 3; ++j)
        Y[i][j] = M[i][0] * R(j, 0) + M[i][1] * R(j, 1) + M[i][2] * R(j, 2);
    if (symmetric)
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < i; ++j) Y[i][j] = Y[j][i];
  };
  rotate(0, 0, true, A);
  rotate(0, 3, false, B);
  rotate(3, 3, true, C);
  double Q[3][3], PB[3][3], PQ[3][3];
  for (int i = 0; i < 3; ++i) {
    Q[i][0] = A[i][1] * p[2] - A[i][2] * p[1];
    Q[i][1] = A[i][2] * p[0] - A[i][0] * p[2];
    Q[i][2] = A[i][0] * p[1] - A[i][1] * p[0];
  }
  for (int j = 0; j < 3; ++j) {
    PB[0][j] = p[1] * B[2][j] - p[2] * B[1][j];
    PB[1][j] = p[2] * B[0][j] - p[0] * B[2][j];
    PB[2][j] = p[0] * B[1][j] - p[1] * B[0][j];
    PQ[0][j] = p[1] * Q[2][j] - p[2] * Q[1][j];
    PQ[1][j] = p[2] * Q[0][j] - p[0] * Q[2][j];
    PQ[2][j] = p[0] * Q[1][j] - p[1] * Q[0][j];
  }
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      IAp(i, j) += A[i][j];
      const double tr = B[i][j] - Q[i][j];
      IAp(i, 3 + j) += tr;
      IAp(3 + j, i) += tr;
    }
  for (int i = 0; i < 3; ++i)
    for (int j = i; j < 3; ++j) {
      const double br = C[i][j] + PB[i][j] + PB[j][i] - PQ[i][j];
      IAp(3 + i, 3 + j) += br;
      if (j != i) IAp(3 + j, 3 + i) += br;
    }
}

// Dinv = D^-1 for the symmetric dof x dof matrix D (column-major, leading dimension dof) by
// Cholesky's factorisation D = L L^T, then D^-1 = L^-T L^-1. A pivot at or below tol means that D
// is not positive definite to working precision: Dinv is then zero and false is returned.
inline bool invertSymmetric(const double* D, int dof, double tol, double* Dinv) {
  if (dof == 1) {
    if (!(D[0] > tol)) {
      Dinv[0] = 0;
      return false;
    }
    Dinv[0] = 1 / D[0];
    return true;
  }
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
inline constexpr double kMasslessPivot = 1e-12;

// U = IA E and D^-1 of one joint, U in the first dof columns (6 x dof, column-major) and D^-1 as a
// dof x dof column-major array.
struct ArticulatedJoint {
  double U[36];
  double Dinv[36];
  int dof;

  // From body k's articulated inertia IA: U and D^-1, then IA reduced in place to Ia. A joint whose
  // subtree moves no inertia along one of its coordinates (D singular) gets D^-1 = 0 and leaves IA
  // as it is: its coordinates then have zero acceleration, and a debug build stops.
  template <typename Ops>
  void reduce(Joint& joint, Matrix6d& IA) {
    dof = joint.dof();
    double D[36];
    Ops::project(joint, IA, D, U);
    const double scale = IA.diagonal().cwiseAbs().maxCoeff();
    const bool massive = invertSymmetric(D, dof, kMasslessPivot * scale, Dinv);
    assert(massive &&
           "A joint moves no inertia along one of its coordinates (a massless subtree): its "
           "acceleration is undetermined.");
    if (!massive) return;
    if (dof == 1) {
      // The common case, a rank-one update with a scalar D.
      for (int b = 0; b < 6; ++b)
        for (int a = 0; a < 6; ++a) IA(a, b) -= U[a] * Dinv[0] * U[b];
      return;
    }
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
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_ARTICULATEDBODY_
