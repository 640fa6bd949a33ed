// The members of VexoBaseXD<N>: forward kinematics, body Jacobians, recursive Newton-Euler inverse
// dynamics, the joint-space matrices' column passes, the articulated-body forward dynamics and the
// inverse mass matrix. Included by <Vexo/VexoXD>, so that a client instantiates any N; the library
// compiles N = 6, 7, 14 and 16 once (core/src/VexoXD.cpp), and its clients do not again.
#ifndef VEXO_INTERNAL_VEXOXD_
#define VEXO_INTERNAL_VEXOXD_

#include <algorithm>
#include <array>
#include <cassert>

#include "ArticulatedBody.h"
#include "RecursionOps.h"

namespace ZorvikFoundation {
namespace internal {

// The recursions add a transformed twist or wrench to another one. Summed through a temporary
// 6-vector, the vectorised add reloads as 16-byte pairs the halves that the transform has just
// stored 8 and 16 bytes at a time; a load that straddles two stores cannot be forwarded from the
// store buffer and stalls. Here the transformed values stay in registers: twist sums are written
// component by component (their next readers take them as 3-vector halves), wrench sums as the
// pairs (0, 1), (2, 3), (4, 5) in which the backward pass's vectorised reads take them; each
// choice measured the faster of the two. The arithmetic is that of X + T.itransform(V) and
// Fp + T.transform(F), operation for operation (a lane of a pair adds exactly like a scalar), so
// the results are the same to the bit.

typedef double Pair __attribute__((vector_size(16), aligned(8), __may_alias__));

// out[0..1] = x[0..1] + (a, b)
ZORVIK_ALWAYS_INLINE void storePairSum(const double* x, double a, double b, double* out) {
  const Pair ab = {a, b};
  *reinterpret_cast<Pair*>(out) = *reinterpret_cast<const Pair*>(x) + ab;
}

// out = X + Ad_T^-1 V. out may be X.
ZORVIK_ALWAYS_INLINE void addITransformed(const HTransform& T, const Twist& V, const Twist& X,
                                          Twist& out) {
  double v[3], w[3];
  LieGroup::internal::_itransformTwist(T.data(), V.data(), v, w);
  out(0) = X(0) + v[0];
  out(1) = X(1) + v[1];
  out(2) = X(2) + v[2];
  out(3) = X(3) + w[0];
  out(4) = X(4) + w[1];
  out(5) = X(5) + w[2];
}

// Fp += Ad_T^-T F, on the six values at F and Fp.
ZORVIK_ALWAYS_INLINE void addTransformed(const HTransform& T, const double* F, double* Fp) {
  double f[3], n[3];
  LieGroup::internal::_transformWrench(T.data(), F, f, n);
  storePairSum(Fp, f[0], f[1], Fp);
  storePairSum(Fp + 2, f[2], n[0], Fp + 2);
  storePairSum(Fp + 4, n[1], n[2], Fp + 4);
}

ZORVIK_ALWAYS_INLINE void addTransformed(const HTransform& T, const Wrench& F, Wrench& Fp) {
  addTransformed(T, F.data(), Fp.data());
}

// Columns x_p of a parent's Jacobian and xdot_p of its derivative, carried into the child:
//   x = Ad(T^-1) x_p = (R^T (v_p - r x w_p), R^T w_p),
//   xdot = Ad(T^-1) xdot_p - ad(Vadj) x,   ad(Vadj) x = (w x x_v + u x x_w, w x x_w),
// for T = (R, r) and Vadj = (u, w); the u term is left out for a relative twist without
// translation (every revolute joint), where it is zero. S is a double (one column) or a Pair (two
// columns side by side, one row of both in each value): the same operations on each lane.
template <typename S>
ZORVIK_ALWAYS_INLINE void carryJacobianColumns(const double* T, const double* Vadj,
                                               bool translates, const S* xp, const S* xdotp,
                                               S* x, S* xdot) {
  // R^T y, with R(i, j) = T[i + 4 j].
  auto irotate = [T](const S* y, S* out) ZORVIK_INLINE_LAMBDA {
    for (int i = 0; i < 3; ++i) out[i] = T[4 * i] * y[0] + T[4 * i + 1] * y[1] + T[4 * i + 2] * y[2];
  };
  // c x y for a constant c.
  auto cross = [](const double* c, const S* y, S* out) ZORVIK_INLINE_LAMBDA {
    out[0] = c[1] * y[2] - c[2] * y[1];
    out[1] = c[2] * y[0] - c[0] * y[2];
    out[2] = c[0] * y[1] - c[1] * y[0];
  };
  const double* r = T + 12;
  S d[3], rw[3], a[3], uw[3];
  for (const S* src : {xp, xdotp}) {
    S* dst = src == xp ? x : xdot;
    cross(r, src + 3, rw);
    for (int i = 0; i < 3; ++i) d[i] = src[i] - rw[i];
    irotate(src + 3, dst + 3);
    irotate(d, dst);
  }
  cross(Vadj + 3, x, a);
  if (translates) {
    cross(Vadj, x + 3, uw);
    for (int i = 0; i < 3; ++i) a[i] += uw[i];
  }
  for (int i = 0; i < 3; ++i) xdot[i] -= a[i];
  cross(Vadj + 3, x + 3, a);
  for (int i = 0; i < 3; ++i) xdot[3 + i] -= a[i];
}

// Columns c .. to-1 of a child's Jacobian J and derivative Jdot from its parent's Jp, Jdotp
// (column-major, six rows), two at a time in Pairs, an odd last one alone.
ZORVIK_ALWAYS_INLINE void carryJacobian(const double* T, const double* Vadj, bool translates,
                                        const double* Jp, const double* Jdotp, double* J,
                                        double* Jdot, int c, int to) {
  for (; c + 1 < to; c += 2) {
    Pair xp[6], xdotp[6], x[6], xdot[6];
    for (int i = 0; i < 6; ++i) {
      xp[i] = Pair{Jp[6 * c + i], Jp[6 * c + 6 + i]};
      xdotp[i] = Pair{Jdotp[6 * c + i], Jdotp[6 * c + 6 + i]};
    }
    carryJacobianColumns<Pair>(T, Vadj, translates, xp, xdotp, x, xdot);
    for (int i = 0; i < 6; ++i) {
      J[6 * c + i] = x[i][0];
      J[6 * c + 6 + i] = x[i][1];
      Jdot[6 * c + i] = xdot[i][0];
      Jdot[6 * c + 6 + i] = xdot[i][1];
    }
  }
  if (c < to)
    carryJacobianColumns<double>(T, Vadj, translates, Jp + 6 * c, Jdotp + 6 * c, J + 6 * c,
                                 Jdot + 6 * c);
}

}  // namespace internal

namespace VexoSDK {

template <int N>
VexoBaseXD<N>::VexoBaseXD() : Base() {}

template <int N>
VexoBaseXD<N>::VexoBaseXD(VexoBaseXD&) : Base() {}

// ---------------------------------------------------------------------------------------------
// Layout checks (debug build only). Every pass reads the coordinate vectors joint after joint; a
// layout that does not fit in N entries would make it read and write past their end.

// Every slot holds a body and, after the base, a joint: the passes visit all N + 1.
template <int N>
void VexoBaseXD<N>::_assertComplete() const {
#ifndef NDEBUG
  for (int k = 0; k < NUM_BODIES; ++k) {
    this->_assertRegistered(this->_bodies[k]);
    if (k > 0) this->_assertRegistered(this->_joints[k]);
  }
#endif
}

// The coordinates of joints firstJoint .. N fit in the N-entry joint vectors.
template <int N>
void VexoBaseXD<N>::_assertCoordinatesFit(int firstJoint) const {
#ifndef NDEBUG
  _assertComplete();
  if (firstJoint == 0) this->_assertRegistered(this->_joints[0]);
  int dofs = 0;
  for (int k = firstJoint; k < NUM_BODIES; ++k) dofs += this->_joints[k]->dof();
  assert(dofs <= JOINT_DOF &&
         "The joints' coordinates add up to more than N: the passes would run past the joint "
         "vectors.");
#else
  (void)firstJoint;
#endif
}

template <int N>
void VexoBaseXD<N>::_assertFixedBaseLayout() const {
  _assertComplete();
  assert(this->_joints[0] != nullptr &&
         "A fixed-base operation needs a base joint: register joint 0.");
  assert(this->_joints[0]->dof() == 0 &&
         "A fixed-base model needs a base joint without coordinates: joints 1..N own the joint "
         "vectors.");
  _assertCoordinatesFit(1);
}

template <int N>
void VexoBaseXD<N>::_assertFloatingBase() const {
  assert(this->isFloating() && "The base body should not have any joint, even the free joint.");
}

// ---------------------------------------------------------------------------------------------
// Which operations the passes take (internal/RecursionOps.h), chosen at each call: a client may
// register other bodies and joints at any time. Kinematics needs library joints; dynamics also
// plain bodies. A missing joint (a floating base's) does not count against either.

template <int N>
bool VexoBaseXD<N>::_libraryJoints() const {
  _assertComplete();
  for (int k = 0; k < NUM_BODIES; ++k) {
    const Joint* j = this->_joints[k];
    if (j && !internal::isLibraryJointClass(*j)) return false;
  }
  return true;
}

template <int N>
bool VexoBaseXD<N>::_libraryModel() const {
  _assertComplete();
  for (int k = 0; k < NUM_BODIES; ++k)
    if (!internal::isPlainBody(*this->_bodies[k])) return false;
  return _libraryJoints();
}

// ---------------------------------------------------------------------------------------------
// Forward kinematics

template <int N>
void VexoBaseXD<N>::update(bool pos_only) {
  _assertCoordinatesFit(0);
  Body& b = *this->_bodies[0];
  Joint& j = *this->_joints[0];
  const double* q = this->_q.data();
  const double* qdot = this->_qdot.data();
  const bool library = _libraryJoints();
  if (!pos_only) {
    j.update(q, qdot);
    b.T() = j.Tadj();
    b.V() = j.Vadj();
    if (library)
      _kinematicsPass<internal::LibraryOps, true, true>(q + j.dof(), qdot + j.dof());
    else
      _updateFromBase(q + j.dof(), qdot + j.dof());
  } else {
    j.update(q);
    b.T() = j.Tadj();
    if (library)
      _kinematicsPass<internal::LibraryOps, true, false>(q + j.dof(), nullptr);
    else
      _updateFromBase(q + j.dof());
  }
}

template <int N>
void VexoBaseXD<N>::_updateFromBase(const double* q, const double* qdot) {
  _kinematicsPass<internal::ContractOps, true, true>(q, qdot);
}

template <int N>
void VexoBaseXD<N>::_updateFromBase(const double* q) {
  _kinematicsPass<internal::ContractOps, true, false>(q, nullptr);
}

template <int N>
void VexoBaseXD<N>::updateVelocity() {
  _assertCoordinatesFit(0);
  Body& b = *this->_bodies[0];
  Joint& j = *this->_joints[0];
  const double* q = this->_q.data();
  const double* qdot = this->_qdot.data();
  j.updateVelocity(q, qdot);
  b.V() = j.Vadj();
  if (_libraryJoints())
    _kinematicsPass<internal::LibraryOps, false, true>(q + j.dof(), qdot + j.dof());
  else
    _updateVelocityFromBase(q + j.dof(), qdot + j.dof());
}

template <int N>
void VexoBaseXD<N>::_updateVelocityFromBase(const double* q, const double* qdot) {
  _kinematicsPass<internal::ContractOps, false, true>(q, qdot);
}

// Parents first, with the poses (Poses) and the twists (Twists):
//   T_k = T_p Tadj_k,   V_k = Ad(Tadj_k^-1) V_p + Vadj_k.
template <int N>
template <typename Ops, bool Poses, bool Twists>
void VexoBaseXD<N>::_kinematicsPass(const double* q, const double* qdot) {
  int i = 0;
  for (int k = 1; k < NUM_BODIES; ++k) {
    Body& b = *this->_bodies[k];
    Joint& j = *this->_joints[k];
    const Body& p = *this->_bodies[this->_topology._pre[k]];
    if (Poses && Twists)
      Ops::update(j, q + i, qdot + i);
    else if (Poses)
      Ops::update(j, q + i);
    else
      Ops::updateVelocity(j, q + i, qdot + i);
    if (Poses) b.T() = p.T().cascade(j.Tadj());
    if (Twists) internal::addITransformed(j.Tadj(), p.V(), j.Vadj(), b.V());
    i += j.dof();
  }
}

// ---------------------------------------------------------------------------------------------
// Jacobians. From V_k = Ad(Tadj^-1) V_p + E_k qdot_k:
//   J_k    = Ad(Tadj^-1) J_p,                     then joint k's columns = E_k
//   Jdot_k = Ad(Tadj^-1) Jdot_p - ad(Vadj) J_k,   then joint k's columns = Edot_k
// since d/dt Ad(Tadj^-1) X = Ad(Tadj^-1) Xdot - ad(Vadj) Ad(Tadj^-1) X. The bracket is taken before
// joint k's columns are written, so those columns of it are zero.

template <int N>
void VexoBaseXD<N>::updateJacobian(bool pos_only) {
  _assertComplete();
  this->_J[0].setZero();
  if (!pos_only) this->_Jdot[0].setZero();
  _jacobianPass(pos_only, false);
}

template <int N>
void VexoBaseXD<N>::_updateJacobianFromBase(bool pos_only) {
  _jacobianPass(pos_only,
                !this->_J[0].isZero(0) || (!pos_only && !this->_Jdot[0].isZero(0)));
}

// Column ranges. The Jacobian of body k is non-zero only in the columns of the joints between the
// base and body k. Joints are numbered parents first and their columns laid out in joint order, so
// the parent's non-zero columns lie in a range [from, to) that ends before joint k's own columns;
// only that range is carried into body k's frame, joint k's columns are written, and every other
// column, zero by construction (the carried image of a zero column), is set to zero. A base whose
// Jacobian is not zero (a client's, through the protected recursion) makes every column non-zero.
template <int N>
void VexoBaseXD<N>::_jacobianPass(bool pos_only, bool movingBase) {
  int lo[NUM_BODIES], hi[NUM_BODIES];
  lo[0] = 0;
  hi[0] = movingBase ? JOINT_DOF : 0;
  int jk = 0;
  for (int k = 1; k < NUM_BODIES; ++k) {
    const Joint& j = *this->_joints[k];
    const int p = this->_topology._pre[k];
    const int dof = j.dof();
    const HTransform& T = j.Tadj();
    const int from = hi[p] > lo[p] ? lo[p] : jk;
    const int to = hi[p] > lo[p] ? hi[p] : jk;
    const int end = std::max(to, jk + dof);
    lo[k] = from;
    hi[k] = end;

    JointJac& J = this->_J[k];
    J.leftCols(from).setZero();
    if (to < jk) J.middleCols(to, jk - to).setZero();
    J.rightCols(JOINT_DOF - end).setZero();
    if (pos_only) {
      for (int c = from; c < to; ++c)
        LieGroup::internal::_itransformTwist(T.data(), this->_J[p].col(c).data(), &J(0, c),
                                             &J(3, c));
    } else {
      JointJac& Jdot = this->_Jdot[k];
      Jdot.leftCols(from).setZero();
      if (to < jk) Jdot.middleCols(to, jk - to).setZero();
      Jdot.rightCols(JOINT_DOF - end).setZero();
      internal::carryJacobian(T.data(), j.Vadj().data(), !j.Vadj().v().isZero(0),
                              this->_J[p].data(), this->_Jdot[p].data(), J.data(), Jdot.data(),
                              from, to);
      Jdot.middleCols(jk, dof) = j.Edot().leftCols(dof);
    }
    J.middleCols(jk, dof) = j.E().leftCols(dof);
    jk += dof;
  }
}

// Refreshes the derivatives from the stored Jacobians after a velocity-only change. The bracket
// now also acts on joint k's own columns, which are then overwritten with Edot as above.
template <int N>
void VexoBaseXD<N>::_updateJacobianFromBaseByVelocityReset(bool pos_only) {
  if (pos_only) return;
  JointJac Temp;
  int jk = 0;
  for (int k = 1; k < NUM_BODIES; ++k) {
    const Joint& j = *this->_joints[k];
    const int p = this->_topology._pre[k];
    const int dof = j.dof();
    j.Tadj().itransform(this->_Jdot[p], this->_Jdot[k]);
    j.Vadj().adjoint(this->_J[k], Temp);
    this->_Jdot[k] -= Temp;
    this->_Jdot[k].middleCols(jk, dof) = j.Edot().leftCols(dof);
    jk += dof;
  }
}

template <int N>
Twist VexoBaseXD<N>::Vdot(int k) const {
  return Twist(this->_J[k] * this->_qddot + this->_Jdot[k] * this->_qdot);
}

// ---------------------------------------------------------------------------------------------
// Inverse dynamics. Every public operation: base acceleration Vdot0 (gravity enters as the base
// accelerating by -g, i.e. v(Vdot0) -= R^T g), F zero-initialised and F[0] set from the base body,
// one forward pass from the base, one backward pass to the base. Only _tau is written.

// Vdot0 with the gravity acceleration removed: (v - R^T g, w), R the base's orientation; Vdot0
// itself without gravity.
template <int N>
Twist VexoBaseXD<N>::_gravityFreeBaseAcc(const Twist& Vdot0, const Eigen::Matrix3d& R,
                                         const Vector3D* gacc) const {
  Twist res(Vdot0);
  if (gacc) res.v().noalias() -= R.transpose() * *gacc;
  return res;
}

// A fixed base moves as its joint does: the base joint's acceleration from its slices at offset 0
// (rates and accelerations), the base's orientation the joint's relative pose.
template <int N>
typename VexoBaseXD<N>::BaseMotion VexoBaseXD<N>::_fixedBase(const JointVec& qdot_,
                                                             const JointVec& qddot_,
                                                             const Vector3D* gacc) const {
  _assertFixedBaseLayout();
  const Joint& j0 = *this->_joints[0];
  const Twist Vdot0 = j0.adjAcc(qdot_.data(), qddot_.data());
  return BaseMotion{_gravityFreeBaseAcc(Vdot0, j0.Tadj().R(), gacc), qdot_.data() + j0.dof(),
                    qddot_.data() + j0.dof()};
}

// A floating base has the given acceleration and the orientation of the base body's pose.
template <int N>
typename VexoBaseXD<N>::BaseMotion VexoBaseXD<N>::_floatingBase(const Twist& Vdot,
                                                                const JointVec& qdot_,
                                                                const JointVec& qddot_,
                                                                const Vector3D* gacc) const {
  _assertFloatingBase();
  return BaseMotion{_gravityFreeBaseAcc(Vdot, this->_bodies[0]->T().R(), gacc), qdot_.data(),
                    qddot_.data()};
}

// f(Ops()) with the operations this model allows for dynamics.
template <int N>
template <typename F>
ZORVIK_ALWAYS_INLINE void VexoBaseXD<N>::_withDynamicsOps(F f) const {
  if (_libraryModel())
    f(internal::LibraryOps());
  else
    f(internal::ContractOps());
}

template <int N>
void VexoBaseXD<N>::_idyn(const BaseMotion& base) {
  _withDynamicsOps([&](auto ops) {
    typedef decltype(ops) Ops;
    WrenchArray F;
    Ops::idyn(*this->_bodies[0], base.Vdot, F[0]);
    this->template _accelerationPass<Ops>(base.Vdot, base.qdot, base.qddot, F);
    this->template _wrenchPass<Ops>(F, this->_tau.data());
  });
}

template <int N>
void VexoBaseXD<N>::_idynPassive(const Twist& V0, const BaseMotion& base) {
  _withDynamicsOps([&](auto ops) {
    typedef decltype(ops) Ops;
    WrenchArray F;
    Ops::idyn_passive(*this->_bodies[0], V0, base.Vdot, F[0]);
    this->template _passivePass<Ops>(V0, base.Vdot, base.qdot, base.qddot, F);
    this->template _wrenchPass<Ops>(F, this->_tau.data());
  });
}

template <int N>
void VexoBaseXD<N>::_idynMomentum(const Twist& Vdot0, const double* qddot) {
  _withDynamicsOps([&](auto ops) {
    typedef decltype(ops) Ops;
    WrenchArray F;
    F[0] = Ops::momentum(*this->_bodies[0], Vdot0);
    this->template _stationaryPass<Ops>(Vdot0, qddot, F);
    this->template _wrenchPass<Ops>(F, this->_tau.data());
  });
}

template <int N>
void VexoBaseXD<N>::idyn(const JointVec& qdot_, const JointVec& qddot_, const Vector3D& gacc) {
  _idyn(_fixedBase(qdot_, qddot_, &gacc));
}

template <int N>
void VexoBaseXD<N>::idyn(const Twist&, const Twist& Vdot, const JointVec& qdot_,
                         const JointVec& qddot_, const Vector3D& gacc) {
  _idyn(_floatingBase(Vdot, qdot_, qddot_, &gacc));
}

template <int N>
void VexoBaseXD<N>::idyn(const JointVec& qdot_, const JointVec& qddot_) {
  _idyn(_fixedBase(qdot_, qddot_, nullptr));
}

template <int N>
void VexoBaseXD<N>::idyn(const Twist&, const Twist& Vdot, const JointVec& qdot_,
                         const JointVec& qddot_) {
  _idyn(_floatingBase(Vdot, qdot_, qddot_, nullptr));
}

// A fixed base's reference twist is its joint's twist for the reference rates; a floating base's
// is given.
template <int N>
void VexoBaseXD<N>::idyn_passive(const JointVec& qdot_, const JointVec& qddot_,
                                 const Vector3D& gacc) {
  const BaseMotion base = _fixedBase(qdot_, qddot_, &gacc);
  _idynPassive(this->_joints[0]->adjTwist(qdot_.data()), base);
}

template <int N>
void VexoBaseXD<N>::idyn_passive(const Twist& V, const Twist& Vdot, const JointVec& qdot_,
                                 const JointVec& qddot_, const Vector3D& gacc) {
  _idynPassive(V, _floatingBase(Vdot, qdot_, qddot_, &gacc));
}

template <int N>
void VexoBaseXD<N>::idyn_passive(const JointVec& qdot_, const JointVec& qddot_) {
  const BaseMotion base = _fixedBase(qdot_, qddot_, nullptr);
  _idynPassive(this->_joints[0]->adjTwist(qdot_.data()), base);
}

template <int N>
void VexoBaseXD<N>::idyn_passive(const Twist& V, const Twist& Vdot, const JointVec& qdot_,
                                 const JointVec& qddot_) {
  _idynPassive(V, _floatingBase(Vdot, qdot_, qddot_, nullptr));
}

template <int N>
void VexoBaseXD<N>::idyn_gravity(const Vector3D& gacc) {
  _assertFixedBaseLayout();
  const Twist Vdot0 = _gravityFreeBaseAcc(Twist(), this->_joints[0]->Tadj().R(), &gacc);
  _withDynamicsOps([&](auto ops) {
    typedef decltype(ops) Ops;
    WrenchArray F;
    F[0] = Ops::momentum(*this->_bodies[0], Vdot0);
    this->template _gravityPass<Ops>(Vdot0.v(), F);
    this->template _wrenchPass<Ops>(F, this->_tau.data());
  });
}

template <int N>
void VexoBaseXD<N>::idyn_momentum(const JointVec& qddot_) {
  _assertFixedBaseLayout();
  const Joint& j0 = *this->_joints[0];
  _idynMomentum(j0.adjAcc(qddot_.data()), qddot_.data() + j0.dof());
}

template <int N>
void VexoBaseXD<N>::idyn_momentum(const Twist& Vdot, const JointVec& qddot_) {
  _assertFloatingBase();
  _idynMomentum(Vdot, qddot_.data());
}

// The passes of the idyn family, each written once over Ops; the protected members take the
// contract's operations, for any joint and body.

template <int N>
void VexoBaseXD<N>::_propagateAccFromBase(const Twist& Vdot0, const double* qdot,
                                          const double* qddot, WrenchArray& F) const {
  _accelerationPass<internal::ContractOps>(Vdot0, qdot, qddot, F);
}

template <int N>
void VexoBaseXD<N>::_propagateAccFromBase_stationary(const Twist& Vdot0, const double* qddot,
                                                     WrenchArray& F) const {
  _stationaryPass<internal::ContractOps>(Vdot0, qddot, F);
}

// Any base acceleration: the stationary pass without joint accelerations.
template <int N>
void VexoBaseXD<N>::_propagateGravAccFromBase(const Twist& Vdot0, WrenchArray& F) const {
  const double noAcceleration[JOINT_DOF] = {};
  _stationaryPass<internal::ContractOps>(Vdot0, noAcceleration, F);
}

template <int N>
void VexoBaseXD<N>::_propagateAccFromBase_passive(const Twist& V0, const Twist& Vdot0,
                                                  const double* qdot, const double* qddot,
                                                  WrenchArray& F) const {
  _passivePass<internal::ContractOps>(V0, Vdot0, qdot, qddot, F);
}

template <int N>
void VexoBaseXD<N>::_propagateWrenchToBase(WrenchArray& F, double* torque) const {
  _wrenchPass<internal::ContractOps>(F, torque);
}

// Vdot_k = adjAcc_k + biasAcc_k(V_k) + Ad(Tadj_k^-1) Vdot_p; F_k = M_k Vdot_k + bias_k.
template <int N>
template <typename Ops>
void VexoBaseXD<N>::_accelerationPass(const Twist& Vdot0, const double* qdot,
                                      const double* qddot, WrenchArray& F) const {
  _accelerations<Ops>(Vdot0, qdot, qddot, [&](int k, const Twist& Vdot) ZORVIK_INLINE_LAMBDA {
    Ops::idyn(*this->_bodies[k], Vdot, F[k]);
  });
}

template <int N>
template <typename Ops, typename Visit>
ZORVIK_ALWAYS_INLINE void VexoBaseXD<N>::_accelerations(const Twist& Vdot0, const double* qdot,
                                                        const double* qddot, Visit visit) const {
  TwistArray Vdot;
  Vdot[0] = Vdot0;
  int i = 0;
  for (int k = 1; k < NUM_BODIES; ++k) {
    const Joint& j = *this->_joints[k];
    const Body& b = *this->_bodies[k];
    const Twist rel = Ops::adjAcc(j, qdot + i, qddot + i), bias = Ops::biasAcc(j, b.V());
    LieGroup::internal::_add6(rel.data(), bias.data(), Vdot[k].data());
    internal::addITransformed(j.Tadj(), Vdot[this->_topology._pre[k]], Vdot[k], Vdot[k]);
    visit(k, Vdot[k]);
    i += j.dof();
  }
}

// Zero velocity: Vdot_k = E_k qddot_k + Ad(Tadj_k^-1) Vdot_p; F_k = M_k Vdot_k.
template <int N>
template <typename Ops>
void VexoBaseXD<N>::_stationaryPass(const Twist& Vdot0, const double* qddot,
                                    WrenchArray& F) const {
  TwistArray Vdot;
  Vdot[0] = Vdot0;
  int i = 0;
  for (int k = 1; k < NUM_BODIES; ++k) {
    const Joint& j = *this->_joints[k];
    internal::addITransformed(j.Tadj(), Vdot[this->_topology._pre[k]], Ops::adjAcc(j, qddot + i),
                              Vdot[k]);
    F[k] = Ops::momentum(*this->_bodies[k], Vdot[k]);
    i += j.dof();
  }
}

// Gravity only: the base's linear acceleration a_0 carried outward. Without an angular part an
// acceleration stays linear, a_k = R_k^T a_p (R_k of Tadj_k); F_k = M_k (a_k, 0).
template <int N>
template <typename Ops>
void VexoBaseXD<N>::_gravityPass(const Eigen::Vector3d& a0, WrenchArray& F) const {
  Eigen::Vector3d a[NUM_BODIES];
  a[0] = a0;
  for (int k = 1; k < NUM_BODIES; ++k) {
    a[k].noalias() = this->_joints[k]->Tadj().R().transpose() * a[this->_topology._pre[k]];
    F[k] = Ops::linearMomentum(*this->_bodies[k], a[k]);
  }
}

// Reference motion: the reference twist is carried outward, the joint's bias acceleration is taken
// on it before the joint's own reference rate is added, and each body evaluates its
// passivity-preserving wrench with the reference twist against its stored actual twist.
template <int N>
template <typename Ops>
void VexoBaseXD<N>::_passivePass(const Twist& V0, const Twist& Vdot0, const double* qdot,
                                 const double* qddot, WrenchArray& F) const {
  _referenceMotions<Ops>(V0, Vdot0, qdot, qddot,
                         [&](int k, const Twist& Vr, const Twist& Vdotr) ZORVIK_INLINE_LAMBDA {
                           Ops::idyn_passive(*this->_bodies[k], Vr, Vdotr, F[k]);
                         });
}

template <int N>
template <typename Ops, typename Visit>
ZORVIK_ALWAYS_INLINE void VexoBaseXD<N>::_referenceMotions(const Twist& V0, const Twist& Vdot0,
                                                           const double* qdot,
                                                           const double* qddot,
                                                           Visit visit) const {
  TwistArray Vref, Vdotref;
  Vref[0] = V0;
  Vdotref[0] = Vdot0;
  int i = 0;
  for (int k = 1; k < NUM_BODIES; ++k) {
    const Joint& j = *this->_joints[k];
    const int p = this->_topology._pre[k];
    Vref[k] = j.Tadj().itransform(Vref[p]);
    const Twist rel = Ops::adjAcc(j, qdot + i, qddot + i), bias = Ops::biasAcc(j, Vref[k]);
    LieGroup::internal::_add6(rel.data(), bias.data(), Vdotref[k].data());
    internal::addITransformed(j.Tadj(), Vdotref[p], Vdotref[k], Vdotref[k]);
    const Twist own = Ops::adjTwist(j, qdot + i);
    LieGroup::internal::_add6(Vref[k].data(), own.data(), Vref[k].data());
    visit(k, Vref[k], Vdotref[k]);
    i += j.dof();
  }
}

// tau_k = E_k^T F_k for k = N .. 1, each F_k complete with its descendants' wrenches (children have
// larger indices), then F_p += Ad(Tadj_k)^-T F_k. A fixed base also hands F_0 to the base joint.
template <int N>
template <typename Ops>
void VexoBaseXD<N>::_wrenchPass(WrenchArray& F, double* torque) const {
  int i = 0;
  for (int k = 1; k < NUM_BODIES; ++k) i += this->_joints[k]->dof();
  for (int k = NUM_BODIES - 1; k >= 1; --k) {
    const Joint& j = *this->_joints[k];
    i -= j.dof();
    Ops::idyn(j, F[k], torque + i);
    internal::addTransformed(j.Tadj(), F[k], F[this->_topology._pre[k]]);
  }
  if (!this->isFloating()) Ops::idyn(*this->_joints[0], F[0], torque);
}

// ---------------------------------------------------------------------------------------------
// Joint-space matrices column by column. A unit rate e_k of a coordinate of joint j moves only the
// bodies of j's subtree (j and its descendants: the bodies whose path to the base passes through
// joint j). With a fixed base, in the passes of idyn_momentum(e_k) and idyn_passive(e_k, 0) every
// other body has zero acceleration, zero reference twist and zero reference acceleration, by
// construction. Such a body contributes a zero wrench to the mass column, and to the Coriolis
// column only its external wrench and added bias, which do not depend on the reference rate and
// are left out (the Coriolis matrix is the part of idyn_passive that does). Hence, for column k:
//   - forward over the subtree only; joint j's own terms start from its parent's zero motion, and
//     the descendants' own joint terms are zero (adjAcc of zero rates, adjTwist of zero rates);
//   - backward over the subtree (children first, they have larger indices), then along j's
//     ancestors, each of which carries exactly the wrench handed down from the subtree;
//   - every other entry of the column is the torque of a zero wrench: zero.
// The skipped terms are zeros added or carried, so each column has the values of the full passes
// (for bodies with external wrenches or added biases, up to the rounding of removing them).

// The walk shared by both matrices: for each coordinate c of each joint j, bodyWrench(k, j, e)
// returns body k's wrench for the bodies k of j's subtree in increasing order (k == j first, e the
// unit rate of coordinate c as joint j's rate slice), and the wrenches are carried down the subtree
// and along j's ancestors into column (offset of joint j) + c of X.
template <int N>
template <typename BodyWrench>
void VexoBaseXD<N>::_unitRateColumns(JointMat& X, BodyWrench bodyWrench) const {
  _assertFixedBaseLayout();
  const int* pre = this->_topology._pre;
  int offset[NUM_BODIES];
  int dofs = 0;
  for (int k = 1; k < NUM_BODIES; ++k) {
    offset[k] = dofs;
    dofs += this->_joints[k]->dof();
  }
  // F[k]: the wrench of body k, complete with its descendants' once the backward pass reaches k.
  WrenchArray F;
  bool inSubtree[NUM_BODIES];
  X.setZero();
  for (int j = 1; j < NUM_BODIES; ++j) {
    const Joint& joint = *this->_joints[j];
    for (int c = 0; c < joint.dof(); ++c) {
      double e[6] = {0, 0, 0, 0, 0, 0};
      e[c] = 1;
      double* tau = X.col(offset[j] + c).data();

      for (int k = j; k < NUM_BODIES; ++k) {
        inSubtree[k] = k == j || (pre[k] >= j && inSubtree[pre[k]]);
        if (inSubtree[k]) F[k] = bodyWrench(k, j, e);
      }

      for (int k = NUM_BODIES - 1; k > j; --k) {
        if (!inSubtree[k]) continue;
        const Joint& jk = *this->_joints[k];
        jk.idyn(F[k], tau + offset[k]);
        internal::addTransformed(jk.Tadj(), F[k], F[pre[k]]);
      }
      Wrench Fa = F[j];
      for (int a = j; a > 0; a = pre[a]) {
        const Joint& ja = *this->_joints[a];
        ja.idyn(Fa, tau + offset[a]);
        Fa = ja.Tadj().transform(Fa);
      }
      if (!this->isFloating()) this->_joints[0]->idyn(Fa, tau);
    }
  }
}

// Vdot_k = E e at joint j, else Ad(Tadj^-1) Vdot_p; F_k = M_k Vdot_k.
template <int N>
void VexoBaseXD<N>::_massColumns(JointMat& M) const {
  TwistArray A;
  _unitRateColumns(M, [&](int k, int j, const double* e) ZORVIK_INLINE_LAMBDA {
    const Joint& jk = *this->_joints[k];
    A[k] = k == j ? jk.adjAcc(e) : jk.Tadj().itransform(A[this->_topology._pre[k]]);
    return this->_bodies[k]->momentum(A[k]);
  });
}

// Vref_k = Ad(Tadj^-1) Vref_p (+ E e at joint j); Vdotref_k = Edot e at joint j, else
// ad(Vref_k) Vadj_k + Ad(Tadj^-1) Vdotref_p; F_k = C(V_k) Vref_k + M_k Vdotref_k, the body's
// passivity-preserving wrench without its external wrench and added bias.
template <int N>
void VexoBaseXD<N>::_coriolisColumns(JointMat& C) const {
  static const double zero[6] = {0, 0, 0, 0, 0, 0};
  TwistArray A, Vr;
  _unitRateColumns(C, [&](int k, int j, const double* e) ZORVIK_INLINE_LAMBDA {
    const Joint& jk = *this->_joints[k];
    if (k == j) {
      A[k] = jk.adjAcc(e, zero);
      Vr[k] = jk.adjTwist(e);
    } else {
      const int p = this->_topology._pre[k];
      Vr[k] = jk.Tadj().itransform(Vr[p]);
      internal::addITransformed(jk.Tadj(), A[p], jk.biasAcc(Vr[k]), A[k]);
    }
    return this->_bodies[k]->passivityWrench(Vr[k], A[k]);
  });
}

// ---------------------------------------------------------------------------------------------
// Forward dynamics by the articulated-body recursion (see ArticulatedBody.h for IA, U, D). Body k's
// acceleration is a_k = X a_parent + c_k + E qddot_k, with c_k = Edot qdot_k + ad(V_k) Vadj_k its
// velocity-product part, and the wrench its joint transmits is F_k = M_k a_k + p_k, p_k = bias()
// (velocity terms, less the external wrench, plus the added bias): the equations idyn evaluates.
// Eliminating the joints from the leaves inward, F_k = IA_k a_k + pA_k with
//   pA_k = p_k + sum over children c of X_c^T (pA_c + Ia_c c_c + U_c D_c^-1 u_c),
//   u_k = tau_k - E^T pA_k,
// after which tau_k = E^T F_k gives, parents first,
//   qddot_k = D^-1 (u_k - U^T (X a_parent + c_k)).

template <int N>
void VexoBaseXD<N>::_fdyn(const double* tau, bool floating, Twist& a0) {
  _withDynamicsOps([&](auto ops) { this->template _articulatedPasses<decltype(ops)>(tau, floating, a0); });
}

template <int N>
template <typename Ops>
void VexoBaseXD<N>::_articulatedPasses(const double* tau, bool floating, Twist& a0) {
  static const double zero[6] = {0, 0, 0, 0, 0, 0};
  std::array<Matrix6d, NUM_BODIES> IA;
  WrenchArray pA;
  TwistArray a;
  internal::ArticulatedJoint aj[NUM_BODIES];
  double u[JOINT_DOF];
  const double* qdot = this->_qdot.data();
  double* qddot = this->_qddot.data();
  const int* pre = this->_topology._pre;

  int i = 0;
  for (int k = floating ? 0 : 1; k < NUM_BODIES; ++k) {
    const Body& b = *this->_bodies[k];
    IA[k] = Ops::inertia(b);
    pA[k] = Ops::bias(b);
    if (k == 0) continue;
    const Joint& j = *this->_joints[k];
    a[k] = Ops::adjAcc(j, qdot + i, zero) + Ops::biasAcc(j, b.V());
    i += j.dof();
  }

  for (int k = NUM_BODIES - 1; k >= 1; --k) {
    Joint& j = *this->_joints[k];
    const int p = pre[k];
    i -= j.dof();
    aj[k].template reduce<Ops>(j, IA[k]);
    double x[6] = {};
    for (int c = 0; c < j.dof(); ++c) u[i + c] = tau[i + c] - j.E().col(c).dot(pA[k]);
    Wrench pa(pA[k] + IA[k] * a[k]);
    aj[k].solve(u + i, x);
    aj[k].addU(x, pa.data());
    if (p == 0 && !floating) continue;
    internal::addCarriedInertia(j.Tadj(), IA[k], IA[p]);
    internal::addTransformed(j.Tadj(), pa, pA[p]);
  }

  // A free-floating base: F_0 = IA_0 a_0 + pA_0 = 0.
  if (floating) {
    double IAinv[36];
    const double scale = IA[0].diagonal().cwiseAbs().maxCoeff();
    const bool massive =
        internal::invertSymmetric(IA[0].data(), 6, internal::kMasslessPivot * scale, IAinv);
    assert(massive && "A floating base with its subtree carries no inertia along some direction: "
                      "its acceleration is undetermined.");
    (void)massive;
    a0 = -(Eigen::Map<const Matrix6d>(IAinv) * pA[0]);
  }
  a[0] = a0;

  for (int k = 1; k < NUM_BODIES; ++k) {
    const Joint& j = *this->_joints[k];
    double Ua[6] = {}, r[6] = {};
    internal::addITransformed(j.Tadj(), a[pre[k]], a[k], a[k]);
    aj[k].Ut(a[k].data(), Ua);
    for (int c = 0; c < j.dof(); ++c) r[c] = u[i + c] - Ua[c];
    aj[k].solve(r, qddot + i);
    for (int c = 0; c < j.dof(); ++c) a[k] += j.E().col(c) * qddot[i + c];
    i += j.dof();
  }
}

// The base moves as its joint does (a platform's own acceleration, as in idyn; zero for a rigid
// base joint), gravity taken out.
template <int N>
void VexoBaseXD<N>::fdyn(const JointVec& tau, const Vector3D& gacc) {
  Twist a0 = _fixedBase(this->_qdot, this->_qddot, &gacc).Vdot;
  _fdyn(tau.data(), false, a0);
}

template <int N>
void VexoBaseXD<N>::fdyn(const JointVec& tau) {
  Twist a0 = _fixedBase(this->_qdot, this->_qddot, nullptr).Vdot;
  _fdyn(tau.data(), false, a0);
}

// The recursion yields the gravity-free acceleration a_0 = (v - R^T g, w) of the base; the base's
// own acceleration adds R^T g back.
template <int N>
void VexoBaseXD<N>::fdyn(const Twist&, Twist& Vdot, const JointVec& tau, const Vector3D& gacc) {
  _assertFloatingBase();
  _assertCoordinatesFit(1);
  _fdyn(tau.data(), true, Vdot);
  Vdot.v().noalias() += this->_bodies[0]->T().R().transpose() * gacc;
}

template <int N>
void VexoBaseXD<N>::fdyn(const Twist&, Twist& Vdot, const JointVec& tau) {
  _assertFloatingBase();
  _assertCoordinatesFit(1);
  _fdyn(tau.data(), true, Vdot);
}

// ---------------------------------------------------------------------------------------------
// The inverse mass matrix: the forward dynamics at zero velocity, without gravity or wrenches,
// for the unit torques e_c, all columns at once. Coordinates are numbered parents first, so the
// upper triangle (rows of joint k, columns c >= offset of joint k) is all the passes need:
//   backward: Minv(k, c) = D^-1 (e_c - E^T F_k(c)),   F_parent(c) += X^T (F_k(c) + U Minv(k, c)),
//   forward:  Minv(k, c) -= D^-1 U^T X a_parent(c),   a_k(c) = X a_parent(c) + E Minv(k, c),
// F_k(c) the articulated wrench and a_k(c) the acceleration of body k for the torque e_c. F_k(c)
// is zero unless joint c is in k's subtree, and a_k(c) unless joint c hangs in the same branch off
// the fixed base as k: the passes run over those columns only (a contiguous range that contains
// them). The lower triangle is the mirror image.
template <int N>
void VexoBaseXD<N>::_massInverse(JointMat& Minv) const {
  _withDynamicsOps([&](auto ops) { this->template _massInversePasses<decltype(ops)>(Minv); });
}

template <int N>
template <typename Ops>
void VexoBaseXD<N>::_massInversePasses(JointMat& Minv) const {
  _assertFixedBaseLayout();
  std::array<Matrix6d, NUM_BODIES> IA;
  internal::ArticulatedJoint aj[NUM_BODIES];
  // Column c of W[k]: first F_k(c) (backward), then a_k(c) (forward).
  std::array<JointJac, NUM_BODIES> W;
  const int* pre = this->_topology._pre;
  // Joint k's coordinates start at offset[k]; those of k's subtree lie in [offset[k], end[k]),
  // those of its branch (the subtree of the base's child on its path, branch[k]) in
  // [offset[k], end[branch[k]]) from k on.
  int offset[NUM_BODIES] = {}, end[NUM_BODIES] = {}, branch[NUM_BODIES] = {};
  int dofs = 0;
  for (int k = 1; k < NUM_BODIES; ++k) {
    IA[k] = Ops::inertia(*this->_bodies[k]);
    offset[k] = dofs;
    dofs += this->_joints[k]->dof();
    end[k] = dofs;
    branch[k] = pre[k] == 0 ? k : branch[pre[k]];
  }
  for (int k = NUM_BODIES - 1; k >= 1; --k)
    if (pre[k] != 0) end[pre[k]] = std::max(end[pre[k]], end[k]);
  for (int k = 1; k < NUM_BODIES; ++k) W[k].middleCols(offset[k], end[k] - offset[k]).setZero();
  Minv.setZero();

  for (int k = NUM_BODIES - 1; k >= 1; --k) {
    Joint& j = *this->_joints[k];
    const Matrix6d& E = j.E();
    const int p = pre[k], o = offset[k], dof = j.dof();
    aj[k].template reduce<Ops>(j, IA[k]);
    for (int c = o; c < end[k]; ++c) {
      double* F = W[k].col(c).data();
      double r[6] = {};
      for (int d = 0; d < dof; ++d) r[d] = (c == o + d) - E.col(d).dot(W[k].col(c));
      aj[k].solve(r, &Minv(o, c));
      if (p == 0) continue;
      aj[k].addU(&Minv(o, c), F);
      internal::addTransformed(j.Tadj(), F, W[p].col(c).data());
    }
    if (p != 0) internal::addCarriedInertia(j.Tadj(), IA[k], IA[p]);
  }

  for (int k = 1; k < NUM_BODIES; ++k) {
    const Joint& j = *this->_joints[k];
    const Matrix6d& E = j.E();
    const int p = pre[k], o = offset[k], dof = j.dof();
    for (int c = o; c < end[branch[k]]; ++c) {
      Twist a;
      if (p != 0) {
        a = j.Tadj().itransform(Twist(W[p].col(c)));
        double Ua[6] = {}, x[6] = {};
        aj[k].Ut(a.data(), Ua);
        for (int d = 0; d < dof; ++d) Ua[d] = -Ua[d];
        aj[k].solve(Ua, x);
        for (int d = 0; d < dof; ++d) Minv(o + d, c) += x[d];
      }
      for (int d = 0; d < dof; ++d) a += E.col(d) * Minv(o + d, c);
      W[k].col(c) = a;
    }
  }
  for (int c = 0; c < JOINT_DOF; ++c)
    for (int r = c + 1; r < JOINT_DOF; ++r) Minv(r, c) = Minv(c, r);
}

}  // namespace VexoSDK
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_VEXOXD_
