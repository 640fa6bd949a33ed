// The members of OperationalSpaceXD<N>: the task set, the operational-space quantities from the
// mass matrix factorised along the tree, the singularity rule and the torque law. Included by
// <Vexo/OperationalSpaceXD>.
#ifndef VEXO_INTERNAL_OPERATIONALSPACEXD_
#define VEXO_INTERNAL_OPERATIONALSPACEXD_

#include <algorithm>
#include <cassert>
#include <cmath>
#include <type_traits>

#include "TreeCholesky.h"

namespace ZorvikFoundation {
namespace internal {

// Calls f with a task's row count (3 or 6) as a compile-time constant, so that the loops over a
// task's rows are fixed-size vector operations.
template <typename F>
ZORVIK_ALWAYS_INLINE void withTaskRows(int rows, F&& f) {
  if (rows == 6)
    f(std::integral_constant<int, 6>());
  else
    f(std::integral_constant<int, 3>());
}

// The inverse of the symmetric positive definite block of A on the n rows `rows`, into the same
// block of Ainv, from its Cholesky factor A = C C^T: Ainv = C^-T C^-1, C^-1 by forward
// substitution, written out coefficient by coefficient (at these sizes the blocked solvers cost
// more than they save). Each pivot's reciprocal is formed once, so that the substitutions multiply:
// a division's latency per coefficient would otherwise dominate. The upper triangle is computed and
// mirrored, so the block is exactly symmetric. False, the block of Ainv unspecified, when a pivot
// is not positive.
template <typename Mat>
bool blockCholeskyInverse(const Mat& A, const int* rows, int n, Mat& Ainv) {
  enum { MAX = Mat::MaxRowsAtCompileTime };
  double C[MAX][MAX], X[MAX][MAX], d[MAX];  // C(i, j) = C[i][j] and X = C^-1, i >= j
  for (int j = 0; j < n; ++j) {
    double s = A(rows[j], rows[j]);
    for (int k = 0; k < j; ++k) s -= C[j][k] * C[j][k];
    if (!(s > 0)) return false;
    C[j][j] = std::sqrt(s);
    d[j] = 1 / C[j][j];
    for (int i = j + 1; i < n; ++i) {
      double x = A(rows[i], rows[j]);
      for (int k = 0; k < j; ++k) x -= C[i][k] * C[j][k];
      C[i][j] = x * d[j];
    }
  }
  for (int j = 0; j < n; ++j) {
    X[j][j] = d[j];
    for (int i = j + 1; i < n; ++i) {
      double x = 0;
      for (int k = j; k < i; ++k) x -= C[i][k] * X[k][j];
      X[i][j] = x * d[i];
    }
  }
  for (int j = 0; j < n; ++j)
    for (int i = 0; i <= j; ++i) {
      double x = 0;
      for (int k = j; k < n; ++k) x += X[k][i] * X[k][j];
      Ainv(rows[i], rows[j]) = Ainv(rows[j], rows[i]) = x;
    }
  return true;
}

}  // namespace internal

namespace VexoSDK {

template <int N>
OperationalSpaceXD<N>::OperationalSpaceXD()
    : _taskCount(0), _rows(0), _eps(1e-6), _damped(false), _conditioningKnown(false),
      _conditioning(1) {
  clearTasks();
}

template <int N>
int OperationalSpaceXD<N>::addTask(int body, const HTransform& T_body_frame,
                                   JacobianFrame convention, TaskRows rows) {
  const int count = rows == TaskRows::All ? 6 : 3;
  _sparsity.known = false;
  const bool fits = _taskCount < MAX_TASKS && _rows + count <= MAX_ROWS && body >= 0 && body <= N;
  assert(fits && "addTask: a fifth task, more than 24 task rows, or no such body");
  if (!fits) return -1;
  Task& t = _tasks[_taskCount++];
  t.body = body;
  t.T_body_frame = T_body_frame;
  t.convention = convention;
  t.firstRow = rows == TaskRows::Angular ? 3 : 0;
  t.rowCount = count;
  const int first = _rows;
  _rows += count;
  return first;
}

// No tasks: every result is empty and P = I, so torque() passes the posture torque through.
template <int N>
void OperationalSpaceXD<N>::clearTasks() {
  _taskCount = _rows = 0;
  _sparsity.known = false;
  _J.resize(0, N);
  _A.resize(0, 0);
  _Lambda.resize(0, 0);
  _Jbar.resize(N, 0);
  _mu.resize(0);
  _P.setIdentity();
  _damped = false;
  _conditioning = 1;
  _conditioningKnown = true;
}

template <int N>
void OperationalSpaceXD<N>::setSingularThreshold(double eps) {
  const bool valid = eps > 0 && eps < 1;
  assert(valid && "setSingularThreshold: the relative eigenvalue threshold must lie in (0, 1)");
  if (valid) _eps = eps;
}

// With M = L^T L, M^-1 = L^-1 L^-T, and W = J L^-1 (the transpose of Z = L^-T J^T):
//   A = J M^-1 J^T = W W^T,   Jbar^T = Lambda J M^-1 = (Lambda W) L^-T,
//   mu = Lambda (J M^-1 b - Jdot qdot) = -Lambda (J qddot0 + Jdot qdot),
//   J qddot0 = -J M^-1 b = -W (L^-T b),
// qddot0 = -M^-1 b being the accelerations under zero torque, and J qddot0 + Jdot qdot the task
// frames' acceleration then (the free acceleration). The matrices are kept with a task row per row
// (W, Jbar^T), so that each step of a recursion over the coordinates updates a task's rows at once;
// each runs over the non-zeros of _sparsity.
template <int N>
void OperationalSpaceXD<N>::compute(const Model& model, const Vector3D& gacc) {
  const int m = _rows;
  const Sparsity& sp = _sparsity;
  JointMat M;
  JointVec v;
  DynamicAnalysisXD<N>::_massAndBias(model, gacc, M, v);
  internal::TreeCholesky<N> chol;
  chol.setTopology(model);
  chol.factor(M);
  chol.solveTransposed(v);  // L^-T b
  _setSparsity(chol);

  TaskVector freeAcc;
  _taskRows(model, freeAcc);
  // W = J L^-1, task t's rows up its path from the top: (W L)(:, j) = W(:, j) L(j, j) + the sum
  // over the coordinates i below j of W(:, i) L(i, j), so W(:, i) is final once those below are.
  TaskJacobian W = _J;
  for (int t = 0; t < _taskCount; ++t)
    internal::withTaskRows(_tasks[t].rowCount, [&](auto rows) {
      constexpr int R = decltype(rows)::value;
      const int* path = sp.path[t];
      const int first = sp.row[t];
      Eigen::Matrix<double, R, 1> x = Eigen::Matrix<double, R, 1>::Zero();
      for (int n = sp.pathLength[t] - 1; n >= 0; --n) {
        const int i = path[n];
        auto wi = W.col(i).template segment<R>(first);
        wi *= chol.inv[i];
        for (int a = 0; a < n; ++a) W.col(path[a]).template segment<R>(first) -= chol.L(i, path[a]) * wi;
        x += v(i) * wi;
      }
      freeAcc.template segment<R>(first) -= x;
    });
  // A = W W^T: the block of tasks t and u sums over the part of the paths they share (the same
  // products in the same order on both sides of the diagonal: exactly symmetric).
  _A.setZero(m, m);
  for (int t = 0; t < _taskCount; ++t)
    for (int u = t; u < _taskCount; ++u)
      internal::withTaskRows(_tasks[t].rowCount, [&](auto rowsT) {
        internal::withTaskRows(_tasks[u].rowCount, [&](auto rowsU) {
          constexpr int RT = decltype(rowsT)::value, RU = decltype(rowsU)::value;
          Eigen::Matrix<double, RT, RU> block = Eigen::Matrix<double, RT, RU>::Zero();
          for (int n = 0; n < sp.common[t][u]; ++n) {
            const int i = sp.path[t][n];
            block.noalias() += W.col(i).template segment<RT>(sp.row[t]) *
                               W.col(i).template segment<RU>(sp.row[u]).transpose();
          }
          _A.template block<RT, RU>(sp.row[t], sp.row[u]) = block;
          _A.template block<RU, RT>(sp.row[u], sp.row[t]) = block.transpose();
        });
      });
  _taskInertia();

  // Jbar^T and mu, task t's rows from its group's: Lambda W over the group's paths, then
  // (Lambda W) L^-T over the group's reach, from the base up (column i less L(i, j) times the
  // columns j on its path, over L(i, i)); mu = -Lambda freeAcc.
  TaskJacobian Jt;
  Jt.setZero(m, N);
  _mu.resize(m);
  for (int t = 0; t < _taskCount; ++t)
    internal::withTaskRows(_tasks[t].rowCount, [&](auto rowsT) {
      constexpr int RT = decltype(rowsT)::value;
      const int g = sp.group[t], rowT = sp.row[t];
      Eigen::Matrix<double, RT, 1> mu = Eigen::Matrix<double, RT, 1>::Zero();
      for (int n = 0; n < sp.groupTaskCount[g]; ++n) {
        const int u = sp.groupTasks[g][n];
        internal::withTaskRows(_tasks[u].rowCount, [&](auto rowsU) {
          constexpr int RU = decltype(rowsU)::value;
          const Eigen::Matrix<double, RT, RU> lambda =
              _Lambda.template block<RT, RU>(rowT, sp.row[u]);
          for (int k = 0; k < sp.pathLength[u]; ++k) {
            const int i = sp.path[u][k];
            Jt.col(i).template segment<RT>(rowT).noalias() +=
                lambda * W.col(i).template segment<RU>(sp.row[u]);
          }
          mu.noalias() -= lambda * freeAcc.template segment<RU>(sp.row[u]);
        });
      }
      _mu.template segment<RT>(rowT) = mu;
      for (int k = 0; k < sp.reachLength[g]; ++k) {
        const int i = sp.reach[g][k];
        auto ji = Jt.col(i).template segment<RT>(rowT);
        for (int j = chol.parent[i]; j >= 0; j = chol.parent[j])
          ji -= chol.L(i, j) * Jt.col(j).template segment<RT>(rowT);
        ji *= chol.inv[i];
      }
    });
  _Jbar = Jt.transpose();
  // P = I - J^T Jbar^T: task t's rows of J reach the rows of P on its path, its rows of Jbar^T the
  // columns of P in its group's reach.
  _P.setIdentity();
  for (int t = 0; t < _taskCount; ++t)
    internal::withTaskRows(_tasks[t].rowCount, [&](auto rowsT) {
      constexpr int R = decltype(rowsT)::value;
      const int g = sp.group[t], first = sp.row[t];
      for (int n = 0; n < sp.reachLength[g]; ++n) {
        const int j = sp.reach[g][n];
        const Eigen::Matrix<double, R, 1> jbar = Jt.col(j).template segment<R>(first);
        for (int k = 0; k < sp.pathLength[t]; ++k) {
          const int i = sp.path[t][k];
          _P(i, j) -= _J.col(i).template segment<R>(first).dot(jbar);
        }
      }
    });
}

// The paths from the factor's parents (each ascending: a parent's index is below its children's),
// the groups by the paths' first coordinates (a task without coordinates, on the base, alone), and
// each group's reach by a pass from the base: a coordinate is reached when it or its parent is.
template <int N>
template <typename Factor>
void OperationalSpaceXD<N>::_setSparsity(const Factor& chol) {
  Sparsity& sp = _sparsity;
  // The structure depends on the tasks and the connectivity alone: kept while neither changes.
  if (sp.known && std::equal(chol.parent, chol.parent + N, sp.parent) &&
      std::equal(chol.last, chol.last + N + 1, sp.last))
    return;
  sp.known = true;
  std::copy(chol.parent, chol.parent + N, sp.parent);
  std::copy(chol.last, chol.last + N + 1, sp.last);
  sp.groupCount = 0;
  for (int t = 0, row = 0; t < _taskCount; ++t) {
    sp.row[t] = row;
    row += _tasks[t].rowCount;
    int length = 0;
    for (int i = chol.last[_tasks[t].body]; i >= 0; i = chol.parent[i]) ++length;
    sp.pathLength[t] = length;
    for (int i = chol.last[_tasks[t].body]; i >= 0; i = chol.parent[i]) sp.path[t][--length] = i;
    sp.group[t] = -1;
    for (int u = 0; u < t; ++u) {
      int shared = 0;
      while (shared < sp.pathLength[t] && shared < sp.pathLength[u] &&
             sp.path[t][shared] == sp.path[u][shared])
        ++shared;
      sp.common[u][t] = sp.common[t][u] = shared;
      if (shared > 0) sp.group[t] = sp.group[u];
    }
    sp.common[t][t] = sp.pathLength[t];
    if (sp.group[t] < 0) {
      sp.group[t] = sp.groupCount;
      sp.groupTaskCount[sp.groupCount++] = 0;
    }
    const int g = sp.group[t];
    sp.groupTasks[g][sp.groupTaskCount[g]++] = t;
  }
  for (int g = 0; g < sp.groupCount; ++g) {
    bool reached[N];
    for (int i = 0; i < N; ++i) reached[i] = false;
    for (int n = 0; n < sp.groupTaskCount[g]; ++n) {
      const int t = sp.groupTasks[g][n];
      for (int k = 0; k < sp.pathLength[t]; ++k) reached[sp.path[t][k]] = true;
    }
    int length = 0;
    for (int i = 0; i < N; ++i) {
      reached[i] = reached[i] || (chol.parent[i] >= 0 && reached[chol.parent[i]]);
      if (reached[i]) sp.reach[g][length++] = i;
    }
    sp.reachLength[g] = length;
  }
}

// Row block of each task: the frame's Jacobian in its convention (frameJacobian's maps, on the
// columns of the task's path only: the others are zero), and the part of its free acceleration
// that the joint accelerations do not give, from body k's a = Jdot_k qdot, carried to the frame's
// own coordinates, Vdot_b = Ad(T_body_frame^-1) a, then written in the convention (FrameKinematics:
// the derivatives of J_w qdot = (R v_b, R w_b) and of J_s qdot = Ad(T) V_b, with Rdot = R [w_b]
// and ad(V_b) V_b = 0):
//   Body: Vdot_b;   WorldAligned: (R (vdot_b + w_b x v_b), R wdot_b);   Spatial: Ad(T) Vdot_b.
// Each map is affine in a with the linear part the convention's Jacobian map, so the part of
// J_k qddot0 adds as J qddot0 (compute).
template <int N>
void OperationalSpaceXD<N>::_taskRows(const Model& model, TaskVector& freeAcc) {
  const Sparsity& sp = _sparsity;
  _J.setZero(_rows, N);
  freeAcc.resize(_rows);
  for (int t = 0; t < _taskCount; ++t) {
    const Task& task = _tasks[t];
    const int* path = sp.path[t];
    const int length = sp.pathLength[t];
    const typename Model::JointJac& Jk = model.J(task.body);
    const typename Model::JointJac& Jdotk = model.Jdot(task.body);
    Eigen::Matrix<double, 6, Eigen::Dynamic, 0, 6, N> Jpath(6, length), Jframe(6, length);
    Twist a = Twist::Zero();
    for (int n = 0; n < length; ++n) {
      Jpath.col(n) = Jk.col(path[n]);
      a += Jdotk.col(path[n]) * model.qdot()(path[n]);
    }
    task.T_body_frame.itransform(Jpath, Jframe);
    Twist acc = task.T_body_frame.itransform(a);
    if (task.convention != JacobianFrame::Body) {
      const HTransform T = framePose(model, task.body, task.T_body_frame);
      internal::toReferenceAxes(T, task.convention == JacobianFrame::Spatial, Jframe);
      if (task.convention == JacobianFrame::WorldAligned) {
        const Twist Vb = frameTwist(model, task.body, task.T_body_frame);
        const Eigen::Vector3d vdot = acc.v() + Vb.w().cross(Vb.v());
        acc = Twist(T.R() * vdot, T.R() * acc.w());
      } else {
        acc = T.transform(acc);
      }
    }
    for (int n = 0; n < length; ++n)
      _J.col(path[n]).segment(sp.row[t], task.rowCount) =
          Jframe.col(n).segment(task.firstRow, task.rowCount);
    freeAcc.segment(sp.row[t], task.rowCount) = acc.segment(task.firstRow, task.rowCount);
  }
}

// Lambda by the singularity rule (<Vexo/OperationalSpaceXD>). A is block-diagonal over the
// groups (after ordering the rows by group), and so is every function of it: Lambda is the
// groups' inverses side by side, zero across groups. The Cholesky inverses bound the ratio from
// below: an eigenvalue of a symmetric positive definite matrix is at most its trace and at most
// its largest absolute row sum, so s_max <= min(trace(A), |A|_inf) and
// 1 / s_min <= min(trace(A^-1), |A^-1|_inf). When the bound clears eps no eigenvalue can be damped
// and A^-1 is Lambda. (The row sums keep the bound close for stacked tasks on separate branches,
// where the traces add up the blocks.) Otherwise, or when a block is not positive definite to
// working precision, the eigen-decomposition of A decides.
template <int N>
void OperationalSpaceXD<N>::_taskInertia() {
  const int m = _rows;
  const Sparsity& sp = _sparsity;
  _damped = false;
  _conditioningKnown = m == 0;
  _conditioning = 1;
  if (m == 0) return;
  const auto eigenvalueBound = [](const TaskMatrix& X) {
    return std::min(X.trace(), X.cwiseAbs().rowwise().sum().maxCoeff());
  };
  // The rows of each group, and the group of each row.
  int groupRows[MAX_TASKS][MAX_ROWS], groupSize[MAX_TASKS], rowGroup[MAX_ROWS];
  for (int g = 0; g < sp.groupCount; ++g) {
    groupSize[g] = 0;
    for (int n = 0; n < sp.groupTaskCount[g]; ++n) {
      const int t = sp.groupTasks[g][n];
      for (int r = sp.row[t]; r < sp.row[t] + _tasks[t].rowCount; ++r) {
        groupRows[g][groupSize[g]++] = r;
        rowGroup[r] = g;
      }
    }
  }
  const double smaxBound = eigenvalueBound(_A);
  bool definite = smaxBound > 0;
  _Lambda.setZero(m, m);
  for (int g = 0; g < sp.groupCount && definite; ++g)
    definite = internal::blockCholeskyInverse(_A, groupRows[g], groupSize[g], _Lambda);
  if (definite && _eps * smaxBound * eigenvalueBound(_Lambda) < 1) return;
  _eigen.compute(_A);
  const TaskVector& s = _eigen.eigenvalues();  // ascending
  const TaskMatrix& V = _eigen.eigenvectors();
  const double smax = s(m - 1);
  _conditioning = smax > 0 ? std::max(s(0), 0.0) / smax : 0;
  _conditioningKnown = true;
  const double d = _eps * smax;
  TaskVector rho(m);
  for (int i = 0; i < m; ++i) {
    const bool exact = s(i) >= d && s(i) > 0;
    rho(i) = exact ? 1 / s(i) : s(i) > 0 ? s(i) / d / d : 0;
    _damped = _damped || !exact;
  }
  // Across groups the sum vanishes but for rounding; it is kept at zero, where compute() assumes it.
  for (int c = 0; c < m; ++c)
    for (int r = 0; r <= c; ++r) {
      double x = 0;
      if (rowGroup[r] == rowGroup[c])
        for (int i = 0; i < m; ++i) x += V(r, i) * rho(i) * V(c, i);
      _Lambda(r, c) = _Lambda(c, r) = x;
    }
}

template <int N>
double OperationalSpaceXD<N>::conditioning() const {
  if (!_conditioningKnown) {
    _eigen.compute(_A, Eigen::EigenvaluesOnly);
    const TaskVector& s = _eigen.eigenvalues();
    const double smax = s(_rows - 1);
    _conditioning = smax > 0 ? std::max(s(0), 0.0) / smax : 0;
    _conditioningKnown = true;
  }
  return _conditioning;
}

template <int N>
void OperationalSpaceXD<N>::torque(const TaskVector& a_task, const JointVec& tau_posture,
                                   JointVec& tau) const {
  assert(a_task.size() == _rows && "torque: a_task must have one entry per task row");
  TaskVector f = _mu;
  f.noalias() += _Lambda.lazyProduct(a_task);
  tau.noalias() = _J.transpose().lazyProduct(f);
  tau.noalias() += _P.lazyProduct(tau_posture);
}

}  // namespace VexoSDK
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_OPERATIONALSPACEXD_
