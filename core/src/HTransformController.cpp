// Compiled members of HTransformController and the instantiation of its base.
//
// The passes over the error pose, written once below:
//   S1  Ttilde = T^-1 Td, lambda = log(Ttilde), and the series coefficients of its rotation part
//   S3  Vtilde = Vd - Ad(Ttilde^-1) V, lambdadot = dexpinv^b Vtilde
//   S4  ddt_dexp, the derivative of dexp(lambda) along lambdadot
//   S5  Ftilde = Fd - Ad(Ttilde)^T F, gamma = Ftilde.upperBlockTriRelocatedMult(dexp)
// and the two maps back to the frame of T, of a rate of the error coordinates to a twist and of a
// second rate to a twist acceleration. Every product with dexp, dexpinv and ddt_dexp goes through
// upperBlockTriTransposedMult (M^b x) or upperBlockTriRelocatedMult, which use the block-triangular
// form; no 6x6 adjoint is formed.
#include "Controller/HTransformController"

namespace ZorvikFoundation {

template class Controller<6, HTransformController, LieGroup::HTransform, LieGroup::Twist,
                          LieGroup::Twist, LieGroup::Wrench>;

namespace {

typedef Eigen::Matrix3d Matrix3d;
typedef HTransformController::TaskVec TaskVec;
typedef HTransformController::TaskMat TaskMat;
using LieGroup::HTransform;
using LieGroup::Twist;
using LieGroup::Wrench;

// S1 and the coefficients: Ttilde = T^-1 Td is the desired pose seen from the measured one,
// lambda = log(Ttilde) = (eta, xi); alpha, beta, theta_sqr belong to the rotation part xi.
struct ErrorTransform {
  ErrorTransform(const HTransform& T, const HTransform& Td) : Ttilde(T.icascade(Td)) {
    lambda = Ttilde.expCoord();
    lambda.compute_terms(&alpha, &beta, &theta_sqr);
  }
  Matrix6d dexp() const { return lambda.dexp(alpha, beta, theta_sqr); }

  HTransform Ttilde;
  Twist lambda;
  double alpha, beta, theta_sqr;
};

// S3: the body twist of Ttilde, Vtilde = Vd - Ad(Ttilde^-1) V = dexp^b lambdadot, solved for the
// rate of the error coordinates, lambdadot = dexpinv^b Vtilde.
struct ErrorRate : ErrorTransform {
  ErrorRate(const HTransform& T, const Twist& V, const HTransform& Td, const Twist& Vd)
      : ErrorTransform(T, Td) {
    dexpinv = lambda.dexp_inv(alpha, beta, theta_sqr);
    Vtilde = Vd - Ttilde.itransform(V);
    lambdadot = Vtilde.upperBlockTriTransposedMult(dexpinv);
  }

  Matrix6d dexpinv;
  Twist Vtilde;
  Twist lambdadot;
};

// S2 and S4 on top of S3: dexp and its time derivative along lambdadot. With lambda = (eta, xi)
// and lambdadot = (etadot, xidot), ddt_dexp takes the dot products xi.eta, xi.xidot, xi.etadot and
// xidot.eta.
struct ErrorMotion : ErrorRate {
  ErrorMotion(const HTransform& T, const Twist& V, const HTransform& Td, const Twist& Vd)
      : ErrorRate(T, V, Td, Vd) {
    dexp = ErrorTransform::dexp();
    const double xi_eta = lambda.w().dot(lambda.v());
    const double xi_xidot = lambda.w().dot(lambdadot.w());
    const double xi_etadot = lambda.w().dot(lambdadot.v());
    const double xidot_eta = lambdadot.w().dot(lambda.v());
    ddt_dexp = lambda.ddt_dexp(alpha, beta, theta_sqr, xi_eta, xi_xidot, xi_etadot, xidot_eta,
                               lambdadot);
  }

  Matrix6d dexp;
  Matrix6d ddt_dexp;
};

// S5: the wrench error in the frame of Td, Ftilde = Fd - Ad(Ttilde)^T F, in error coordinates
// gamma = (A f, C f + D n) for dexp = [[A, B], [C, D]], which is (J f, J n) on the SE(3) dexp.
Wrench forceError(const ErrorMotion& m, const Wrench& F, const Wrench& Fd) {
  const Wrench Ftilde = Fd - m.Ttilde.itransform(F);
  return Ftilde.upperBlockTriRelocatedMult(m.dexp);
}

// The body twist of T that makes the error coordinates move with lambdadot_ref:
//   Vd - Ad(Ttilde^-1) Vref = dexp^b lambdadot_ref
//     =>  Vref = Ad(Ttilde) (Vd - dexp^b lambdadot_ref).
Twist velocityFromRate(const HTransform& Ttilde, const Matrix6d& dexp, const Twist& Vd,
                       const TaskVec& lambdadot_ref) {
  const Twist Vtilde_ref = Vd - Twist(lambdadot_ref).upperBlockTriTransposedMult(dexp);
  return Ttilde.transform(Vtilde_ref);
}

// The twist acceleration of T that makes the error coordinates accelerate with lambdaddot_ref.
// From d/dt Vtilde = Vdotd + ad(Vtilde) Ad(Ttilde^-1) V - Ad(Ttilde^-1) Vdot and
// d/dt Vtilde = dexp^b lambdaddot + ddt_dexp^b lambdadot:
//   Vdot = Ad(Ttilde) (Vdotd - dexp^b lambdaddot_ref - ddt_dexp^b rate + ad(Vtilde) carried),
// where `rate` is the error rate that differentiates dexp^b and `carried` is the body twist of T
// carried into the frame of Td (Ad(Ttilde^-1) V, or Vd, its equal up to ad(Vtilde) Vtilde = 0).
Twist accelerationFromRates(const ErrorMotion& m, const Twist& Vdotd,
                            const TaskVec& lambdaddot_ref, const TaskVec& rate,
                            const Twist& carried) {
  const Twist a = Vdotd - Twist(lambdaddot_ref).upperBlockTriTransposedMult(m.dexp) -
                  Twist(rate).upperBlockTriTransposedMult(m.ddt_dexp) + m.Vtilde.adjoint(carried);
  return m.Ttilde.transform(a);
}

// The acceleration reference of refAcceleration and refImpedanceAcceleration.
//   plain:            the measured rate lambdadot and ad(Vtilde) Vd, so that the error
//                     coordinates accelerate with lambdaddot_ref;
//   passivity-based:  the reference rate lambdadot_ref and ad(Vtilde) Ad(Ttilde^-1) Vref, the
//                     reference twist carried into the error frame as the measured one is in S3;
//                     the result is the time derivative of Vref.
Twist referenceAcceleration(bool passivity_based, const ErrorMotion& m, const Twist& Vd,
                            const Twist& Vdotd, const TaskVec& lambdadot_ref,
                            const TaskVec& lambdaddot_ref, const Twist& Vref) {
  if (passivity_based)
    return accelerationFromRates(m, Vdotd, lambdaddot_ref, lambdadot_ref,
                                 m.Ttilde.itransform(Vref));
  return accelerationFromRates(m, Vdotd, lambdaddot_ref, m.lambdadot, Vd);
}

// Passivity-based correction: Ad(Ttilde) dexp^b (invL2sqr o (lambdadot - lambdadot_ref)).
// dexp^b (lambdadot - lambdadot_ref) = Vtilde - Vtilde_ref = -Ad(Ttilde^-1) (V - Vref), so with
// equal weights c it is -c (V - Vref).
Twist passivityCorrection(const ErrorMotion& m, const TaskVec& invL2sqr,
                          const TaskVec& lambdadot_ref) {
  const Twist weighted(invL2sqr.cwiseProduct(m.lambdadot - lambdadot_ref));
  return m.Ttilde.transform(weighted.upperBlockTriTransposedMult(m.dexp));
}

// M^b for an upper block-triangular M = [[A, B], [0, D]]: [[A^T, B^T], [0, D^T]].
Matrix6d blockTransposed(const Matrix6d& M) {
  Matrix6d res;
  res << M.topLeftCorner<3, 3>().transpose(), M.topRightCorner<3, 3>().transpose(),
      Matrix3d::Zero(), M.bottomRightCorner<3, 3>().transpose();
  return res;
}

// P Q for upper block-triangular P, Q, from 3x3 blocks:
//   [[P11 Q11, P11 Q12 + P12 Q22], [0, P22 Q22]].
Matrix6d upperBlockTriProduct(const Matrix6d& P, const Matrix6d& Q) {
  Matrix6d res;
  res.topLeftCorner<3, 3>().noalias() = P.topLeftCorner<3, 3>() * Q.topLeftCorner<3, 3>();
  res.topRightCorner<3, 3>().noalias() = P.topLeftCorner<3, 3>() * Q.topRightCorner<3, 3>();
  res.topRightCorner<3, 3>().noalias() += P.topRightCorner<3, 3>() * Q.bottomRightCorner<3, 3>();
  res.bottomLeftCorner<3, 3>().setZero();
  res.bottomRightCorner<3, 3>().noalias() =
      P.bottomRightCorner<3, 3>() * Q.bottomRightCorner<3, 3>();
  return res;
}

// Kv = dexpinv^b (ddt_dexp^b + diag(kv) dexp^b) and Kp = dexpinv^b diag(kp) dexp^b, both upper
// block-triangular (a diagonal scaling of rows keeps the lower-left block zero).
TaskMat dampingMatrix(const ErrorMotion& m, const TaskVec& kv) {
  const Matrix6d inner = blockTransposed(m.ddt_dexp) + kv.asDiagonal() * blockTransposed(m.dexp);
  return upperBlockTriProduct(blockTransposed(m.dexpinv), inner);
}
TaskMat stiffnessMatrix(const ErrorMotion& m, const TaskVec& kp) {
  const Matrix6d inner = kp.asDiagonal() * blockTransposed(m.dexp);
  return upperBlockTriProduct(blockTransposed(m.dexpinv), inner);
}

// Kf = dexpinv^b diag(kf) (dexpinv^b)^T, symmetric. With dexpinv = [[A', B'], [0, A']] and
// kf = (k1, k2):
//   [[A'^T k1 A' + B'^T k2 B', B'^T k2 A'], [A'^T k2 B', A'^T k2 A']].
TaskMat forceGainMatrix(const ErrorMotion& m, const TaskVec& kf) {
  const Matrix3d A = m.dexpinv.topLeftCorner<3, 3>();
  const Matrix3d B = m.dexpinv.topRightCorner<3, 3>();
  const Matrix3d k1A = kf.head<3>().asDiagonal() * A;
  const Matrix3d k2A = kf.tail<3>().asDiagonal() * A;
  const Matrix3d k2B = kf.tail<3>().asDiagonal() * B;
  TaskMat Kf;
  Kf.topLeftCorner<3, 3>().noalias() = A.transpose() * k1A;
  Kf.topLeftCorner<3, 3>().noalias() += B.transpose() * k2B;
  Kf.topRightCorner<3, 3>().noalias() = B.transpose() * k2A;
  Kf.bottomLeftCorner<3, 3>().noalias() = A.transpose() * k2B;
  Kf.bottomRightCorner<3, 3>().noalias() = A.transpose() * k2A;
  return Kf;
}

}  // namespace

void HTransformController::error(const HTransform& T, const HTransform& Td,
                                 TaskVec& lambda) const {
  // lambda = log(T^-1 Td)
  lambda = T.icascade(Td).expCoord();
}

void HTransformController::error(const HTransform& T, const Twist& V, const HTransform& Td,
                                 const Twist& Vd, TaskVec& lambda, TaskVec& lambdadot) const {
  const ErrorRate e(T, V, Td, Vd);
  lambda = e.lambda;
  lambdadot = e.lambdadot;
}

void HTransformController::refVelocity(const HTransform& T, const HTransform& Td, const Twist& Vd,
                                       TaskVec& Vref) {
  TaskVec lambda;
  refVelocity(T, Td, Vd, Vref, lambda);
}

void HTransformController::refVelocity(const HTransform& T, const HTransform& Td, const Twist& Vd,
                                       TaskVec& Vref, TaskVec& lambda) {
  const ErrorTransform e(T, Td);
  lambda = e.lambda;
  // lambdadot_ref = -kv o lambda - kp o int(lambda), with the integral before this call.
  const TaskVec lambdadot_ref = -_kv.cwiseProduct(e.lambda) - _kp.cwiseProduct(_int_error);
  Vref = velocityFromRate(e.Ttilde, e.dexp(), Vd, lambdadot_ref);
  _integrateError(e.lambda);
}

void HTransformController::refAcceleration(const HTransform& T, const Twist& V,
                                           const HTransform& Td, const Twist& Vd,
                                           const Twist& Vdotd, TaskVec& Vref, TaskVec& Vdotref) {
  TaskVec lambda, lambdadot;
  refAcceleration(T, V, Td, Vd, Vdotd, Vref, Vdotref, lambda, lambdadot);
}

void HTransformController::refAcceleration(const HTransform& T, const Twist& V,
                                           const HTransform& Td, const Twist& Vd,
                                           const Twist& Vdotd, TaskVec& Vref, TaskVec& Vdotref,
                                           TaskVec& lambda, TaskVec& lambdadot) {
  const ErrorMotion m(T, V, Td, Vd);
  lambda = m.lambda;
  lambdadot = m.lambdadot;
  const TaskVec lambdadot_ref = -_kv.cwiseProduct(m.lambda) - _kp.cwiseProduct(_int_error);
  const Twist Vref_ = velocityFromRate(m.Ttilde, m.dexp, Vd, lambdadot_ref);
  // The time derivative of the velocity law, without the integral term:
  //   lambdaddot_ref = -kv o lambdadot - kp o lambda.
  const TaskVec lambdaddot_ref = -_kv.cwiseProduct(m.lambdadot) - _kp.cwiseProduct(m.lambda);
  Vdotref =
      referenceAcceleration(_passivity_based, m, Vd, Vdotd, lambdadot_ref, lambdaddot_ref, Vref_);
  Vref = Vref_;
  if (_passivity_based) _ref = passivityCorrection(m, _invL2sqr, lambdadot_ref);
  _integrateError(m.lambda);
}

void HTransformController::refImpedanceAcceleration(const HTransform& T, const Twist& V,
                                                    const HTransform& Td, const Twist& Vd,
                                                    const Twist& Vdotd, const Wrench& F,
                                                    const Wrench& Fd, TaskVec& Vref,
                                                    TaskVec& Vdotref) {
  TaskVec lambda, lambdadot, gamma;
  refImpedanceAcceleration(T, V, Td, Vd, Vdotd, F, Fd, Vref, Vdotref, lambda, lambdadot, gamma);
}

void HTransformController::refImpedanceAcceleration(const HTransform& T, const Twist& V,
                                                    const HTransform& Td, const Twist& Vd,
                                                    const Twist& Vdotd, const Wrench& F,
                                                    const Wrench& Fd, TaskVec& Vref,
                                                    TaskVec& Vdotref, TaskVec& lambda,
                                                    TaskVec& lambdadot, TaskVec& gamma) {
  const ErrorMotion m(T, V, Td, Vd);
  const Wrench gamma_ = forceError(m, F, Fd);
  lambda = m.lambda;
  lambdadot = m.lambdadot;
  gamma = gamma_;
  const TaskMat Kv = dampingMatrix(m, _kv);
  const TaskMat Kp = stiffnessMatrix(m, _kp);
  const TaskMat Kf = forceGainMatrix(m, _kf);
  // lambdadot_ref = -Kv lambda - Kp int(lambda) + Kf int(gamma), integrals before this call;
  // lambdaddot_ref = -Kv lambdadot - Kp lambda + Kf gamma.
  const TaskVec lambdadot_ref = -Kv * m.lambda - Kp * _int_error + Kf * _int_ef;
  const Twist Vref_ = velocityFromRate(m.Ttilde, m.dexp, Vd, lambdadot_ref);
  const TaskVec lambdaddot_ref = -Kv * m.lambdadot - Kp * m.lambda + Kf * gamma_;
  Vdotref =
      referenceAcceleration(_passivity_based, m, Vd, Vdotd, lambdadot_ref, lambdaddot_ref, Vref_);
  Vref = Vref_;
  _ref = -F;
  if (_passivity_based) _ref += passivityCorrection(m, _invL2sqr, lambdadot_ref);
  _integrateError(m.lambda);
  _integrateForceError(gamma_);
}

void HTransformController::refComplianceForce(const HTransform& T, const Twist& V,
                                              const HTransform& Td, const Twist& Vd,
                                              const Twist& Vdotd, const Wrench& F,
                                              const Wrench& Fd, TaskVec& Fref) {
  TaskVec lambda, lambdadot, gamma;
  refComplianceForce(T, V, Td, Vd, Vdotd, F, Fd, Fref, lambda, lambdadot, gamma);
}

void HTransformController::refComplianceForce(const HTransform& T, const Twist& V,
                                              const HTransform& Td, const Twist& Vd,
                                              const Twist& Vdotd, const Wrench& F,
                                              const Wrench& Fd, TaskVec& Fref, TaskVec& lambda,
                                              TaskVec& lambdadot, TaskVec& gamma) {
  const ErrorMotion m(T, V, Td, Vd);
  const Wrench gamma_ = forceError(m, F, Fd);
  lambda = m.lambda;
  lambdadot = m.lambdadot;
  gamma = gamma_;
  const TaskMat Kv = dampingMatrix(m, _kv);
  const TaskMat Kp = stiffnessMatrix(m, _kp);
  _stiffness = Kp;
  _damping = Kv;
  // lambdaddot_ref = gamma - Kv lambdadot - Kp lambda, reached with the measured rates in both
  // modes; the measured twist is carried into the error frame as in S3.
  const TaskVec lambdaddot_ref = gamma_ - Kv * m.lambdadot - Kp * m.lambda;
  const Twist Fref_ =
      accelerationFromRates(m, Vdotd, lambdaddot_ref, m.lambdadot, m.Ttilde.itransform(V));
  Fref = Fref_;
  _ref = -F;
  _ref += Fref_;
  if (_passivity_based) {
    // The velocity-level law of this mode adds the force integral unweighted:
    //   lambdadot_ref = int(gamma) - Kv lambda - Kp int(lambda).
    const TaskVec lambdadot_ref = _int_ef - Kv * m.lambda - Kp * _int_error;
    _ref += passivityCorrection(m, _invL2sqr, lambdadot_ref);
    _integrateError(m.lambda);
    _integrateForceError(gamma_);
  }
}

}  // namespace ZorvikFoundation
