// The operational-space quantities the way a client assembles them from the library's public
// calls and dense linear algebra (the dense route): M from MassMatrix, the bias torques
// b = idyn(qdot, 0, g), the task Jacobian and its derivative from the frame kinematics, a Cholesky
// factor of M, then
//   Y = M^-1 J^T,  A = J Y,  Lambda = A^-1 (Cholesky of A),  Jbar = Y Lambda,
//   mu = Lambda (J M^-1 b - Jdot qdot),  P = I - J^T Jbar^T.
// With `articulated`, M^-1 comes instead from the articulated-body recursion for all unit
// torques (MassInverse), the other recursive route, and Y = M^-1 J^T from it by products.
// No singularity rule: at the non-singular states where it is used, OperationalSpaceXD must give
// the same numbers by its own route. Fixed maximum sizes, no allocation, so that the benchmark sets
// OperationalSpaceXD against what a careful client would write. Tests and benchmarks.
#ifndef ZORVIK_TEST_OPERATIONAL_SPACE_REFERENCE_H
#define ZORVIK_TEST_OPERATIONAL_SPACE_REFERENCE_H

#include <Eigen/Cholesky>
#include <Vexo/OperationalSpaceXD>

namespace zorvik_test {

template <int N>
struct DenseOperationalSpace {
  typedef ZorvikFoundation::VexoSDK::OperationalSpaceXD<N> Osc;
  typedef ZorvikFoundation::VexoSDK::VexoBaseXD<N> Model;
  typedef ZorvikFoundation::VexoSDK::JacobianFrame JacobianFrame;
  typedef ZorvikFoundation::VexoSDK::TaskRows TaskRows;
  typedef typename Model::JointVec JointVec;
  typedef typename Model::JointMat JointMat;
  typedef typename Model::JointJac JointJac;

  struct Task {
    int body;
    ZorvikFoundation::HTransform offset;
    JacobianFrame convention;
    TaskRows rows;
  };
  Task tasks[4];
  int count = 0;

  void addTask(int body, const ZorvikFoundation::HTransform& offset, JacobianFrame convention,
               TaskRows rows) {
    tasks[count++] = Task{body, offset, convention, rows};
  }

  // The task Jacobian J and its derivative Jdot, stacked in task order.
  void taskJacobians(const Model& model, typename Osc::TaskJacobian& J,
                     typename Osc::TaskJacobian& Jd) const {
    int m = 0;
    for (int t = 0; t < count; ++t) m += tasks[t].rows == TaskRows::All ? 6 : 3;
    J.resize(m, N);
    Jd.resize(m, N);
    int row = 0;
    for (int t = 0; t < count; ++t) {
      const Task& task = tasks[t];
      JointJac Jt, Jdt;
      frameJacobian(model, task.body, task.offset, task.convention, Jt);
      frameJacobianDot(model, task.body, task.offset, task.convention, Jdt);
      const int first = task.rows == TaskRows::Angular ? 3 : 0;
      const int rows = task.rows == TaskRows::All ? 6 : 3;
      J.middleRows(row, rows) = Jt.middleRows(first, rows);
      Jd.middleRows(row, rows) = Jdt.middleRows(first, rows);
      row += rows;
    }
  }

  void compute(Model& model, const ZorvikFoundation::Vector3D& gacc, bool articulated = false) {
    typedef ZorvikFoundation::VexoSDK::DynamicAnalysisXD<N> Dynamics;
    const JointVec tau = model.tau();
    model.idyn(model.qdot(), JointVec::Zero(), gacc);
    b = model.tau();
    model.tau() = tau;
    taskJacobians(model, J, Jdot);
    if (articulated) {
      Dynamics::MassInverse(model, M);
      Y.noalias() = M.lazyProduct(J.transpose());
    } else {
      Dynamics::MassMatrix(model, M);
      const Eigen::LLT<JointMat> llt(M);
      Y = llt.solve(J.transpose());
    }
    A = J * Y;
    Lambda = A.llt().solve(Osc::TaskMatrix::Identity(A.rows(), A.rows()));
    Jbar = Y * Lambda;
    mu = Lambda * (Y.transpose() * b - Jdot * model.qdot());
    P = JointMat::Identity() - J.transpose() * Jbar.transpose();
  }

  JointMat M, P;  // M, or M^-1 on the articulated route
  JointVec b;
  typename Osc::TaskJacobian J, Jdot;
  typename Osc::JointTaskMatrix Y, Jbar;
  typename Osc::TaskMatrix A, Lambda;
  typename Osc::TaskVector mu;
};

#ifdef ZORVIK_TEST_SUPPORT_LIBRARY
// The tests take the library's sizes from the support library, compiled once
// (OperationalSpaceReference.cpp): the dense products and factorisations at up to 24 task rows are
// costly to compile. The benchmark compiles its own, with its own flags.
extern template struct DenseOperationalSpace<6>;
extern template struct DenseOperationalSpace<7>;
extern template struct DenseOperationalSpace<14>;
extern template struct DenseOperationalSpace<16>;
#endif

}  // namespace zorvik_test

#endif
