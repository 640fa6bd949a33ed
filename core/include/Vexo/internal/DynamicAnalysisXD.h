// The members of DynamicAnalysisXD<N>: the joint-space mass, Coriolis and gravity matrices from the
// recursive inverse dynamics, and the inverse mass matrix. Included by <Vexo/DynamicAnalysisXD>.
#ifndef VEXO_INTERNAL_DYNAMICANALYSISXD_
#define VEXO_INTERNAL_DYNAMICANALYSISXD_

#include <cassert>
#include <limits>
#include <typeinfo>

#include "DynamicsDerivatives.h"
#include "InertialRegressor.h"

namespace ZorvikFoundation {
namespace VexoSDK {

// Column k of C is C(q, qdot) e_k, the part of idyn_passive with reference rate e_k and zero
// reference acceleration that depends on the reference rate; the actual velocity enters through
// the model's stored twists. The torques of external wrenches and added biases, the same for every
// reference rate, are not part of it.
template <int N>
void DynamicAnalysisXD<N>::CoriolisMatrix(Model& subsys, JointMat& C) {
  if (subsys._libraryModel())
    _compositeDynamics(subsys, nullptr, C, nullptr, nullptr);
  else
    subsys._coriolisColumns(C);
}

template <int N>
void DynamicAnalysisXD<N>::JointDynamics(Model& subsys, JointMat& M, JointMat& C, JointVec& G,
                                         const Vector3D& gacc) {
  if (subsys._libraryModel()) {
    _compositeDynamics(subsys, &M, C, &G, &gacc);
    return;
  }
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
void DynamicAnalysisXD<N>::MassMatrix(const Model& subsys, JointMat& M) {
  if (subsys._libraryModel()) {
    _compositeMass<internal::RigidComposite>(subsys, M, nullptr, nullptr);
    return;
  }
  subsys._massColumns(M);
  // (a + b) / 2 rounds the same whichever triangle it is written into.
  for (int c = 0; c < N; ++c)
    for (int r = c + 1; r < N; ++r) M(r, c) = M(c, r) = 0.5 * (M(r, c) + M(c, r));
}

template <int N>
void DynamicAnalysisXD<N>::MassInverse(Model& subsys, JointMat& Minv) {
  if (subsys._libraryModel())
    _referenceMassInverse(subsys, Minv);
  else
    subsys._massInverse(Minv);
}

// The inverse mass matrix as the forward dynamics at zero velocity, without gravity or wrenches,
// for every unit torque e_c at once, in the reference frame. There a body's articulated inertia,
// the wrench it hands to its parent and its acceleration need no transform between bodies: with
// joint k's world motion subspace S = Ad_T E (6 x dof) and the articulated inertia IA_k (body k's
// reference-frame inertia plus its children's Ia),
//   U = IA_k S,   D = S^T U,   Ia_k = IA_k - U D^-1 U^T,   IA_parent += Ia_k,
//   backward:  Minv(k, c) = D^-1 (e_c - S^T F(c)),   F(c) += U Minv(k, c),
//   forward:   Minv(k, c) -= D^-1 U^T a_parent(c),   a_k(c) = a_parent(c) + S Minv(k, c),
// F(c) the articulated wrench of the subtree below and a(c) the acceleration for the torque e_c.
// F_k(c) is zero unless the joint of coordinate c lies in k's subtree, and the subtrees of two
// children own disjoint sets of columns, so one 6 x N block F carries every body's wrenches: when
// body k is reached, column c of k's subtree holds exactly the sum of its descendants'
// contributions (a chain's columns fill from the tip). Bodies are numbered parents first, so a
// subtree's columns lie in [offset of k, end of its last coordinate); where another branch's
// joints are numbered in between, the columns in that range are checked one by one. a_k(c) is zero
// unless c lies in k's branch off the fixed base, and the forward pass takes only the columns
// c >= offset of k (those outside the branch stay zero): the upper triangle, mirrored at the end,
// so that Minv is exactly symmetric. A joint without inertia along a coordinate gets
// D^-1 = 0 and hands IA on unreduced, as in fdyn.
template <int N>
void DynamicAnalysisXD<N>::_referenceMassInverse(const Model& m, JointMat& Minv) {
  enum { NB = Model::NUM_BODIES };
  typedef Eigen::Matrix<double, 6, N> Block;
  m._assertFixedBaseLayout();
  const int* pre = m._topology._pre;
  std::array<Matrix6d, NB> IA;
  JointJac S, U;
  double Dinv[NB][36];
  Block F;
  // A[k]: body k's accelerations, kept for bodies with children only.
  std::array<Block, NB> A;
  // Joint k's coordinates are [begin[k], end[k]), its subtree's within [begin[k], last[k]), which
  // holds size[k] of them; its branch's end is last[branch[k]]. Coordinate c belongs to joint
  // owner[c].
  int begin[NB] = {}, end[NB] = {}, last[NB] = {}, size[NB] = {}, branch[NB] = {}, owner[N];
  bool parent[NB] = {};
  int i = 0;
  for (int k = 1; k < NB; ++k) {
    const Joint& j = *m._joints[k];
    const Body& b = *m._bodies[k];
    begin[k] = i;
    for (int e = 0; e < j.dof(); ++e, ++i) {
      S.col(i) = b.T().transform(Twist(j.E().col(e)));
      F.col(i).setZero();
      owner[i] = k;
    }
    end[k] = last[k] = i;
    size[k] = j.dof();
    branch[k] = pre[k] == 0 ? k : branch[pre[k]];
    parent[pre[k]] = true;
    // I = [[m 1, -[h]], [[h], J]] in the reference frame.
    internal::RigidComposite I;
    I.setBody(b);
    const Eigen::Matrix3d H = Vector3D(I.h).ceil();
    Matrix6d& Ik = IA[k];
    Ik.topLeftCorner<3, 3>() = I.m * Eigen::Matrix3d::Identity();
    Ik.topRightCorner<3, 3>() = -H;
    Ik.bottomLeftCorner<3, 3>() = H;
    Ik.bottomRightCorner<3, 3>() = I.J;
  }
  for (int k = NB - 1; k >= 1; --k) {
    if (pre[k] == 0) continue;
    last[pre[k]] = std::max(last[pre[k]], last[k]);
    size[pre[k]] += size[k];
  }
  // Whether column c belongs to k's subtree (a descendant has a larger index).
  auto inSubtree = [&](int c, int k) {
    int j = owner[c];
    while (j > k) j = pre[j];
    return j == k;
  };
  Minv.setZero();

  for (int k = NB - 1; k >= 1; --k) {
    const int p = pre[k], o = begin[k], dof = end[k] - o;
    Matrix6d& Ik = IA[k];
    double* Di = Dinv[k];
    const double tol = internal::kMasslessPivot * Ik.diagonal().cwiseAbs().maxCoeff();
    const bool gaps = size[k] != last[k] - o;
    bool massive = true;
    if (dof == 1) {
      // The common case: U one column, D a number.
      const Vector6d s = S.col(o);
      const Vector6d u = Ik * s;
      const double d = s.dot(u);
      massive = d > tol;
      Di[0] = massive ? 1 / d : 0;
      U.col(o) = u;
      for (int c = o; c < last[k]; ++c) {
        if (gaps && !inSubtree(c, k)) continue;
        const double x = Di[0] * ((c == o) - s.dot(F.col(c)));
        Minv(o, c) = x;
        F.col(c) += u * x;
      }
      if (massive && p != 0) Ik.noalias() -= (Di[0] * u) * u.transpose();
    } else if (dof > 1) {
      double D[36];
      for (int e = 0; e < dof; ++e) {
        U.col(o + e).noalias() = Ik * S.col(o + e);
        for (int r = 0; r < dof; ++r) D[r + dof * e] = S.col(o + r).dot(U.col(o + e));
      }
      massive = internal::invertSymmetric(D, dof, tol, Di);
      for (int c = o; c < last[k]; ++c) {
        if (gaps && !inSubtree(c, k)) continue;
        double r[6];
        for (int e = 0; e < dof; ++e) r[e] = (c == o + e) - S.col(o + e).dot(F.col(c));
        for (int e = 0; e < dof; ++e) {
          double x = 0;
          for (int f = 0; f < dof; ++f) x += Di[e + dof * f] * r[f];
          Minv(o + e, c) = x;
          F.col(c) += U.col(o + e) * x;
        }
      }
      if (massive && p != 0) {
        // Ia = IA - W U^T with W = U D^-1.
        for (int e = 0; e < dof; ++e) {
          Vector6d w = Vector6d::Zero();
          for (int f = 0; f < dof; ++f) w += U.col(o + f) * Di[f + dof * e];
          Ik.noalias() -= w * U.col(o + e).transpose();
        }
      }
    }
    assert(massive &&
           "A joint moves no inertia along one of its coordinates (a massless subtree): its "
           "acceleration is undetermined.");
    (void)massive;
    if (p != 0) IA[p] += Ik;
  }

  for (int k = 1; k < NB; ++k) {
    const int p = pre[k], o = begin[k], dof = end[k] - o, stop = last[branch[k]];
    const double* Di = Dinv[k];
    for (int c = o; c < stop; ++c) {
      Vector6d a = p != 0 ? Vector6d(A[p].col(c)) : Vector6d::Zero();
      if (dof == 1) {
        if (p != 0) Minv(o, c) -= Di[0] * U.col(o).dot(a);
        a += S.col(o) * Minv(o, c);
      } else {
        double r[6];
        for (int e = 0; e < dof && p != 0; ++e) r[e] = U.col(o + e).dot(a);
        for (int e = 0; e < dof && p != 0; ++e) {
          double x = 0;
          for (int f = 0; f < dof; ++f) x += Di[e + dof * f] * r[f];
          Minv(o + e, c) -= x;
        }
        for (int e = 0; e < dof; ++e) a += S.col(o + e) * Minv(o + e, c);
      }
      if (parent[k]) A[k].col(c) = a;
    }
  }
  for (int c = 0; c < N; ++c)
    for (int r = c + 1; r < N; ++r) Minv(r, c) = Minv(c, r);
}

// ---------------------------------------------------------------------------------------------
// Derivatives of the inverse dynamics. In the reference frame (a spatial twist X^s = Ad_T X of a
// body twist, a spatial wrench Ad_T^-T F) the recursion reads, for body k with parent p and world
// motion subspace S_k = Ad_T E_k:
//   v_k = v_p + S_k qdot_k,   a_k = a_p + S_k qddot_k + v_k x S_k qdot_k + Ad_T Edot_k qdot_k,
//   f_k = I_k a_k + v_k x* I_k v_k - (external wrench) + (added bias),
//   F_k = f_k + sum of the children's F,   tau_k = S_k^T F_k,
// with x the bracket ad and x* = -ad^T. Moving coordinate e of joint j by dq turns j's subtree
// rigidly about the screw s = S_j,e: every quantity fixed in those bodies (S, I, the external
// wrenches) changes by its bracket with s, and in tau_i = S_i^T F_i those brackets cancel. What
// remains is, with the parent p of j, u = Ad_T dE_e qdot_j, w = Ad_T dE_e qddot_j, z = Ad_T z_e
// (JointDerivatives.h):
//   d v_k = s x v_k + Psid,   Psid = v_p x s + u,
//   d a_k = s x a_k + Psid x v_k + Psidd,   Psidd = a_p x s + v_p x Psid + w + v_j x u + z,
// for every body k of the subtree, and from the body equations (Idot_k = v_k x* I_k - I_k v_k x,
// the rate of change of the world inertia, h_k = I_k v_k)
//   d f_k = s x* f_k + I_k Psidd + Idot_k Psid + Psid x* h_k.
// Summed over a subtree with the composite Ic, Idotc, Hc, the rows of the column (j, e) are
//   i in j's subtree:  S_i^T (Ic_i Psidd + Idotc_i Psid + Psid x* Hc_i) (+ dE_e^T F_j if i = j),
//   i above j:          S_i^T (Ic_j Psidd + Idotc_j Psid + Psid x* Hc_j + s x* F_j),
// and zero elsewhere. A rate qdot_j,e moves nothing and adds s to every v_k of the subtree, and
//   d a_k = s x v_k + Gamma,   Gamma = v_p x s + v_j x s + u + Ad_T Edot_e,
//   d f_k = I_k Gamma + Idot_k s + s x* h_k,
// summed likewise (S_i does not depend on the rates). For a row i in the subtree both become two
// dot products with P_i = Ic_i S_i and Q_i = Idotc_i S_i - S_i x* Hc_i, the pairs' O(N^2) part.
// Plain bodies keep the rigid-body structure of their inertias in the sums (RigidComposite); a
// model with any derived body takes general 6x6 matrices (GeneralComposite).
template <int N>
bool DynamicAnalysisXD<N>::_plainBodies(const Model& m) {
  m._assertComplete();
  for (int k = 1; k < Model::NUM_BODIES; ++k)
    if (!internal::isPlainBody(*m._bodies[k])) return false;
  return true;
}

template <int N>
void DynamicAnalysisXD<N>::IdynDerivatives(Model& m, const JointVec& qddot, const Vector3D& gacc,
                                           JointMat& dtau_dq, JointMat& dtau_dqdot) {
  if (_plainBodies(m))
    _idynDerivatives<internal::RigidComposite>(m, qddot, gacc, dtau_dq, dtau_dqdot);
  else
    _idynDerivatives<internal::GeneralComposite>(m, qddot, gacc, dtau_dq, dtau_dqdot);
}

// The motion of body k in the reference frame from its parent p's, through joint k's world motion
// subspace S = Ad_T E (its columns from coordinate i on, with v_p x S in Vps):
//   v_k = v_p + S qdot,   a_k = a_p + S qddot + v_p x S qdot + Ad_T Edot qdot,
// where v_p x S qdot = v_k x S qdot, a twist's bracket with itself being zero. The Edot term is
// taken only for a joint whose E varies (for any other Edot = 0).
template <int N>
ZORVIK_ALWAYS_INLINE void DynamicAnalysisXD<N>::_referenceMotion(
    const Model& m, int k, int i, const double* qdot, const double* qddot, bool varies,
    JointJac& S, JointJac& Vps, TwistArray& v, TwistArray& a) {
  static const double zeros[6] = {0, 0, 0, 0, 0, 0};
  const Joint& j = *m._joints[k];
  const HTransform& T = m._bodies[k]->T();
  const int p = m._topology._pre[k];
  v[k] = v[p];
  a[k] = a[p];
  for (int e = 0; e < j.dof(); ++e) {
    const Twist s = T.transform(Twist(j.E().col(e)));
    const Twist vps = v[p].adjoint(s);
    S.col(i + e) = s;
    Vps.col(i + e) = vps;
    v[k] += s * qdot[e];
    a[k] += s * qddot[e] + vps * qdot[e];
  }
  if (varies) a[k] += T.transform(j.adjAcc(qdot, zeros));
}

// M by the composite-rigid-body recursion in the reference frame: for coordinates r of joint k and
// e of k or an ancestor, M(r, e) = M(e, r) = S_r . (Ic_k S_e) with the composite inertia Ic_k of
// k's subtree; every other entry is zero. With bias, in the same passes, the bias torques
// b = idyn(qdot, 0, gacc): the motion without joint accelerations, the bodies' wrenches summed over
// subtrees into F_k, b_r = S_r . F_k.
template <int N>
template <typename Composite>
void DynamicAnalysisXD<N>::_compositeMass(const Model& m, JointMat& M, const Vector3D* gacc,
                                          JointVec* bias) {
  enum { NB = Model::NUM_BODIES };
  const JointVec noAcceleration = JointVec::Zero();
  const typename Model::BaseMotion base = m._fixedBase(m._qdot, noAcceleration, gacc);
  const int* pre = m._topology._pre;
  std::array<Composite, NB> Ic;
  typename Model::TwistArray v, a;
  typename Model::WrenchArray F;
  typename Model::JointJac S, Vps;
  int begin[NB], end[NB];
  const Body& b0 = *m._bodies[0];
  v[0] = b0.T().transform(b0.V());
  a[0] = b0.T().transform(base.Vdot);
  int i = 0;
  for (int k = 1; k < NB; ++k) {
    const Joint& j = *m._joints[k];
    const Body& b = *m._bodies[k];
    begin[k] = i;
    end[k] = i + j.dof();
    Ic[k].setBody(b);
    i = end[k];
    if (!bias) {
      for (int e = 0; e < j.dof(); ++e) S.col(begin[k] + e) = b.T().transform(Twist(j.E().col(e)));
      continue;
    }
    _referenceMotion(m, k, begin[k], base.qdot + begin[k], base.qddot + begin[k],
                     !internal::isConstantLibraryJoint(j), S, Vps, v, a);
    F[k] = Ic[k].wrench(b, v[k], a[k], Ic[k].I(v[k]));
  }
  M.setZero();
  for (int k = NB - 1; k >= 1; --k) {
    for (int r = begin[k]; r < end[k]; ++r) {
      const Twist Sr(S.col(r));
      const Wrench P = Ic[k].I(Sr);
      if (bias) (*bias)(r) = Sr.dot(F[k]);
      for (int jj = k; jj > 0; jj = pre[jj])
        for (int e = begin[jj]; e < end[jj]; ++e) M(e, r) = M(r, e) = P.dot(S.col(e));
    }
    if (pre[k] == 0) continue;
    Ic[pre[k]].add(Ic[k]);
    if (bias) F[pre[k]] += F[k];
  }
}

template <int N>
template <typename Composite>
void DynamicAnalysisXD<N>::_idynDerivatives(Model& m, const JointVec& qddot, const Vector3D& gacc,
                                            JointMat& dtau_dq, JointMat& dtau_dqdot) {
  enum { NB = Model::NUM_BODIES };
  const typename Model::BaseMotion base = m._fixedBase(m._qdot, qddot, &gacc);
  const int* pre = m._topology._pre;
  typename Model::TwistArray v, a;
  typename Model::WrenchArray F, H;
  std::array<Composite, NB> Ic;
  // Per coordinate, in the reference frame: S, and (Psidd, Psid) and (Gamma, S) of its column and
  // (P, Q) of its row side by side, so that each entry is one 12-term dot product; dE (child frame)
  // for the joints whose E depends on q.
  typedef Eigen::Matrix<double, 12, 1> Vector12d;
  std::array<Vector12d, N> PsiddPsid, GammaS, PQ;
  typename Model::JointJac S, Vps;
  std::array<Matrix6d, N> dE;
  // Joint k's coordinates are [begin[k], end[k]).
  int begin[NB], end[NB];
  bool varies[NB], secondOrderKnown[NB];

  const Body& b0 = *m._bodies[0];
  v[0] = b0.T().transform(b0.V());
  a[0] = b0.T().transform(base.Vdot);
  int i = 0;
  for (int k = 1; k < NB; ++k) {
    Joint& j = *m._joints[k];
    const Body& b = *m._bodies[k];
    const HTransform& T = b.T();
    const int p = pre[k], dof = j.dof();
    const double* qdot = base.qdot + i;
    const double* qdd = base.qddot + i;
    begin[k] = i;
    end[k] = i + dof;
    Twist z[6];
    varies[k] =
        internal::jointDerivatives(j, m._q.data() + i, qdot, &dE[i], z, secondOrderKnown[k]);
    _referenceMotion(m, k, i, qdot, qdd, varies[k], S, Vps, v, a);
    if (!varies[k]) {
      // u = w = z = 0, and v_k x s = v_p x s: the columns of a constant E commute (E's being the
      // body Jacobian of the joint's motion at every q makes their brackets vanish).
      for (int e = i; e < i + dof; ++e) {
        const Twist s(S.col(e)), vps(Vps.col(e));
        PsiddPsid[e] << a[p].adjoint(s) + v[p].adjoint(vps), vps;
        GammaS[e] << 2 * vps, s;
      }
    } else {
      for (int e = 0; e < dof; ++e) {
        const Twist s(S.col(i + e));
        Twist u, w;
        for (int c = 0; c < dof; ++c) {
          u += dE[i + e].col(c) * qdot[c];
          w += dE[i + e].col(c) * qdd[c];
        }
        u = T.transform(u);
        w = T.transform(Twist(w + z[e]));
        const Twist psid = Twist(Vps.col(i + e)) + u;
        PsiddPsid[i + e] << a[p].adjoint(s) + v[p].adjoint(psid) + w + v[k].adjoint(u), psid;
        GammaS[i + e] << psid + v[k].adjoint(s) + T.transform(Twist(j.Edot().col(e))), s;
      }
    }
    Ic[k].setBody(b, v[k]);
    H[k] = Ic[k].I(v[k]);
    F[k] = Ic[k].wrench(b, v[k], a[k], H[k]);
    i += dof;
  }

  dtau_dq.setZero();
  dtau_dqdot.setZero();
  for (int k = NB - 1; k >= 1; --k) {
    const Composite& C = Ic[k];
    // Rows of joint k against the columns of k and its ancestors: with P = Ic S, Q = Idotc S - S x*
    // Hc, entries P.Psidd + Q.Psid and P.Gamma + Q.S.
    for (int r = begin[k]; r < end[k]; ++r) {
      const Twist Sr(S.col(r));
      PQ[r] << C.I(Sr), C.Idot(Sr) - Sr.coadjoint(H[k]);
      for (int jj = k; jj > 0; jj = pre[jj]) {
        for (int e = begin[jj]; e < end[jj]; ++e) {
          dtau_dq(r, e) = PQ[r].dot(PsiddPsid[e]);
          dtau_dqdot(r, e) = PQ[r].dot(GammaS[e]);
        }
      }
    }
    if (varies[k]) {
      const Wrench Fk = m._bodies[k]->T().itransform(F[k]);
      for (int e = begin[k]; e < end[k]; ++e)
        for (int r = begin[k]; r < end[k]; ++r)
          dtau_dq(r, e) += dE[e].col(r - begin[k]).dot(Fk);
    }
    // Rows of k's ancestors against the columns of joint k.
    if (pre[k] != 0) {
      for (int e = begin[k]; e < end[k]; ++e) {
        const Twist s(GammaS[e].template tail<6>()), psid(PsiddPsid[e].template tail<6>());
        const Twist psidd(PsiddPsid[e].template head<6>());
        const Wrench Xq(C.I(psidd) + C.Idot(psid) + psid.coadjoint(H[k]) +
                        s.coadjoint(F[k]));
        // Idotc s + s x* Hc = 2 Idotc s - Q.
        const Wrench Xv(C.I(Twist(GammaS[e].template head<6>())) + 2 * C.Idot(s) -
                        PQ[e].template tail<6>());
        for (int an = pre[k]; an > 0; an = pre[an]) {
          for (int r = begin[an]; r < end[an]; ++r) {
            dtau_dq(r, e) = S.col(r).dot(Xq);
            dtau_dqdot(r, e) = S.col(r).dot(Xv);
          }
        }
      }
    }
    // A client's joint whose E depends on q: its z is unknown, and so are its columns of dtau/dq.
    assert(secondOrderKnown[k] &&
           "A client joint's motion subspace E depends on its coordinates: the derivatives with "
           "respect to them need the second derivatives of E, which the joint contract does not "
           "give.");
    if (!secondOrderKnown[k])
      dtau_dq.middleCols(begin[k], end[k] - begin[k])
          .setConstant(std::numeric_limits<double>::quiet_NaN());
    const int p = pre[k];
    if (p == 0) continue;
    Ic[p].add(C);
    H[p] += H[k];
    F[p] += F[k];
  }
}

// ---------------------------------------------------------------------------------------------
// M, C and G of a model of plain bodies on the library's joints, in one pass out and one in over
// subtree sums in the reference frame. With the reference-frame motion subspace S_i = Ad_T E_i of
// coordinate i (T the pose of the body its joint carries) and its rate of change
// Sdot_i = v x S_i + Ad_T Edot_i (v that body's reference-frame twist), body k's spatial Jacobian has
// the columns S_i of the coordinates on its path to the base, and
//   M = sum_k J_k^T I_k J_k,   C = sum_k J_k^T (I_k Jdot_k + v_k x* I_k J_k),
// the second being the column passes' factor (body factor C_b(V) = M ad(V) - ad(V)^T M) carried
// into the reference frame, where it loses its first term to Jdot. Both sums over the bodies below
// the deeper of two coordinates collapse into that joint's subtree sums Ic (RigidComposite) and
// Bc = sum v x* I (CoriolisComposite): for i of joint r and e of r or an ancestor of r,
//   M(e, i) = M(i, e) = S_e . Ic_r S_i,
//   C(e, i) = S_e . (Ic_r Sdot_i + Bc_r S_i),
//   C(i, e) = (Ic_r S_i) . Sdot_e + (Bc_r^T S_i) . S_e      (e of a strict ancestor),
// every other entry zero. G is idyn_gravity's: the base moves with -g (the reference frame is the
// base joint's), every body with the spatial acceleration (-g, 0), so g_i = (Ic_r S_i) . (-g, 0).
// M and G (and gacc) may be null: then only C.
template <int N>
void DynamicAnalysisXD<N>::_compositeDynamics(Model& m, JointMat* M, JointMat& C, JointVec* G,
                                              const Vector3D* gacc) {
  enum { NB = Model::NUM_BODIES };
  m._assertFixedBaseLayout();
  const int* pre = m._topology._pre;
  std::array<internal::RigidComposite, NB> Ic;
  std::array<internal::CoriolisComposite, NB> Bc;
  JointJac S, Sdot;
  int begin[NB], end[NB];
  int i = 0;
  for (int k = 1; k < NB; ++k) {
    const Joint& j = *m._joints[k];
    const Body& b = *m._bodies[k];
    const HTransform& T = b.T();
    const Twist v = T.transform(b.V());
    begin[k] = i;
    end[k] = i + j.dof();
    for (int e = 0; e < j.dof(); ++e, ++i) {
      const Twist s = T.transform(Twist(j.E().col(e)));
      S.col(i) = s;
      Sdot.col(i) = v.adjoint(s);
      if (!internal::hasConstantMotionSubspace(j.type()))
        Sdot.col(i) += T.transform(Twist(j.Edot().col(e)));
    }
    Ic[k].setBody(b);
    Bc[k].setBody(Ic[k], v);
  }
  const Twist gravity = G ? Twist(-*gacc, Vector3D::Zero()) : Twist();
  if (M) M->setZero();
  if (G) G->setZero();
  C.setZero();
  for (int k = NB - 1; k >= 1; --k) {
    for (int r = begin[k]; r < end[k]; ++r) {
      const Twist Sr(S.col(r)), Sdotr(Sdot.col(r));
      const Wrench P = Ic[k].I(Sr), Psi(Ic[k].I(Sdotr) + Bc[k].times(Sr));
      const Twist Q = Bc[k].transposeTimes(Wrench(Sr));
      if (G) (*G)(r) = P.dot(gravity);
      for (int a = k; a > 0; a = pre[a]) {
        for (int e = begin[a]; e < end[a]; ++e) {
          if (M) (*M)(e, r) = (*M)(r, e) = P.dot(S.col(e));
          C(e, r) = Psi.dot(S.col(e));
          if (a != k) C(r, e) = P.dot(Sdot.col(e)) + Q.dot(S.col(e));
        }
      }
    }
    if (pre[k] == 0) continue;
    Ic[pre[k]].add(Ic[k]);
    Bc[pre[k]].add(Bc[k]);
  }
}

// The momentum p = M qdot, C^T qdot and the gravity torques g of a model of plain bodies on the
// library's joints, O(N), in the body frames. With body k's twist U_k = J_k qdot of the rates
// alone and its stored twist V_k, the reference-frame form of C above gives
//   (C^T qdot)_i = sum over k below i of U_k . (I_k Sdot_i + v_k x* I_k S_i)
//                = Sdot_i . sum I_k U_k + S_i . sum I_k (U_k x V_k),
// the second sum zero when V = U (a base at rest: then U_k x V_k is exactly zero and the sum is
// skipped). In the frame of the body j that coordinate i moves, Sdot_i is V_j x E_i + Edot_i; the
// sums over j's subtree are carried there like the wrenches of the inverse dynamics: H_j
// (momentum), Y_j (the bracket term), F_j (gravity: the base accelerates with -g without turning,
// so every body's acceleration a_k is linear, R^T a_p, and its wrench (m a_k, m c x a_k)). Then
// p_i = E_i . H_j, (C^T qdot)_i = (V_j x E_i + Edot_i) . H_j + E_i . Y_j and g_i = E_i . F_j.
// Any other model: false, nothing computed.
template <int N>
bool DynamicAnalysisXD<N>::_observerTerms(Model& m, const Vector3D* gacc, JointVec& p,
                                          JointVec& CTqdot, JointVec& G) {
  enum { NB = Model::NUM_BODIES };
  typedef internal::LibraryOps Ops;
  if (!m._libraryModel()) return false;
  m._assertFixedBaseLayout();
  const int* pre = m._topology._pre;
  TwistArray U, W;
  typename Model::WrenchArray H, Y, F;
  Eigen::Vector3d a[NB];
  const double* qdot = m._qdot.data();
  U[0].setZero();
  a[0] = m._gravityFreeBaseAcc(Twist(), m._joints[0]->Tadj().R(), gacc).v();
  bool bracket = false;
  int i = 0;
  for (int k = 1; k < NB; ++k) {
    const Joint& j = *m._joints[k];
    const Body& b = *m._bodies[k];
    internal::addITransformed(j.Tadj(), U[pre[k]], Ops::adjTwist(j, qdot + i), U[k]);
    W[k] = U[k].adjoint(b.V());
    bracket = bracket || !W[k].isZero(0);
    H[k] = Ops::momentum(b, U[k]);
    if (gacc) {
      a[k].noalias() = j.Tadj().R().transpose() * a[pre[k]];
      F[k] = internal::linearMomentum(b, a[k]);
    }
    i += j.dof();
  }
  for (int k = 1; bracket && k < NB; ++k) Y[k] = Ops::momentum(*m._bodies[k], W[k]);
  for (int k = NB - 1; k >= 1; --k) {
    const Joint& j = *m._joints[k];
    const Twist& V = m._bodies[k]->V();
    i -= j.dof();
    for (int e = 0; e < j.dof(); ++e) {
      const Twist Ee(j.E().col(e));
      Twist Sdot = V.adjoint(Ee);
      if (!internal::hasConstantMotionSubspace(j.type())) Sdot += j.Edot().col(e);
      p(i + e) = Ee.dot(H[k]);
      CTqdot(i + e) = Sdot.dot(H[k]);
      if (bracket) CTqdot(i + e) += Ee.dot(Y[k]);
      G(i + e) = gacc ? Ee.dot(F[k]) : 0;
    }
    if (pre[k] == 0) continue;
    internal::addTransformed(j.Tadj(), H[k], H[pre[k]]);
    if (bracket) internal::addTransformed(j.Tadj(), Y[k], Y[pre[k]]);
    if (gacc) internal::addTransformed(j.Tadj(), F[k], F[pre[k]]);
  }
  return true;
}

template <int N>
void DynamicAnalysisXD<N>::_massAndBias(const Model& m, const Vector3D& gacc, JointMat& M,
                                       JointVec& b) {
  if (_plainBodies(m))
    _compositeMass<internal::RigidComposite>(m, M, &gacc, &b);
  else
    _compositeMass<internal::GeneralComposite>(m, M, &gacc, &b);
}

template <int N>
void DynamicAnalysisXD<N>::FdynDerivatives(Model& m, const JointVec& tau, const Vector3D& gacc,
                                           JointMat& dqddot_dq, JointMat& dqddot_dqdot,
                                           JointMat& Minv) {
  // Minv from the Cholesky factor of M, and qddot = Minv (tau - b) with the bias torques
  // b = idyn(qdot, 0, gacc), both from one composite-rigid-body pass: cheaper than the
  // articulated-body passes for Minv and qddot. A mass matrix without a clear positive pivot (a
  // massless subtree) takes the articulated-body inverse, which handles it.
  JointMat M;
  JointVec bias;
  _massAndBias(m, gacc, M, bias);
  if (!internal::choleskyInverse(M, internal::kMasslessPivot * M.diagonal().maxCoeff(), Minv))
    MassInverse(m, Minv);
  m._qddot.noalias() = Minv * (tau - bias);
  JointMat dtau_dq, dtau_dqdot;
  IdynDerivatives(m, m._qddot, gacc, dtau_dq, dtau_dqdot);
  // Coefficient by coefficient: at these sizes the blocked matrix product costs more than it saves.
  dqddot_dq = -Minv.lazyProduct(dtau_dq);
  dqddot_dqdot = -Minv.lazyProduct(dtau_dqdot);
}

}  // namespace VexoSDK
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_DYNAMICANALYSISXD_
