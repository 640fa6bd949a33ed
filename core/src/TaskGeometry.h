// The two error geometries of the task-space controllers, SO(3) for RotationController and SE(3)
// for HTransformController: the few group operations in which the laws of internal::ControlLaw
// differ between a rotation and a rigid transform. Everything else in the laws is written once.
//
// Notation. tilde = x^-1 xd is the desired pose seen from the measured one, lambda = log(tilde) its
// exponential coordinates, dexp and dexpinv the differential of exp at lambda and its inverse,
// ddt_dexp the time derivative of dexp. For a matrix M of the group's differential family, M^* is
//   SO(3):  the transpose M^T;
//   SE(3):  the block-wise transpose M^b (each 3x3 block transposed in place), which on the upper
//           block-triangular dexp, dexpinv and ddt_dexp takes the place of the transpose (see
//           HTransformController).
// The body velocity of tilde is then Vtilde = dexp^* lambdadot on both groups.
//
// Each geometry also gives the logarithm with the series coefficients of its rotation part
// (alpha, beta, theta^2 of Vector3D: one sincos per call of a law) and dexp, dexpinv and ddt_dexp
// from them. On SE(3) the three share one shape, [[A, B], [0, A]], and are kept as their two
// blocks: every product of the laws with them is then a few 3x3 products.
#ifndef ZORVIK_CORE_SRC_TASKGEOMETRY_H_
#define ZORVIK_CORE_SRC_TASKGEOMETRY_H_

#include "LieGroup/HTransform"

namespace ZorvikFoundation {
namespace internal {

typedef Eigen::Matrix3d Matrix3d;

struct SO3Geometry {
  enum { DIM = 3 };
  typedef LieGroup::Rotation Pose;
  typedef LieGroup::Vector3D Velocity;  // an angular velocity in its own frame
  typedef LieGroup::Vector3D Force;     // a moment
  typedef LieGroup::Vector3D Coordinates;
  typedef Matrix3d Differential;
  typedef Eigen::Matrix<double, 3, 1> TaskVec;
  typedef Matrix3d TaskMat;

  // xi = log(tilde) with its coefficients; dexp and dexpinv there.
  static void log(const Pose& tilde, Coordinates& xi, double& alpha, double& beta,
                  double& theta_sqr) {
    xi = tilde.expCoord();
    xi.compute_terms(&alpha, &beta, &theta_sqr);
  }
  static Differential dexp(const Coordinates& xi, double alpha, double beta, double theta_sqr) {
    return xi.dexp(alpha, beta, theta_sqr);
  }
  static Differential dexpInv(const Coordinates& xi, double alpha, double beta,
                              double theta_sqr) {
    return xi.dexp_inv(alpha, beta, theta_sqr);
  }

  // tilde^-1 x and tilde x: a vector carried from the frame of x into the error frame and back.
  static Velocity carryIn(const Pose& tilde, const Velocity& x) { return tilde.irotate(x); }
  static Velocity carryOut(const Pose& tilde, const Velocity& x) { return tilde.rotate(x); }
  // M^T x.
  template <typename Derived>
  static Velocity starTimes(const Differential& M, const Eigen::MatrixBase<Derived>& x) {
    return Velocity(M.transpose() * x);
  }
  // (M^T)^T x = M x.
  static TaskVec starTransposeTimes(const Differential& M, const TaskVec& x) { return M * x; }
  // The velocity product a x b.
  static Velocity bracket(const Velocity& a, const Velocity& b) { return Velocity(a.cross(b)); }
  // d/dt dexp(xi) along xidot.
  static Differential ddtDexp(const Coordinates& xi, const Coordinates& xidot, double alpha,
                              double beta, double theta_sqr) {
    return xi.ddt_dexp(alpha, beta, theta_sqr, xi.dot(xidot), xidot);
  }
  // M^T as an expression: the products below then read M in place.
  static Eigen::Transpose<const Differential> star(const Differential& M) { return M.transpose(); }
  template <typename P, typename Q>
  static TaskMat product(const P& lhs, const Q& rhs) {
    return lhs * rhs;
  }
};

// [[A, B], [0, A]]: dexp, dexpinv and ddt_dexp of SE(3).
struct BlockTriangular {
  Matrix3d A, B;
};

struct SE3Geometry {
  enum { DIM = 6 };
  typedef LieGroup::HTransform Pose;
  typedef LieGroup::Twist Velocity;  // a body twist (v, w)
  typedef LieGroup::Wrench Force;    // (f, n)
  typedef LieGroup::Twist Coordinates;
  typedef BlockTriangular Differential;
  typedef Vector6d TaskVec;
  typedef Matrix6d TaskMat;

  // lambda = (eta, xi) = log(tilde) as HTransform::expCoord forms it (xi the rotation vector,
  // eta = dexp(xi)^-1 r), keeping the coefficients of xi.
  static void log(const Pose& tilde, Coordinates& lambda, double& alpha, double& beta,
                  double& theta_sqr) {
    const LieGroup::Vector3D xi = LieGroup::Rotation(tilde.R()).expCoord();
    xi.compute_terms(&alpha, &beta, &theta_sqr);
    lambda.v().noalias() = xi.dexp_inv(alpha, beta, theta_sqr) * tilde.r();
    lambda.w() = xi;
  }
  // dexp = [[J, Q], [0, J]] and dexpinv = [[Ji, Qi], [0, Ji]] (Twist::dexp, Twist::dexp_inv).
  static Differential dexp(const Coordinates& lambda, double alpha, double beta,
                           double theta_sqr) {
    const LieGroup::Vector3D xi(lambda.w()), eta(lambda.v());
    return {xi.dexp(alpha, beta, theta_sqr),
            xi.ddt_dexp(alpha, beta, theta_sqr, xi.dot(eta), eta)};
  }
  static Differential dexpInv(const Coordinates& lambda, double alpha, double beta,
                              double theta_sqr) {
    const LieGroup::Vector3D xi(lambda.w()), eta(lambda.v());
    return {xi.dexp_inv(alpha, beta, theta_sqr),
            xi.ddt_dexp_inv(alpha, beta, theta_sqr, xi.dot(eta), eta)};
  }

  // Ad(tilde^-1) and Ad(tilde) on twists; the dual Ad(tilde)^T on wrenches.
  static Velocity carryIn(const Pose& tilde, const Velocity& x) { return tilde.itransform(x); }
  static Force carryIn(const Pose& tilde, const Force& F) { return tilde.itransform(F); }
  static Velocity carryOut(const Pose& tilde, const Velocity& x) { return tilde.transform(x); }
  // M^b x = (A^T x_v + B^T x_w, A^T x_w). Forced inline, as the next: the laws call them a dozen
  // times, each a few multiply-adds that a call would double.
  template <typename Derived>
  ZORVIK_ALWAYS_INLINE static Velocity starTimes(const Differential& M,
                                                 const Eigen::MatrixBase<Derived>& x) {
    Velocity res;
    res.v().noalias() = M.A.transpose() * x.template head<3>();
    res.v().noalias() += M.B.transpose() * x.template tail<3>();
    res.w().noalias() = M.A.transpose() * x.template tail<3>();
    return res;
  }
  // (M^b)^T x = [[A, 0], [B, A]] x.
  ZORVIK_ALWAYS_INLINE static TaskVec starTransposeTimes(const Differential& M, const TaskVec& x) {
    TaskVec res;
    res.head<3>().noalias() = M.A * x.head<3>();
    res.tail<3>().noalias() = M.B * x.head<3>();
    res.tail<3>().noalias() += M.A * x.tail<3>();
    return res;
  }
  // The velocity product ad(a) b.
  static Velocity bracket(const Velocity& a, const Velocity& b) { return a.adjoint(b); }
  // d/dt dexp(lambda) along lambdadot, from the dot products of lambda = (eta, xi) and
  // lambdadot = (etadot, xidot): xi.eta, xi.xidot, xi.etadot and xidot.eta.
  static Differential ddtDexp(const Coordinates& lambda, const Coordinates& lambdadot,
                              double alpha, double beta, double theta_sqr) {
    const double xi_eta = lambda.w().dot(lambda.v());
    const double xi_xidot = lambda.w().dot(lambdadot.w());
    const double xi_etadot = lambda.w().dot(lambdadot.v());
    const double xidot_eta = lambdadot.w().dot(lambda.v());
    const Matrix6d m = lambda.ddt_dexp(alpha, beta, theta_sqr, xi_eta, xi_xidot, xi_etadot,
                                       xidot_eta, lambdadot);
    return {m.topLeftCorner<3, 3>(), m.topRightCorner<3, 3>()};
  }
  // M^b = [[A^T, B^T], [0, A^T]].
  static TaskMat star(const Differential& M) {
    TaskMat res;
    res << M.A.transpose(), M.B.transpose(), Matrix3d::Zero(), M.A.transpose();
    return res;
  }
  // P Q for upper block-triangular P, Q, from 3x3 blocks:
  //   [[P11 Q11, P11 Q12 + P12 Q22], [0, P22 Q22]].
  static TaskMat product(const TaskMat& P, const TaskMat& Q) {
    TaskMat res;
    res.topLeftCorner<3, 3>().noalias() = P.topLeftCorner<3, 3>() * Q.topLeftCorner<3, 3>();
    res.topRightCorner<3, 3>().noalias() = P.topLeftCorner<3, 3>() * Q.topRightCorner<3, 3>();
    res.topRightCorner<3, 3>().noalias() += P.topRightCorner<3, 3>() * Q.bottomRightCorner<3, 3>();
    res.bottomLeftCorner<3, 3>().setZero();
    res.bottomRightCorner<3, 3>().noalias() =
        P.bottomRightCorner<3, 3>() * Q.bottomRightCorner<3, 3>();
    return res;
  }
};

// The force error in error coordinates, the one step in which the two laws are deliberately not
// the same map:
//   SO(3):  eta = dexp^T ntilde. With Kf = dexpinv^T diag(kf) dexpinv and the identity
//           dexpinv dexp^T = Rtilde^T (dexp(xi)^T = dexp(-xi) = exp(-[xi]) dexp(xi)), the impedance
//           law dexp^T (xiddot + Kv xidot + Kp xi - Kf eta) = ... - kf o (Rtilde^T ntilde) is
//           driven by the moment error carried back by the error rotation.
//   SE(3):  gamma = Ftilde.upperBlockTriRelocatedMult(dexp) = (J f, J n), J = dexp of the rotation
//           part: dexp itself, not its block transpose. With Kf = dexpinv^b diag(kf)
//           (dexpinv^b)^T the law is driven by kf o (f, n - Ji Q f) (dexpinv = [[Ji, Qi], [0, Ji]],
//           dexp = [[J, Q], [0, J]]): the wrench error in the desired frame itself, uncoupled but
//           for the translation-rotation term; on a pure rotation the angular half of gamma is
//           Rtilde times the SO(3) eta.
// Each is the law its controller defines and clients tune their force gains against, so neither is
// rewritten in terms of the other.
inline SO3Geometry::Force forceCoordinates(const Matrix3d& dexp, const SO3Geometry::Force& ntilde) {
  return SO3Geometry::Force(dexp.transpose() * ntilde);
}
inline SE3Geometry::Force forceCoordinates(const BlockTriangular& dexp,
                                           const SE3Geometry::Force& Ftilde) {
  SE3Geometry::Force res;
  res.f().noalias() = dexp.A * Ftilde.f();
  res.n().noalias() = dexp.A * Ftilde.n();
  return res;
}

}  // namespace internal
}  // namespace ZorvikFoundation

#endif  // ZORVIK_CORE_SRC_TASKGEOMETRY_H_
