// The kinetic and potential energies of a VexoBaseXD<N> (CentroidalXD). Included by
// <Vexo/CentroidalXD>.
//
// Kinetic: body k with twist V_k and spatial inertia I_k (its own frame) has 1/2 V_k . (I_k V_k),
// the same in every frame; summed over the bodies counted, one product per body. On a fixed base at
// rest the twists are J_k qdot and the sum is 1/2 qdot^T (sum J_k^T I_k J_k) qdot = 1/2 qdot^T M
// qdot, without M.
//
// Potential: in the uniform field g (the gravitational acceleration), -g . (sum m_k c_k), the work
// against gravity of bringing every body from the reference origin; sum m_k c_k is the first moment
// of the bodies counted, in the reference frame.
#ifndef VEXO_INTERNAL_ENERGY_
#define VEXO_INTERNAL_ENERGY_

#include "CenterOfMass.h"

namespace ZorvikFoundation {
namespace internal {

// V . (I V) for a body's twist V = (v, w) and its spatial inertia [[m 1, -[h]], [[h], J]]:
//   m |v|^2 + 2 w . (h x v) + w . J w,
// from the blocks (a derived body: its inertia() times V).
inline double twiceKineticEnergy(const Body& b) {
  const Twist& V = b.V();
  if (!isPlainBody(b)) return V.dot(b.inertia() * V);
  const Matrix6d& M = b.getInertia().bodyInertia();
  const Eigen::Vector3d v = V.v(), w = V.w();
  const Eigen::Vector3d h(M(5, 1), M(3, 2), M(4, 0));
  const Eigen::Vector3d Jw = M.bottomRightCorner<3, 3>() * w;
  return M(0, 0) * v.squaredNorm() + 2 * w.dot(h.cross(v)) + w.dot(Jw);
}

}  // namespace internal

namespace VexoSDK {

// The system's bodies are 1..N, and the base body on a floating base.
template <int N>
double CentroidalXD<N>::kineticEnergy(const Model& model) {
  double twice = 0;
  for (int k = model.isFloating() ? 0 : 1; k <= N; ++k)
    twice += internal::twiceKineticEnergy(model.body(k));
  return 0.5 * twice;
}

template <int N>
double CentroidalXD<N>::potentialEnergy(const Model& model, const Vector3D& gacc) {
  return -gacc.dot(internal::countedMassMoment(model, internal::CountedBodies<N + 1>(model, 0)).h);
}

}  // namespace VexoSDK
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_ENERGY_
