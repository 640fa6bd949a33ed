// The controller as a value: its initial state, which state each operation changes in each mode,
// the short forms against the long ones and the calls through the base class against the direct
// ones, and the absence of heap allocation. Typed over both controllers.
#include "ControllerTestSupport.h"
#include "support/AllocationCounter.h"

namespace zorvik_test::controller_test::state_test {

enum Op { kError, kErrorRate, kRefVelocity, kRefAcceleration, kRefImpedance, kRefCompliance };
const Op kOps[] = {kError, kErrorRate, kRefVelocity, kRefAcceleration, kRefImpedance,
                   kRefCompliance};

template <class G>
struct Outputs {
  typename G::Vec first = G::Vec::Zero(), second = G::Vec::Zero();  // reference outputs
  typename G::Vec e = G::Vec::Zero(), edot = G::Vec::Zero(), ef = G::Vec::Zero();
};

// Runs one operation, long or short form, on a controller or on a reference to its base.
template <class G, class C>
void run(Op op, C& c, const Sample<G>& s, Outputs<G>& o, bool short_form) {
  typename G::Force fref;
  switch (op) {
    case kError:
      c.error(s.X, s.Xd, o.e);
      break;
    case kErrorRate:
      c.error(s.X, s.v, s.Xd, s.vd, o.e, o.edot);
      break;
    case kRefVelocity:
      if (short_form) c.refVelocity(s.X, s.Xd, s.vd, o.first);
      else c.refVelocity(s.X, s.Xd, s.vd, o.first, o.e);
      break;
    case kRefAcceleration:
      if (short_form) c.refAcceleration(s.X, s.v, s.Xd, s.vd, s.ad, o.first, o.second);
      else c.refAcceleration(s.X, s.v, s.Xd, s.vd, s.ad, o.first, o.second, o.e, o.edot);
      break;
    case kRefImpedance:
      if (short_form)
        c.refImpedanceAcceleration(s.X, s.v, s.Xd, s.vd, s.ad, s.f, s.fd, o.first, o.second);
      else
        c.refImpedanceAcceleration(s.X, s.v, s.Xd, s.vd, s.ad, s.f, s.fd, o.first, o.second, o.e,
                                   o.edot, o.ef);
      break;
    case kRefCompliance:
      if (short_form) c.refComplianceForce(s.X, s.v, s.Xd, s.vd, s.ad, s.f, s.fd, fref);
      else c.refComplianceForce(s.X, s.v, s.Xd, s.vd, s.ad, s.f, s.fd, fref, o.e, o.edot, o.ef);
      o.first = fref;
      break;
  }
}

template <class G>
struct State {
  explicit State(const typename G::Ctrl& c)
      : int_error(c.int_error()), int_ef(c.int_ef()), ref(c.refForce()),
        stiffness(c.stiffness()), damping(c.damping()) {}
  bool operator==(const State& o) const {
    return int_error == o.int_error && int_ef == o.int_ef && ref == o.ref &&
           stiffness == o.stiffness && damping == o.damping;
  }
  typename G::Vec int_error, int_ef, ref;
  typename G::Mat stiffness, damping;
};

template <class G>
bool sameOutputs(const Outputs<G>& a, const Outputs<G>& b) {
  return a.first == b.first && a.second == b.second && a.e == b.e && a.edot == b.edot &&
         a.ef == b.ef;
}

// A controller with distinct gains on every axis whose integrals, reference force and matrices
// are all non-zero: one passivity-based impedance and one compliance call have run.
template <class G>
typename G::Ctrl primedController(Rng& g) {
  typename G::Ctrl c;
  c.setPosGain(randomGains<G>(g, 1, 3));
  c.setVelGain(randomGains<G>(g, 1, 3));
  c.setInvL2sqr(randomGains<G>(g, 0.5, 2));
  c.setForceGain(randomGains<G>(g, 0.2, 1));
  c.setPeriod(0.01);
  c.setPassivityBased(true);
  Outputs<G> o;
  run(kRefImpedance, c, randomSample<G>(g, 1.0), o, false);
  run(kRefCompliance, c, randomSample<G>(g, 1.0), o, false);
  c.setPassivityBased(false);
  return c;
}

template <class G>
class ControllerState : public ::testing::Test {};
TYPED_TEST_SUITE(ControllerState, Groups, GroupNames);

TYPED_TEST(ControllerState, DefaultControllerOnlyFeedsTheDesiredVelocityForward) {
  typedef TypeParam G;
  typename G::Ctrl c;
  EXPECT_FALSE(c.getPassivityBased());
  for (const auto* v : {&c.kp(), &c.kv(), &c.ki(), &c.invL2sqr(), &c.kf(), &c.kfi(),
                        &c.int_error(), &c.int_ef(), &c.refForce()})
    EXPECT_TRUE(v->isZero(0));
  for (const auto* m : {&c.stiffness(), &c.damping(), &c.mass()}) EXPECT_TRUE(m->isZero(0));

  // Zero gains: the reference velocity is the desired one carried into the measured frame; zero
  // period: the integral stays zero.
  Rng g(1);
  const Sample<G> s = randomSample<G>(g, 2.0);
  typename G::Vec vref;
  c.refVelocity(s.X, s.Xd, s.vd, vref);
  const typename G::Pos Xtilde = G::compose(G::inverse(s.X), s.Xd);
  EXPECT_MATRIX_CLOSE(vref, G::velToParent(Xtilde, s.vd), 1e-12);
  EXPECT_TRUE(c.int_error().isZero(0));

  c.setPassivityBased(true);
  EXPECT_TRUE(c.getPassivityBased());
  c.setPassivityBased(false);
  EXPECT_FALSE(c.getPassivityBased());
}

TYPED_TEST(ControllerState, EachOperationChangesExactlyItsStateAndShortFormsMatchLongForms) {
  typedef TypeParam G;
  Rng g(2);
  const typename G::Ctrl primed = primedController<G>(g);
  const Sample<G> s = randomSample<G>(g, 1.5);
  const double dT = 0.01;
  for (const bool passive : {false, true})
    for (const Op op : kOps) {
      SCOPED_TRACE(::testing::Message() << "op " << op << (passive ? " passive" : " plain"));
      typename G::Ctrl c = primed, c_short = primed, c_base = primed;
      c.setPassivityBased(passive);
      c_short.setPassivityBased(passive);
      c_base.setPassivityBased(passive);
      const State<G> before(c);
      Outputs<G> o, o_short, o_base;
      run(op, c, s, o, false);
      const State<G> after(c);
      // The same call through the base class: its forwarders reach the same operation.
      run(op, static_cast<typename G::Ctrl::Base&>(c_base), s, o_base, false);
      EXPECT_TRUE(sameOutputs(o_base, o));
      EXPECT_TRUE(State<G>(c_base) == after);

      const bool integrates = op == kRefVelocity || op == kRefAcceleration ||
                              op == kRefImpedance || (op == kRefCompliance && passive);
      const bool integrates_force = op == kRefImpedance || (op == kRefCompliance && passive);
      const bool sets_ref =
          (op == kRefAcceleration && passive) || op == kRefImpedance || op == kRefCompliance;
      if (integrates) EXPECT_MATRIX_CLOSE(after.int_error, before.int_error + dT * o.e, 1e-15);
      else EXPECT_EQ(after.int_error, before.int_error);
      if (integrates_force) EXPECT_MATRIX_CLOSE(after.int_ef, before.int_ef + dT * o.ef, 1e-15);
      else EXPECT_EQ(after.int_ef, before.int_ef);
      EXPECT_EQ(after.ref != before.ref, sets_ref);
      EXPECT_EQ(after.stiffness != before.stiffness, op == kRefCompliance);
      EXPECT_EQ(after.damping != before.damping, op == kRefCompliance);

      if (op == kError || op == kErrorRate) continue;
      run(op, c_short, s, o_short, true);
      EXPECT_TRUE(State<G>(c_short) == after);
      EXPECT_EQ(o_short.first, o.first);
      EXPECT_EQ(o_short.second, o.second);
    }
}

TYPED_TEST(ControllerState, ZeroPeriodFreezesTheIntegralsAndResetClearsOnlyThem) {
  typedef TypeParam G;
  Rng g(3);
  typename G::Ctrl c = primedController<G>(g);
  const Sample<G> s = randomSample<G>(g, 1.0);
  c.setPeriod(0.0);
  for (const bool passive : {false, true}) {
    c.setPassivityBased(passive);
    for (const Op op : kOps) {
      const State<G> before(c);
      Outputs<G> o;
      run(op, c, s, o, false);
      EXPECT_EQ(c.int_error(), before.int_error);
      EXPECT_EQ(c.int_ef(), before.int_ef);
    }
  }
  const State<G> before(c);
  typename G::Ctrl::Base& base = c;
  base.resetIntError();
  EXPECT_TRUE(c.int_error().isZero(0));
  EXPECT_TRUE(c.int_ef().isZero(0));
  EXPECT_EQ(c.refForce(), before.ref);
  EXPECT_EQ(c.stiffness(), before.stiffness);
  EXPECT_EQ(c.damping(), before.damping);
}

TYPED_TEST(ControllerState, NoOperationAllocates) {
  typedef TypeParam G;
  Rng g(5);
  typename G::Ctrl c = primedController<G>(g);
  typename G::Ctrl::Base& base = c;
  const Sample<G> s = randomSample<G>(g, 3.0);
  Outputs<G> o;
  for (const bool passive : {false, true}) {
    c.setPassivityBased(passive);
    for (const Op op : kOps)
      for (const bool short_form : {false, true}) {
        EXPECT_NO_ALLOCATION(run(op, c, s, o, short_form));
        EXPECT_NO_ALLOCATION(run(op, base, s, o, short_form));
      }
  }
  EXPECT_NO_ALLOCATION(typename G::Ctrl copy(c); copy.resetIntError());
}

}  // namespace zorvik_test::controller_test::state_test
