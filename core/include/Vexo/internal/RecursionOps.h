// The joint and body operations of the robot model's recursions, in two forms with one interface,
// so that each pass of VexoBaseXD is written once:
//   ContractOps  through the joint contract and the bodies' extension points (virtual calls): any
//                joint of any class, any body;
//   LibraryOps   the same operations written out inline, from the joint's E, Edot and Vadj and
//                from a plain Body's mass properties, for a model whose joints are all exactly of
//                the library's classes and whose bodies are all plain Bodies. There the contract
//                operations are exactly these (JointBase, Body), so both forms give the same
//                values; inline, the per-body values stay in registers instead of travelling
//                through memory behind five virtual calls a body.
#ifndef VEXO_INTERNAL_RECURSIONOPS_
#define VEXO_INTERNAL_RECURSIONOPS_

#include <type_traits>

#include "../../AMBS/internal/LibraryJoints.h"

namespace ZorvikFoundation {
namespace internal {

// M E (6 x dof) and E^T M E (dof x dof) for the first dof() columns of the joint's E, column-major,
// column by column.
ZORVIK_ALWAYS_INLINE void projectOnMotionSubspace(const Joint& j, const Matrix6d& M, double* EtME,
                                                  double* ME) {
  const int dof = j.dof();
  for (int c = 0; c < dof; ++c) {
    Eigen::Map<Vector6d>(ME + 6 * c).noalias() = M * j.E().col(c);
    for (int r = 0; r < dof; ++r) EtME[r + dof * c] = j.E().col(r).dot(Eigen::Map<Vector6d>(ME + 6 * c));
  }
}

struct ContractOps {
  static void update(Joint& j, const double* q, const double* qdot) { j.update(q, qdot); }
  static void update(Joint& j, const double* q) { j.update(q); }
  static void updateVelocity(Joint& j, const double* q, const double* qdot) {
    j.updateVelocity(q, qdot);
  }
  static Twist adjTwist(const Joint& j, const double* qdot) { return j.adjTwist(qdot); }
  static Twist adjAcc(const Joint& j, const double* qdot, const double* qddot) {
    return j.adjAcc(qdot, qddot);
  }
  static Twist adjAcc(const Joint& j, const double* qddot) { return j.adjAcc(qddot); }
  static Twist biasAcc(const Joint& j, const Twist& V) { return j.biasAcc(V); }
  static void idyn(const Joint& j, const Wrench& F, double* tau) { j.idyn(F, tau); }
  // From the joint's E, not through Joint::project: that operation serves the client (a stiffness
  // projected on the joint's axes, say), and the contract lets a joint leave it empty.
  static void project(const Joint& j, const Matrix6d& M, double* EtME, double* ME) {
    projectOnMotionSubspace(j, M, EtME, ME);
  }

  static Matrix6d inertia(const Body& b) { return b.inertia(); }
  static Wrench bias(const Body& b) { return b.bias(); }
  static Wrench momentum(const Body& b, const Twist& a) { return b.momentum(a); }
  static Wrench linearMomentum(const Body& b, const Eigen::Vector3d& a) {
    return b.momentum(Twist(a, Eigen::Vector3d::Zero()));
  }
  static void idyn(const Body& b, const Twist& a, Wrench& F) { b.idyn(a, F); }
  static void idyn_passive(const Body& b, const Twist& Vr, const Twist& a, Wrench& F) {
    b.idyn_passive(Vr, a, F);
  }
  static Wrench passivityWrench(const Body& b, const Twist& Vr, const Twist& a) {
    return b.passivityWrench(Vr, a);
  }
};

struct LibraryOps {
  // The updates: the one-axis and rigid joints' written out (the same code as their update()), the
  // other classes' own members called directly.
  ZORVIK_ALWAYS_INLINE static void update(Joint& j, const double* q) {
    switch (j.type()) {
      case REVOLUTE: revolutePose(j.jointFrame(), j.E().data() + 3, q[0], j.Tadj()); return;
      case PRISMATIC: prismaticPose(j.jointFrame(), j.E().data(), q[0], j.Tadj()); return;
      case RIGID: j.Tadj() = j.jointFrame(); return;
      default:
        _visit(j, [q](auto& c) {
          typedef std::remove_reference_t<decltype(c)> Class;
          c.Class::update(q);
        });
    }
  }
  // Every one-coordinate class has Vadj = E qdot (its only column times the rate), the joints
  // without coordinates keep theirs.
  ZORVIK_ALWAYS_INLINE static void updateVelocity(Joint& j, const double* q, const double* qdot) {
    if (j.dof() == 1) {
      j.Vadj() = j.E().col(0) * qdot[0];
    } else if (j.dof() > 1) {
      _visit(j, [q, qdot](auto& c) {
        typedef std::remove_reference_t<decltype(c)> Class;
        c.Class::updateVelocity(q, qdot);
      });
    }
  }
  ZORVIK_ALWAYS_INLINE static void update(Joint& j, const double* q, const double* qdot) {
    update(j, q);
    updateVelocity(j, q, qdot);
  }

  // E x, E qddot + Edot qdot (Edot = 0 for every class but the spherical and free joints),
  // ad(V) Vadj and E^T F. A one-axis joint's E is one column, (0, a) for the revolute joints and
  // (a, 0) for the prismatic ones, and its Vadj that column times the rate: half of each product
  // is zero and is not formed.
  ZORVIK_ALWAYS_INLINE static Twist adjTwist(const Joint& j, const double* x) {
    const Matrix6d& E = j.E();
    if (j.dof() == 1) {
      switch (_axisKind(j)) {
        case kRotation: return Twist(Vector3D::Zero(), Vector3D(E.col(0).tail<3>() * x[0]));
        case kTranslation: return Twist(Vector3D(E.col(0).head<3>() * x[0]), Vector3D::Zero());
        default: return Twist(E.col(0) * x[0]);
      }
    }
    Twist res;
    for (int c = 0; c < j.dof(); ++c) res += E.col(c) * x[c];
    return res;
  }
  ZORVIK_ALWAYS_INLINE static Twist adjAcc(const Joint& j, const double* qddot) {
    return adjTwist(j, qddot);
  }
  ZORVIK_ALWAYS_INLINE static Twist adjAcc(const Joint& j, const double* qdot,
                                           const double* qddot) {
    if (hasConstantMotionSubspace(j.type())) return adjTwist(j, qddot);
    Twist res = adjTwist(j, qddot);
    for (int c = 0; c < j.dof(); ++c) res += j.Edot().col(c) * qdot[c];
    return res;
  }
  // ad(V) (0, w) = (v x w, w_V x w); ad(V) (u, 0) = (w_V x u, 0). The cross products on the raw
  // values: Eigen's cross() is not forced inline and would stay a call in the larger passes.
  ZORVIK_ALWAYS_INLINE static Twist biasAcc(const Joint& j, const Twist& V) {
    const Twist& Vadj = j.Vadj();
    if (j.dof() == 1) {
      switch (_axisKind(j)) {
        case kRotation: {
          Twist res;
          LieGroup::internal::_cross3(V.data(), Vadj.data() + 3, res.data());
          LieGroup::internal::_cross3(V.data() + 3, Vadj.data() + 3, res.data() + 3);
          return res;
        }
        case kTranslation: {
          Twist res;
          LieGroup::internal::_cross3(V.data() + 3, Vadj.data(), res.data());
          return res;
        }
        default: break;
      }
    }
    return V.adjoint(Vadj);
  }
  ZORVIK_ALWAYS_INLINE static void idyn(const Joint& j, const Wrench& F, double* tau) {
    const Matrix6d& E = j.E();
    if (j.dof() == 1) {
      switch (_axisKind(j)) {
        case kRotation: tau[0] = E(3, 0) * F(3) + E(4, 0) * F(4) + E(5, 0) * F(5); return;
        case kTranslation: tau[0] = E(0, 0) * F(0) + E(1, 0) * F(1) + E(2, 0) * F(2); return;
        default: break;
      }
    }
    for (int c = 0; c < j.dof(); ++c) {
      double t = 0;
      for (int r = 0; r < 6; ++r) t += E(r, c) * F(r);
      tau[c] = t;
    }
  }

  // Written out rather than the classes' own project() reached through the class switch, which
  // made fdyn and MassInverse 15-20 % slower.
  ZORVIK_ALWAYS_INLINE static void project(const Joint& j, const Matrix6d& M, double* EtME,
                                           double* ME) {
    projectOnMotionSubspace(j, M, EtME, ME);
  }

  ZORVIK_ALWAYS_INLINE static const Matrix6d& inertia(const Body& b) {
    return b.getInertia().bodyInertia();
  }
  ZORVIK_ALWAYS_INLINE static Wrench bias(const Body& b) { return plainBias(b); }
  ZORVIK_ALWAYS_INLINE static Wrench momentum(const Body& b, const Twist& a) {
    return b.getInertia().times(a);
  }
  ZORVIK_ALWAYS_INLINE static Wrench linearMomentum(const Body& b, const Eigen::Vector3d& a) {
    return internal::linearMomentum(b, a);
  }
  ZORVIK_ALWAYS_INLINE static void idyn(const Body& b, const Twist& a, Wrench& F) {
    const Wrench Ma = b.getInertia().times(a);
    F = plainBias(b);
    LieGroup::internal::_add6(F.data(), Ma.data(), F.data());
  }
  ZORVIK_ALWAYS_INLINE static Wrench passivityWrench(const Body& b, const Twist& Vr,
                                                     const Twist& a) {
    Twist Va = b.V().adjoint(Vr);
    LieGroup::internal::_add6(Va.data(), a.data(), Va.data());
    return plainPassivityTerms(b, Vr, Va);
  }
  ZORVIK_ALWAYS_INLINE static void idyn_passive(const Body& b, const Twist& Vr, const Twist& a,
                                                Wrench& F) {
    F = passivityWrench(b, Vr, a);
    if (b.hasNonzeroWrench()) F -= b.Fext();
  }

 private:
  enum AxisKind { kRotation, kTranslation, kOther };
  // The shape of a one-coordinate joint's E column.
  ZORVIK_ALWAYS_INLINE static AxisKind _axisKind(const Joint& j) {
    switch (j.type()) {
      case REVOLUTE:
      case MDH_REVOLUTE: return kRotation;
      case PRISMATIC:
      case MDH_PRISMATIC: return kTranslation;
      default: return kOther;
    }
  }
  // f(c) with c the joint as its own class, for the classes whose update is not written out here.
  template <typename F>
  ZORVIK_ALWAYS_INLINE static void _visit(Joint& j, F f) {
    switch (j.type()) {
      case FLOATING: f(static_cast<FloatingJoint&>(j)); return;
      case FREE: f(static_cast<FreeJoint&>(j)); return;
      case CYLINDRICAL: f(static_cast<CylindricalJoint&>(j)); return;
      case SPHERICAL: f(static_cast<SphericalJoint&>(j)); return;
      case MDH_REVOLUTE: f(static_cast<MDHRevoluteJoint&>(j)); return;
      case MDH_PRISMATIC: f(static_cast<MDHPrismaticJoint&>(j)); return;
      default: return;
    }
  }
};

}  // namespace internal
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_RECURSIONOPS_
