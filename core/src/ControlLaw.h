// The laws of the task-space controllers, written once over an error geometry G (SO3Geometry or
// SE3Geometry, TaskGeometry.h). RotationController and HTransformController forward every
// operation here; the headers of the two classes state the laws in their own symbols.
//
// With tilde = x^-1 xd, lambda = log(tilde), M^* the group's transpose (TaskGeometry.h):
//   S1  tilde, lambda and the series coefficients of lambda's rotation part      (ErrorPose)
//   S3  Vtilde = vd - tilde^-1 v, the body velocity of tilde; lambdadot = dexpinv^* Vtilde
//                                                                                (ErrorRate)
//   S4  ddt_dexp, the derivative of dexp(lambda) along lambdadot                (ErrorMotion)
//   S5  the force error ftilde = fd - tilde^-1 f in error coordinates           (forceError)
// and the two maps back to the frame of x: a rate of the error coordinates to a velocity
// (velocityFromRate), a second rate to an acceleration (accelerationFromRates).
#ifndef ZORVIK_CORE_SRC_CONTROLLAW_H_
#define ZORVIK_CORE_SRC_CONTROLLAW_H_

#include "TaskGeometry.h"

namespace ZorvikFoundation {
namespace internal {

template <typename G>
struct ControlLaw {
  typedef typename G::Pose Pose;
  typedef typename G::Velocity Velocity;
  typedef typename G::Force Force;
  typedef typename G::Coordinates Coordinates;
  typedef typename G::Differential Differential;
  typedef typename G::TaskVec TaskVec;
  typedef typename G::TaskMat TaskMat;

  // S1: tilde = x^-1 xd, the desired pose seen from the measured one; lambda = log(tilde), with
  // the rotation angle in [0, pi]; alpha, beta, theta_sqr belong to lambda's rotation part.
  struct ErrorPose {
    ErrorPose(const Pose& x, const Pose& xd) : tilde(x.icascade(xd)) {
      G::log(tilde, lambda, alpha, beta, theta_sqr);
    }
    Differential dexpAt() const { return G::dexp(lambda, alpha, beta, theta_sqr); }

    Pose tilde;
    Coordinates lambda;
    double alpha, beta, theta_sqr;
  };

  // S3: the body velocity of tilde, Vtilde = vd - tilde^-1 v = dexp^* lambdadot, solved for the
  // rate of the error coordinates, lambdadot = dexpinv^* Vtilde.
  struct ErrorRate : ErrorPose {
    ErrorRate(const Pose& x, const Velocity& v, const Pose& xd, const Velocity& vd)
        : ErrorPose(x, xd) {
      dexpinv = G::dexpInv(this->lambda, this->alpha, this->beta, this->theta_sqr);
      Vtilde = vd - G::carryIn(this->tilde, v);
      lambdadot = G::starTimes(dexpinv, Vtilde);
    }

    Differential dexpinv;
    Velocity Vtilde;
    Coordinates lambdadot;
  };

  // S2 and S4 on top of S3: dexp and its time derivative along lambdadot, both used by every
  // acceleration-level operation.
  struct ErrorMotion : ErrorRate {
    ErrorMotion(const Pose& x, const Velocity& v, const Pose& xd, const Velocity& vd)
        : ErrorRate(x, v, xd, vd) {
      dexp = this->dexpAt();
      ddt_dexp = G::ddtDexp(this->lambda, this->lambdadot, this->alpha, this->beta,
                            this->theta_sqr);
    }

    Differential dexp;
    Differential ddt_dexp;
  };

  // S5: the force error in the frame of xd, ftilde = fd - tilde^-1 f, in error coordinates; the map
  // is where the two groups differ on purpose (forceCoordinates, TaskGeometry.h).
  static Force forceError(const ErrorMotion& m, const Force& f, const Force& fd) {
    const Force ftilde = fd - G::carryIn(m.tilde, f);
    return forceCoordinates(m.dexp, ftilde);
  }

  // The velocity of x that makes the error coordinates move with rate_ref:
  //   vd - tilde^-1 vref = dexp^* rate_ref   =>   vref = tilde (vd - dexp^* rate_ref).
  static Velocity velocityFromRate(const Pose& tilde, const Differential& dexp, const Velocity& vd,
                                   const TaskVec& rate_ref) {
    const Velocity Vtilde_ref = vd - G::starTimes(dexp, rate_ref);
    return G::carryOut(tilde, Vtilde_ref);
  }

  // The acceleration of x that makes the error coordinates accelerate with acc_ref. From
  // d/dt Vtilde = vdotd + [Vtilde, tilde^-1 v] - tilde^-1 vdot and
  // d/dt Vtilde = dexp^* lambdaddot + ddt_dexp^* lambdadot:
  //   vdot = tilde (vdotd - dexp^* acc_ref - ddt_dexp^* rate + [Vtilde, carried]),
  // where `rate` is the error rate that differentiates dexp^* and `carried` the velocity of x
  // carried into the error frame (tilde^-1 v, or vd, its equal up to [Vtilde, Vtilde] = 0).
  static Velocity accelerationFromRates(const ErrorMotion& m, const Velocity& vdotd,
                                        const TaskVec& acc_ref, const TaskVec& rate,
                                        const Velocity& carried) {
    const Velocity a = vdotd - G::starTimes(m.dexp, acc_ref) - G::starTimes(m.ddt_dexp, rate) +
                       G::bracket(m.Vtilde, carried);
    return G::carryOut(m.tilde, a);
  }

  // The acceleration reference of refAcceleration and refImpedanceAcceleration.
  //   plain:            the measured rate lambdadot and [Vtilde, vd], so that the error
  //                     coordinates accelerate with acc_ref;
  //   passivity-based:  the reference rate and [Vtilde, tilde^-1 vref], the reference velocity
  //                     carried into the error frame as the measured one is in S3, which makes the
  //                     result the time derivative of vref.
  static Velocity referenceAcceleration(bool passivity_based, const ErrorMotion& m,
                                        const Velocity& vd, const Velocity& vdotd,
                                        const TaskVec& rate_ref, const TaskVec& acc_ref,
                                        const Velocity& vref) {
    if (passivity_based)
      return accelerationFromRates(m, vdotd, acc_ref, rate_ref, G::carryIn(m.tilde, vref));
    return accelerationFromRates(m, vdotd, acc_ref, m.lambdadot, vd);
  }

  // Passivity-based correction: the rate mismatch weighted per axis and carried to the frame of x,
  //   tilde dexp^* (invL2sqr o (lambdadot - rate_ref)).
  // dexp^* (lambdadot - rate_ref) = Vtilde - Vtilde_ref = -tilde^-1 (v - vref), so with equal
  // weights c it is -c (v - vref).
  static Velocity passivityCorrection(const ErrorMotion& m, const TaskVec& invL2sqr,
                                      const TaskVec& rate_ref) {
    const TaskVec weighted = invL2sqr.cwiseProduct(m.lambdadot - rate_ref);
    return G::carryOut(m.tilde, G::starTimes(m.dexp, weighted));
  }

  // Kv = dexpinv^* (ddt_dexp^* + diag(kv) dexp^*) and Kp = dexpinv^* diag(kp) dexp^*: the per-axis
  // damping and stiffness on Vtilde and lambda expressed on the error coordinates, for which
  // dexp^* (lambdaddot + Kv lambdadot + Kp lambda) = d/dt Vtilde + kv o Vtilde + kp o lambda.
  static TaskMat dampingMatrix(const ErrorMotion& m, const TaskVec& kv) {
    const TaskMat inner = G::star(m.ddt_dexp) + kv.asDiagonal() * G::star(m.dexp);
    return G::product(G::star(m.dexpinv), inner);
  }
  static TaskMat stiffnessMatrix(const ErrorMotion& m, const TaskVec& kp) {
    const TaskMat inner = kp.asDiagonal() * G::star(m.dexp);
    return G::product(G::star(m.dexpinv), inner);
  }

  // -Kv a - Kp b + Kf c with the gains of controller c and the symmetric
  // Kf = dexpinv^* diag(kf) (dexpinv^*)^T, as matrix-vector products without forming Kv, Kp or Kf
  // (the same sums in another order):
  //   dexpinv^* (-(ddt_dexp^* a + kv o dexp^* a) - kp o dexp^* b + kf o (dexpinv^*)^T c).
  template <typename C>
  static TaskVec impedanceRate(const C& c, const ErrorMotion& m, const TaskVec& a,
                               const TaskVec& b, const TaskVec& cc) {
    const TaskVec dexp_a = G::starTimes(m.dexp, a), dexp_b = G::starTimes(m.dexp, b);
    const TaskVec inner = -(G::starTimes(m.ddt_dexp, a) + c._kv.cwiseProduct(dexp_a)) -
                          c._kp.cwiseProduct(dexp_b) +
                          c._kf.cwiseProduct(G::starTransposeTimes(m.dexpinv, cc));
    return G::starTimes(m.dexpinv, inner);
  }

  // The state of the force laws: the error motion and the force error ef in error coordinates
  // (S5).
  struct ForceMotion : ErrorMotion {
    ForceMotion(const Pose& x, const Velocity& v, const Pose& xd, const Velocity& vd,
                const Force& f, const Force& fd)
        : ErrorMotion(x, v, xd, vd), ef(forceError(*this, f, fd)) {}
    void outputs(TaskVec& e, TaskVec& edot, TaskVec& ef_out) const {
      e = this->lambda;
      edot = this->lambdadot;
      ef_out = ef;
    }

    Force ef;
  };

  // The operations. C is the controller, whose gains and state (Controller's members) the laws
  // read and advance; the outputs e, edot, ef are the error coordinates, their rate and the force
  // error in error coordinates.

  static void error(const Pose& x, const Pose& xd, TaskVec& e) { e = x.icascade(xd).expCoord(); }

  static void error(const Pose& x, const Velocity& v, const Pose& xd, const Velocity& vd,
                    TaskVec& e, TaskVec& edot) {
    const ErrorRate r(x, v, xd, vd);
    e = r.lambda;
    edot = r.lambdadot;
  }

  // rate_ref = -kv o lambda - kp o int(lambda), with the integral as it stood before this call;
  // then int(lambda) += dT lambda.
  template <typename C>
  static void refVelocity(C& c, const Pose& x, const Pose& xd, const Velocity& vd, TaskVec& vref,
                          TaskVec& e) {
    const ErrorPose p(x, xd);
    e = p.lambda;
    const TaskVec rate_ref = -c._kv.cwiseProduct(p.lambda) - c._kp.cwiseProduct(c._int_error);
    vref = velocityFromRate(p.tilde, p.dexpAt(), vd, rate_ref);
    c._integrateError(p.lambda);
  }

  // vref as refVelocity, and the acceleration for the time derivative of its law without the
  // integral term, acc_ref = -kv o lambdadot - kp o lambda; in the passivity-based mode also
  // _ref = the passivity correction. Then int(lambda) += dT lambda.
  template <typename C>
  static void refAcceleration(C& c, const Pose& x, const Velocity& v, const Pose& xd,
                              const Velocity& vd, const Velocity& vdotd, TaskVec& vref,
                              TaskVec& aref, TaskVec& e, TaskVec& edot) {
    const ErrorMotion m(x, v, xd, vd);
    e = m.lambda;
    edot = m.lambdadot;
    const TaskVec rate_ref = -c._kv.cwiseProduct(m.lambda) - c._kp.cwiseProduct(c._int_error);
    const Velocity vref_ = velocityFromRate(m.tilde, m.dexp, vd, rate_ref);
    const TaskVec acc_ref = -c._kv.cwiseProduct(m.lambdadot) - c._kp.cwiseProduct(m.lambda);
    aref = referenceAcceleration(c._passivity_based, m, vd, vdotd, rate_ref, acc_ref, vref_);
    vref = vref_;
    if (c._passivity_based) c._ref = passivityCorrection(m, c._invL2sqr, rate_ref);
    c._integrateError(m.lambda);
  }

  // The impedance law: rate_ref = -Kv lambda - Kp int(lambda) + Kf int(ef) (integrals before this
  // call), acc_ref = -Kv lambdadot - Kp lambda + Kf ef, mapped as in refAcceleration;
  // _ref = -f, plus the passivity correction in that mode. Then both integrals advance.
  template <typename C>
  static void refImpedanceAcceleration(C& c, const Pose& x, const Velocity& v, const Pose& xd,
                                       const Velocity& vd, const Velocity& vdotd, const Force& f,
                                       const Force& fd, TaskVec& vref, TaskVec& aref, TaskVec& e,
                                       TaskVec& edot, TaskVec& ef) {
    const ForceMotion m(x, v, xd, vd, f, fd);
    m.outputs(e, edot, ef);
    const TaskVec rate_ref = impedanceRate(c, m, m.lambda, c._int_error, c._int_ef);
    const Velocity vref_ = velocityFromRate(m.tilde, m.dexp, vd, rate_ref);
    const TaskVec acc_ref = impedanceRate(c, m, m.lambdadot, m.lambda, m.ef);
    aref = referenceAcceleration(c._passivity_based, m, vd, vdotd, rate_ref, acc_ref, vref_);
    vref = vref_;
    c._ref = -f;
    if (c._passivity_based) c._ref += passivityCorrection(m, c._invL2sqr, rate_ref);
    c._integrateError(m.lambda);
    c._integrateForceError(m.ef);
  }

  // The compliance law: with acc_ref = ef - Kv lambdadot - Kp lambda, reached with the measured
  // rates in both modes (the measured velocity carried into the error frame as in S3),
  //   fref = tilde (vdotd - dexp^* acc_ref - ddt_dexp^* lambdadot + [Vtilde, tilde^-1 v]);
  // _stiffness = Kp, _damping = Kv, _ref = fref - f. In the passivity-based mode only, _ref gains
  // the correction with rate_ref = int(ef) - Kv lambda - Kp int(lambda) (the force integral
  // unweighted), and then both integrals advance.
  template <typename C>
  static void refComplianceForce(C& c, const Pose& x, const Velocity& v, const Pose& xd,
                                 const Velocity& vd, const Velocity& vdotd, const Force& f,
                                 const Force& fd, TaskVec& fref, TaskVec& e, TaskVec& edot,
                                 TaskVec& ef) {
    const ForceMotion m(x, v, xd, vd, f, fd);
    m.outputs(e, edot, ef);
    const TaskMat Kv = dampingMatrix(m, c._kv), Kp = stiffnessMatrix(m, c._kp);
    c._stiffness = Kp;
    c._damping = Kv;
    const TaskVec acc_ref = m.ef - Kv * m.lambdadot - Kp * m.lambda;
    const Velocity fref_ =
        accelerationFromRates(m, vdotd, acc_ref, m.lambdadot, G::carryIn(m.tilde, v));
    fref = fref_;
    c._ref = -f;
    c._ref += fref_;
    if (c._passivity_based) {
      const TaskVec rate_ref = c._int_ef - Kv * m.lambda - Kp * c._int_error;
      c._ref += passivityCorrection(m, c._invL2sqr, rate_ref);
      c._integrateError(m.lambda);
      c._integrateForceError(m.ef);
    }
  }

  // The short forms: the leading outputs of the long forms, with the same state changes.
  template <typename C>
  static void refVelocity(C& c, const Pose& x, const Pose& xd, const Velocity& vd, TaskVec& vref) {
    TaskVec e;
    refVelocity(c, x, xd, vd, vref, e);
  }
  template <typename C>
  static void refAcceleration(C& c, const Pose& x, const Velocity& v, const Pose& xd,
                              const Velocity& vd, const Velocity& vdotd, TaskVec& vref,
                              TaskVec& aref) {
    TaskVec e, edot;
    refAcceleration(c, x, v, xd, vd, vdotd, vref, aref, e, edot);
  }
  template <typename C>
  static void refImpedanceAcceleration(C& c, const Pose& x, const Velocity& v, const Pose& xd,
                                       const Velocity& vd, const Velocity& vdotd, const Force& f,
                                       const Force& fd, TaskVec& vref, TaskVec& aref) {
    TaskVec e, edot, ef;
    refImpedanceAcceleration(c, x, v, xd, vd, vdotd, f, fd, vref, aref, e, edot, ef);
  }
  template <typename C>
  static void refComplianceForce(C& c, const Pose& x, const Velocity& v, const Pose& xd,
                                 const Velocity& vd, const Velocity& vdotd, const Force& f,
                                 const Force& fd, TaskVec& fref) {
    TaskVec e, edot, ef;
    refComplianceForce(c, x, v, xd, vd, vdotd, f, fd, fref, e, edot, ef);
  }
};

}  // namespace internal
}  // namespace ZorvikFoundation

#endif  // ZORVIK_CORE_SRC_CONTROLLAW_H_
