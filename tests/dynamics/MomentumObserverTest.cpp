// Generalized-momentum observer MomentumObserverXD<N>.
//
// Continuous law: with p = M(q) qdot and the passivity-based C (dM/dt = C + C^T),
//   dp/dt = tau + tau_ext + C^T qdot - g,
// so the residual r = L (p - integral of (tau + C^T qdot - g + r) dt - p0) obeys dr/dt = L (tau_ext
// - r): a first-order lag of bandwidth L per joint. The library discretises it with an implicit
// Euler step of period h, I_k = I_(k-1) + h (s_k + r_k), r_k = L (p_k - I_k - p0), s_k = C_k^T
// qdot_k + tau - g_k, tau being the torque applied during the period that ends at step k.
//
// The tests drive the observer through a simulated arm (closed loop) and through states at rest,
// where the discrete response is known exactly.
#include <Eigen/Cholesky>
#include <Vexo/DynamicAnalysisXD>
#include <Vexo/MomentumObserverXD>
#include <cmath>
#include <functional>
#include <vector>

#include "DynamicsTestUtil.h"
#include "support/AllocationCounter.h"

namespace zorvik_test::dyn::momentum_observer_test {

// ------------------------------------------------------------------------------------------------
// Closed loop: a 7-joint revolute arm simulated at 1 kHz for 5 s, contact from t = 0.5 s (1 s and
// 0.3 s against the debug library).
//
// Plant: the library's own M, C, G at each step, forward dynamics qddot = M^-1 (tau + tau_ext -
// C qdot - G), semi-implicit Euler qdot_(k+1) = qdot_k + h qddot_k, q_(k+1) = q_k + h qdot_(k+1).
// The contact torque tau_ext enters the plant only, never the model's bodies. Control: gravity
// compensation plus a joint-space PD towards a reference that swings every joint by 0.3 rad at
// 0.2 to 0.8 Hz, with gains shaped by M so that every joint has the same bandwidth (stable at this
// step whatever the random arm). The observer is called at step k with the state k and the torque
// applied during the period that ended there, tau_(k-1).
//
// Discretisation bound. The plant's momentum changes over one step by
//   p_k - p_(k-1) = M_(k-1) (qdot_k - qdot_(k-1)) + (M_k - M_(k-1)) qdot_k
//                 = h (tau_(k-1) + ext_(k-1) - C_(k-1) qdot_(k-1) - G_(k-1)) + (M_k - M_(k-1))
//                 qdot_k,
// while the observer books h (s_k + ext_(k-1)) with s_k = C_k^T qdot_k + tau_(k-1) - G_k. Their
// difference
//   e_k = (M_k - M_(k-1)) qdot_k - h (C_(k-1) qdot_(k-1) + C_k^T qdot_k) + h (G_k - G_(k-1))
// is O(h^2): q moves by h qdot_k in one step, so M_k - M_(k-1) = h (C + C^T) qdot_k + O(h^2) by the
// skew-symmetry of dM/dt - 2 C, and C, G move by O(h). With z_k = p_k - I_k - p0 and r_k = L z_k
// the observer obeys
//   r_k (1 + h L) = r_(k-1) + h L (ext_(k-1) + e_k / h),
// while the exact discrete lag of the true contact torque is
//   rr_k (1 + h L) = rr_(k-1) + h L ext_(k-1).
// Both are convex combinations of the previous value and the input, so per joint
//   |r_k - rr_k| <= max_(j <= k) |e_j| / h,
// which is O(h): about h times the rate of change of g and of C qdot along the motion (here a few
// 1e-2 N m). The test computes e_k exactly from the plant's matrices and requires the bound at
// every step (plus 1e-9 N m of rounding). Before the contact rr = 0, so the residual stays within
// the bound of zero. The bound is also required to stay below 3 % of each contact torque it is
// compared with, so that it is a strong statement.
//
// Lag timing. After a step d at sample s, rr_(s+n) = d (1 - a^n) with a = 1/(1 + h L) = exp(-h/T):
// the discrete time constant is T = h / ln(1 + h L) (about 1/L for small h L), and 63 % of d is
// first reached within one sample after T. A deviation of up to 3 % of d moves the crossing of the
// 63 % level by at most ln(0.368 / 0.338) T = 8.5 % of T, since 1 - exp(-t/T) rises by 0.37/T per
// unit time there; so the time to 63 % must be within one sample plus 10 % of T. With the wrench,
// the contact torque changes as the arm moves, so the same margin is applied to the crossing time
// of the exact lag rr of the actual contact torque.
// ------------------------------------------------------------------------------------------------

constexpr int kArm = 7;
typedef VexoBaseXD<kArm> Arm;
typedef Arm::JointVec ArmVec;
typedef Arm::JointMat ArmMat;

constexpr double kPeriod = 1e-3;
// 5 s with the contact from 0.5 s against the release library. The debug library runs the
// recursions unoptimised, some fifty times slower: 1 s with the contact from 0.3 s still covers the
// rest before the contact, the 63 % times (at most 51 ms here) and the settling (14 time constants
// of the slowest joint).
const bool kShortRun = linkedAgainstDebugLibrary();
const int kSteps = kShortRun ? 1000 : 5000;
const int kContactStep = kShortRun ? 300 : 500;
constexpr double kBudget = 0.03;

struct LoopHistory {
  std::vector<ArmVec> r, rr, ext;  // residual, exact lag of the contact torque, contact torque
  ArmVec bound = ArmVec::Zero();    // max |e| / h per joint over the run
  double worstExcess = 0;           // largest |r - rr| - bound - rounding over the run (<= 0)
  int worstStep = -1;
  bool tauRestored = true;
};

ArmVec observerGains() {
  ArmVec L;
  L << 20, 30, 40, 50, 60, 80, 100;
  return L;
}

// ext(model): contact torque for the state the model was updated with, acting for one period.
LoopHistory runClosedLoop(const std::function<ArmVec(Arm&)>& ext) {
  const double h = kPeriod;
  const ArmVec L = observerGains();
  RandomRobot<kArm> robot(41, false, JointMix::Revolute);
  Arm& m = robot.model();
  const Vector3D g(0, 0, -9.81);
  MomentumObserverXD<kArm> obs;
  obs.setPeriod(h);
  obs.setGain(L);

  const ArmVec q0 = randomMatrix<kArm>(robot.rng());
  ArmVec A, w;
  for (int i = 0; i < kArm; ++i) {
    A(i) = 0.3;
    w(i) = 2 * M_PI * (0.2 + 0.1 * i);
  }
  const double wc = 20, zeta = 1;  // closed-loop bandwidth (rad/s) and damping of the PD

  LoopHistory hist;
  ArmVec q = q0, qdot = ArmVec::Zero();
  ArmMat M, C;
  ArmVec G, r;
  setState<kArm>(m, q, qdot);
  DynamicAnalysisXD<kArm>::JointDynamics(m, M, C, G, g);
  // The arm rests before t = 0 held by gravity compensation: that is the torque applied during the
  // period before the first call, and the momentum before it is zero.
  ArmVec tauPrev = G, extPrev = ArmVec::Zero(), pPrev = ArmVec::Zero(), rr = ArmVec::Zero();
  for (int k = 0; k < kSteps; ++k) {
    const double t = k * h;
    setState<kArm>(m, q, qdot);
    m.tau() = tauPrev;
    obs.estimate(m, r, g);
    hist.tauRestored = hist.tauRestored && m.tau() == tauPrev;
    DynamicAnalysisXD<kArm>::JointDynamics(m, M, C, G, g);

    // Momentum bookkeeping mismatch, and the exact discrete lag of the true contact torque.
    const ArmVec p = M * qdot;
    const ArmVec s = C.transpose() * qdot + tauPrev - G;
    const ArmVec e = p - pPrev - h * (s + extPrev);
    hist.bound = hist.bound.cwiseMax(e.cwiseAbs() / h);
    rr = (rr + h * L.cwiseProduct(extPrev)).cwiseQuotient(ArmVec::Ones() + h * L);
    const double excess = ((r - rr).cwiseAbs() - hist.bound).maxCoeff() - 1e-9;
    if (hist.worstStep < 0 || excess > hist.worstExcess) {
      hist.worstExcess = excess;
      hist.worstStep = k;
    }
    hist.r.push_back(r);
    hist.rr.push_back(rr);

    // Control, contact, plant.
    ArmVec qd, qd_dot;
    for (int i = 0; i < kArm; ++i) {
      qd(i) = q0(i) + A(i) * std::sin(w(i) * t);
      qd_dot(i) = A(i) * w(i) * std::cos(w(i) * t);
    }
    const ArmVec tau = G + M * (wc * wc * (qd - q) + 2 * zeta * wc * (qd_dot - qdot));
    const ArmVec tauExt = k >= kContactStep ? ext(m) : ArmVec::Zero();
    hist.ext.push_back(tauExt);
    const ArmVec qddot = M.llt().solve(tau + tauExt - C * qdot - G);
    qdot += h * qddot;
    q += h * qdot;
    tauPrev = tau;
    extPrev = tauExt;
    pPrev = p;
  }
  return hist;
}

// Time from the contact's onset until series[.](i) first reaches 63 % of `level`, or -1.
double timeTo63(const std::vector<ArmVec>& series, int i, double level) {
  for (int k = kContactStep; k < static_cast<int>(series.size()); ++k)
    if (series[k](i) / level >= 1 - std::exp(-1.0)) return (k - kContactStep) * kPeriod;
  return -1;
}

// What both contacts share: the residual within the discretisation bound of the exact lag at every
// step, hence within it of zero before the contact, and tau() restored by every call.
void checkBoundAndRest(const LoopHistory& hist) {
  EXPECT_TRUE(hist.tauRestored);
  EXPECT_LE(hist.worstExcess, 0.0)
      << "the residual left the discretisation bound at step " << hist.worstStep
      << ": r = " << hist.r[hist.worstStep].transpose()
      << ", rr = " << hist.rr[hist.worstStep].transpose() << ", bound = " << hist.bound.transpose();
  ArmVec pre = ArmVec::Zero();
  for (int k = 0; k <= kContactStep; ++k) pre = pre.cwiseMax(hist.r[k].cwiseAbs());
  EXPECT_TRUE((pre.array() <= hist.bound.array() + 1e-9).all())
      << "before the contact |r| reached " << pre.transpose() << ", bound "
      << hist.bound.transpose();
  // The bound is not vacuous: a wrong Coriolis matrix or a lost momentum term would make e of order
  // h.
  EXPECT_LT(hist.bound.maxCoeff(), 0.1);
}

TEST(MomentumObserverClosedLoop, FollowsAStepJointTorqueWithTheDiscreteFirstOrderLag) {
  ArmVec d;
  d << 6.0, -5.0, 4.0, -3.5, 3.0, -2.0, 1.5;
  const LoopHistory hist = runClosedLoop([&](Arm&) { return d; });
  checkBoundAndRest(hist);
  const ArmVec L = observerGains();
  for (int i = 0; i < kArm; ++i) {
    SCOPED_TRACE("joint " + std::to_string(i));
    EXPECT_LE(hist.bound(i), kBudget * std::abs(d(i)));
    const double T = kPeriod / std::log1p(kPeriod * L(i));
    const double t63 = timeTo63(hist.r, i, d(i));
    EXPECT_GE(t63, 0.0) << "never reached 63 %";
    EXPECT_NEAR(t63, T, kPeriod + 0.1 * T);
  }
  EXPECT_MATRIX_NEAR(hist.r.back(), d, hist.bound.maxCoeff() + 1e-9);
}

TEST(MomentumObserverClosedLoop, FollowsAWrenchOnTheLastBodyThroughItsJacobian) {
  const Wrench F(12.0, -9.0, 15.0, 1.8, -1.2, 1.5);  // on body 7, in its frame
  const LoopHistory hist = runClosedLoop([&](Arm& m) {
    m.updateJacobian(true);
    return ArmVec(m.J(kArm).transpose() * F);
  });
  checkBoundAndRest(hist);
  const ArmVec L = observerGains();
  const ArmVec onset = hist.ext[kContactStep];
  int checked = 0;
  for (int i = 0; i < kArm; ++i) {
    // Joints on which the contact torque is small against the bound carry no timing information.
    if (hist.bound(i) > kBudget * std::abs(onset(i))) continue;
    SCOPED_TRACE("joint " + std::to_string(i));
    ++checked;
    const double T = kPeriod / std::log1p(kPeriod * L(i));
    const double t63 = timeTo63(hist.r, i, onset(i)), t63_exact = timeTo63(hist.rr, i, onset(i));
    EXPECT_GE(t63, 0.0) << "never reached 63 %";
    EXPECT_NEAR(t63, t63_exact, kPeriod + 0.1 * T);
  }
  EXPECT_GE(checked, 4);
}

// ------------------------------------------------------------------------------------------------
// States at rest (qdot = 0): p = 0 and s = tau - g, so the discrete response is known exactly.

template <typename T>
class MomentumObserverTest : public ::testing::Test {};
TYPED_TEST_SUITE(MomentumObserverTest, DynamicsWidths, JacobianWidthNames);

template <int N>
typename VexoBaseXD<N>::JointVec randomGains(std::mt19937& rng) {
  return (randomMatrix<N>(rng).array() * 45 + 55).matrix();  // 10 .. 100 per second
}

// Applied torques that balance gravity at rest: nothing to estimate, the output stays zero.
TYPED_TEST(MomentumObserverTest, AtRestWithGravityTorquesTheResidualStaysZero) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  RandomRobot<N> robot(71, true);
  VexoBaseXD<N>& m = robot.model();
  MomentumObserverXD<N> obs;
  obs.setPeriod(1e-3);
  obs.setGain(randomGains<N>(robot.rng()));
  JointVec r;
  for (int k = 0; k < 50; ++k) {
    if (k % 10 == 0) setState<N>(m, randomMatrix<N>(robot.rng()), JointVec::Zero());
    m.idyn_gravity(gravity());
    const JointVec G = m.tau();
    ASSERT_GT(G.norm(), 0.1);
    obs.estimate(m, r, gravity());
    EXPECT_MATRIX_EQ(m.tau(), G);
    EXPECT_MATRIX_NEAR(r, JointVec::Zero(), 1e-12 * scale(G));
  }
}

// Applied torques g + d at rest: to stay at rest the environment must push with -d, and the
// residual approaches -d. From I_k = I_(k-1) + h (d + r_k) and r_k = -L I_k, the error r_k + d
// shrinks by exactly 1/(1 + h L) per step, starting from d.
TYPED_TEST(MomentumObserverTest,
           AtRestWithAnExcessTorqueTheResidualApproachesItsOppositeGeometrically) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  RandomRobot<N> robot(72, false);
  VexoBaseXD<N>& m = robot.model();
  setState<N>(m, randomMatrix<N>(robot.rng()), JointVec::Zero());
  const double h = 1e-2;  // h L from 0.1 to 1: the error falls below 1e-8 of d within 200 steps
  const JointVec L = randomGains<N>(robot.rng());
  MomentumObserverXD<N> obs;
  obs.setPeriod(h);
  obs.setGain(L);
  m.idyn_gravity(gravity());
  const JointVec d = randomMatrix<N>(robot.rng(), 5.0);
  const JointVec tau = m.tau() + d;
  const JointVec ratio = (JointVec::Ones() + h * L).cwiseInverse();
  JointVec err = d, r;
  for (int k = 0; k < 200; ++k) {
    m.tau() = tau;
    obs.estimate(m, r, gravity());
    EXPECT_MATRIX_EQ(m.tau(), tau);
    const JointVec expected = err.cwiseProduct(ratio);
    err = r + d;
    ASSERT_MATRIX_NEAR(err, expected, 1e-10 * scale(d)) << "step " << k;
  }
  EXPECT_MATRIX_NEAR(r, -d, 1e-6 * scale(d));
}

// With a zero period the integral never moves: the output is L .* (p - p0) = L .* (M qdot) whatever
// the torques, and a later non-zero period starts from an untouched integral.
TYPED_TEST(MomentumObserverTest, ZeroPeriodGivesTheScaledMomentumAndFreezesTheIntegral) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  RandomRobot<N> robot(73, true);
  VexoBaseXD<N>& m = robot.model();
  const JointVec L = randomGains<N>(robot.rng());
  MomentumObserverXD<N> obs, fresh;  // period 0.0 as constructed
  obs.setGain(L);
  fresh.setGain(L);
  JointVec r, r2;
  for (int k = 0; k < 5; ++k) {
    randomState<N>(m, robot.rng());
    m.idyn_momentum(m.qdot());
    const JointVec p = m.tau();
    m.tau() = randomMatrix<N>(robot.rng(), 10.0);
    obs.estimate(m, r, gravity());
    EXPECT_MATRIX_NEAR(r, L.cwiseProduct(p), 1e-12 * scale(L.cwiseProduct(p)));
  }
  obs.setPeriod(1e-2);
  fresh.setPeriod(1e-2);
  obs.estimate(m, r, gravity());
  fresh.estimate(m, r2, gravity());
  EXPECT_MATRIX_EQ(r, r2);
}

// setGain stores L / (1 + h L) with the period of the moment; a later setPeriod changes the step
// but not the stored gain. The first output of an observer is that gain times p - h s - p0, the
// same bracket for observers that step with the same period, so their outputs scale with the gains.
TYPED_TEST(MomentumObserverTest, GainIsScaledWithThePeriodAtCallTime) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  RandomRobot<N> robot(74, false);
  VexoBaseXD<N>& m = robot.model();
  randomState<N>(m, robot.rng());
  m.tau() = randomMatrix<N>(robot.rng(), 10.0);
  const double h = 1e-2;
  const JointVec L = randomGains<N>(robot.rng());
  MomentumObserverXD<N> before, after, other;
  before.setPeriod(h);
  before.setGain(L);  // L / (1 + h L)
  after.setGain(L);   // L: the period was still 0
  after.setPeriod(h);
  other.setPeriod(2 * h);
  other.setGain(L);   // L / (1 + 2 h L)
  other.setPeriod(h);
  JointVec rb, ra, ro;
  before.estimate(m, rb, gravity());
  after.estimate(m, ra, gravity());
  other.estimate(m, ro, gravity());
  const double tol = 1e-12 * scale(ra);
  EXPECT_GT(ra.norm(), 1e-3);
  EXPECT_MATRIX_NEAR(rb.cwiseProduct(JointVec::Ones() + h * L), ra, tol);
  EXPECT_MATRIX_NEAR(ro.cwiseProduct(JointVec::Ones() + 2 * h * L), ra, tol);
}

TYPED_TEST(MomentumObserverTest, GravityFreeOverloadEqualsZeroGravity) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  RandomRobot<N> robot(75, true);
  VexoBaseXD<N>& m = robot.model();
  const JointVec L = randomGains<N>(robot.rng());
  MomentumObserverXD<N> zeroG, noG, withG;
  for (auto* o : {&zeroG, &noG, &withG}) {
    o->setPeriod(1e-3);
    o->setGain(L);
  }
  JointVec r1, r2, r3;
  for (int k = 0; k < 5; ++k) {
    randomState<N>(m, robot.rng());
    const JointVec tau = randomMatrix<N>(robot.rng(), 10.0);
    m.tau() = tau;
    zeroG.estimate(m, r1, Vector3D::Zero());
    noG.estimate(m, r2);
    EXPECT_MATRIX_EQ(m.tau(), tau);
    withG.estimate(m, r3, gravity());
    EXPECT_MATRIX_NEAR(r1, r2, 1e-12 * scale(r1));
    EXPECT_GT((r3 - r2).norm(), 1e-6);  // gravity does enter the first overload
  }
}

// The observer works with the pure Coriolis matrix: external wrenches and added biases stored in
// the model's bodies change neither C nor the momentum nor g, so they do not change the residual.
TYPED_TEST(MomentumObserverTest, BodyWrenchesDoNotEnterTheObserver) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  RandomRobot<N> robot(76, false);
  VexoBaseXD<N>& m = robot.model();
  const JointVec L = randomGains<N>(robot.rng());
  MomentumObserverXD<N> plain, loaded;
  for (auto* o : {&plain, &loaded}) {
    o->setPeriod(1e-3);
    o->setGain(L);
  }
  BiasedBody biased(robot.body(3), Wrench(randomTwist(robot.rng(), 5.0)));
  const Wrench F(randomTwist(robot.rng(), 5.0));
  JointVec r1, r2;
  for (int k = 0; k < 5; ++k) {
    randomState<N>(m, robot.rng());
    m.tau() = randomMatrix<N>(robot.rng(), 10.0);
    plain.estimate(m, r1, gravity());
    m.addBody(3, biased);
    m.body(N).setExtWrench(F);
    m.update(false);
    loaded.estimate(m, r2, gravity());
    m.addBody(3, robot.body(3));
    m.body(N).clearExtWrench();
    EXPECT_MATRIX_NEAR(r2, r1, 1e-10 * scale(r1));
  }
}

TYPED_TEST(MomentumObserverTest, EstimateDoesNotAllocateAndLeavesTheModelAlone) {
  constexpr int N = TypeParam::value;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  RandomRobot<N> robot(77, true);
  VexoBaseXD<N>& m = robot.model();
  randomState<N>(m, robot.rng());
  const JointVec tau = randomMatrix<N>(robot.rng(), 10.0);
  m.tau() = tau;
  Twist V[N + 1];
  for (int k = 0; k <= N; ++k) V[k] = m.body(k).V();
  MomentumObserverXD<N> obs;
  const JointVec L = randomGains<N>(robot.rng());
  EXPECT_NO_ALLOCATION(obs.setPeriod(1e-3));
  EXPECT_NO_ALLOCATION(obs.setGain(L));
  JointVec r;
  const Vector3D g = gravity();
  EXPECT_NO_ALLOCATION(obs.estimate(m, r, g));
  EXPECT_NO_ALLOCATION(obs.estimate(m, r));
  EXPECT_MATRIX_EQ(m.tau(), tau);
  for (int k = 0; k <= N; ++k) EXPECT_MATRIX_EQ(m.body(k).V(), V[k]);
  EXPECT_TRUE(r.allFinite());
}

}  // namespace zorvik_test::dyn::momentum_observer_test
