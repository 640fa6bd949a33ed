// Mass properties and the rigid body: the spatial inertia against the momentum of a rigid body
// worked out from its centre-of-mass velocity, the cache, the documented choices (ten-scalar order,
// rotated inertia, lumping, massless threshold, closed-form inverse, external-wrench frames), and
// the Newton-Euler wrench against the rate of change of momentum.
#include <AMBS/Body>

#include <functional>
#include <type_traits>

#include "ModelTestSupport.h"
#include "support/RandomRobot.h"

namespace zorvik_test::inertia_body_test {

using LieGroup::Displacement;

Mat3 comInertiaOf(const Inertia& I) {
  const double* J = I.inertia();
  Mat3 m;
  m << J[0], J[3], J[5], J[3], J[1], J[4], J[5], J[4], J[2];
  return m;
}

// The momentum of a rigid body whose frame moves with twist (v, w): the centre of mass moves with
// v + w x c, so the linear momentum is m (v + w x c); the angular momentum about the frame origin
// is Icom w + c x (linear momentum).
Vec6 momentumOf(double m, const Vec3& c, const Mat3& Icom, const Vec6& V) {
  const Vec3 v = V.head<3>(), w = V.tail<3>();
  const Vec3 p = m * (v + w.cross(c));
  Vec6 h;
  h << p, Icom * w + c.cross(p);
  return h;
}

TEST(Inertia, WorkedExampleHasTheExpectedEntries) {
  const Inertia I(2, 0.1, 0.2, 0.3, 1, 2, 3, 0.4, 0.5, 0.6);
  const Matrix6d& M = I.bodyInertia();
  EXPECT_TRUE(M == M.transpose());
  // Linear momentum of a pure rotation: m w x c, so the w_y column holds m c_z at row 0, and
  // the w_z column -m c_y.
  EXPECT_DOUBLE_EQ(M(0, 4), 0.6);
  EXPECT_DOUBLE_EQ(M(0, 5), -0.4);
  EXPECT_DOUBLE_EQ(M(4, 0), 0.6);
  // Parallel axis: Ixx + m (cy^2 + cz^2), Ixy - m cx cy.
  EXPECT_DOUBLE_EQ(M(3, 3), 1 + 2 * (0.04 + 0.09));
  EXPECT_DOUBLE_EQ(M(3, 4), 0.4 - 2 * 0.1 * 0.2);
  EXPECT_DOUBLE_EQ(M(0, 0), 2);
  EXPECT_DOUBLE_EQ(M(0, 3), 0);
}

TEST(Inertia, MapsTwistsToTheMomentumOfTheRigidBody) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 20; ++trial) {
    const Inertia I = randomInertia(rng);
    const Vec3 c(I.com()[0], I.com()[1], I.com()[2]);
    const Vec6 V = randomMatrix<6>(rng);
    EXPECT_MATRIX_CLOSE(I.bodyInertia() * V, momentumOf(I.m(), c, comInertiaOf(I), V), 1e-14);
  }
}

TEST(Inertia, CentreOfMassAtTheOriginGivesBlockDiagonalMatrix) {
  const Inertia I(1.5, 0, 0, 0, 0.1, 0.2, 0.3, 0.01, 0.02, 0.03);
  Mat6 expected = Mat6::Zero();
  expected.topLeftCorner<3, 3>() = 1.5 * Mat3::Identity();
  expected.bottomRightCorner<3, 3>() << 0.1, 0.01, 0.03, 0.01, 0.2, 0.02, 0.03, 0.02, 0.3;
  EXPECT_MATRIX_CLOSE(I.bodyInertia(), expected, 0);
}

TEST(Inertia, AllConstructorsAndSettersStoreTheTenScalarsInOrder) {
  const double com[3] = {0.1, -0.2, 0.3}, J[6] = {1, 2, 3, 0.4, 0.5, 0.6};
  Inertia a(2, 0.1, -0.2, 0.3, 1, 2, 3, 0.4, 0.5, 0.6), b(2, com, J), c, d, e;
  c.set(2, 0.1, -0.2, 0.3, 1, 2, 3, 0.4, 0.5, 0.6);
  d.set(2, com, J);
  e.set(a);
  for (const Inertia* I : {&a, &b, &c, &d, &e}) {
    EXPECT_EQ(I->m(), 2);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(I->com()[i], com[i]);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(I->inertia()[i], J[i]);
    EXPECT_MATRIX_CLOSE(I->bodyInertia(), a.bodyInertia(), 0);
  }
  EXPECT_TRUE(Inertia().hasZeroMass());
}

struct CacheProbe : Inertia {
  using Inertia::Inertia;
  bool inertiaCached() const { return _updated_inertia; }
  bool inverseCached() const { return _updated_invInertia; }
};

// Each setter, applied to an Inertia whose caches are filled, must give the matrices of a fresh
// Inertia with the new values.
TEST(Inertia, EverySetterInvalidatesBothCaches) {
  const double com[3] = {0.05, 0.1, -0.2}, J[6] = {0.3, 0.4, 0.5, 0.01, -0.02, 0.03};
  const Rotation R(expSO3(Vec3(0.3, 0.2, -0.5)));
  const HTransform T(homogeneous(expSO3(Vec3(-0.4, 0.1, 0.9)), Vec3(0.2, -0.1, 0.3)));
  const Inertia other(0.7, 0.1, 0.1, 0.1, 0.02, 0.03, 0.04, 0, 0, 0);
  typedef std::function<void(Inertia&)> Setter;
  const std::vector<std::pair<const char*, Setter>> setters = {
      {"mass", [](Inertia& I) { I.mass(3.5); }},
      {"writable m()", [](Inertia& I) { I.m() = 3.5; }},
      {"com", [](Inertia& I) { I.com(0.3, -0.1, 0.2); }},
      {"inertia", [](Inertia& I) { I.inertia(0.6, 0.7, 0.8, 0.05, 0.04, 0.03); }},
      {"rotated inertia", [&](Inertia& I) { I.inertia(R, 0.6, 0.7, 0.8, 0.05, 0.04, 0.03); }},
      {"set ten", [](Inertia& I) { I.set(1.1, 0.2, 0.2, 0.2, 0.6, 0.7, 0.8, 0, 0, 0); }},
      {"set arrays", [&](Inertia& I) { I.set(1.1, com, J); }},
      {"set other", [&](Inertia& I) { I.set(other); }},
      {"add", [&](Inertia& I) { I.addInertia(other); }},
      {"add in frame", [&](Inertia& I) { I.addInertia(other, T); }},
  };
  for (const auto& s : setters) {
    CacheProbe I(2, 0.1, -0.2, 0.3, 0.5, 0.6, 0.7, 0.01, 0.02, 0.03);
    EXPECT_FALSE(I.inertiaCached());
    EXPECT_FALSE(I.inverseCached());
    const Matrix6d& first = I.bodyInertia();
    EXPECT_EQ(&first, &I.bodyInertia()) << "the cache is returned by reference";
    I.bodyInvInertia();
    EXPECT_TRUE(I.inertiaCached());
    EXPECT_TRUE(I.inverseCached());
    s.second(I);
    EXPECT_FALSE(I.inertiaCached()) << s.first;
    EXPECT_FALSE(I.inverseCached()) << s.first;
    const Inertia& read = I;  // the const accessors, which leave the caches alone
    const Inertia fresh(read.m(), read.com(), read.inertia());
    EXPECT_MATRIX_CLOSE(I.bodyInertia(), fresh.bodyInertia(), 0) << s.first;
    EXPECT_MATRIX_CLOSE(I.bodyInvInertia(), fresh.bodyInvInertia(), 0) << s.first;
  }
}

TEST(Inertia, RotatedInertiaHasTheGivenPrincipalMomentsAlongTheRotatedAxes) {
  const Rotation R(expSO3(Vec3(0.5, -1.0, 0.3)));
  Inertia I(1, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  I.inertia(R, 0.2, 0.3, 0.4, 0, 0, 0);
  const Mat3 Icom = comInertiaOf(I);
  const double moments[3] = {0.2, 0.3, 0.4};
  // Spinning about the k-th axis of the rotated frame gives angular momentum along that axis.
  for (int k = 0; k < 3; ++k) EXPECT_MATRIX_CLOSE(Icom * R.col(k), moments[k] * R.col(k), 1e-15);
  // With products of inertia given in the rotated frame: Icom = R Irot R^T.
  Mat3 Irot;
  Irot << 0.2, 0.01, 0.03, 0.01, 0.3, 0.02, 0.03, 0.02, 0.4;
  I.inertia(R, 0.2, 0.3, 0.4, 0.01, 0.02, 0.03);
  EXPECT_MATRIX_CLOSE(comInertiaOf(I), R * Irot * R.transpose(), 1e-15);
}

// The spatial inertia of a lumped body is the sum of the parts' spatial inertias, each carried to
// the common body frame: a part given in the frame T has M_part_at_body = Ad(T^-1)^T M Ad(T^-1),
// since its momentum for a body twist V is M Ad(T^-1) V, carried back with the dual adjoint.
TEST(Inertia, LumpingAddsTheSpatialInertiasOfThePartsInOneFrame) {
  std::mt19937 rng(12);
  for (int trial = 0; trial < 10; ++trial) {
    const Inertia a = randomInertia(rng), b = randomInertia(rng);
    const Mat4 T = randomPose(rng);
    const Mat6 AdInv = adjoint(inversePose(T));
    const Mat6 expected = a.bodyInertia() + AdInv.transpose() * b.bodyInertia() * AdInv;
    Inertia lumped = a;
    lumped.addInertia(b, HTransform(T));
    EXPECT_MATRIX_CLOSE(lumped.bodyInertia(), expected, 1e-13);
    EXPECT_DOUBLE_EQ(lumped.m(), a.m() + b.m());
    Inertia same = a;
    same.addInertia(b);
    EXPECT_MATRIX_CLOSE(same.bodyInertia(), Mat6(a.bodyInertia() + b.bodyInertia()), 1e-13);
    // The body forwards to its mass properties.
    Body body;
    body.setInertia(a);
    body.addInertia(b, HTransform(T));
    EXPECT_MATRIX_CLOSE(body.inertia(), expected, 1e-13);
  }
}

TEST(Inertia, MasslessMeansBelowAMicrogram) {
  EXPECT_TRUE(Inertia(0, 0, 0, 0, 0, 0, 0, 0, 0, 0).hasZeroMass());
  EXPECT_TRUE(Inertia(1e-12, 0, 0, 0, 0, 0, 0, 0, 0, 0).hasZeroMass());
  EXPECT_FALSE(Inertia(1e-3, 0, 0, 0, 0, 0, 0, 0, 0, 0).hasZeroMass());
  // Two massless parts stay massless and keep a finite centre of mass.
  Inertia a;
  a.addInertia(Inertia());
  EXPECT_TRUE(a.hasZeroMass());
  EXPECT_TRUE(std::isfinite(a.com()[0]));
}

TEST(Inertia, InverseTimesInertiaIsIdentity) {
  std::mt19937 rng(13);
  for (int trial = 0; trial < 20; ++trial) {
    const Inertia I = randomInertia(rng);
    EXPECT_MATRIX_CLOSE(I.bodyInvInertia() * I.bodyInertia(), Mat6::Identity(), 1e-12);
    EXPECT_MATRIX_CLOSE(I.bodyInertia() * I.bodyInvInertia(), Mat6::Identity(), 1e-12);
  }
}

// ---------------------------------------------------------------------------------------------
// Body

struct UnflaggedWrenchBody : Body {
  // An external wrench that is stored but not flagged.
  void storeUnflaggedWrench(const Wrench& F) {
    _Fext = F;
    _hasNonzeroWrench = false;
  }
};

class BodyDynamics : public ::testing::Test {
 protected:
  BodyDynamics() : rng(14) {
    body.setInertia(randomInertia(rng));
    body.T() = HTransform(randomPose(rng));
    body.V() = Twist(randomMatrix<6>(rng));
  }
  std::mt19937 rng;
  Body body;
};

TEST_F(BodyDynamics, StartsAtIdentityAtRestWithoutWrench) {
  const Body b;
  EXPECT_TRUE(b.T().isIdentity(0));
  EXPECT_TRUE(b.V().isZero(0));
  EXPECT_TRUE(b.Fext().isZero(0));
  EXPECT_FALSE(b.hasNonzeroWrench());
  const HTransform T(randomPose(rng));
  const Twist V(randomMatrix<6>(rng));
  EXPECT_TRUE(Body(T).T() == T);
  EXPECT_TRUE(Body(T, V).V() == V);
}

TEST_F(BodyDynamics, AtRestTheWrenchIsInertiaTimesAcceleration) {
  body.V().setZero();
  const Twist Vdot(randomMatrix<6>(rng));
  Wrench F;
  body.idyn(Vdot, F);
  const Wrench expected(body.inertia() * Vdot);
  // The body applies its inertia from the blocks of its mass properties: equal to rounding.
  EXPECT_LE((F - expected).norm(), 1e-14 * (1 + expected.norm()));
}

// Newton-Euler in the body frame: the wrench on the body, carried to a fixed inertial frame, is the
// rate of change of the momentum expressed there. Along a motion T(t) with body twist V + t Vdot,
// the momentum in the inertial frame is Ad(T(t)^-1)^T M (V + t Vdot), and the wrench in the body
// frame is Ad(T)^T times its derivative.
TEST_F(BodyDynamics, WrenchIsTheRateOfChangeOfMomentum) {
  for (int trial = 0; trial < 10; ++trial) {
    body.V() = Twist(randomMatrix<6>(rng));
    const Vec6 V = body.V();
    const Vec6 Vdot = randomMatrix<6>(rng);
    const Mat4 T0 = body.T();
    const Mat6 M = body.inertia();
    auto inertialMomentum = [&](double t) -> Vec6 {
      const Mat4 T = T0 * curveWithTwist(V, t);
      return adjoint(inversePose(T)).transpose() * (M * (V + t * Vdot));
    };
    const Vec6 expected = adjoint(T0).transpose() * centralDifference(inertialMomentum, 1e-3);
    Wrench F;
    body.idyn(Twist(Vdot), F);
    EXPECT_MATRIX_CLOSE(F, expected, 1e-9);
    EXPECT_MATRIX_CLOSE(body.bias(), Vec6(F - M * Vdot), 1e-14);
  }
}

// C(V) Vr = bias_passive(Vr) is linear in the reference twist; with C = M ad(V) - ad(V)^T M it is
// skew-symmetric (the body-frame inertia is constant), so it does no work on any reference twist,
// and at Vr = V it reproduces the Newton-Euler bias.
TEST_F(BodyDynamics, PassiveBiasIsASkewSymmetricCoriolisFactor) {
  Mat6 C;
  for (int k = 0; k < 6; ++k) C.col(k) = body.bias_passive(Twist(Vec6(Vec6::Unit(k))));
  const Mat6 M = body.inertia();
  const Mat6 ad = adMatrix(body.V());
  EXPECT_MATRIX_CLOSE(C, Mat6(M * ad - ad.transpose() * M), 1e-14);
  EXPECT_MATRIX_CLOSE(C + C.transpose(), Mat6::Zero(), 1e-14);
  const Vec6 Vr = randomMatrix<6>(rng);
  EXPECT_MATRIX_CLOSE(body.bias_passive(Twist(Vr)), C * Vr, 1e-14);
  EXPECT_NEAR(Vr.dot(body.bias_passive(Twist(Vr))), 0, 1e-13);
  EXPECT_MATRIX_CLOSE(body.bias_passive(body.V()), body.bias(), 1e-14);
}

TEST_F(BodyDynamics, PassiveFormAtTheBodysOwnTwistEqualsTheOrdinaryForm) {
  const Twist Vdot(randomMatrix<6>(rng));
  Wrench F, Fp;
  body.setExtWrench(Wrench(randomMatrix<6>(rng)));
  body.idyn(Vdot, F);
  body.idyn_passive(body.V(), Vdot, Fp);
  EXPECT_MATRIX_CLOSE(Fp, F, 1e-14);
  // And with another reference motion it is C(V) Vr + M Vdotr - Fext.
  const Twist Vr(randomMatrix<6>(rng));
  body.idyn_passive(Vr, Vdot, Fp);
  EXPECT_MATRIX_CLOSE(Fp, Vec6(body.bias_passive(Vr) + body.inertia() * Vdot), 1e-14);
}

TEST_F(BodyDynamics, ExternalWrenchCountsOnlyWhenFlagged) {
  const Twist Vdot(randomMatrix<6>(rng));
  Wrench F0, F;
  body.idyn(Vdot, F0);
  const Wrench Fext(randomMatrix<6>(rng));

  UnflaggedWrenchBody probe;
  probe.setInertia(body.getInertia());
  probe.V() = body.V();
  probe.storeUnflaggedWrench(Fext);
  probe.idyn(Vdot, F);
  // A derived body takes the general 6x6 product, a plain one the block form: equal to rounding.
  EXPECT_LE((F - F0).norm(), 1e-14 * (1 + F0.norm())) << "an unflagged wrench is ignored";

  body.setExtWrench(Fext);
  EXPECT_TRUE(body.hasNonzeroWrench());
  body.idyn(Vdot, F);
  EXPECT_MATRIX_CLOSE(F, Vec6(F0 - Fext), 1e-14) << "the environment supplies part of the wrench";
  Wrench Fp0, Fp;
  body.clearExtWrench();
  body.idyn_passive(Twist(Vec6::Ones()), Vdot, Fp0);
  body.setExtWrench(Fext);
  body.idyn_passive(Twist(Vec6::Ones()), Vdot, Fp);
  EXPECT_MATRIX_CLOSE(Fp, Vec6(Fp0 - Fext), 1e-14);

  body.addExtWrench(Fext);
  EXPECT_MATRIX_CLOSE(body.Fext(), Vec6(2 * Fext), 0);
  body.clearExtWrench();
  EXPECT_FALSE(body.hasNonzeroWrench());
  EXPECT_TRUE(body.Fext().isZero(0));
  body.idyn(Vdot, F);
  EXPECT_TRUE(F == F0);
}

// A wrench given in another frame or about another point must do the same work on every motion
// of the body as the stored body-frame wrench.
TEST_F(BodyDynamics, ExternalWrenchesGivenElsewhereAreStoredInTheBodyFrame) {
  for (int trial = 0; trial < 10; ++trial) {
    const Vec6 Fin = randomMatrix<6>(rng);
    const Mat4 T = randomPose(rng);  // the frame the wrench is given in, in the body frame
    const Vec6 V = randomMatrix<6>(rng);  // any body twist
    Body b;
    b.setExtWrench(Wrench(Fin), HTransform(T));
    EXPECT_TRUE(b.hasNonzeroWrench());
    // Power: the twist seen from frame T is Ad(T^-1) V.
    EXPECT_NEAR(b.Fext().dot(V), Fin.dot(adjoint(inversePose(T)) * V), 1e-13);

    Body c;
    c.addExtWrench(Wrench(Fin), HTransform(T));
    c.addExtWrench(Wrench(Fin), HTransform(T));
    EXPECT_MATRIX_CLOSE(c.Fext(), Vec6(2 * b.Fext()), 1e-15);

    // A force f applied at the point p (body frame) with a couple n: the point moves with
    // v + w x p, so the power is f . (v + w x p) + n . w.
    const Vec3 p = randomMatrix<3>(rng);
    Body d;
    d.addExtWrench(Wrench(Fin), Displacement(p));
    EXPECT_TRUE(d.hasNonzeroWrench());
    const Vec3 f = Fin.head<3>(), n = Fin.tail<3>(), v = V.head<3>(), w = V.tail<3>();
    EXPECT_NEAR(d.Fext().dot(V), f.dot(v + w.cross(p)) + n.dot(w), 1e-13);
  }
}

struct PayloadBody : Body {
  Wrench addedBias() const override { return Wrench(0.3, -1.2, 0.5, 0.02, 0.07, -0.4); }
};

TEST_F(BodyDynamics, AnAddedBiasShiftsBothWrenchesByExactlyThatWrench) {
  PayloadBody derived;
  derived.setInertia(body.getInertia());
  derived.V() = body.V();
  const Twist Vdot(randomMatrix<6>(rng)), Vr(randomMatrix<6>(rng));
  const Vec6 added = derived.addedBias();
  Wrench F, Fd, Fp, Fpd;
  body.idyn(Vdot, F);
  derived.idyn(Vdot, Fd);
  body.idyn_passive(Vr, Vdot, Fp);
  derived.idyn_passive(Vr, Vdot, Fpd);
  EXPECT_MATRIX_CLOSE(Vec6(Fd - F), added, 1e-14);
  EXPECT_MATRIX_CLOSE(Vec6(Fpd - Fp), added, 1e-14);
}

// A derived body's inertia() is the one every dynamics operation uses.
struct HeavierBody : Body {
  Matrix6d inertia() const override { return 2 * Body::inertia(); }
};

TEST_F(BodyDynamics, DynamicsUseTheVirtualInertia) {
  HeavierBody heavy;
  heavy.setInertia(body.getInertia());
  heavy.V() = body.V();
  const Twist Vdot(randomMatrix<6>(rng)), Vr(randomMatrix<6>(rng));
  Wrench F, Fh, Fp, Fph;
  body.idyn(Vdot, F);
  heavy.idyn(Vdot, Fh);
  body.idyn_passive(Vr, Vdot, Fp);
  heavy.idyn_passive(Vr, Vdot, Fph);
  EXPECT_MATRIX_CLOSE(Fh, Vec6(2 * F), 1e-14);
  EXPECT_MATRIX_CLOSE(Fph, Vec6(2 * Fp), 1e-14);
  Matrix6d M;
  Wrench b;
  heavy.dynamics(M, b);
  EXPECT_MATRIX_CLOSE(M, Mat6(2 * body.inertia()), 0);
  EXPECT_MATRIX_CLOSE(b, Vec6(2 * body.bias()), 1e-14);
}

}  // namespace zorvik_test::inertia_body_test
