// The ten inertial parameters of Inertia, the 6 x 10 wrench regressors and the load helpers,
// against what is worked out here from the centre-of-mass form: the parallel-axis theorem for the
// parameters, Newton and Euler at the centre of mass for the wrench, M ad(V) - ad(V)^T M for the
// passivity-preserving one, and a load lumped by the older addInertia for the helpers.
#include <AMBS/Body>

#include "ModelTestSupport.h"
#include "support/AllocationCounter.h"
#include "support/RandomLieGroup.h"
#include "support/RandomRobot.h"
#include "support/SpatialAlgebra.h"

namespace zorvik_test::inertial_parameters_test {

typedef Inertia::Parameters Params;

// (m, m c, Io) with Io = Icom + m (|c|^2 1 - c c^T) about the body origin, in the order
// (Ixx, Iyy, Izz, Ixy, Iyz, Izx).
Params parametersOf(double m, const Vec3& c, const Mat3& Icom) {
  const Mat3 Io = Icom + m * (c.squaredNorm() * Mat3::Identity() - c * c.transpose());
  Params pi;
  pi << m, m * c, Io(0, 0), Io(1, 1), Io(2, 2), Io(0, 1), Io(1, 2), Io(2, 0);
  return pi;
}

Mat3 comInertiaOf(const Inertia& I) { return I.comInertia(); }
Vec3 comOf(const Inertia& I) { return Vec3(I.com()[0], I.com()[1], I.com()[2]); }

// Newton and Euler at the centre of mass of a body whose frame has twist V = (v, w) and twist rate
// Vdot = (vdot, wdot), both in the body frame: the frame origin accelerates by vdot + w x v, the
// centre of mass by that plus wdot x c + w x (w x c); f = m a_c, and the moment about the origin
// is c x f + Icom wdot + w x Icom w.
Vec6 newtonEuler(double m, const Vec3& c, const Mat3& Icom, const Vec6& V, const Vec6& Vdot) {
  const Vec3 v = V.head<3>(), w = V.tail<3>(), wdot = Vdot.tail<3>();
  const Vec3 a_c = Vdot.head<3>() + w.cross(v) + wdot.cross(c) + w.cross(w.cross(c));
  const Vec3 f = m * a_c;
  Vec6 F;
  F << f, c.cross(f) + Icom * wdot + w.cross(Icom * w);
  return F;
}

// The spatial inertia assembled from the parameters: [[m 1, -[mc]], [[mc], Io]].
Mat6 spatialInertiaOf(const Params& pi) {
  Mat3 Io;
  Io << pi(4), pi(7), pi(9), pi(7), pi(5), pi(8), pi(9), pi(8), pi(6);
  Mat6 M = Mat6::Zero();
  M.topLeftCorner<3, 3>() = pi(0) * Mat3::Identity();
  M.topRightCorner<3, 3>() = -skew(pi.segment<3>(1));
  M.bottomLeftCorner<3, 3>() = skew(pi.segment<3>(1));
  M.bottomRightCorner<3, 3>() = Io;
  return M;
}

TEST(InertialParameters, AreTheMomentsAboutTheOriginByTheParallelAxisTheorem) {
  std::mt19937 rng(3);
  for (int s = 0; s < 20; ++s) {
    const Inertia I = randomInertia(rng);
    const Params pi = I.parameters();
    EXPECT_MATRIX_NEAR(pi, parametersOf(I.m(), comOf(I), comInertiaOf(I)), 1e-14);
    // The spatial inertia is linear in them, with this layout.
    EXPECT_MATRIX_NEAR(Mat6(I.bodyInertia()), spatialInertiaOf(pi), 1e-14);
  }
}

TEST(InertialParameters, RoundTripThroughSetParameters) {
  std::mt19937 rng(4);
  for (int s = 0; s < 20; ++s) {
    const Inertia I = randomInertia(rng);
    Inertia J;
    J.setParameters(I.parameters());
    EXPECT_NEAR(J.m(), I.m(), 1e-15);
    EXPECT_MATRIX_NEAR(comOf(J), comOf(I), 1e-15);
    EXPECT_MATRIX_NEAR(comInertiaOf(J), comInertiaOf(I), 1e-15);
    EXPECT_MATRIX_NEAR(J.parameters(), I.parameters(), 1e-15);
  }
  // A massless body: zero mass and first moment, rotational inertia kept.
  Params pi = Params::Zero();
  pi.tail<6>() << 0.1, 0.2, 0.3, 0.01, 0.02, 0.03;
  Inertia J;
  J.setParameters(pi);
  EXPECT_EQ(J.m(), 0);
  EXPECT_MATRIX_NEAR(comOf(J), Vec3::Zero(), 0);
  EXPECT_MATRIX_NEAR(J.parameters(), pi, 0);
}

TEST(WrenchRegressor, TimesParametersIsNewtonEulerAtTheCentreOfMass) {
  std::mt19937 rng(5);
  for (int s = 0; s < 20; ++s) {
    const Inertia I = randomInertia(rng);
    const Twist V = randomTwist(rng, 2), Vdot = randomTwist(rng, 3);
    const Vector3D g(randomMatrix<3>(rng, 9.81));
    const Vec6 expected = newtonEuler(I.m(), comOf(I), comInertiaOf(I), V, Vdot);
    EXPECT_MATRIX_NEAR(Vec6(Inertia::wrenchRegressor(V, Vdot) * I.parameters()), expected,
                       1e-13 * (1 + expected.norm()));
    // Gravity g in the body frame: the body is held as if it accelerated by -g.
    Vec6 Vdot_g = Vdot;
    Vdot_g.head<3>() -= g;
    EXPECT_MATRIX_NEAR(Vec6(Inertia::wrenchRegressor(V, Vdot, g) * I.parameters()),
                       newtonEuler(I.m(), comOf(I), comInertiaOf(I), V, Vdot_g),
                       1e-13 * (1 + expected.norm() + 10 * I.m()));
  }
}

TEST(WrenchRegressor, PassiveFormIsTheCoriolisFactorTimesTheReferenceTwist) {
  std::mt19937 rng(6);
  for (int s = 0; s < 20; ++s) {
    const Params pi = randomInertia(rng).parameters();
    const Twist V = randomTwist(rng, 2), Vr = randomTwist(rng, 2), Vdotr = randomTwist(rng, 3);
    const Mat6 M = spatialInertiaOf(pi), ad = adMatrix(V);
    const Vec6 expected = M * Vdotr + (M * ad - ad.transpose() * M) * Vr;
    EXPECT_MATRIX_NEAR(Vec6(Inertia::passivityRegressor(V, Vr, Vdotr) * pi), expected,
                       1e-13 * (1 + expected.norm()));
    // At Vr = V it is the ordinary wrench.
    EXPECT_MATRIX_NEAR(Inertia::passivityRegressor(V, V, Vdotr), Inertia::wrenchRegressor(V, Vdotr),
                       1e-14);
  }
}

TEST(Payload, AddingALoadAddsItsParametersAndRemovingItTakesThemBack) {
  std::mt19937 rng(7);
  for (int s = 0; s < 10; ++s) {
    Body b;
    b.setInertia(randomInertia(rng));
    const Params before = b.getInertia().parameters();
    const Inertia load = randomInertia(rng);
    const HTransform T = randomPose(rng, 0.2);  // the load's frame in the body frame
    // The load's parameters in the body frame: its centre T.R c + T.r, its inertia R Icom R^T.
    const Mat3 R = T.R();
    const Params loadInBody = parametersOf(load.m(), R * comOf(load) + Vec3(T.r()),
                                           R * comInertiaOf(load) * R.transpose());

    b.addInertia(load, T);
    EXPECT_MATRIX_NEAR(b.getInertia().parameters(), before + loadInBody, 1e-13);
    b.removeInertia(load, T);
    EXPECT_MATRIX_NEAR(b.getInertia().parameters(), before, 1e-13);
    EXPECT_NEAR(b.mass(), before(0), 1e-14);
  }
}

TEST(InertialParameters, NothingAllocates) {
  std::mt19937 rng(8);
  Inertia I = randomInertia(rng);
  const Inertia load = randomInertia(rng);
  const HTransform T = randomPose(rng);
  const Twist V = randomTwist(rng), Vdot = randomTwist(rng);
  Params pi;
  Inertia::WrenchRegressor Y;
  EXPECT_NO_ALLOCATION(pi = I.parameters());
  EXPECT_NO_ALLOCATION(I.setParameters(pi));
  EXPECT_NO_ALLOCATION(Y = Inertia::wrenchRegressor(V, Vdot));
  EXPECT_NO_ALLOCATION(Y = Inertia::passivityRegressor(V, V, Vdot));
  EXPECT_NO_ALLOCATION(I.addInertia(load, T));
  EXPECT_NO_ALLOCATION(I.removeInertia(load, T));
  doNotOptimize(Y);
}

}  // namespace zorvik_test::inertial_parameters_test
