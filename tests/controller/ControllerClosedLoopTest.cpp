// Closed loops on SO(3) and SE(3): a rigid body whose velocity or acceleration follows a
// controller's reference, integrated with Runge-Kutta on the group, from an error whose rotation is
// close to a half turn. Each law must produce the error dynamics it is designed for, with the rates
// set by the gains; the force laws must settle where the law, solved at rest, puts them.
//
// Within a step the controller is evaluated at every Runge-Kutta stage, but only the call at the
// start of the step may advance its integrals: the other stages use a copy of the controller as it
// was at the start of the step. This is the sampled-data loop a client runs, with the body's motion
// between samples resolved exactly.
#include "ControllerTestSupport.h"

namespace zorvik_test::controller_test::closed_loop_test {

const double kDt = 1e-3;

// The desired body moves with constant body velocity vd from Xd0; the measured one starts at X0,
// with an error pose X0^-1 Xd0 whose rotation angle is `angle`.
template <class G>
struct Scenario {
  Scenario(Rng& g, double angle, double speed) {
    Xd0 = G::randomPose(g, 2.0);
    vd = G::randomVec(g, speed);
    X0 = G::compose(Xd0, G::inverse(G::randomPose(g, angle)));
  }
  typename G::Pos Xd(double t) const { return G::compose(Xd0, G::exp(t * vd)); }
  typename G::Vec error(const typename G::Pos& X, double t) const {
    typename G::Vec e;
    typename G::Ctrl().error(X, Xd(t), e);
    return e;
  }
  // The body velocity of X0 at which the error pose does not move.
  typename G::Vec matchedVelocity() const {
    return G::velToParent(G::compose(G::inverse(X0), Xd0), vd);
  }

  typename G::Pos Xd0, X0;
  typename G::Vec vd;
};

template <class G>
typename G::Vec exponential(const typename G::Vec& k, double t) {
  return (-k * t).array().exp().matrix();
}

template <class G>
class ControllerClosedLoop : public ::testing::Test {};
TYPED_TEST_SUITE(ControllerClosedLoop, Groups, GroupNames);

// With the body moving at the reference velocity, e' = -kv o e - kp o I_k between samples, with
// the integral I_k frozen at its sampled value; per axis, over one step,
//   e_{k+1} = a e_k - kp I_k (1 - a)/kv,  a = exp(-kv dt),  I_{k+1} = I_k + dt e_k,
// which for kp = 0 is e(t) = exp(-kv t) e(0).
TYPED_TEST(ControllerClosedLoop, VelocityReferenceDrivesEachErrorCoordinateAtItsGain) {
  typedef TypeParam G;
  typedef typename G::Vec Vec;
  for (const double kp_ratio : {0.0, 0.2}) {
    SCOPED_TRACE(::testing::Message() << "kp/kv^2 = " << kp_ratio);
    Rng g(30);
    const Scenario<G> sc(g, 3.1, 0.5);
    const Vec kv = Vec::LinSpaced(1.0, 2.5), kp = kp_ratio * kv.cwiseAbs2();
    typename G::Ctrl c, scratch;
    c.setVelGain(kv);
    c.setPosGain(kp);
    c.setPeriod(kDt);
    typename G::Pos X = sc.X0;
    Vec e = sc.error(X, 0), I = Vec::Zero();
    const Vec a = exponential<G>(kv, kDt);
    for (int k = 0; k < 4000; ++k) {
      const double t = k * kDt;
      if (k % 500 == 0) {
        EXPECT_MATRIX_CLOSE(sc.error(X, t), e, 1e-9) << "t = " << t;
      }
      const typename G::Ctrl frozen = c;
      rk4Step<G>(X, kDt, [&](const typename G::Pos& Xs, double tau) {
        typename G::Ctrl& cs = tau == 0 ? c : (scratch = frozen);
        Vec vref;
        cs.refVelocity(Xs, sc.Xd(t + tau), sc.vd, vref);
        return vref;
      });
      const Vec e_next =
          a.cwiseProduct(e) - kp.cwiseProduct(I).cwiseProduct(Vec::Ones() - a).cwiseQuotient(kv);
      I += kDt * e;
      e = e_next;
    }
  }
}

// With the body accelerating at the plain reference, e'' + kv o e' + kp o e = 0 per axis. Started
// with e'(0) = 0 and kv^2 > 4 kp, each coordinate is e(0) (r2 exp(r1 t) - r1 exp(r2 t))/(r2 - r1)
// with r1, r2 the roots of r^2 + kv r + kp.
TYPED_TEST(ControllerClosedLoop, AccelerationReferenceGivesTheSecondOrderResponseOfTheGains) {
  typedef TypeParam G;
  typedef typename G::Vec Vec;
  Rng g(31);
  const Scenario<G> sc(g, 3.1, 0.5);
  const Vec kv = Vec::LinSpaced(3.0, 5.0), kp = 0.2 * kv.cwiseAbs2();
  const Vec root = (kv.cwiseAbs2() - 4 * kp).cwiseSqrt();
  const Vec r1 = 0.5 * (-kv - root), r2 = 0.5 * (-kv + root);
  typename G::Ctrl c, scratch;
  c.setVelGain(kv);
  c.setPosGain(kp);
  c.setPeriod(kDt);
  typename G::Pos X = sc.X0;
  Vec v = sc.matchedVelocity();
  const Vec e0 = sc.error(X, 0);
  for (int k = 0; k <= 3000; ++k) {
    const double t = k * kDt;
    if (k % 500 == 0) {
      const Vec shape = (r2.cwiseProduct(exponential<G>(-r1, t)) -
                         r1.cwiseProduct(exponential<G>(-r2, t)))
                            .cwiseQuotient(r2 - r1);
      EXPECT_MATRIX_CLOSE(sc.error(X, t), e0.cwiseProduct(shape), 1e-9) << "t = " << t;
    }
    const typename G::Ctrl frozen = c;
    rk4Step<G>(X, v, kDt, [&](const typename G::Pos& Xs, const Vec& vs, double tau) {
      typename G::Ctrl& cs = tau == 0 ? c : (scratch = frozen);
      Vec vref, aref;
      cs.refAcceleration(Xs, vs, sc.Xd(t + tau), sc.vd, Vec::Zero(), vref, aref);
      return aref;
    });
  }
}

// Passivity-based use: the body accelerates at the reference plus the reference force. With equal
// weights c that force is -c (v - vref) and the reference acceleration is d/dt vref, so the
// mismatch s = v - vref obeys s' = -c s exactly: s(t) = exp(-c t) s(0). Started on the reference
// (s = 0), the error follows the velocity law, e(t) = exp(-kv t) e(0) per axis; started at rest, it
// still converges once the mismatch has died out.
TYPED_TEST(ControllerClosedLoop, PassivityBasedReferenceTracksWithMismatchDecayingAtItsWeight) {
  typedef TypeParam G;
  typedef typename G::Vec Vec;
  const double weight = 3.0, dt = 2e-3;
  for (const bool on_reference : {false, true}) {
    SCOPED_TRACE(on_reference ? "started on the reference" : "started at rest");
    Rng g(32);
    const Scenario<G> sc(g, 3.0, 0.5);
    const Vec kv = Vec::LinSpaced(1.5, 3.0);
    typename G::Ctrl c, scratch;
    c.setVelGain(kv);
    c.setInvL2sqr(weight);
    c.setPassivityBased(true);
    c.setPeriod(dt);
    typename G::Pos X = sc.X0;
    Vec v = Vec::Zero();
    if (on_reference) typename G::Ctrl(c).refVelocity(X, sc.Xd0, sc.vd, v);
    const Vec e0 = sc.error(X, 0);
    Vec s0 = Vec::Zero();
    for (int k = 0; k <= 4000; ++k) {
      const double t = k * dt;
      const Vec e = sc.error(X, t), v_k = v;
      Vec vref;
      const typename G::Ctrl frozen = c;
      rk4Step<G>(X, v, dt, [&](const typename G::Pos& Xs, const Vec& vs, double tau) {
        typename G::Ctrl& cs = tau == 0 ? c : (scratch = frozen);
        Vec vref_s, aref;
        cs.refAcceleration(Xs, vs, sc.Xd(t + tau), sc.vd, Vec::Zero(), vref_s, aref);
        if (tau == 0) vref = vref_s;
        return Vec(aref + cs.refForce());
      });
      if (k == 0) s0 = v_k - vref;
      if (k % 500 != 0) continue;
      EXPECT_MATRIX_CLOSE(v_k - vref, std::exp(-weight * t) * s0, 1e-9) << "t = " << t;
      if (on_reference) {
        EXPECT_MATRIX_CLOSE(e, e0.cwiseProduct(exponential<G>(kv, t)), 1e-9) << "t = " << t;
      }
      if (k == 4000) {
        EXPECT_LT(e.norm(), 1e-3 * e0.norm());
      }
    }
    EXPECT_EQ(s0.isZero(1e-12), on_reference);
  }
}

// The force laws against a wrench fixed in the reference frame (measured in the body frame as
// Ad(X)^T F), with the desired pose at rest and no desired force, so that the force error in the
// frame of Xd is the constant Ft = -Ad(Xd)^T F. At rest the impedance law gives
// kp o e = kf o (force term of e), the compliance law kp o e = (force term of e) (see
// ControllerTestSupport.h); the offset is found by fixed-point iteration and the body, started from
// a large error, must settle there.
enum Law { kImpedance, kCompliance };

template <class G>
void expectSettlesAtPredictedOffset(Law law) {
  typedef typename G::Vec Vec;
  Rng g(33);
  const double dt = 5e-3;
  const Scenario<G> sc(g, 3.0, 0.0);
  const Vec F = G::randomVec(g, law == kImpedance ? 1.5 : 0.8);
  const Vec kp = Vec::Constant(9.0), kv = Vec::Constant(6.0), kf = Vec::LinSpaced(0.5, 1.5);
  const Vec Ft = -G::forceToChild(sc.Xd0, F);
  Vec offset = Vec::Zero();
  for (int i = 0; i < 200; ++i)
    offset = (law == kImpedance ? Vec(kf.cwiseProduct(G::impedanceForce(offset, Ft)))
                                : G::complianceForce(offset, Ft))
                 .cwiseQuotient(kp);
  ASSERT_GT(offset.norm(), 0.05);

  typename G::Ctrl c;
  c.setPosGain(kp);
  c.setVelGain(kv);
  c.setForceGain(kf);
  c.setPeriod(dt);
  typename G::Pos X = sc.X0;
  Vec v = Vec::Zero();
  for (int k = 0; k < 3000; ++k) {
    // Only the plain acceleration-level outputs are used; they read no integral, so every stage
    // may run on the controller itself.
    rk4Step<G>(X, v, dt, [&](const typename G::Pos& Xs, const Vec& vs, double) {
      const typename G::Force f = G::forceToChild(Xs, F), fd;
      Vec vref, a;
      if (law == kImpedance) {
        c.refImpedanceAcceleration(Xs, vs, sc.Xd0, sc.vd, Vec::Zero(), f, fd, vref, a);
      } else {
        typename G::Force fref;
        c.refComplianceForce(Xs, vs, sc.Xd0, sc.vd, Vec::Zero(), f, fd, fref);
        a = c.refForce() + f;  // unit inertia: the commanded reference force plus the external one
      }
      return a;
    });
  }
  EXPECT_MATRIX_CLOSE(sc.error(X, 0), offset, 1e-10);
  EXPECT_MATRIX_CLOSE(v, Vec::Zero(), 1e-10);
}

TYPED_TEST(ControllerClosedLoop, ImpedanceSettlesWhereStiffnessBalancesTheExternalForce) {
  expectSettlesAtPredictedOffset<TypeParam>(kImpedance);
}

TYPED_TEST(ControllerClosedLoop, ComplianceSettlesWhereStiffnessBalancesTheMappedForce) {
  expectSettlesAtPredictedOffset<TypeParam>(kCompliance);
}

}  // namespace zorvik_test::controller_test::closed_loop_test
