// A short tour of the Lie group layer: a tool pose built from a screw motion, its logarithm, the
// differential of the exponential map there, a twist and a wrench carried between frames, and the
// error between a measured and a desired pose as a task-space controller would see it.
#include <LieGroup/HTransform>

#include <cmath>
#include <cstdio>
#include <iostream>

namespace {

using namespace LieGroup;

const Eigen::IOFormat kRow(6, 0, ", ", ", ", "", "", "[", "]");
const Eigen::IOFormat kMatrix(6, 0, ", ", "\n", "    [", "]");

template <typename Derived>
void show(const char* label, const Eigen::MatrixBase<Derived>& m) {
  if (m.cols() == 1)
    std::cout << "  " << label << " = " << m.transpose().format(kRow) << "\n";
  else
    std::cout << "  " << label << " =\n" << m.format(kMatrix) << "\n";
}

}  // namespace

int main() {
  std::cout << "ZorvikCore " << ZORVIK_VERSION_MAJOR << "." << ZORVIK_VERSION_MINOR << "."
            << ZORVIK_VERSION_PATCH << ": Lie group demo\n\n";

  // Pose of the tool frame T in the base frame B: a screw motion of 1.2 rad about an axis through
  // (0.4, 0, 0.3) along (0, 0.6, 0.8), advancing 0.1 m along it.
  const Vector3D axis(0, 0.6, 0.8);
  const Displacement point(0.4, 0, 0.3);
  const double angle = 1.2, advance = 0.1;
  // A screw's twist: w = angle * axis, v = -w x point + advance * axis.
  const Vector3D xi(angle * axis);
  const Vector3D eta(-xi.cross(point) + advance * axis);
  const Twist lambda(eta, xi);
  const HTransform T_B_T = lambda.exp();
  std::cout << "Screw motion (exponential coordinates, linear part first):\n";
  show("lambda", lambda);
  std::cout << "Tool pose in the base frame, T_B_T = exp(lambda):\n";
  show("T_B_T", T_B_T);

  // Logarithm and the differential of exp at lambda.
  const Twist log = T_B_T.expCoord();
  std::cout << "\nLogarithm of T_B_T (recovers lambda, rotation angle in [0, pi]):\n";
  show("expCoord", log);
  std::printf("  |expCoord - lambda| = %.3g\n", (log - lambda).norm());
  double alpha, beta, theta_sqr;
  log.compute_terms(&alpha, &beta, &theta_sqr);
  const Matrix6d J = log.dexp(alpha, beta, theta_sqr);
  const Matrix6d Ji = log.dexp_inv(alpha, beta, theta_sqr);
  std::printf("\nSeries coefficients: alpha = %.9f, beta = %.9f, theta^2 = %.9f\n", alpha, beta,
              theta_sqr);
  std::cout << "Left-trivialised differential dexp(lambda):\n";
  show("dexp", J);
  std::printf("  |dexp * dexp_inv - I| = %.3g\n", (J * Ji - Matrix6d::Identity()).norm());

  // A twist of the tool, in the tool frame, carried to the base frame and back.
  const Twist V_T(0.05, 0.0, -0.02, 0.0, 0.3, 0.1);
  const Twist V_B = T_B_T.transform(V_T);
  std::cout << "\nTool twist in the tool frame and in the base frame (reference point at the base "
               "origin):\n";
  show("V_T", V_T);
  show("V_B", V_B);
  // A contact force at the tool origin, carried to the base frame; power is frame-independent.
  const Wrench F_T(0, 0, -5.0, 0.1, 0, 0);
  const Wrench F_B = T_B_T.transform(F_T);
  std::cout << "Contact wrench in the tool frame and in the base frame:\n";
  show("F_T", F_T);
  show("F_B", F_B);
  std::printf("  power in the tool frame %.9f, in the base frame %.9f\n", F_T.dot(V_T),
              F_B.dot(V_B));

  // Error between a measured and a desired pose, as the transform controller forms it.
  const HTransform T_B_D =
      T_B_T.cascade(HTransform(Vector3D(0.05, -0.1, 0.02).exp(), Displacement(0.01, 0.0, -0.02)));
  const HTransform T_err = T_B_T.icascade(T_B_D);
  const Twist err = T_err.expCoord();
  std::cout << "\nDesired pose relative to the measured one and its exponential coordinates:\n";
  show("T_err", T_err);
  show("log(T_err)", err);
  std::cout << "Bracket of the tool twist with the error coordinates, ad_V(err):\n";
  show("adjoint", V_T.adjoint(err));
  return 0;
}
