// The centre of mass of a subtree of a VexoBaseXD<N>: its mass, position, velocity and Jacobian
// (CentroidalXD). Also the helpers the other centroidal passes share: which bodies count, and a
// body's mass and first moment in the reference frame. Included by <Vexo/CentroidalXD>.
//
// With body k's mass m_k and first moment h_k = m_k c_k in the reference frame, the subtree's mass
// is m = sum m_k and its centre of mass c = (sum h_k) / m. Its velocity, from the bodies' twists
// V_k = (v_k, w_k) in their own frames: m cdot = sum R_k (m_k v_k + w_k x hb_k), hb_k the first
// moment in body k's frame, which is the linear part of the body's momentum I_k V_k, carried into
// reference axes.
//
// Jacobian. A unit rate of a coordinate of joint j moves the bodies of j's subtree with the twist
// S = (v_O, w) in the reference frame (the joint's column of E, carried from body j's frame by
// Ad(T_j)): v_O is the velocity of the point at the reference origin, so a point x moves with
// v_O + w x x. The bodies counted that it moves are those of subtree(j) within the subtree of
// `root` (all of subtree(root) when j is root or one of its ancestors, none when j is in another
// branch). With their mass m_j and first moment h_j (masked sums, one pass inward), the column is
//   m Jc(:, col) = m_j v_O + w x h_j = m_j R_j e_v + w x (h_j - m_j p_j),   w = R_j e_w,
// for the column e = (e_v, e_w) of E and body j's pose (R_j, p_j). A floating base moves every
// body with its twist V0 in its own frame, as a joint whose E is the identity on body 0:
//   m Jc_base = [m R_0, -[h - m p_0] R_0].
#ifndef VEXO_INTERNAL_CENTEROFMASS_
#define VEXO_INTERNAL_CENTEROFMASS_

#include <cassert>

namespace ZorvikFoundation {
namespace internal {

// The body-frame spatial inertia the dynamics use: a plain Body's cached matrix, a derived body's
// inertia() (copied into scratch).
inline const Matrix6d& spatialInertia(const Body& b, Matrix6d& scratch) {
  if (isPlainBody(b)) return b.getInertia().bodyInertia();
  scratch = b.inertia();
  return scratch;
}

// Mass m and first moment h = m c of a body, in the reference frame. The body-frame first moment is
// read from the lower-left block [hb] of [[m 1, -[hb]], [[hb], J]].
struct MassMoment {
  double m;
  Eigen::Vector3d h;

  void setBody(const Body& b) {
    Matrix6d scratch;
    const Matrix6d& M = spatialInertia(b, scratch);
    m = M(0, 0);
    h.noalias() = b.T().R() * Eigen::Vector3d(M(5, 1), M(3, 2), M(4, 0));
    h += m * b.T().r();
  }
  void setZero() {
    m = 0;
    h.setZero();
  }
  void add(const MassMoment& o) {
    m += o.m;
    h += o.h;
  }
};

// The bodies of the subtree of `root` that count (CentroidalXD: the base body only on a floating
// base), for a model whose parents are numbered before their children.
template <int NB>
struct CountedBodies {
  bool counted[NB];

  template <typename Model>
  CountedBodies(const Model& model, int root) {
    assert(root >= 0 && root < NB && "The subtree's root must be a body index in 0..N.");
    const bool floating = model.isFloating();
    bool inSubtree[NB] = {};
    for (int k = 0; k < NB; ++k) {
      inSubtree[k] = k == root || (k > root && inSubtree[model.parent(k)]);
      counted[k] = inSubtree[k] && (k != 0 || floating);
    }
  }
};

// Mass and first moment of the bodies counted, summed over each body's subtree: sums[k] holds the
// bodies counted among k and its descendants; sums[root] (sums[0] for the system) the total.
template <int NB, typename Model>
void subtreeMassMoments(const Model& model, const CountedBodies<NB>& set, MassMoment* sums) {
  for (int k = 0; k < NB; ++k) {
    if (set.counted[k])
      sums[k].setBody(model.body(k));
    else
      sums[k].setZero();
  }
  for (int k = NB - 1; k >= 1; --k) sums[model.parent(k)].add(sums[k]);
}

// Mass and first moment of the bodies counted.
template <int NB, typename Model>
MassMoment countedMassMoment(const Model& model, const CountedBodies<NB>& set) {
  MassMoment total, body;
  total.setZero();
  for (int k = 0; k < NB; ++k) {
    if (!set.counted[k]) continue;
    body.setBody(model.body(k));
    total.add(body);
  }
  return total;
}

inline Eigen::Vector3d centerOf(const MassMoment& total) {
  assert(total.m > 0 && "The bodies counted have no mass: their centre of mass is undefined.");
  return total.h / total.m;
}

}  // namespace internal

namespace VexoSDK {

template <int N>
double CentroidalXD<N>::mass(const Model& model, int root) {
  return internal::countedMassMoment(model, internal::CountedBodies<N + 1>(model, root)).m;
}

template <int N>
Displacement CentroidalXD<N>::centerOfMass(const Model& model, int root) {
  return Displacement(internal::centerOf(
      internal::countedMassMoment(model, internal::CountedBodies<N + 1>(model, root))));
}

template <int N>
void CentroidalXD<N>::centerOfMass(const Model& model, Displacement& c, ComJac& Jc, int root) {
  const internal::CountedBodies<N + 1> set(model, root);
  internal::MassMoment sums[N + 1];
  internal::subtreeMassMoments(model, set, sums);
  const internal::MassMoment& total = sums[root];
  c = internal::centerOf(total);
  const double invMass = 1 / total.m;
  int i = 0;
  for (int j = 1; j <= N; ++j) {
    const Joint& joint = model.joint(j);
    const HTransform& T = model.body(j).T();
    const internal::MassMoment& s = sums[j];
    // h_j - m_j p_j: the moved bodies' first moment about body j's origin, reference axes.
    const Eigen::Vector3d hj = s.h - s.m * T.r();
    for (int col = 0; col < joint.dof(); ++col, ++i) {
      const Eigen::Vector3d w = T.R() * joint.E().col(col).template tail<3>();
      const Eigen::Vector3d v = T.R() * joint.E().col(col).template head<3>();
      Jc.col(i) = invMass * (s.m * v + w.cross(hj));
    }
  }
  Jc.rightCols(N - i).setZero();
}

template <int N>
void CentroidalXD<N>::centerOfMass(const Model& model, Displacement& c, BaseComJac& Jc_base,
                                   ComJac& Jc, int root) {
  assert(model.isFloating() &&
         "The base block of the centre of mass's Jacobian is for a floating base.");
  centerOfMass(model, c, Jc, root);
  const HTransform& T0 = model.body(0).T();
  // [m R_0, -[h - m p_0] R_0] / m = [R_0, -[c - p_0] R_0].
  Jc_base.leftCols<3>() = T0.R();
  Jc_base.rightCols<3>().noalias() = -Vector3D(c - T0.r()).ceil() * T0.R();
}

template <int N>
Vector3D CentroidalXD<N>::centerOfMassVelocity(const Model& model, int root) {
  const internal::CountedBodies<N + 1> set(model, root);
  double m = 0;
  Eigen::Vector3d l = Eigen::Vector3d::Zero();
  Matrix6d scratch;
  for (int k = 0; k <= N; ++k) {
    if (!set.counted[k]) continue;
    const Body& b = model.body(k);
    m += internal::spatialInertia(b, scratch)(0, 0);
    l.noalias() += b.T().R() * b.momentum(b.V()).f();
  }
  assert(m > 0 && "The bodies counted have no mass: their centre of mass is undefined.");
  return Vector3D(l / m);
}

}  // namespace VexoSDK
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_CENTEROFMASS_
