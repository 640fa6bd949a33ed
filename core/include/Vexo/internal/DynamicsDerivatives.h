// The local pieces of the dynamics derivatives (DynamicAnalysisXD::IdynDerivatives): how a
// joint's motion subspace and bias change with its own coordinates, and the bodies' inertias and
// their rates of change in the reference frame, summed over subtrees.
//
// Joints. For joint coordinates q and a coordinate e, the derivative needs
//   dE_e = dE/dq_e                      (the first dof columns),
//   z_e  = d/dq_e (Edot(q, qdot) qdot)  at fixed qdot,
// both in the child's frame. A joint whose E does not depend on q (revolute, prismatic, the MDH
// joints, cylindrical) has both zero. The spherical joint and the rotation part of the free joint
// have E = [0; Jr(xi)] with the right Jacobian of SO(3) (dexp(xi)^T); their terms come from the
// first and second derivatives of Jr, below. Any other class (a client's, or one derived from a
// library joint) is asked through the contract: Edot is linear in the rates, Edot = sum_e dE_e
// qdot_e, so the joint's own Edot at the unit rate of coordinate e is dE_e. The contract does not
// give the second derivatives z_e (jointDerivatives' secondOrderKnown).
#ifndef VEXO_INTERNAL_DYNAMICSDERIVATIVES_
#define VEXO_INTERNAL_DYNAMICSDERIVATIVES_

#include <cmath>
#include <typeinfo>

#include "../../AMBS/internal/LibraryJoints.h"
#include "ArticulatedBody.h"
#include "ReferenceInertia.h"

namespace ZorvikFoundation {
namespace internal {

// Jr(xi) z = z - A(t) xi x z + B(t) xi x (xi x z), t = |xi|^2, with
//   A = (1 - cos theta) / theta^2,  B = (theta - sin theta) / theta^3,
// and their first and second derivatives with respect to t. Below theta = 1 the closed forms lose
// digits to cancellation (the second derivatives by a factor 1/theta^6), so the series are summed
// there: A = sum (-t)^n / (2n + 2)!, B = sum (-t)^n / (2n + 3)!, twelve terms reaching 1e-20.
struct RightJacobianCoefficients {
  double A, B, dA, dB, ddA, ddB;

  explicit RightJacobianCoefficients(double t) {
    if (t < 1) {
      A = B = dA = dB = ddA = ddB = 0;
      double power[12];  // (-t)^n
      power[0] = 1;
      for (int n = 1; n < 12; ++n) power[n] = -t * power[n - 1];
      double a = 0.5;  // 1 / (2n + 2)!
      for (int n = 0; n < 12; ++n) {
        const double b = a / (2 * n + 3);  // 1 / (2n + 3)!
        A += a * power[n];
        B += b * power[n];
        // d/dt (-t)^n = -n (-t)^(n-1), d2/dt2 (-t)^n = n (n - 1) (-t)^(n-2).
        if (n >= 1) {
          dA -= n * a * power[n - 1];
          dB -= n * b * power[n - 1];
        }
        if (n >= 2) {
          ddA += n * (n - 1) * a * power[n - 2];
          ddB += n * (n - 1) * b * power[n - 2];
        }
        a = b / (2 * n + 4);
      }
      return;
    }
    const double theta = std::sqrt(t);
    double s, c;
    ::sincos(theta, &s, &c);
    const double t2 = t * t, t3 = t2 * t;
    const double oneMinusCos = 1 - c, thetaMinusSin = theta - s;
    A = oneMinusCos / t;
    B = thetaMinusSin / (t * theta);
    dA = s / (2 * t * theta) - oneMinusCos / t2;
    dB = oneMinusCos / (2 * t2) - 3 * thetaMinusSin / (2 * t2 * theta);
    ddA = c / (4 * t2) - 5 * s / (4 * t2 * theta) + 2 * oneMinusCos / t3;
    ddB = s / (4 * t2 * theta) - 7 * oneMinusCos / (4 * t3) + 15 * thetaMinusSin / (4 * t3 * theta);
  }
};

// Jr(xi) z with its derivatives along directions of xi:
//   D_x [Jr z]     = -2 A' (xi.x) xi x z - A x x z + 2 B' (xi.x) xi x (xi x z)
//                    + B (x x (xi x z) + xi x (x x z)),
//   D_y D_x [Jr z] = -(4 A'' (xi.x)(xi.y) + 2 A' (x.y)) xi x z - 2 A' ((xi.x) y x z + (xi.y) x x z)
//                    + (4 B'' (xi.x)(xi.y) + 2 B' (x.y)) xi x (xi x z)
//                    + 2 B' (xi.x) (y x (xi x z) + xi x (y x z))
//                    + 2 B' (xi.y) (x x (xi x z) + xi x (x x z)) + B (x x (y x z) + y x (x x z)),
// from d t = 2 xi.x along x.
class RightJacobianDerivatives {
 public:
  typedef Eigen::Vector3d V3;
  explicit RightJacobianDerivatives(const V3& xi) : _xi(xi), _k(xi.squaredNorm()) {}

  V3 along(const V3& x, const V3& z) const {
    const double xx = _xi.dot(x);
    const V3 xz = _xi.cross(z);
    return -2 * _k.dA * xx * xz - _k.A * x.cross(z) + 2 * _k.dB * xx * _xi.cross(xz) +
           _k.B * (x.cross(xz) + _xi.cross(x.cross(z)));
  }

  V3 along(const V3& x, const V3& y, const V3& z) const {
    const double xx = _xi.dot(x), xy = _xi.dot(y);
    const V3 xz = _xi.cross(z), yz = y.cross(z), x_z = x.cross(z);
    return -(4 * _k.ddA * xx * xy + 2 * _k.dA * x.dot(y)) * xz - 2 * _k.dA * (xx * yz + xy * x_z) +
           (4 * _k.ddB * xx * xy + 2 * _k.dB * x.dot(y)) * _xi.cross(xz) +
           2 * _k.dB * xx * (y.cross(xz) + _xi.cross(yz)) +
           2 * _k.dB * xy * (x.cross(xz) + _xi.cross(x_z)) + _k.B * (x.cross(yz) + y.cross(x_z));
  }

 private:
  V3 _xi;
  RightJacobianCoefficients _k;
};

// The local terms of joint j at its state (q, qdot): dE[e] (first dof columns) and z[e] for each
// coordinate e. Returns false, writing nothing, when E does not depend on q. secondOrderKnown is
// false for a client's joint whose E varies: its dE comes from the contract, its z is unknown.
//
// Spherical joint, q = xi: E = [0; Jr], so dE_e = [0; D_e Jr] and z_e = (0, D_e D_xidot Jr xidot).
// Free joint, q = (p, xi): the position coordinates enter E nowhere. With E = [[R^T, 0], [0, Jr]]
// and R(xi + h u) = R exp(h [Jr u]) + O(h^2), d R^T / d xi_e = -[Jr e] R^T; the bias is
// Edot qdot = (-w x v, D_xidot Jr xidot) with v = R^T pdot and w = Jr xidot, so
//   z_e = (-(D_e Jr xidot) x v + w x ((Jr e) x v),  D_e D_xidot Jr xidot).
// Whether j is exactly one of the library's joint classes whose E does not depend on q.
inline bool isConstantLibraryJoint(const Joint& j) {
  return isLibraryJointClass(j) && hasConstantMotionSubspace(j.type());
}

inline bool jointDerivatives(Joint& j, const double* q, const double* qdot, Matrix6d* dE, Twist* z,
                             bool& secondOrderKnown) {
  typedef Eigen::Vector3d V3;
  const int dof = j.dof();
  secondOrderKnown = true;
  if (dof == 0 || isConstantLibraryJoint(j)) return false;
  const bool spherical = j.type() == SPHERICAL;
  if (isLibraryJointClass(j) && (spherical || j.type() == FREE)) {
    const int first = spherical ? 0 : 3;  // the rotation vector's coordinates
    const V3 xi(q + first), xidot(qdot + first);
    const RightJacobianDerivatives dJr(xi);
    const Matrix6d& E = j.E();
    for (int e = 0; e < dof; ++e) {
      dE[e].setZero();
      z[e].setZero();
    }
    for (int e = 0; e < 3; ++e) {
      const V3 u = V3::Unit(e);
      Matrix6d& dEe = dE[first + e];
      for (int c = 0; c < 3; ++c) dEe.block<3, 1>(3, first + c) = dJr.along(u, V3::Unit(c));
      z[first + e].w() = dJr.along(xidot, u, xidot);
      if (spherical) continue;
      const V3 Jru = E.block<3, 1>(3, 3 + e);
      const V3 v = j.Vadj().v(), w = j.Vadj().w();
      dEe.block<3, 3>(0, 0).noalias() = -Vector3D(Jru).ceil() * E.block<3, 3>(0, 0);
      z[first + e].v() = -dJr.along(u, xidot).cross(v) + w.cross(Jru.cross(v));
    }
    return true;
  }
  // A client's joint (or a class derived from a library joint): dE_e is its Edot at the unit rate
  // of coordinate e; the joint's own rates are put back afterwards.
  bool varies = false;
  double unit[6] = {0, 0, 0, 0, 0, 0};
  for (int e = 0; e < dof; ++e) {
    unit[e] = 1;
    j.updateVelocity(q, unit);
    unit[e] = 0;
    dE[e].setZero();
    dE[e].leftCols(dof) = j.Edot().leftCols(dof);
    varies = varies || !dE[e].isZero(0);
  }
  j.updateVelocity(q, qdot);
  secondOrderKnown = !varies;
  return varies;
}

// GeneralComposite, for any body: a derived body's inertia() is any 6x6 matrix, carried to the
// reference frame as I = Ad_T^-T inertia() Ad_T^-1, with Idot = -(I ad(v) + (I ad(v))^T).
struct GeneralComposite {
  Matrix6d IM, IdotM;

  void setBody(const Body& b) {
    IM.setZero();
    addCarriedInertia(b.T(), b.inertia(), IM);
  }
  void setBody(const Body& b, const Twist& v) {
    setBody(b);
    const Eigen::Matrix3d W = Vector3D(v.w()).ceil();
    Matrix6d adv;
    adv << W, Vector3D(v.v()).ceil(), Eigen::Matrix3d::Zero(), W;
    const Matrix6d Iadv = IM * adv;
    IdotM = -(Iadv + Iadv.transpose());
  }
  void add(const GeneralComposite& o) {
    IM += o.IM;
    IdotM += o.IdotM;
  }
  Wrench I(const Twist& x) const { return Wrench(IM * x); }
  Wrench Idot(const Twist& x) const { return Wrench(IdotM * x); }
  // The body's own Newton-Euler wrench (Body::idyn: external wrench, added bias and inertia() as
  // the body has them) for the spatial acceleration a, carried to the reference frame.
  Wrench wrench(const Body& b, const Twist&, const Twist& a, const Wrench&) const {
    Wrench f;
    b.idyn(b.T().itransform(a), f);
    return b.T().transform(f);
  }
};

// The inverse of a symmetric positive definite n x n matrix A from its Cholesky factor A = L L^T:
// A^-1 = L^-T L^-1, with L^-1 by forward substitution, written out coefficient by coefficient (at
// these sizes the blocked solvers cost more than they save); the upper triangle is computed and
// mirrored, so the result is exactly symmetric. Returns false, leaving Ainv unspecified, when a
// pivot L(i, i)^2 is not above pivotFloor. Any square matrix type: a fixed size, or a runtime size
// within a fixed maximum (no allocation either way).
template <typename Mat>
bool choleskyInverse(const Mat& A, double pivotFloor, Mat& Ainv) {
  const int n = static_cast<int>(A.rows());
  Mat L(n, n), Linv(n, n);
  Ainv.resize(n, n);
  for (int j = 0; j < n; ++j) {
    double d = A(j, j);
    for (int k = 0; k < j; ++k) d -= L(j, k) * L(j, k);
    if (!(d > pivotFloor)) return false;
    L(j, j) = std::sqrt(d);
    for (int i = j + 1; i < n; ++i) {
      double x = A(i, j);
      for (int k = 0; k < j; ++k) x -= L(i, k) * L(j, k);
      L(i, j) = x / L(j, j);
    }
  }
  for (int j = 0; j < n; ++j) {
    Linv(j, j) = 1 / L(j, j);
    for (int i = j + 1; i < n; ++i) {
      double x = 0;
      for (int k = j; k < i; ++k) x -= L(i, k) * Linv(k, j);
      Linv(i, j) = x / L(i, i);
    }
  }
  for (int j = 0; j < n; ++j)
    for (int i = 0; i <= j; ++i) {
      double x = 0;
      for (int k = j; k < n; ++k) x += Linv(k, i) * Linv(k, j);
      Ainv(i, j) = Ainv(j, i) = x;
    }
  return true;
}

}  // namespace internal
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_DYNAMICSDERIVATIVES_
