// Closed forms of the transform controller: the error of translations and screws, seen from the
// measured frame, and the map of the wrench error.
#include "ControllerTestSupport.h"

namespace zorvik_test::controller_test::htransform_controller_test {

typedef Eigen::Matrix<double, 6, 1> Vec6;

// Equal rotations: no rotation error, so the translational coordinates are the plain position
// error, expressed in the frame of T.
TEST(HTransformController, PureTranslationErrorIsThePositionErrorInTheMeasuredFrame) {
  Rng g(60);
  const Rotation R(randomRotation(g, 2.5));
  const Eigen::Vector3d r(0.3, -1.2, 0.7), rd(-0.4, 0.5, 2.0);
  Vec6 lambda, expected;
  HTransformController().error(HTransform(R, r), HTransform(R, rd), lambda);
  expected << R.transpose() * (rd - r), Eigen::Vector3d::Zero();
  EXPECT_MATRIX_CLOSE(lambda, expected, 1e-12);
}

// A screw motion along the measured frame's own z axis, by phi about and d along it, has the
// exponential coordinates (0, 0, d, 0, 0, phi), whatever T is.
TEST(HTransformController, ScrewAlongTheMeasuredZAxisGivesItsAngleAndPitch) {
  Rng g(61);
  const HTransform T(randomRotation(g, 2.0), Eigen::Vector3d(1.0, -2.0, 0.5));
  for (const double phi : {0.4, 2.8}) {
    const HTransform screw(rotationAboutZ(phi), Eigen::Vector3d(0, 0, 0.6));
    Vec6 lambda, expected;
    HTransformController().error(T, T.cascade(screw), lambda);
    expected << 0, 0, 0.6, 0, 0, phi;
    EXPECT_MATRIX_CLOSE(lambda, expected, 1e-12) << "phi = " << phi;
  }
}

// The wrench error Ft = Fd - Ad(Ttilde)^T F enters error coordinates as (J ft, J nt): both halves
// through dexp of the rotation itself, not its transpose. Here Ttilde is a rotation about z.
TEST(HTransformController, WrenchErrorIsMappedByTheDifferentialOnBothHalves) {
  Rng g(62);
  for (const double b : {1.2, 2.9}) {
    const HTransform T(randomRotation(g, 2.0), Eigen::Vector3d(0.2, 0.1, -0.3));
    const HTransform Td = T.cascade(HTransform(rotationAboutZ(b), Eigen::Vector3d::Zero()));
    const Wrench F(2 * randomUnitVector(g), randomUnitVector(g)),
        Fd(2 * randomUnitVector(g), randomUnitVector(g));
    HTransformController c;
    Vec6 Vref, Vdotref, lambda, lambdadot, gamma, expected;
    c.refImpedanceAcceleration(T, Twist(), Td, Twist(), Twist(), F, Fd, Vref, Vdotref, lambda,
                               lambdadot, gamma);
    const Eigen::Matrix3d Rz = rotationAboutZ(b), J = dexpAboutZ(b);
    expected << J * (Fd.f() - Rz.transpose() * F.f()), J * (Fd.n() - Rz.transpose() * F.n());
    EXPECT_MATRIX_CLOSE(gamma, expected, 1e-12) << "b = " << b;
  }
}

}  // namespace zorvik_test::controller_test::htransform_controller_test
