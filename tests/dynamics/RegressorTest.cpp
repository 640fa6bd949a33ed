// The regressors of DynamicAnalysisXD<N> on random chains and trees of every joint kind: Y pi
// against idyn and idyn_passive, which compute the torques from the bodies' mass properties by
// another route, for the models' own parameters and for random physically consistent ones, on the
// library path and on the general path (GeneralPathTwin); the torques' linearity in pi checked on
// idyn alone; what Y leaves out (external wrenches, added biases, a client's inertia() on top of
// its Inertia) against the torques the body Jacobians give for them; no allocation.
//
// Tolerance: Y pi and idyn sum the same products in another order, 1e-12 of the torques' size.
#include <Vexo/DynamicAnalysisXD>

#include "DynamicsTestUtil.h"
#include "support/AllocationCounter.h"
#include "support/GeneralPathTwin.h"

namespace zorvik_test::dyn::regressor_test {

constexpr double kRelTol = 1e-12;

template <typename T>
class RegressorTest : public ::testing::Test {};
TYPED_TEST_SUITE(RegressorTest, DynamicsWidths, JacobianWidthNames);

template <typename A, typename B>
void expectRelativelyNear(const Eigen::MatrixBase<A>& a, const Eigen::MatrixBase<B>& b,
                          const char* what) {
  EXPECT_LE((a - b).norm(), kRelTol * b.norm()) << what << "\n"
                                                << a.transpose() << "\n"
                                                << b.transpose();
}

// For both models (the library path and its general-path twin) at the same state: Y pi = idyn and
// the passive form = idyn_passive, with random arguments.
template <int N>
void expectRegressorsGiveTheTorques(VexoBaseXD<N>& m,
                                    const typename DynamicAnalysisXD<N>::ParamVec& pi,
                                    std::mt19937& rng) {
  typedef DynamicAnalysisXD<N> DA;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  const JointVec qddot = randomMatrix<N>(rng), qdot_r = randomMatrix<N>(rng),
                 qddot_r = randomMatrix<N>(rng);
  const Vector3D g = gravity();
  GeneralPathTwin<N> twin(m);
  for (VexoBaseXD<N>* model : {&m, &twin.model()}) {
    SCOPED_TRACE(model == &m ? "library path" : "general path");
    DA::SetInertialParameters(*model, pi);
    model->update(false);
    typename DA::RegressorMat Y;
    DA::Regressor(*model, qddot, g, Y);
    model->idyn(model->qdot(), qddot, g);
    expectRelativelyNear(Y * pi, model->tau(), "Y pi against idyn");
    DA::PassiveRegressor(*model, qdot_r, qddot_r, g, Y);
    model->idyn_passive(qdot_r, qddot_r, g);
    expectRelativelyNear(Y * pi, model->tau(), "passive Y pi against idyn_passive");
  }
}

TYPED_TEST(RegressorTest, TimesParametersGivesInverseDynamicsOnBothPaths) {
  constexpr int N = TypeParam::value;
  typedef DynamicAnalysisXD<N> DA;
  forEachRobot<N>(41, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    typename DA::ParamVec own;
    DA::InertialParameters(m, own);
    for (int s = 0; s < 3; ++s) {
      randomState<N>(m, rng);
      expectRegressorsGiveTheTorques<N>(m, own, rng);
      expectRegressorsGiveTheTorques<N>(m, randomInertialParameters<N>(rng), rng);
    }
  });
}

// idyn itself is linear in pi (no external wrench): torques of a combination of parameter vectors
// are the combination of the torques. And Y does not depend on the parameters it multiplies.
TYPED_TEST(RegressorTest, TorquesAreLinearInTheParameters) {
  constexpr int N = TypeParam::value;
  typedef DynamicAnalysisXD<N> DA;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(43, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    const JointVec qddot = randomMatrix<N>(rng);
    const typename DA::ParamVec a = randomInertialParameters<N>(rng),
                                b = randomInertialParameters<N>(rng);
    const auto torques = [&](const typename DA::ParamVec& pi, typename DA::RegressorMat& Y) {
      DA::SetInertialParameters(m, pi);
      m.idyn(m.qdot(), qddot, gravity());
      DA::Regressor(m, qddot, gravity(), Y);
      return JointVec(m.tau());
    };
    typename DA::RegressorMat Ya, Yb, Yab;
    const JointVec ta = torques(a, Ya), tb = torques(b, Yb), tab = torques(0.3 * a + 1.7 * b, Yab);
    expectRelativelyNear(tab, JointVec(0.3 * ta + 1.7 * tb), "idyn(0.3 a + 1.7 b)");
    EXPECT_TRUE(Ya == Yb && Yb == Yab);
  });
}

// What is not an inertial parameter stays out of Y: a model with external wrenches, added biases
// and rotors (Loads) has the Y of the plain model, and idyn - Y pi is the torque of those terms.
// For the external wrench F_k on body k alone, that is -J_k^T F_k (body Jacobian).
TYPED_TEST(RegressorTest, LeavesOutExternalWrenchesAddedBiasesAndClientInertia) {
  constexpr int N = TypeParam::value;
  typedef DynamicAnalysisXD<N> DA;
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  forEachRobot<N>(47, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    const JointVec qddot = randomMatrix<N>(rng);
    typename DA::RegressorMat Yplain, Yloaded;
    DA::Regressor(m, qddot, gravity(), Yplain);
    typename DA::ParamVec pi;
    DA::InertialParameters(m, pi);
    // One external wrench.
    const int k = N / 2 + 1;
    const Wrench F = randomWrench(rng);
    m.body(k).setExtWrench(F);
    m.update(false);
    m.updateJacobian(true);
    m.idyn(m.qdot(), qddot, gravity());
    DA::Regressor(m, qddot, gravity(), Yloaded);
    EXPECT_MATRIX_NEAR(Yloaded, Yplain, 0);
    expectRelativelyNear(JointVec(m.tau() - Yloaded * pi), JointVec(-m.J(k).transpose() * F),
                         "torque of the external wrench");
    m.body(k).clearExtWrench();
    // Derived bodies: biases, rotors (inertia() above the Inertia), more external wrenches. The
    // bodies stay registered until the end of the robot's check.
    Loads loads(m, rng);
    DA::Regressor(m, qddot, gravity(), Yloaded);
    EXPECT_MATRIX_NEAR(Yloaded, Yplain, kRelTol * Yplain.norm());
  });
}

TYPED_TEST(RegressorTest, PassiveFormAtTheActualRatesIsTheOrdinaryOne) {
  constexpr int N = TypeParam::value;
  typedef DynamicAnalysisXD<N> DA;
  forEachRobot<N>(53, [](VexoBaseXD<N>& m, std::mt19937& rng) {
    randomState<N>(m, rng);
    const typename VexoBaseXD<N>::JointVec qddot = randomMatrix<N>(rng);
    typename DA::RegressorMat Y, Yp;
    DA::Regressor(m, qddot, gravity(), Y);
    DA::PassiveRegressor(m, m.qdot(), qddot, gravity(), Yp);
    EXPECT_MATRIX_NEAR(Yp, Y, kRelTol * Y.norm());
  });
}

TYPED_TEST(RegressorTest, ParametersRoundTripThroughTheModel) {
  constexpr int N = TypeParam::value;
  typedef DynamicAnalysisXD<N> DA;
  RandomRobot<N> r(59, true, JointMix::AllOneDof);
  const typename DA::ParamVec pi = randomInertialParameters<N>(r.rng());
  typename DA::ParamVec back;
  DA::SetInertialParameters(r.model(), pi);
  DA::InertialParameters(r.model(), back);
  EXPECT_MATRIX_NEAR(back, pi, 1e-15 * pi.cwiseAbs().maxCoeff());
  // Body k holds pi's k-th block: its spatial inertia has mass pi(10 (k - 1)).
  for (int k = 1; k <= N; ++k) EXPECT_NEAR(r.model().body(k).mass(), pi(10 * (k - 1)), 1e-15);
}

TYPED_TEST(RegressorTest, NothingAllocates) {
  constexpr int N = TypeParam::value;
  typedef DynamicAnalysisXD<N> DA;
  MixedJointRobot<N> r(61, true);
  VexoBaseXD<N>& m = r.model();
  randomState<N>(m, r.rng());
  GeneralPathTwin<N> twin(m);
  twin.model().update(false);
  const typename VexoBaseXD<N>::JointVec a = randomMatrix<N>(r.rng());
  std::unique_ptr<typename DA::RegressorMat> Y(new typename DA::RegressorMat);
  std::unique_ptr<typename DA::ParamVec> pi(new typename DA::ParamVec);
  for (VexoBaseXD<N>* model : {&m, &twin.model()}) {
    EXPECT_NO_ALLOCATION(DA::Regressor(*model, a, gravity(), *Y));
    EXPECT_NO_ALLOCATION(DA::PassiveRegressor(*model, a, a, gravity(), *Y));
    EXPECT_NO_ALLOCATION(DA::InertialParameters(*model, *pi));
    EXPECT_NO_ALLOCATION(DA::SetInertialParameters(*model, *pi));
  }
  doNotOptimize(*Y);
}

}  // namespace zorvik_test::dyn::regressor_test
