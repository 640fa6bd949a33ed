// Closed forms of the rotation controller: the frame of the error and the map of the moment error.
#include "ControllerTestSupport.h"

namespace zorvik_test::controller_test::rotation_controller_test {

// Rtilde = R^T Rd: a desired frame rotated by b about the measured frame's own x axis has the error
// (b, 0, 0) whatever R is; beyond a half turn the shorter rotation about -x is returned. A rotation
// by b about the reference frame's x axis is the error R^T (b, 0, 0).
TEST(RotationController, ErrorIsTheDesiredRotationSeenFromTheMeasuredFrame) {
  Rng g(50);
  const Rotation R(randomRotation(g, 2.0));
  const RotationController c;
  Eigen::Vector3d xi;
  for (const double b : {0.3, 3.0, 4.0}) {
    const Rotation Rx(Eigen::AngleAxisd(b, Eigen::Vector3d::UnitX()).toRotationMatrix());
    c.error(R, Rotation(R * Rx), xi);
    const double wrapped = b > M_PI ? b - 2 * M_PI : b;
    EXPECT_MATRIX_CLOSE(xi, Eigen::Vector3d(wrapped, 0, 0), 1e-12) << "b = " << b;
    if (b > M_PI) continue;
    c.error(R, Rotation(Rx * R), xi);
    EXPECT_MATRIX_CLOSE(xi, R.transpose() * Eigen::Vector3d(b, 0, 0), 1e-12) << "b = " << b;
  }
}

// The moment error nt = nd - Rtilde^T n (in the frame of Rd) enters error coordinates through the
// transposed differential: eta = dexp^T nt, with dexp about z in closed form.
TEST(RotationController, MomentErrorIsMappedByTheTransposedDifferential) {
  Rng g(51);
  for (const double b : {1.2, 2.9}) {
    const Rotation R(randomRotation(g, 2.0)), Rd(R * rotationAboutZ(b));
    const Vector3D w(randomUnitVector(g)), wd(randomUnitVector(g)), n(randomUnitVector(g)),
        nd(randomUnitVector(g));
    RotationController c;
    Eigen::Vector3d wref, wdotref, xi, xidot, eta;
    c.refImpedanceAcceleration(R, w, Rd, wd, Vector3D(), n, nd, wref, wdotref, xi, xidot, eta);
    const Eigen::Vector3d nt = nd - rotationAboutZ(b).transpose() * n;
    EXPECT_MATRIX_CLOSE(eta, dexpAboutZ(b).transpose() * nt, 1e-12) << "b = " << b;
  }
}

}  // namespace zorvik_test::controller_test::rotation_controller_test
