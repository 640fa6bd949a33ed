// The members of OperationalSpaceXD<N>: the task set, the operational-space quantities from the
// mass matrix factorised along the tree, the singularity rule and the torque law. Included by
// <Vexo/OperationalSpaceXD>.
#ifndef VEXO_INTERNAL_OPERATIONALSPACEXD_
#define VEXO_INTERNAL_OPERATIONALSPACEXD_

#include <algorithm>
#include <cassert>

#include "TreeCholesky.h"

namespace ZorvikFoundation {
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

// With M = L^T L, M^-1 = L^-1 L^-T, and Z = L^-T J^T:
//   A = J M^-1 J^T = Z^T Z,   Jbar = M^-1 J^T Lambda = L^-1 (Z Lambda),
//   mu = Lambda (J M^-1 b - Jdot qdot) = -Lambda (J qddot0 + Jdot qdot),   qddot0 = -M^-1 b,
// qddot0 being the accelerations under zero torque, and J qddot0 + Jdot qdot the task frames'
// acceleration then (the free acceleration).
template <int N>
void OperationalSpaceXD<N>::compute(const Model& model, const Vector3D& gacc) {
  const int m = _rows;
  JointMat M;
  JointVec qddot0;
  DynamicAnalysisXD<N>::_massAndBias(model, gacc, M, qddot0);
  internal::TreeCholesky<N> chol;
  chol.setTopology(model);
  chol.factor(M);
  qddot0 = -qddot0;
  chol.solveTransposed(qddot0);
  chol.solve(qddot0);

  TaskVector freeAcc;
  _taskRows(model, qddot0, freeAcc);
  JointTaskMatrix Z = _J.transpose();
  for (int c = 0; c < m; ++c) chol.solveTransposed(Z.col(c));
  _A.resize(m, m);
  for (int c = 0; c < m; ++c)
    for (int r = 0; r <= c; ++r) _A(r, c) = _A(c, r) = Z.col(r).dot(Z.col(c));
  _taskInertia();

  _Jbar.resize(N, m);
  _Jbar.noalias() = Z.lazyProduct(_Lambda);
  for (int c = 0; c < m; ++c) chol.solve(_Jbar.col(c));
  _mu.noalias() = -_Lambda.lazyProduct(freeAcc);
  _P.noalias() = -_J.transpose().lazyProduct(_Jbar.transpose());
  _P.diagonal().array() += 1;
}

// Row block of each task: the frame's Jacobian in its convention, and its free acceleration from
// the body's, a = J_k qddot0 + Jdot_k qdot (body k's frame), carried to the frame's own coordinates,
// Vdot_b = Ad(T_body_frame^-1) a, then written in the convention (FrameKinematics: the derivatives of
// J_w qdot = (R v_b, R w_b) and of J_s qdot = Ad(T) V_b, with Rdot = R [w_b] and ad(V_b) V_b = 0):
//   Body: Vdot_b;   WorldAligned: (R (vdot_b + w_b x v_b), R wdot_b);   Spatial: Ad(T) Vdot_b.
template <int N>
void OperationalSpaceXD<N>::_taskRows(const Model& model, const JointVec& qddot0,
                                      TaskVector& freeAcc) {
  _J.resize(_rows, N);
  freeAcc.resize(_rows);
  int row = 0;
  for (int t = 0; t < _taskCount; ++t) {
    const Task& task = _tasks[t];
    typename Model::JointJac Jt;
    frameJacobian(model, task.body, task.T_body_frame, task.convention, Jt);
    const Twist a(model.J(task.body).lazyProduct(qddot0) +
                  model.Jdot(task.body).lazyProduct(model.qdot()));
    Twist acc = task.T_body_frame.itransform(a);
    if (task.convention == JacobianFrame::WorldAligned) {
      const Twist Vb = frameTwist(model, task.body, task.T_body_frame);
      const Eigen::Matrix3d R = framePose(model, task.body, task.T_body_frame).R();
      const Eigen::Vector3d vdot = acc.v() + Vb.w().cross(Vb.v());
      acc = Twist(R * vdot, R * acc.w());
    } else if (task.convention == JacobianFrame::Spatial) {
      acc = framePose(model, task.body, task.T_body_frame).transform(acc);
    }
    _J.middleRows(row, task.rowCount) = Jt.middleRows(task.firstRow, task.rowCount);
    freeAcc.segment(row, task.rowCount) = acc.segment(task.firstRow, task.rowCount);
    row += task.rowCount;
  }
}

// Lambda by the singularity rule (<Vexo/OperationalSpaceXD>). The Cholesky inverse of A bounds the
// ratio from below: an eigenvalue of a symmetric positive definite matrix is at most its trace and
// at most its largest absolute row sum, so s_max <= min(trace(A), |A|_inf) and
// 1 / s_min <= min(trace(A^-1), |A^-1|_inf). When the bound clears eps no eigenvalue can be damped
// and A^-1 is Lambda. (The row sums keep the bound close for stacked tasks on separate branches,
// where A is block-diagonal and the traces add up the blocks.) Otherwise, or when A is not positive
// definite to working precision, the eigen-decomposition decides.
template <int N>
void OperationalSpaceXD<N>::_taskInertia() {
  const int m = _rows;
  _damped = false;
  _conditioningKnown = m == 0;
  _conditioning = 1;
  if (m == 0) return;
  const auto eigenvalueBound = [](const TaskMatrix& X) {
    return std::min(X.trace(), X.cwiseAbs().rowwise().sum().maxCoeff());
  };
  const double smaxBound = eigenvalueBound(_A);
  if (smaxBound > 0 && internal::choleskyInverse(_A, 0.0, _Lambda) &&
      _eps * smaxBound * eigenvalueBound(_Lambda) < 1)
    return;
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
  _Lambda.resize(m, m);
  for (int c = 0; c < m; ++c)
    for (int r = 0; r <= c; ++r) {
      double x = 0;
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
