// The centroidal momentum of a VexoBaseXD<N>, its matrix and the composite inertia at the centre of
// mass (CentroidalXD). Included by <Vexo/CentroidalXD>.
//
// Momentum. Body k's momentum I_k V_k (a wrench in its frame) carried to the reference origin in
// reference axes, Ad(T_k)^-T I_k V_k, summed over the bodies counted, is (l, n_O); about the centre
// of mass c the angular part is k = n_O - c x l.
//
// Matrix. In the reference frame the inertias add: with I_j the composite inertia of the bodies of
// joint j's subtree and S = Ad(T_j) e the twist a unit rate of joint j's coordinate gives them (e a
// column of E), the momentum about the reference origin per unit rate is I_j S; shifted to the
// centre of mass, A(:, col) = (f, n - c x f) for (f, n) = I_j S. A floating base moves every body
// with its twist V0: A_base = the same with the total inertia and S = Ad(T_0) e_i for the six unit
// twists e_i.
//
// Composite inertia at the centre of mass. With the total inertia about the reference origin
// [[m 1, -[h]], [[h], J_O]] and c = h / m, the rotational inertia about c is J_c = J_O + m [c]^2
// (parallel axes, [c]^2 = c c^T - |c|^2 1).
#ifndef VEXO_INTERNAL_CENTROIDALMOMENTUM_
#define VEXO_INTERNAL_CENTROIDALMOMENTUM_

#include "CenterOfMass.h"
#include "ReferenceInertia.h"

namespace ZorvikFoundation {
namespace internal {

// A body's spatial inertia at the reference origin in reference axes, as RigidComposite's m, h and
// J (its rate terms g, K zero). From the body frame's [[m 1, -[hb]], [[hb], Jb]] and the pose
// (R, r): h = R hb + m r and, moving the rotational inertia from the body origin to the reference
// origin, J = R Jb R^T - [r][R hb] - [R hb][r] - m [r]^2.
inline void setReferenceInertia(const Body& b, RigidComposite& I) {
  typedef Eigen::Matrix3d M3;
  Matrix6d scratch;
  const Matrix6d& M = spatialInertia(b, scratch);
  const M3& R = b.T().R();
  const Eigen::Vector3d r = b.T().r();
  const Eigen::Vector3d hb = R * Eigen::Vector3d(M(5, 1), M(3, 2), M(4, 0));
  I.m = M(0, 0);
  I.h = hb + I.m * r;
  // [r][hb] + [hb][r] = r hb^T + hb r^T - 2 (r.hb) 1.
  const M3 rhb = r * hb.transpose();
  I.J.noalias() = R * M.bottomRightCorner<3, 3>() * R.transpose();
  I.J -= rhb + rhb.transpose() + I.m * Vector3D(r).ceilSqr();
  I.J.diagonal().array() += 2 * r.dot(hb);
  I.g.setZero();
  I.K.setZero();
}

// (f, n) about the reference origin to (f, n - c x f) about c.
inline Wrench aboutPoint(const Eigen::Vector3d& c, const Wrench& F) {
  const Eigen::Vector3d f = F.f();
  return Wrench(f, Eigen::Vector3d(F.n() - c.cross(f)));
}

// The reference-frame inertias of the bodies counted, each summed over its body's subtree; I[0]
// is the system's.
template <int NB, typename Model>
void subtreeInertias(const Model& model, const CountedBodies<NB>& set, RigidComposite* I) {
  for (int k = 0; k < NB; ++k) {
    if (set.counted[k]) {
      setReferenceInertia(model.body(k), I[k]);
    } else {
      I[k].m = 0;
      I[k].h.setZero();
      I[k].g.setZero();
      I[k].J.setZero();
      I[k].K.setZero();
    }
  }
  for (int k = NB - 1; k >= 1; --k) I[model.parent(k)].add(I[k]);
}

// The joints' columns of the centroidal matrix from the subtree inertias I, about c.
template <typename Model, typename Matrix>
void centroidalColumns(const Model& model, const RigidComposite* I, const Eigen::Vector3d& c,
                       Matrix& A) {
  int i = 0;
  for (int j = 1; j < Model::NUM_BODIES; ++j) {
    const Joint& joint = model.joint(j);
    const HTransform& T = model.body(j).T();
    for (int col = 0; col < joint.dof(); ++col, ++i)
      A.col(i) = aboutPoint(c, I[j].I(T.transform(Twist(joint.E().col(col)))));
  }
  A.rightCols(A.cols() - i).setZero();
}

inline Eigen::Vector3d centerOf(const RigidComposite& total) {
  return centerOf(MassMoment{total.m, total.h});
}

}  // namespace internal

namespace VexoSDK {

template <int N>
Wrench CentroidalXD<N>::centroidalMomentum(const Model& model) {
  const internal::CountedBodies<N + 1> set(model, 0);
  Wrench hO;
  for (int k = 0; k <= N; ++k) {
    if (!set.counted[k]) continue;
    const Body& b = model.body(k);
    hO += b.T().transform(b.momentum(b.V()));
  }
  return internal::aboutPoint(internal::centerOf(internal::countedMassMoment(model, set)), hO);
}

template <int N>
void CentroidalXD<N>::centroidalMatrix(const Model& model, JointJac& A) {
  internal::RigidComposite I[N + 1];
  internal::subtreeInertias(model, internal::CountedBodies<N + 1>(model, 0), I);
  internal::centroidalColumns(model, I, internal::centerOf(I[0]), A);
}

template <int N>
void CentroidalXD<N>::centroidalMatrix(const Model& model, Matrix6d& A_base, JointJac& A) {
  assert(model.isFloating() && "The base block of the centroidal matrix is for a floating base.");
  internal::RigidComposite I[N + 1];
  internal::subtreeInertias(model, internal::CountedBodies<N + 1>(model, 0), I);
  const Eigen::Vector3d c = internal::centerOf(I[0]);
  internal::centroidalColumns(model, I, c, A);
  const HTransform& T0 = model.body(0).T();
  for (int col = 0; col < 6; ++col)
    A_base.col(col) = internal::aboutPoint(c, I[0].I(T0.transform(Twist(Vector6d::Unit(col)))));
}

template <int N>
Matrix6d CentroidalXD<N>::centroidalInertia(const Model& model) {
  internal::RigidComposite I[N + 1];
  internal::subtreeInertias(model, internal::CountedBodies<N + 1>(model, 0), I);
  const Eigen::Vector3d c = internal::centerOf(I[0]);
  Matrix6d Ig = Matrix6d::Zero();
  Ig.topLeftCorner<3, 3>() = I[0].m * Eigen::Matrix3d::Identity();
  Ig.bottomRightCorner<3, 3>() = I[0].J + I[0].m * Vector3D(c).ceilSqr();
  return Ig;
}

}  // namespace VexoSDK
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_CENTROIDALMOMENTUM_
