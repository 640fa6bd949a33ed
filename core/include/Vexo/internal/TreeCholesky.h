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
// over the paths likewise: L^-T of a vector that is zero off one coordinate's path (a task's
// Jacobian row, zero off its body's path) is zero off that path, and L^-1 of a vector that is zero
// off a set of paths is zero off what lies on or below them (OperationalSpaceXD runs these over
// many right-hand sides at once, in its own loops).
// The pivots are kept as their reciprocals, so that the factor and the solves multiply instead of
// dividing.
//
// A pivot at or below the floor means a coordinate that moves no inertia (a massless subtree): as
// in the forward dynamics it is treated as locked (its row and column of M^-1 are zero), and a
// debug build stops. Coordinates after the joints' own (a padded model's, owned by no joint) have
// no parent and are locked without a word: their rows and columns of M are zero by construction.
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
  // L in the lower triangle, its diagonal included; the upper one is scratch.
  Mat L;
  // 1 / L(i, i), zero for a locked coordinate.
  double inv[N];
  // The parent of each coordinate, -1 for a coordinate of a joint on the base.
  int parent[N];
  // The last coordinate on the path from the base to body k (0 .. N), -1 when the path has none.
  int last[N + 1];
  // The number of coordinates the joints own; the others follow them.
  int owned;

  // The coordinates' parents from the model's connectivity (fixed-base layout: joint k's coordinates
  // follow those of joints 1 .. k-1).
  template <typename Model>
  void setTopology(const Model& m) {
    static_assert(Model::NUM_BODIES == N + 1, "one body slot per coordinate and the base");
    last[0] = -1;
    int i = 0;
    for (int k = 1; k <= N; ++k) {
      last[k] = last[m.parent(k)];
      for (int e = 0; e < m.joint(k).dof(); ++e, ++i) {
        parent[i] = last[k];
        last[k] = i;
      }
    }
    owned = i;
    for (; i < N; ++i) parent[i] = -1;
  }

  // L from the symmetric M (its lower triangle is read). Coordinate k's path is gathered once per
  // step, so that the updates along it do not wait on one another's parent look-ups.
  void factor(const Mat& M) {
    L = M;
    const double floor = kMasslessPivot * M.diagonal().maxCoeff();
    for (int k = N - 1; k >= owned; --k) {
      L(k, k) = std::numeric_limits<double>::infinity();
      inv[k] = 0;
    }
    for (int k = owned - 1; k >= 0; --k) {
      const bool massive = L(k, k) > floor;
      assert(massive &&
             "A joint moves no inertia along one of its coordinates (a massless subtree): its "
             "acceleration is undetermined.");
      // A locked coordinate: an infinite pivot, whose zero reciprocal makes its entries of L^-1
      // and L^-T zero.
      const double pivot = massive ? std::sqrt(L(k, k)) : std::numeric_limits<double>::infinity();
      L(k, k) = pivot;
      inv[k] = massive ? 1 / pivot : 0;
      int path[N], depth = 0;
      for (int i = parent[k]; i >= 0; i = parent[i]) path[depth++] = i;
      for (int a = 0; a < depth; ++a) L(k, path[a]) *= inv[k];
      for (int a = 0; a < depth; ++a) {
        const int i = path[a];
        const double lki = L(k, i);
        for (int b = a; b < depth; ++b) L(i, path[b]) -= lki * L(k, path[b]);
      }
    }
  }

  // x = L^-T x: (L^T x)_j = L(j, j) x_j + sum over the coordinates i below j of L(i, j) x_i, so from
  // the last coordinate down, each x_i final once its subtree is done.
  template <typename Vec>
  void solveTransposed(Vec&& x) const {
    for (int i = N - 1; i >= 0; --i) {
      if (x(i) == 0) continue;
      x(i) *= inv[i];
      for (int j = parent[i]; j >= 0; j = parent[j]) x(j) -= L(i, j) * x(i);
    }
  }
};

}  // namespace internal
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_TREECHOLESKY_
