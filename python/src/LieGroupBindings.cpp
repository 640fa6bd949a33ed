// zorvik.so3 and zorvik.se3: the library's exponential and logarithm maps, the left-trivialised
// differential dexp, its inverse and their time derivatives, the adjoints and the frame changes
// of twists and wrenches. Every function is the library's own operation on the converted
// arguments; the 6x6 adjoint matrices, which the library never forms, are assembled column by
// column from its operations on unit vectors.
#include "Bindings.h"
#include "LieTypes.h"

namespace zorvik_python {

namespace {

using LieGroup::HTransform;
using LieGroup::Matrix6d;
using LieGroup::Rotation;
using LieGroup::Twist;
using LieGroup::Vector3D;
using LieGroup::Vector6d;
using LieGroup::Wrench;

// The matrix of a linear map of 6-vectors, column c its image of e_c.
template <typename Map>
Matrix6d matrixOf(const Map& map) {
  Matrix6d M;
  for (int c = 0; c < 6; ++c) M.col(c) = map(Vector6d::Unit(c));
  return M;
}

}  // namespace

void bindLieGroups(py::module_& m) {
  py::module_ so3 = m.def_submodule(
      "so3",
      "SO(3): rotations as (3, 3) matrices (columns: the rotated frame's axes), rotation vectors "
      "w = angle * axis as (3,). dexp is the left-trivialised differential: exp(w + h u) exp(w)^-1 "
      "= exp(h dexp(w) u) + O(h^2).");
  so3.def("hat", [](py::handle w) { return toArray(from<Vector3D>(w, "w").ceil()); }, py::arg("w"),
          "[w] (3, 3), the skew matrix with [w] b = w x b.");
  so3.def("exp", [](py::handle w) { return toArray(from<Vector3D>(w, "w").exp()); }, py::arg("w"),
          "exp([w]) (3, 3), Rodrigues' formula.");
  so3.def("log", [](py::handle R) { return toArray(from<Rotation>(R, "R").expCoord()); },
          py::arg("R"), "The rotation vector (3,) of R, angle in [0, pi].");
  so3.def("dexp", [](py::handle w) { return toArray(from<Vector3D>(w, "w").dexp()); }, py::arg("w"),
          "dexp(w) (3, 3) = I + ((1 - cos t)/t^2) [w] + ((t - sin t)/t^3) [w]^2, t = |w|.");
  so3.def("dexp_inv", [](py::handle w) { return toArray(from<Vector3D>(w, "w").dexp_inv()); },
          py::arg("w"), "dexp(w)^-1 (3, 3).");
  so3.def(
      "ddt_dexp",
      [](py::handle w, py::handle wdot) {
        const Vector3D x = from<Vector3D>(w, "w"), u = from<Vector3D>(wdot, "wdot");
        double alpha, beta, theta_sqr;
        x.compute_terms(&alpha, &beta, &theta_sqr);
        return toArray(x.ddt_dexp(alpha, beta, theta_sqr, x.dot(u), u));
      },
      py::arg("w"), py::arg("wdot"), "d/dt dexp(w) (3, 3) for w moving with velocity wdot.");
  so3.def(
      "ddt_dexp_inv",
      [](py::handle w, py::handle wdot) {
        const Vector3D x = from<Vector3D>(w, "w"), u = from<Vector3D>(wdot, "wdot");
        double alpha, beta, theta_sqr;
        x.compute_terms(&alpha, &beta, &theta_sqr);
        return toArray(x.ddt_dexp_inv(alpha, beta, theta_sqr, x.dot(u), u));
      },
      py::arg("w"), py::arg("wdot"), "d/dt dexp(w)^-1 (3, 3) for w moving with velocity wdot.");

  py::module_ se3 = m.def_submodule(
      "se3",
      "SE(3): poses as (4, 4) homogeneous matrices [[R, r], [0, 1]], twists V = (v, w) and wrenches "
      "F = (f, n) as (6,), linear part first, exponential coordinates lambda = (eta, xi) as (6,): "
      "exp(lambda) = (exp(xi), dexp(xi) eta). The pose T of frame B in frame A changes a twist or "
      "wrench given in B into the same quantity given in A.");
  se3.def("exp", [](py::handle l) { return toArray(from<Twist>(l, "lam").exp()); }, py::arg("lam"),
          "exp(lambda) (4, 4).");
  se3.def("log", [](py::handle T) { return toArray(from<HTransform>(T, "T").expCoord()); },
          py::arg("T"), "Exponential coordinates (6,) of T, rotation angle in [0, pi].");
  se3.def("dexp", [](py::handle l) { return toArray(from<Twist>(l, "lam").dexp()); },
          py::arg("lam"),
          "dexp(lambda) (6, 6) = [[J, Q], [0, J]], J = so3.dexp(xi), Q its derivative along eta: "
          "exp(lambda + h mu) exp(lambda)^-1 = exp(h dexp mu) + O(h^2).");
  se3.def("dexp_inv", [](py::handle l) { return toArray(from<Twist>(l, "lam").dexp_inv()); },
          py::arg("lam"), "dexp(lambda)^-1 (6, 6).");
  se3.def(
      "ddt_dexp",
      [](py::handle l, py::handle ldot) {
        const Twist x = from<Twist>(l, "lam"), u = from<Twist>(ldot, "lamdot");
        double alpha, beta, theta_sqr;
        x.compute_terms(&alpha, &beta, &theta_sqr);
        const Eigen::Vector3d xi = x.w(), eta = x.v(), xidot = u.w(), etadot = u.v();
        return toArray(x.ddt_dexp(alpha, beta, theta_sqr, xi.dot(eta), xi.dot(xidot),
                                  xi.dot(etadot), xidot.dot(eta), u));
      },
      py::arg("lam"), py::arg("lamdot"),
      "d/dt dexp(lambda) (6, 6) for lambda moving with velocity lamdot.");
  se3.def("inverse", [](py::handle T) { return toArray(from<HTransform>(T, "T").inverse()); },
          py::arg("T"), "T^-1 = (R^T, -R^T r) (4, 4).");
  se3.def(
      "Ad",
      [](py::handle T) {
        const HTransform X = from<HTransform>(T, "T");
        return toArray(matrixOf([&](const Vector6d& e) { return Vector6d(X.transform(Twist(e))); }));
      },
      py::arg("T"), "Ad_T (6, 6) = [[R, [r] R], [0, R]]: twists in B to twists in A.");
  se3.def(
      "Ad_inv",
      [](py::handle T) {
        const HTransform X = from<HTransform>(T, "T");
        return toArray(matrixOf([&](const Vector6d& e) { return Vector6d(X.itransform(Twist(e))); }));
      },
      py::arg("T"), "Ad_T^-1 (6, 6): twists in A to twists in B.");
  se3.def(
      "ad",
      [](py::handle V) {
        const Twist X = from<Twist>(V, "V");
        return toArray(matrixOf([&](const Vector6d& e) { return Vector6d(X.adjoint(Twist(e))); }));
      },
      py::arg("V"), "ad_V (6, 6) = [[ [w], [v] ], [0, [w]]]: ad_V U = [V, U].");
  se3.def(
      "coad",
      [](py::handle V) {
        const Twist X = from<Twist>(V, "V");
        return toArray(matrixOf([&](const Vector6d& e) { return Vector6d(X.coadjoint(Wrench(e))); }));
      },
      py::arg("V"),
      "-(ad_V)^T (6, 6) = [[ [w], 0 ], [ [v], [w] ]], acting on wrenches (the Newton-Euler bias "
      "term is coad(V) (M V)).");
  se3.def(
      "transform_twist",
      [](py::handle T, py::handle V) {
        return toArray(from<HTransform>(T, "T").transform(from<Twist>(V, "V")));
      },
      py::arg("T"), py::arg("V"), "Ad_T V: a twist given in B, expressed in A.");
  se3.def(
      "itransform_twist",
      [](py::handle T, py::handle V) {
        return toArray(from<HTransform>(T, "T").itransform(from<Twist>(V, "V")));
      },
      py::arg("T"), py::arg("V"), "Ad_T^-1 V: a twist given in A, expressed in B.");
  se3.def(
      "transform_wrench",
      [](py::handle T, py::handle F) {
        return toArray(from<HTransform>(T, "T").transform(from<Wrench>(F, "F")));
      },
      py::arg("T"), py::arg("F"), "Ad_T^-T F = (R f, R n + r x R f): a wrench given in B, in A.");
  se3.def(
      "itransform_wrench",
      [](py::handle T, py::handle F) {
        return toArray(from<HTransform>(T, "T").itransform(from<Wrench>(F, "F")));
      },
      py::arg("T"), py::arg("F"), "Ad_T^T F: a wrench given in A, expressed in B.");
}

}  // namespace zorvik_python
