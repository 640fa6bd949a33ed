// The velocity-product terms of the centre of mass's acceleration and of the centroidal momentum's
// rate, Jcdot qdot and Adot qdot (CentroidalXD). Included by <Vexo/CentroidalXD>.
//
// The momentum of a body, carried to the reference origin in reference axes, changes at the rate
// of the wrench that acts on it: d/dt Ad(T_k)^-T (I_k V_k) = Ad(T_k)^-T (I_k Vdot_k + V_k x* I_k V_k)
// (Newton-Euler, body k's frame). At zero joint and base accelerations each body's acceleration is
// its velocity-product part, carried outward from a_0 = 0:
//   a_k = Ad(Tadj_k^-1) a_parent + Edot_k qdot_k + ad(V_k) Vadj_k,
// as in the articulated-body pass of fdyn. The sum over the bodies counted of the carried wrenches
// is the bias rate (ldot, ndot_O) of the momentum about the reference origin; then
//   m Jcdot qdot = ldot,   Adot qdot = (ldot, ndot_O - c x ldot),
// the last because k = n_O - c x l and cdot x l = cdot x m cdot = 0.
#ifndef VEXO_INTERNAL_MOMENTUMRATE_
#define VEXO_INTERNAL_MOMENTUMRATE_

#include "CenterOfMass.h"

namespace ZorvikFoundation {
namespace internal {

// The bias rate of the momentum of the bodies counted, about the reference origin in reference
// axes, and their mass and first moment.
template <int NB, typename Model>
Wrench momentumBiasRate(const Model& model, const CountedBodies<NB>& set, MassMoment& total) {
  static const double zero[6] = {0, 0, 0, 0, 0, 0};
  Twist a[NB];
  Wrench rate;
  total.setZero();
  MassMoment body;
  const double* qdot = model.qdot().data();
  int i = 0;
  for (int k = 0; k < NB; ++k) {
    const Body& b = model.body(k);
    if (k > 0) {
      const Joint& j = model.joint(k);
      addITransformed(j.Tadj(), a[model.parent(k)], Twist(j.adjAcc(qdot + i, zero) + j.biasAcc(b.V())),
                      a[k]);
      i += j.dof();
    }
    if (!set.counted[k]) continue;
    const Wrench F(b.momentum(a[k]) + b.V().coadjoint(b.momentum(b.V())));
    rate += b.T().transform(F);
    body.setBody(b);
    total.add(body);
  }
  return rate;
}

}  // namespace internal

namespace VexoSDK {

template <int N>
Vector3D CentroidalXD<N>::comBiasAcceleration(const Model& model, int root) {
  const internal::CountedBodies<N + 1> set(model, root);
  internal::MassMoment total;
  const Wrench rate = internal::momentumBiasRate(model, set, total);
  (void)internal::centerOf(total);  // asserts a positive mass
  return Vector3D(rate.f() / total.m);
}

template <int N>
Wrench CentroidalXD<N>::momentumBias(const Model& model) {
  const internal::CountedBodies<N + 1> set(model, 0);
  internal::MassMoment total;
  const Wrench rate = internal::momentumBiasRate(model, set, total);
  const Eigen::Vector3d c = internal::centerOf(total);
  const Eigen::Vector3d ldot = rate.f();
  return Wrench(ldot, Eigen::Vector3d(rate.n() - c.cross(ldot)));
}

}  // namespace VexoSDK
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_MOMENTUMRATE_
