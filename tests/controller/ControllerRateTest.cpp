// The rates the controllers return against central finite differences along actual motions of
// the measured and desired bodies, on SO(3) and SE(3). Each body moves with its body velocity and
// a constant body acceleration; nothing here uses the controllers' own dexp-based formulas.
#include "ControllerTestSupport.h"
#include "support/FiniteDifference.h"

namespace zorvik_test::controller_test::rate_test {

// The measured body moves with body acceleration a, the desired one with s.ad.
template <class G>
struct Motion {
  Sample<G> s;
  typename G::Vec a;
  Sample<G> at(double t) const {
    Sample<G> r = s;
    r.X = moveAlong<G>(s.X, s.v, a, t);
    r.v = s.v + t * a;
    r.Xd = moveAlong<G>(s.Xd, s.vd, s.ad, t);
    r.vd = s.vd + t * s.ad;
    return r;
  }
  // d/dt f(state) at t = 0 by the five-point stencil, O(h^4). The step stays large enough that
  // the error pose, when it starts at the identity, does not reach the tiny non-zero angles where
  // the series coefficients of dexp_inv lose digits to cancellation.
  template <class F>
  typename G::Vec rate(F f) const {
    return centralDifference([&](double t) -> typename G::Vec { return f(at(t)); }, 1e-4);
  }
};

template <class G>
typename G::Pos errorPose(const Sample<G>& s) {
  return G::compose(G::inverse(s.X), s.Xd);
}
// The body velocity of the error pose, vd - Ad(Xtilde^-1) v.
template <class G>
typename G::Vec relativeVelocity(const Sample<G>& s) {
  return s.vd - G::velToChild(errorPose(s), s.v);
}
template <class G>
typename G::Vec error(const Sample<G>& s) {
  typename G::Vec e;
  typename G::Ctrl().error(s.X, s.Xd, e);
  return e;
}
template <class G>
typename G::Vec errorRate(const Sample<G>& s) {
  typename G::Vec e, edot;
  typename G::Ctrl().error(s.X, s.v, s.Xd, s.vd, e, edot);
  return edot;
}

// Error angles up to just below a half turn.
const double kAngles[] = {0.0, 0.4, 1.7, 2.9, 3.1};

template <class G>
class ControllerRate : public ::testing::Test {};
TYPED_TEST_SUITE(ControllerRate, Groups, GroupNames);

TYPED_TEST(ControllerRate, ErrorRateIsDerivativeOfErrorAlongTheMotion) {
  typedef TypeParam G;
  Rng g(10);
  for (const double angle : kAngles) {
    const Motion<G> m{randomSample<G>(g, angle), G::randomVec(g, 1.0)};
    EXPECT_MATRIX_CLOSE(errorRate<G>(m.s), m.rate(error<G>), 1e-9) << "angle " << angle;
  }
}

// A body that accelerates with the plain reference makes the error coordinates obey
// e'' = -kv o e' - kp o e; the impedance reference gives the relative velocity the per-axis
// impedance d/dt vtilde = -kv o vtilde - kp o e + kf o (force term); a body that accelerates with
// the compliance reference obeys d/dt vtilde = (force term) - kv o vtilde - kp o e.
TYPED_TEST(ControllerRate, AccelerationReferencesImposeTheirLawsOnTheMotion) {
  typedef TypeParam G;
  typedef typename G::Vec Vec;
  Rng g(11);
  for (const double angle : kAngles) {
    SCOPED_TRACE(::testing::Message() << "angle " << angle);
    typename G::Ctrl c;
    const Vec kp = randomGains<G>(g, 1, 4), kv = randomGains<G>(g, 1, 4);
    const Vec kf = randomGains<G>(g, 0.5, 2);
    c.setPosGain(kp);
    c.setVelGain(kv);
    c.setForceGain(kf);
    c.setPeriod(0.1);
    Motion<G> m{randomSample<G>(g, angle), Vec::Zero()};
    Vec vref, aref, e, edot, ef;
    c.refImpedanceAcceleration(m.s.X, m.s.v, m.s.Xd, m.s.vd, m.s.ad, m.s.f, m.s.fd, vref, aref,
                               e, edot, ef);  // leaves both integrals non-zero

    typename G::Ctrl plain = c;
    plain.refAcceleration(m.s.X, m.s.v, m.s.Xd, m.s.vd, m.s.ad, vref, m.a, e, edot);
    EXPECT_MATRIX_CLOSE(m.rate(errorRate<G>), -kv.cwiseProduct(edot) - kp.cwiseProduct(e), 1e-7);

    const Vec Ft = m.s.fd - G::forceToChild(errorPose(m.s), m.s.f);
    const Vec vtilde = relativeVelocity(m.s);
    typename G::Ctrl impedance = c;
    impedance.refImpedanceAcceleration(m.s.X, m.s.v, m.s.Xd, m.s.vd, m.s.ad, m.s.f, m.s.fd, vref,
                                       m.a);
    EXPECT_MATRIX_CLOSE(m.rate(relativeVelocity<G>),
                    -kv.cwiseProduct(vtilde) - kp.cwiseProduct(e) +
                        kf.cwiseProduct(G::impedanceForce(e, Ft)),
                    1e-7);

    for (const bool passive : {false, true}) {
      typename G::Ctrl compliance = c;
      compliance.setPassivityBased(passive);
      typename G::Force fref;
      compliance.refComplianceForce(m.s.X, m.s.v, m.s.Xd, m.s.vd, m.s.ad, m.s.f, m.s.fd, fref);
      m.a = fref;
      EXPECT_MATRIX_CLOSE(m.rate(relativeVelocity<G>),
                      G::complianceForce(e, Ft) - kv.cwiseProduct(vtilde) - kp.cwiseProduct(e),
                      1e-7);
    }
  }
}

// In the passivity-based mode the acceleration reference is the time derivative of the velocity
// reference along any motion. The integral advances with the error too: between t = -h and t = h
// it grows by 2h e(0) + O(h^3), so the controller evaluated at t = h carries 2h e(0) more than the
// one at t = -h, and the one at t = 0 half of that.
TYPED_TEST(ControllerRate, PassivityBasedAccelerationIsDerivativeOfVelocityReference) {
  typedef TypeParam G;
  typedef typename G::Vec Vec;
  Rng g(12);
  const double h = 1e-4;
  for (const double angle : kAngles) {
    typename G::Ctrl c;
    c.setPosGain(randomGains<G>(g, 1, 4));
    c.setVelGain(randomGains<G>(g, 1, 4));
    c.setPassivityBased(true);
    const Motion<G> m{randomSample<G>(g, angle), G::randomVec(g, 1.0)};
    c.setPeriod(0.1);
    Vec vref, aref;
    c.refVelocity(m.s.Xd, m.s.X, m.s.vd, vref);  // some other error in the integral

    typename G::Ctrl at_minus = c, at_zero = c, at_plus = c;
    at_zero.setPeriod(h);
    at_zero.refVelocity(m.s.X, m.s.Xd, m.s.vd, vref);
    at_plus.setPeriod(2 * h);
    at_plus.refVelocity(m.s.X, m.s.Xd, m.s.vd, vref);

    at_zero.refAcceleration(m.s.X, m.s.v, m.s.Xd, m.s.vd, m.s.ad, vref, aref);
    Vec vref_plus, vref_minus;
    const Sample<G> plus = m.at(h), minus = m.at(-h);
    at_plus.refVelocity(plus.X, plus.Xd, plus.vd, vref_plus);
    at_minus.refVelocity(minus.X, minus.Xd, minus.vd, vref_minus);
    EXPECT_MATRIX_CLOSE(aref, (vref_plus - vref_minus) / (2 * h), 1e-6) << "angle " << angle;
  }
}

}  // namespace zorvik_test::controller_test::rate_test
