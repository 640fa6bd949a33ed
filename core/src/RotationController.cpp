// Compiled members of RotationController and the instantiation of its base.
//
// Every operation builds on the same passes over the error rotation, written once below:
//   S1  Rtilde = R^T Rd, xi = log(Rtilde), and the series coefficients of xi
//   S3  wtilde = wd - Rtilde^T w, xidot = dexpinv^T wtilde
//   S4  ddt_dexp, the derivative of dexp(xi) along xidot
//   S5  ntilde = nd - Rtilde^T n, eta = dexp^T ntilde
// and on two maps back to the frame of R: a rate of the error coordinates to an angular velocity,
// and a second rate to an angular acceleration.
#include "Controller/RotationController"

namespace ZorvikFoundation {

template class Controller<3, RotationController, LieGroup::Rotation, LieGroup::Vector3D,
                          LieGroup::Vector3D, LieGroup::Vector3D>;

namespace {

typedef Eigen::Matrix3d Matrix3d;
typedef RotationController::TaskVec TaskVec;
typedef RotationController::TaskMat TaskMat;
using LieGroup::Rotation;
using LieGroup::Vector3D;

// S1 and the coefficients: Rtilde = R^T Rd is the desired rotation seen from the measured one (it
// maps vectors in the frame of Rd to the frame of R), xi = log(Rtilde) with |xi| in [0, pi].
struct ErrorRotation {
  ErrorRotation(const Rotation& R, const Rotation& Rd) : Rtilde(R.icascade(Rd)) {
    xi = Rtilde.expCoord();
    xi.compute_terms(&alpha, &beta, &theta_sqr);
  }
  Matrix3d dexp() const { return xi.dexp(alpha, beta, theta_sqr); }

  Rotation Rtilde;
  Vector3D xi;
  double alpha, beta, theta_sqr;
};

// S3: the body angular velocity of Rtilde, wtilde = wd - Rtilde^T w = dexp^T xidot, solved for the
// rate of the error coordinates, xidot = dexpinv^T wtilde.
struct ErrorRate : ErrorRotation {
  ErrorRate(const Rotation& R, const Vector3D& w, const Rotation& Rd, const Vector3D& wd)
      : ErrorRotation(R, Rd) {
    dexpinv = xi.dexp_inv(alpha, beta, theta_sqr);
    wtilde = wd - Rtilde.irotate(w);
    xidot.noalias() = dexpinv.transpose() * wtilde;
  }

  Matrix3d dexpinv;
  Vector3D wtilde;
  Vector3D xidot;
};

// S2 and S4 on top of S3: dexp and its time derivative along xidot, both used by every
// acceleration-level operation.
struct ErrorMotion : ErrorRate {
  ErrorMotion(const Rotation& R, const Vector3D& w, const Rotation& Rd, const Vector3D& wd)
      : ErrorRate(R, w, Rd, wd) {
    dexp = ErrorRotation::dexp();
    ddt_dexp = xi.ddt_dexp(alpha, beta, theta_sqr, xi.dot(xidot), xidot);
  }

  Matrix3d dexp;
  Matrix3d ddt_dexp;
};

// S5: the moment error in the frame of Rd, ntilde = nd - Rtilde^T n, in error coordinates
// eta = dexp^T ntilde.
Vector3D forceError(const ErrorMotion& m, const Vector3D& n, const Vector3D& nd) {
  const Vector3D ntilde = nd - m.Rtilde.irotate(n);
  return Vector3D(m.dexp.transpose() * ntilde);
}

// The angular velocity of R that makes the error coordinates move with xidot_ref:
//   wd - Rtilde^T wref = dexp^T xidot_ref   =>   wref = Rtilde (wd - dexp^T xidot_ref).
Vector3D velocityFromRate(const Rotation& Rtilde, const Matrix3d& dexp, const Vector3D& wd,
                          const TaskVec& xidot_ref) {
  const Vector3D wtilde_ref = wd - dexp.transpose() * xidot_ref;
  return Rtilde.rotate(wtilde_ref);
}

// The angular acceleration of R that makes the error coordinates accelerate with xiddot_ref.
// From d/dt wtilde = wdotd + wtilde x (Rtilde^T w) - Rtilde^T wdot and
// d/dt wtilde = dexp^T xiddot + ddt_dexp^T xidot:
//   wdot = Rtilde (wdotd - dexp^T xiddot_ref - ddt_dexp^T rate + wtilde x carried),
// where `rate` is the error rate that differentiates dexp^T and `carried` is the angular velocity
// of R carried into the frame of Rd (Rtilde^T w, or wd, its equal up to wtilde x wtilde = 0).
Vector3D accelerationFromRates(const ErrorMotion& m, const Vector3D& wdotd,
                               const TaskVec& xiddot_ref, const TaskVec& rate,
                               const Vector3D& carried) {
  Vector3D a = wdotd;
  a.noalias() -= m.dexp.transpose() * xiddot_ref;
  a.noalias() -= m.ddt_dexp.transpose() * rate;
  a += m.wtilde.cross(carried);
  return m.Rtilde.rotate(a);
}

// The angular acceleration reference of refAcceleration and refImpedanceAcceleration.
//   plain:            the measured rate xidot and wtilde x wd, so that the error coordinates
//                     accelerate with xiddot_ref;
//   passivity-based:  the reference rate xidot_ref and wtilde x (Rtilde^T wref), which makes the
//                     result the time derivative of wref.
Vector3D referenceAcceleration(bool passivity_based, const ErrorMotion& m, const Vector3D& wd,
                               const Vector3D& wdotd, const TaskVec& xidot_ref,
                               const TaskVec& xiddot_ref, const Vector3D& wref) {
  if (passivity_based)
    return accelerationFromRates(m, wdotd, xiddot_ref, xidot_ref, m.Rtilde.irotate(wref));
  return accelerationFromRates(m, wdotd, xiddot_ref, m.xidot, wd);
}

// Passivity-based correction: the rate mismatch weighted per axis and mapped to the frame of R,
//   Rtilde dexp^T (invL2sqr o (xidot - xidot_ref)).
// dexp^T (xidot - xidot_ref) = wtilde - wtilde_ref = -Rtilde^T (w - wref), so with equal weights c
// it is -c (w - wref).
Vector3D passivityCorrection(const ErrorMotion& m, const TaskVec& invL2sqr,
                             const TaskVec& xidot_ref) {
  const TaskVec weighted = invL2sqr.cwiseProduct(m.xidot - xidot_ref);
  return m.Rtilde.rotate(Vector3D(m.dexp.transpose() * weighted));
}

// Kv = dexpinv^T (ddt_dexp^T + diag(kv) dexp^T) and Kp = dexpinv^T diag(kp) dexp^T: the per-axis
// damping and stiffness on wtilde and xi, expressed on the error coordinates.
TaskMat dampingMatrix(const ErrorMotion& m, const TaskVec& kv) {
  const TaskMat inner = m.ddt_dexp.transpose() + kv.asDiagonal() * m.dexp.transpose();
  return m.dexpinv.transpose() * inner;
}
TaskMat stiffnessMatrix(const ErrorMotion& m, const TaskVec& kp) {
  const TaskMat inner = kp.asDiagonal() * m.dexp.transpose();
  return m.dexpinv.transpose() * inner;
}
// Kf = dexpinv^T diag(kf) dexpinv.
TaskMat forceGainMatrix(const ErrorMotion& m, const TaskVec& kf) {
  const TaskMat inner = kf.asDiagonal() * m.dexpinv;
  return m.dexpinv.transpose() * inner;
}

}  // namespace

void RotationController::error(const Rotation& R, const Rotation& Rd, TaskVec& xi) const {
  // xi = log(R^T Rd)
  xi = R.icascade(Rd).expCoord();
}

void RotationController::error(const Rotation& R, const Vector3D& w, const Rotation& Rd,
                               const Vector3D& wd, TaskVec& xi, TaskVec& xidot) const {
  const ErrorRate e(R, w, Rd, wd);
  xi = e.xi;
  xidot = e.xidot;
}

void RotationController::refVelocity(const Rotation& R, const Rotation& Rd, const Vector3D& wd,
                                     TaskVec& wref) {
  TaskVec xi;
  refVelocity(R, Rd, wd, wref, xi);
}

void RotationController::refVelocity(const Rotation& R, const Rotation& Rd, const Vector3D& wd,
                                     TaskVec& wref, TaskVec& xi) {
  const ErrorRotation e(R, Rd);
  xi = e.xi;
  // xidot_ref = -kv o xi - kp o int(xi), with the integral as it stood before this call.
  const TaskVec xidot_ref = -_kv.cwiseProduct(e.xi) - _kp.cwiseProduct(_int_error);
  wref = velocityFromRate(e.Rtilde, e.dexp(), wd, xidot_ref);
  _integrateError(e.xi);
}

void RotationController::refAcceleration(const Rotation& R, const Vector3D& w, const Rotation& Rd,
                                         const Vector3D& wd, const Vector3D& wdotd, TaskVec& wref,
                                         TaskVec& wdotref) {
  TaskVec xi, xidot;
  refAcceleration(R, w, Rd, wd, wdotd, wref, wdotref, xi, xidot);
}

void RotationController::refAcceleration(const Rotation& R, const Vector3D& w, const Rotation& Rd,
                                         const Vector3D& wd, const Vector3D& wdotd, TaskVec& wref,
                                         TaskVec& wdotref, TaskVec& xi, TaskVec& xidot) {
  const ErrorMotion m(R, w, Rd, wd);
  xi = m.xi;
  xidot = m.xidot;
  const TaskVec xidot_ref = -_kv.cwiseProduct(m.xi) - _kp.cwiseProduct(_int_error);
  const Vector3D wref_ = velocityFromRate(m.Rtilde, m.dexp, wd, xidot_ref);
  // The time derivative of the velocity law, without the integral term:
  //   xiddot_ref = -kv o xidot - kp o xi.
  const TaskVec xiddot_ref = -_kv.cwiseProduct(m.xidot) - _kp.cwiseProduct(m.xi);
  wdotref = referenceAcceleration(_passivity_based, m, wd, wdotd, xidot_ref, xiddot_ref, wref_);
  wref = wref_;
  if (_passivity_based) _ref = passivityCorrection(m, _invL2sqr, xidot_ref);
  _integrateError(m.xi);
}

void RotationController::refImpedanceAcceleration(const Rotation& R, const Vector3D& w,
                                                  const Rotation& Rd, const Vector3D& wd,
                                                  const Vector3D& wdotd, const Vector3D& n,
                                                  const Vector3D& nd, TaskVec& wref,
                                                  TaskVec& wdotref) {
  TaskVec xi, xidot, eta;
  refImpedanceAcceleration(R, w, Rd, wd, wdotd, n, nd, wref, wdotref, xi, xidot, eta);
}

void RotationController::refImpedanceAcceleration(const Rotation& R, const Vector3D& w,
                                                  const Rotation& Rd, const Vector3D& wd,
                                                  const Vector3D& wdotd, const Vector3D& n,
                                                  const Vector3D& nd, TaskVec& wref,
                                                  TaskVec& wdotref, TaskVec& xi, TaskVec& xidot,
                                                  TaskVec& eta) {
  const ErrorMotion m(R, w, Rd, wd);
  const Vector3D eta_ = forceError(m, n, nd);
  xi = m.xi;
  xidot = m.xidot;
  eta = eta_;
  const TaskMat Kv = dampingMatrix(m, _kv);
  const TaskMat Kp = stiffnessMatrix(m, _kp);
  const TaskMat Kf = forceGainMatrix(m, _kf);
  // xidot_ref = -Kv xi - Kp int(xi) + Kf int(eta), with the integrals before this call;
  // xiddot_ref = -Kv xidot - Kp xi + Kf eta.
  const TaskVec xidot_ref = -Kv * m.xi - Kp * _int_error + Kf * _int_ef;
  const Vector3D wref_ = velocityFromRate(m.Rtilde, m.dexp, wd, xidot_ref);
  const TaskVec xiddot_ref = -Kv * m.xidot - Kp * m.xi + Kf * eta_;
  wdotref = referenceAcceleration(_passivity_based, m, wd, wdotd, xidot_ref, xiddot_ref, wref_);
  wref = wref_;
  _ref = -n;
  if (_passivity_based) _ref += passivityCorrection(m, _invL2sqr, xidot_ref);
  _integrateError(m.xi);
  _integrateForceError(eta_);
}

void RotationController::refComplianceForce(const Rotation& R, const Vector3D& w,
                                            const Rotation& Rd, const Vector3D& wd,
                                            const Vector3D& wdotd, const Vector3D& n,
                                            const Vector3D& nd, TaskVec& nref) {
  TaskVec xi, xidot, eta;
  refComplianceForce(R, w, Rd, wd, wdotd, n, nd, nref, xi, xidot, eta);
}

void RotationController::refComplianceForce(const Rotation& R, const Vector3D& w,
                                            const Rotation& Rd, const Vector3D& wd,
                                            const Vector3D& wdotd, const Vector3D& n,
                                            const Vector3D& nd, TaskVec& nref, TaskVec& xi,
                                            TaskVec& xidot, TaskVec& eta) {
  const ErrorMotion m(R, w, Rd, wd);
  const Vector3D eta_ = forceError(m, n, nd);
  xi = m.xi;
  xidot = m.xidot;
  eta = eta_;
  const TaskMat Kv = dampingMatrix(m, _kv);
  const TaskMat Kp = stiffnessMatrix(m, _kp);
  _stiffness = Kp;
  _damping = Kv;
  // xiddot_ref = eta - Kv xidot - Kp xi, reached with the measured rates in both modes.
  const TaskVec xiddot_ref = eta_ - Kv * m.xidot - Kp * m.xi;
  const Vector3D nref_ = accelerationFromRates(m, wdotd, xiddot_ref, m.xidot, m.Rtilde.irotate(w));
  nref = nref_;
  _ref = -n;
  _ref += nref_;
  if (_passivity_based) {
    // The velocity-level law of this mode adds the force integral unweighted:
    //   xidot_ref = int(eta) - Kv xi - Kp int(xi).
    const TaskVec xidot_ref = _int_ef - Kv * m.xi - Kp * _int_error;
    _ref += passivityCorrection(m, _invL2sqr, xidot_ref);
    _integrateError(m.xi);
    _integrateForceError(eta_);
  }
}

}  // namespace ZorvikFoundation
