// The members of DynamicAnalysisXD<N>: the joint-space mass, Coriolis and gravity matrices from the
// recursive inverse dynamics, and the inverse mass matrix. Included by <Vexo/DynamicAnalysisXD>.
#ifndef VEXO_INTERNAL_DYNAMICANALYSISXD_
#define VEXO_INTERNAL_DYNAMICANALYSISXD_

namespace ZorvikFoundation {
namespace VexoSDK {

// Column k of C is C(q, qdot) e_k, the part of idyn_passive with reference rate e_k and zero
// reference acceleration that depends on the reference rate; the actual velocity enters through
// the model's stored twists. The torques of external wrenches and added biases, the same for every
// reference rate, are not part of it.
template <int N>
void DynamicAnalysisXD<N>::CoriolisMatrix(Model& subsys, JointMat& C) {
  subsys._coriolisColumns(C);
}

template <int N>
void DynamicAnalysisXD<N>::JointDynamics(Model& subsys, JointMat& M, JointMat& C, JointVec& G,
                                         const Vector3D& gacc) {
  const JointVec tau = subsys.tau();
  subsys.idyn_gravity(gacc);
  G = subsys.tau();
  subsys.tau() = tau;
  CoriolisMatrix(subsys, C);
  // Column k of M is M(q) e_k: the stationary pass (zero velocity, no wrenches) with acceleration
  // e_k, idyn_momentum(e_k).
  subsys._massColumns(M);
}

template <int N>
void DynamicAnalysisXD<N>::MassInverse(Model& subsys, JointMat& Minv) {
  subsys._massInverse(Minv);
}

}  // namespace VexoSDK
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_DYNAMICANALYSISXD_
