// Closed-form cases of both controllers: equal poses, the desired motion itself, the reference
// force in each mode, and the stiffness and damping a compliance call leaves behind.
#include "ControllerTestSupport.h"

namespace zorvik_test::controller_test::edge_case_test {

template <class G>
typename G::Ctrl gainedController(Rng& g) {
  typename G::Ctrl c;
  c.setPosGain(randomGains<G>(g, 1, 3));
  c.setVelGain(randomGains<G>(g, 1, 3));
  c.setForceGain(randomGains<G>(g, 0.5, 2));
  c.setInvL2sqr(2.5);
  c.setPeriod(0.01);
  return c;
}

template <class G>
class ControllerEdgeCase : public ::testing::Test {};
TYPED_TEST_SUITE(ControllerEdgeCase, Groups, GroupNames);

// X = Xd: the error is zero, dexp = dexpinv = I and the error pose is the identity, so the error
// rate is vd - v and the velocity reference is vd + kp o int(e).
TYPED_TEST(ControllerEdgeCase, EqualPosesGiveZeroErrorAndTheVelocityDifferenceAsRate) {
  typedef TypeParam G;
  typedef typename G::Vec Vec;
  Rng g(40);
  Sample<G> s = randomSample<G>(g, 0.0);
  s.Xd = s.X;
  typename G::Ctrl c = gainedController<G>(g);
  Vec vref, e, edot;
  c.refVelocity(G::randomPose(g, 2.0), s.X, s.vd, vref);  // a non-zero integral
  const Vec integral = c.int_error();
  c.error(s.X, s.Xd, e);
  EXPECT_TRUE(e.isZero(0));
  c.error(s.X, s.v, s.Xd, s.vd, e, edot);
  EXPECT_TRUE(e.isZero(0));
  EXPECT_MATRIX_CLOSE(edot, s.vd - s.v, 1e-14);
  c.refVelocity(s.X, s.Xd, s.vd, vref);
  EXPECT_MATRIX_CLOSE(vref, s.vd + c.kp().cwiseProduct(integral), 1e-14);
}

// On the desired motion (X = Xd, v = vd, f = fd) with zero integrals every law returns the desired
// velocity and acceleration, in both modes: nothing is left to correct.
TYPED_TEST(ControllerEdgeCase, OnTheDesiredMotionTheReferencesAreTheDesiredMotion) {
  typedef TypeParam G;
  typedef typename G::Vec Vec;
  Rng g(41);
  Sample<G> s = randomSample<G>(g, 0.0);
  s.Xd = s.X, s.v = s.vd, s.f = s.fd;
  for (const bool passive : {false, true}) {
    typename G::Ctrl c = gainedController<G>(g);
    c.setPassivityBased(passive);
    Vec vref, aref;
    c.refVelocity(s.X, s.Xd, s.vd, vref);
    EXPECT_MATRIX_CLOSE(vref, s.vd, 1e-14);
    c.resetIntError();
    c.refAcceleration(s.X, s.v, s.Xd, s.vd, s.ad, vref, aref);
    EXPECT_MATRIX_CLOSE(vref, s.vd, 1e-14);
    EXPECT_MATRIX_CLOSE(aref, s.ad, 1e-14);
    c.resetIntError();
    c.refImpedanceAcceleration(s.X, s.v, s.Xd, s.vd, s.ad, s.f, s.fd, vref, aref);
    EXPECT_MATRIX_CLOSE(vref, s.vd, 1e-14);
    EXPECT_MATRIX_CLOSE(aref, s.ad, 1e-14);
    EXPECT_MATRIX_CLOSE(c.refForce(), -s.f, 1e-14);
  }
}

// The passivity-based correction: with equal weights c, dexp^b (edot - edot_ref) is
// vtilde - vtilde_ref = -Ad(Xtilde^-1) (v - vref), so the correction is -c (v - vref) in the frame
// of X, whatever the integrals. The impedance law adds it to -f, the compliance law to fref - f;
// at X = Xd (dexp = I, Kp = diag(kp)) the compliance law's velocity reference is
// vd - (int(ef) - kp o int(e)).
TYPED_TEST(ControllerEdgeCase, ReferenceForceIsMeasuredForceAndWeightedVelocityMismatch) {
  typedef TypeParam G;
  typedef typename G::Vec Vec;
  Rng g(42);
  for (const double angle : {0.0, 1.0, 3.0}) {
    SCOPED_TRACE(::testing::Message() << "angle " << angle);
    const Sample<G> s = randomSample<G>(g, angle), other = randomSample<G>(g, 1.0);
    typename G::Ctrl c = gainedController<G>(g);
    const double weight = c.invL2sqr()(0);
    Vec vref, aref, fref;
    c.setPassivityBased(true);
    c.refImpedanceAcceleration(other.X, other.v, other.Xd, other.vd, other.ad, other.f, other.fd,
                               vref, aref);  // non-zero integrals
    c.refAcceleration(s.X, s.v, s.Xd, s.vd, s.ad, vref, aref);
    EXPECT_MATRIX_CLOSE(c.refForce(), -weight * (s.v - vref), 1e-12);
    c.refImpedanceAcceleration(s.X, s.v, s.Xd, s.vd, s.ad, s.f, s.fd, vref, aref);
    EXPECT_MATRIX_CLOSE(c.refForce(), -s.f - weight * (s.v - vref), 1e-12);

    c.setPassivityBased(false);
    c.refComplianceForce(s.X, s.v, s.Xd, s.vd, s.ad, s.f, s.fd, fref);
    EXPECT_MATRIX_CLOSE(c.refForce(), fref - s.f, 1e-12);
  }
  Sample<G> s = randomSample<G>(g, 0.0);
  s.Xd = s.X;
  const Sample<G> other = randomSample<G>(g, 1.0);
  typename G::Ctrl c = gainedController<G>(g);
  c.setPassivityBased(true);
  Vec vref, aref, fref;
  c.refImpedanceAcceleration(other.X, other.v, other.Xd, other.vd, other.ad, other.f, other.fd,
                             vref, aref);  // non-zero integrals
  const Vec vstar = s.vd - c.int_ef() + c.kp().cwiseProduct(c.int_error());
  c.refComplianceForce(s.X, s.v, s.Xd, s.vd, s.ad, s.f, s.fd, fref);
  EXPECT_MATRIX_CLOSE(c.refForce(), fref - s.f - c.invL2sqr()(0) * (s.v - vstar), 1e-12);
}

// Kp = dexpinv^b diag(kp) dexp^b is similar to diag(kp): equal gains k give k I at any pose. At
// X = Xd, dexp = dexpinv = I and ddt_dexp = ad(edot)/2, whose block-wise transpose is -ad(edot)/2,
// so Kv = diag(kv) - ad(edot)/2 with edot = vd - v.
TYPED_TEST(ControllerEdgeCase, ComplianceLeavesTheStiffnessAndDampingOfTheCall) {
  typedef TypeParam G;
  typedef typename G::Vec Vec;
  typedef typename G::Mat Mat;
  Rng g(43);
  typename G::Ctrl c = gainedController<G>(g);
  Vec fref;
  c.setPosGain(2.0);
  const Sample<G> s = randomSample<G>(g, 2.5);
  c.refComplianceForce(s.X, s.v, s.Xd, s.vd, s.ad, s.f, s.fd, fref);
  EXPECT_MATRIX_CLOSE(c.stiffness(), 2.0 * Mat::Identity(), 1e-12);

  const Vec kp = randomGains<G>(g, 1, 3);
  c.setPosGain(kp);
  Sample<G> at = randomSample<G>(g, 0.0);
  at.Xd = at.X;
  c.refComplianceForce(at.X, at.v, at.Xd, at.vd, at.ad, at.f, at.fd, fref);
  EXPECT_MATRIX_CLOSE(c.stiffness(), Mat(kp.asDiagonal()), 1e-14);
  EXPECT_MATRIX_CLOSE(c.damping(), Mat(c.kv().asDiagonal()) - 0.5 * G::ad(at.vd - at.v), 1e-14);
}

}  // namespace zorvik_test::controller_test::edge_case_test
