// The members of MomentumObserverXD<N>: the generalized-momentum observer, implicit Euler step.
// Included by <Vexo/MomentumObserverXD>.
#ifndef VEXO_INTERNAL_MOMENTUMOBSERVERXD_
#define VEXO_INTERNAL_MOMENTUMOBSERVERXD_

#include "../DynamicAnalysisXD"

namespace ZorvikFoundation {
namespace VexoSDK {

template <int N>
MomentumObserverXD<N>::MomentumObserverXD()
    : _r(JointVec::Zero()), _L(JointVec::Zero()), _p0(JointVec::Zero()), _h(0.0) {}

template <int N>
void MomentumObserverXD<N>::setPeriod(double h) {
  _h = h;
}

template <int N>
void MomentumObserverXD<N>::setGain(const JointVec& L) {
  _L = L.array() / (1.0 + _h * L.array());
}

// For plain bodies on the library's joints p = M qdot, C^T qdot and g come from one O(N) pass each
// way (DynamicAnalysisXD); otherwise _step takes them from idyn_momentum(qdot) and the Coriolis
// matrix's column passes, and g from idyn_gravity.
template <int N>
void MomentumObserverXD<N>::estimate(Model& subsys, JointVec& tau_ext, const Vector3D& gacc) {
  JointVec p, CTqdot, G;
  if (DynamicAnalysisXD<N>::_observerTerms(subsys, &gacc, p, CTqdot, G)) {
    _integrate(tau_ext, p, CTqdot + subsys.tau() - G);
    return;
  }
  const JointVec tau = subsys.tau();
  subsys.idyn_gravity(gacc);
  G = subsys.tau();
  _step(subsys, tau_ext, tau, G);
}

template <int N>
void MomentumObserverXD<N>::estimate(Model& subsys, JointVec& tau_ext) {
  JointVec p, CTqdot, G;
  if (DynamicAnalysisXD<N>::_observerTerms(subsys, nullptr, p, CTqdot, G)) {
    _integrate(tau_ext, p, CTqdot + subsys.tau());
    return;
  }
  const JointVec tau = subsys.tau();
  _step(subsys, tau_ext, tau, JointVec::Zero());
}

template <int N>
void MomentumObserverXD<N>::_step(Model& subsys, JointVec& tau_ext, const JointVec& tau,
                                  const JointVec& G) {
  subsys.idyn_momentum(subsys.qdot());
  const JointVec p = subsys.tau();
  JointMat C;
  DynamicAnalysisXD<N>::CoriolisMatrix(subsys, C);
  _integrate(tau_ext, p, C.transpose() * subsys.qdot() + tau - G);
  subsys.tau() = tau;
}

template <int N>
void MomentumObserverXD<N>::_integrate(JointVec& tau_ext, const JointVec& p, const JointVec& s) {
  _r += _h * s;
  tau_ext = _L.cwiseProduct(p - _r - _p0);
  _r += _h * tau_ext;
}

}  // namespace VexoSDK
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_MOMENTUMOBSERVERXD_
