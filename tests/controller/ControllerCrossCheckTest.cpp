// The transform controller fed pure rotations (zero positions and linear velocities, zero linear
// gains and forces) against the rotation controller. The motion laws must agree exactly in the
// angular half. The force laws differ by construction: the rotation controller maps the moment
// error with dexp^T (eta = dexp^T nt), the transform controller with dexp itself (angular half of
// gamma = dexp nt), and dexp = Rtilde dexp^T; the tests pin the difference down to that.
#include "ControllerTestSupport.h"

namespace zorvik_test::controller_test::cross_check_test {

typedef Eigen::Vector3d Vec3;
typedef Eigen::Matrix<double, 6, 1> Vec6;

Vec6 angular(const Vec3& x) {
  Vec6 r;
  r << Vec3::Zero(), x;
  return r;
}

// One rotation problem posed to both controllers.
struct Pair {
  Pair(Rng& g, double angle, bool passive) {
    R = randomRotation(g, uniform(g, 0, 3));
    Rd = Rotation(R * randomRotation(g, angle));
    w = 0.7 * randomUnitVector(g), wd = 0.7 * randomUnitVector(g), wdotd = randomUnitVector(g);
    n = 2 * randomUnitVector(g), nd = 2 * randomUnitVector(g);
    const Vec3 kp = SO3::randomVec(g, 2).cwiseAbs(), kv = SO3::randomVec(g, 2).cwiseAbs();
    const Vec3 c = SO3::randomVec(g, 2).cwiseAbs(), kf = SO3::randomVec(g, 2).cwiseAbs();
    rot.setPosGain(kp), rot.setVelGain(kv), rot.setInvL2sqr(c), rot.setForceGain(kf);
    tr.setPosGain(angular(kp)), tr.setVelGain(angular(kv));
    tr.setInvL2sqr(Vec6::Ones() + angular(c - Vec3::Ones())), tr.setForceGain(angular(kf));
    rot.setPeriod(0.01), rot.setPassivityBased(passive);
    tr.setPeriod(0.01), tr.setPassivityBased(passive);
  }
  HTransform T() const { return HTransform(R, Vec3::Zero()); }
  HTransform Td() const { return HTransform(Rd, Vec3::Zero()); }
  Rotation Rtilde() const { return Rotation(R.transpose() * Rd); }

  Rotation R, Rd;
  Vector3D w, wd, wdotd, n, nd;
  RotationController rot;
  HTransformController tr;
};

// Angular half equal to the rotation result, linear half zero.
#define EXPECT_ANGULAR_EQ(six, three)                        \
  do {                                                       \
    EXPECT_MATRIX_CLOSE((six).tail<3>(), three, 1e-12);          \
    EXPECT_MATRIX_CLOSE((six).head<3>(), Vec3::Zero(), 1e-12);   \
  } while (0)

const double kAngles[] = {0.0, 0.5, 2.0, 3.1};

TEST(ControllerCrossCheck, PureRotationsGiveTheRotationControllersMotionReferences) {
  Rng g(20);
  for (const bool passive : {false, true})
    for (const double angle : kAngles) {
      SCOPED_TRACE(::testing::Message() << "angle " << angle << (passive ? " passive" : ""));
      Pair p(g, angle, passive);
      const Twist V(Vec3::Zero(), p.w), Vd(Vec3::Zero(), p.wd), Vdotd(Vec3::Zero(), p.wdotd);
      Vec3 xi, xidot, wref, wdotref;
      Vec6 lambda, lambdadot, Vref, Vdotref;
      p.rot.error(p.R, p.Rd, xi);
      p.tr.error(p.T(), p.Td(), lambda);
      EXPECT_ANGULAR_EQ(lambda, xi);
      p.rot.error(p.R, p.w, p.Rd, p.wd, xi, xidot);
      p.tr.error(p.T(), V, p.Td(), Vd, lambda, lambdadot);
      EXPECT_ANGULAR_EQ(lambdadot, xidot);
      // Several cycles, so that the integrals feed the references.
      for (int cycle = 0; cycle < 3; ++cycle) {
        p.rot.refVelocity(p.R, p.Rd, p.wd, wref, xi);
        p.tr.refVelocity(p.T(), p.Td(), Vd, Vref, lambda);
        EXPECT_ANGULAR_EQ(Vref, wref);
        p.rot.refAcceleration(p.R, p.w, p.Rd, p.wd, p.wdotd, wref, wdotref, xi, xidot);
        p.tr.refAcceleration(p.T(), V, p.Td(), Vd, Vdotd, Vref, Vdotref, lambda, lambdadot);
        EXPECT_ANGULAR_EQ(Vref, wref);
        EXPECT_ANGULAR_EQ(Vdotref, wdotref);
        EXPECT_ANGULAR_EQ(p.tr.int_error(), p.rot.int_error());
        EXPECT_ANGULAR_EQ(p.tr.refForce(), p.rot.refForce());
      }
    }
}

// With zero integrals, the only difference between the two impedance laws is Kf (gamma - eta) in
// the second rate, with Kf = dexpinv^T diag(kf) dexpinv on the angular block. Mapped by
// -Rtilde dexp^T it is -Rtilde (kf o (dexpinv (dexp - dexp^T) nt))
// = -Rtilde (kf o (nt - Rtilde^T nt)), since dexpinv dexp^T = Rtilde^T. In the compliance law
// gamma - eta enters unweighted, so the references differ by -Rtilde dexp^T (dexp - dexp^T) nt.
TEST(ControllerCrossCheck, ForceLawsDifferExactlyByDexpAgainstItsTranspose) {
  Rng g(21);
  for (const bool passive : {false, true})
    for (const double angle : kAngles) {
      SCOPED_TRACE(::testing::Message() << "angle " << angle << (passive ? " passive" : ""));
      Pair p(g, angle, passive);
      const Twist V(Vec3::Zero(), p.w), Vd(Vec3::Zero(), p.wd), Vdotd(Vec3::Zero(), p.wdotd);
      const Wrench F(Vec3::Zero(), p.n), Fd(Vec3::Zero(), p.nd);
      const Rotation Rt = p.Rtilde();
      const Vec3 nt = p.nd - Rt.transpose() * p.n;
      const Vector3D xi_ = Rt.expCoord();
      const Eigen::Matrix3d J = xi_.dexp();

      RotationController rot = p.rot;
      HTransformController tr = p.tr;
      Vec3 wref, wdotref, xi, xidot, eta;
      Vec6 Vref, Vdotref, lambda, lambdadot, gamma;
      rot.refImpedanceAcceleration(p.R, p.w, p.Rd, p.wd, p.wdotd, p.n, p.nd, wref, wdotref, xi,
                                   xidot, eta);
      tr.refImpedanceAcceleration(p.T(), V, p.Td(), Vd, Vdotd, F, Fd, Vref, Vdotref, lambda,
                                  lambdadot, gamma);
      EXPECT_MATRIX_CLOSE(eta, J.transpose() * nt, 1e-12);
      EXPECT_ANGULAR_EQ(gamma, Rt * eta);
      EXPECT_ANGULAR_EQ(Vref, wref);
      EXPECT_ANGULAR_EQ(Vdotref,
                        wdotref - Rt * p.rot.kf().cwiseProduct(nt - Rt.transpose() * nt));
      EXPECT_ANGULAR_EQ(tr.int_ef(), Rt * rot.int_ef());
      EXPECT_ANGULAR_EQ(tr.refForce(), rot.refForce());

      Vector3D nref;
      Wrench Fref;
      rot = p.rot, tr = p.tr;
      rot.refComplianceForce(p.R, p.w, p.Rd, p.wd, p.wdotd, p.n, p.nd, nref);
      tr.refComplianceForce(p.T(), V, p.Td(), Vd, Vdotd, F, Fd, Fref);
      const Vec3 difference = -Rt * J.transpose() * (J - J.transpose()) * nt;
      EXPECT_ANGULAR_EQ(Fref, nref + difference);
      EXPECT_ANGULAR_EQ(tr.refForce(), rot.refForce() + difference);
      EXPECT_MATRIX_CLOSE(tr.stiffness().bottomRightCorner(3, 3), rot.stiffness(), 1e-12);
      EXPECT_MATRIX_CLOSE(tr.damping().bottomRightCorner(3, 3), rot.damping(), 1e-12);
    }
}

}  // namespace zorvik_test::controller_test::cross_check_test
