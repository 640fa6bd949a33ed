// The regressors of DynamicAnalysisXD<N>: the joint torques of idyn and idyn_passive written as
// Y pi, linear in the bodies' inertial parameters pi (body k's ten, Inertia::parameters, at rows
// 10 (k - 1) .. 10 k - 1 of pi).
//
// Body k's Newton-Euler wrench, in its own frame, is F_k = A_k pi_k with a 6 x 10 block A_k that
// depends on the motion only (Inertia::wrenchRegressor from its twist and acceleration;
// Inertia::passivityRegressor from its twist, reference twist and reference acceleration). The
// backward pass of idyn hands F_k to every joint a on the path from k to the base, carried into
// body a's frame; coordinate c of joint a takes s_c^T Ad(T_ak)^-T F_k, with s_c its axis (a column
// of E_a) and T_ak the pose of body k in body a. Read the other way round, that is
// (Ad(T_ak)^-1 s_c)^T F_k: the axis carried into body k's frame, a column of body k's Jacobian J_k.
// So the torques that body k's parameters cause are
//   Y(coordinates of k and its ancestors, parameters of k) = J_k^T A_k,
// and every other entry of Y is zero (a wrench reaches only the joints between its body and the
// base). One pass outward does it all: the motion of idyn's (or idyn_passive's) forward pass, the
// ancestors' axes carried outward as the Jacobian's columns are, J_k = Ad(Tadj_k^-1) J_p with
// joint k's own columns E_k, and each body's block projected on them as soon as the body's motion
// is known. For a chain: N blocks, N (N - 1) / 2 axes carried, N (N + 1) / 2 rows of ten.
//
// Joints enter through E (the contract's idyn is E^T F) and their adjAcc and biasAcc (in the
// forward pass), as in idyn; bodies through their twist and their Inertia, not through inertia()
// or addedBias(), and without their external wrench.
#ifndef VEXO_INTERNAL_INERTIALREGRESSOR_
#define VEXO_INTERNAL_INERTIALREGRESSOR_

#include <array>

namespace ZorvikFoundation {
namespace internal {

// The axes of the coordinates of the joints from the base to body k, in body k's frame, built body
// by body outward (parents first, joints' coordinates in order): the non-zero columns of body k's
// Jacobian, kept side by side, with the coordinate each belongs to.
template <int N>
class AncestorAxes {
 public:
  // The base has no axes.
  AncestorAxes() : _count{}, _next(0) {}

  // Body k, child of p through `joint`, with the 6 x 10 block A of its wrench: its axes are p's
  // carried through Tadj_k followed by joint k's own columns of E; then, for each axis s_c,
  // Y(c, parameters of body k) = s_c^T A (A's force rows are zero in its six moment columns and are
  // not multiplied).
  template <typename RegressorMat>
  void addBody(int k, int p, const Joint& joint, const Inertia::WrenchRegressor& A,
               RegressorMat& Y) {
    const double* T = joint.Tadj().data();
    int n = 0;
    for (; n < _count[p]; ++n) {
      LieGroup::internal::_itransformTwist(T, _axes[p].col(n).data(), &_axes[k](0, n),
                                           &_axes[k](3, n));
      _coordinate[k][n] = _coordinate[p][n];
    }
    for (int e = 0; e < joint.dof(); ++e, ++n) {
      _axes[k].col(n) = joint.E().col(e);
      _coordinate[k][n] = _next++;
    }
    _count[k] = n;

    const int column = 10 * (k - 1);
    for (n = 0; n < _count[k]; ++n) {
      const auto s = _axes[k].col(n);
      const int row = _coordinate[k][n];
      Y.template block<1, 4>(row, column).noalias() = s.transpose() * A.template leftCols<4>();
      Y.template block<1, 6>(row, column + 4).noalias() =
          s.template tail<3>().transpose() * A.template block<3, 6>(3, 4);
    }
  }

 private:
  std::array<Eigen::Matrix<double, 6, N>, N + 1> _axes;
  int _coordinate[N + 1][N];
  int _count[N + 1];
  int _next;
};

}  // namespace internal

namespace VexoSDK {

template <int N>
void DynamicAnalysisXD<N>::InertialParameters(const Model& subsys, ParamVec& pi) {
  for (int k = 1; k < Model::NUM_BODIES; ++k)
    pi.template segment<10>(10 * (k - 1)) = subsys.body(k).getInertia().parameters();
}

template <int N>
void DynamicAnalysisXD<N>::SetInertialParameters(Model& subsys, const ParamVec& pi) {
  Inertia I;
  for (int k = 1; k < Model::NUM_BODIES; ++k) {
    I.setParameters(pi.template segment<10>(10 * (k - 1)));
    subsys.body(k).setInertia(I);
  }
}

template <int N>
void DynamicAnalysisXD<N>::Regressor(const Model& subsys, const JointVec& qddot,
                                     const Vector3D& gacc, RegressorMat& Y) {
  const typename Model::BaseMotion base = subsys._fixedBase(subsys.qdot(), qddot, &gacc);
  Y.setZero();
  subsys._withDynamicsOps([&](auto ops) {
    typedef decltype(ops) Ops;
    internal::AncestorAxes<N> axes;
    subsys.template _accelerations<Ops>(
        base.Vdot, base.qdot, base.qddot, [&](int k, const Twist& Vdot) ZORVIK_INLINE_LAMBDA {
          axes.addBody(k, subsys._topology._pre[k], *subsys._joints[k],
                       Inertia::wrenchRegressor(subsys._bodies[k]->V(), Vdot), Y);
        });
  });
}

template <int N>
void DynamicAnalysisXD<N>::PassiveRegressor(const Model& subsys, const JointVec& qdot_r,
                                            const JointVec& qddot_r, const Vector3D& gacc,
                                            RegressorMat& Y) {
  const typename Model::BaseMotion base = subsys._fixedBase(qdot_r, qddot_r, &gacc);
  const Twist V0 = subsys._joints[0]->adjTwist(qdot_r.data());
  Y.setZero();
  subsys._withDynamicsOps([&](auto ops) {
    typedef decltype(ops) Ops;
    internal::AncestorAxes<N> axes;
    subsys.template _referenceMotions<Ops>(
        V0, base.Vdot, base.qdot, base.qddot,
        [&](int k, const Twist& Vr, const Twist& Vdotr) ZORVIK_INLINE_LAMBDA {
          axes.addBody(k, subsys._topology._pre[k], *subsys._joints[k],
                       Inertia::passivityRegressor(subsys._bodies[k]->V(), Vr, Vdotr), Y);
        });
  });
}

}  // namespace VexoSDK
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_INERTIALREGRESSOR_
