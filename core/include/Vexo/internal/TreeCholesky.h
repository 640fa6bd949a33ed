// The joint-space mass matrix of a tree factorised along the tree: M = L^T L with L lower
// triangular, in the coordinates' own order (parents first).
//
// Let the parent of coordinate i be the coordinate before it on its path to the base (the previous
// coordinate of its joint, or the last coordinate of the nearest ancestor joint that has any). M(i, j)
// is zero unless one of i, j lies on the other's path, and eliminating coordinates from the last
// (the leaves) towards the base keeps it so: each step, for coordinate k with the pivot
// L(k, k) = sqrt(M(k, k)),
//   L(k, i) = M(k, i) / L(k, k)          for i on k's path,
//   M(i, j) -= L(k, i) L(k, j)            for i, j on k's path,
// touches only k's path, never fills in a zero, and ends with M = L^T L where L(k, i) is non-zero
// only for i = k or i on k's path. A chain costs what a dense Cholesky factor does; a tree of short
// branches (a hand's fingers, two arms on a torso) costs the sum over its branches. The solves run
// over the paths likewise, and skip the coordinates of a right-hand side that are zero and whose
// subtree is zero: a task's Jacobian row is zero off its body's path, and so is L^-T of it.
//
// A pivot at or below the floor means a coordinate that moves no inertia (a massless subtree): as
// in the forward dynamics it is treated as locked (its row and column of M^-1 are zero), and a
// debug build stops.
#ifndef VEXO_INTERNAL_TREECHOLESKY_
#define VEXO_INTERNAL_TREECHOLESKY_

#include <cassert>
#include <cmath>
#include <limits>

#include "ArticulatedBody.h"

namespace ZorvikFoundation {
namespace internal {

template <int N>
struct TreeCholesky {
  typedef Eigen::Matrix<double, N, N> Mat;
  // L in the lower triangle; the upper one is scratch.
  Mat L;
  // The parent of each coordinate, -1 for a coordinate of a joint on the base.
  int parent[N];

  // The coordinates' parents from the model's connectivity (fixed-base layout: joint k's coordinates
  // follow those of joints 1 .. k-1).
  template <typename Model>
  void setTopology(const Model& m) {
    int last[Model::NUM_BODIES];  // the last coordinate on the path from the base to body k
    last[0] = -1;
    int i = 0;
    for (int k = 1; k < Model::NUM_BODIES; ++k) {
      last[k] = last[m.parent(k)];
      for (int e = 0; e < m.joint(k).dof(); ++e, ++i) {
        parent[i] = last[k];
        last[k] = i;
      }
    }
  }

  // L from the symmetric M (its lower triangle is read).
  void factor(const Mat& M) {
    L = M;
    const double floor = kMasslessPivot * M.diagonal().maxCoeff();
    for (int k = N - 1; k >= 0; --k) {
      const bool massive = L(k, k) > floor;
      assert(massive &&
             "A joint moves no inertia along one of its coordinates (a massless subtree): its "
             "acceleration is undetermined.");
      // A locked coordinate: an infinite pivot makes its entries of L^-1 and L^-T zero.
      const double pivot = massive ? std::sqrt(L(k, k)) : std::numeric_limits<double>::infinity();
      L(k, k) = pivot;
      for (int i = parent[k]; i >= 0; i = parent[i]) L(k, i) /= pivot;
      for (int i = parent[k]; i >= 0; i = parent[i])
        for (int j = i; j >= 0; j = parent[j]) L(i, j) -= L(k, i) * L(k, j);
    }
  }

  // x = L^-T x: (L^T x)_j = L(j, j) x_j + sum over the coordinates i below j of L(i, j) x_i, so from
  // the last coordinate down, each x_i final once its subtree is done.
  template <typename Vec>
  void solveTransposed(Vec&& x) const {
    for (int i = N - 1; i >= 0; --i) {
      if (x(i) == 0) continue;
      x(i) /= L(i, i);
      for (int j = parent[i]; j >= 0; j = parent[j]) x(j) -= L(i, j) * x(i);
    }
  }

  // x = L^-1 x: (L x)_i = L(i, i) x_i + sum over i's path j of L(i, j) x_j, from the base up.
  template <typename Vec>
  void solve(Vec&& x) const {
    for (int i = 0; i < N; ++i) {
      double s = x(i);
      for (int j = parent[i]; j >= 0; j = parent[j]) s -= L(i, j) * x(j);
      x(i) = s / L(i, i);
    }
  }
};

}  // namespace internal
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_TREECHOLESKY_
