// One fuzz input for the Lie group operations and the task-space controllers: the bytes are read
// as a stream of doubles, each either one of a table of special values (NaN, infinities, signed
// zeros, subnormals, the extremes, values at the small-angle thresholds and at multiples of pi) or
// eight raw bytes (any bit pattern at all), and fed to every operation: rotations and transforms
// built from nine or twelve arbitrary numbers (not orthonormal), explicit series coefficients that
// do not belong to their vector, gains, periods and both passivity modes of the controllers.
//
// The operations must neither crash nor hit undefined behaviour on any input; non-finite results
// for non-finite or overflowing inputs are accepted. One numerical property is checked as well:
// with finite inputs of moderate size and exact rotations, every result is finite.
//
// Shared by the libFuzzer target and by the test that replays the corpus and the regressions.
#ifndef ZORVIK_FUZZ_LIEGROUP_CONTROLLER_INPUT_H
#define ZORVIK_FUZZ_LIEGROUP_CONTROLLER_INPUT_H

#include <Controller/HTransformController>
#include <Controller/RotationController>
#include <LieGroup/HTransform>

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace zorvik_fuzz {

using namespace LieGroup;
using ZorvikFoundation::HTransformController;
using ZorvikFoundation::RotationController;

class DoubleStream {
 public:
  DoubleStream(const uint8_t* data, size_t size) : p_(data), n_(size) {}

  // A tag byte below 0x80 picks a special value; otherwise the next eight bytes are the double's
  // bits. An exhausted stream gives zeros.
  double next() {
    if (n_ == 0) return 0.0;
    const uint8_t tag = take();
    if (tag < 0x80) return special(tag);
    uint8_t bytes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 8 && n_ > 0; ++i) bytes[i] = take();
    double d;
    std::memcpy(&d, bytes, sizeof d);
    if (!std::isfinite(d) || std::fabs(d) > kModerate) moderate_ = false;
    return d;
  }
  uint8_t byte() { return n_ == 0 ? 0 : take(); }

  // False once any value read was non-finite or larger than kModerate in magnitude.
  bool moderate() const { return moderate_; }

  static constexpr double kModerate = 1e3;

 private:
  uint8_t take() {
    --n_;
    return *p_++;
  }
  double special(uint8_t tag) {
    static const double table[] = {
        0.0, -0.0, 1.0, -1.0, 0.5, 2.0, M_PI, -M_PI, M_PI / 2, 2 * M_PI, 1e-3, 1e-8,
        std::sqrt(1e-6), 1e-6, DBL_EPSILON, 1e-150, 1e-300, DBL_MIN, DBL_TRUE_MIN, 4.9e-320,
        1e150, 1e300, DBL_MAX, -DBL_MAX,
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()};
    const size_t count = sizeof table / sizeof table[0];
    const double d = table[tag % count];
    if (!std::isfinite(d) || std::fabs(d) > kModerate) moderate_ = false;
    return d;
  }

  const uint8_t* p_;
  size_t n_;
  bool moderate_ = true;
};

// Every result goes through here: its bits are folded into a sink the compiler cannot drop, and
// its finiteness is recorded.
class Results {
 public:
  template <typename Derived>
  void add(const Eigen::MatrixBase<Derived>& m) {
    for (Eigen::Index j = 0; j < m.cols(); ++j)
      for (Eigen::Index i = 0; i < m.rows(); ++i) add(m(i, j));
  }
  void add(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    sink_ ^= bits;
    if (!std::isfinite(x)) finite_ = false;
  }
  bool finite() const { return finite_; }
  void reset() { finite_ = true; }

 private:
  volatile uint64_t sink_ = 0;
  bool finite_ = true;
};

inline Vector3D vec3(DoubleStream& in) {
  const double x = in.next(), y = in.next(), z = in.next();
  return Vector3D(x, y, z);
}
inline Twist twist(DoubleStream& in) {
  const Vector3D v = vec3(in), w = vec3(in);
  return Twist(v, w);
}
inline Wrench wrench(DoubleStream& in) {
  const Vector3D f = vec3(in), n = vec3(in);
  return Wrench(f, n);
}
// Nine arbitrary entries: generally not a rotation.
inline Rotation anyMatrix3(DoubleStream& in) {
  Rotation R;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) R(i, j) = in.next();
  return R;
}
inline HTransform anyTransform(DoubleStream& in) {
  const Rotation R = anyMatrix3(in);
  const Vector3D r = vec3(in);
  return HTransform(R, r);
}

// Fails the run when a property does not hold.
inline void require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
  }
}

// The SO(3) family on w, with the series coefficients of w and with arbitrary ones.
inline void so3Operations(DoubleStream& in, Results& out) {
  const Vector3D w = vec3(in), u = vec3(in);
  double alpha, beta, theta_sqr;
  w.compute_terms(&alpha, &beta, &theta_sqr);
  out.add(alpha);
  out.add(beta);
  out.add(theta_sqr);
  out.add(w.exp());
  out.add(w.exp(alpha, beta, theta_sqr));
  out.add(w.dexp(alpha, beta, theta_sqr));
  out.add(w.dexp_inv(alpha, beta, theta_sqr));
  out.add(w.ddt_dexp(alpha, beta, theta_sqr, w.dot(u), u));
  out.add(w.ddt_dexp_inv(alpha, beta, theta_sqr, w.dot(u), u));
  out.add(w.dexp());
  out.add(w.dexp_inv());
  out.add(w.ceil());
  out.add(w.ceilSqr());
  out.add(w.negative());
  const double a = in.next(), b = in.next(), t = in.next(), s = in.next();
  out.add(w.exp(a, b, t));
  out.add(w.dexp(a, b, t));
  out.add(w.dexp_inv(a, b, t));
  out.add(w.ddt_dexp(a, b, t, s, u));
  out.add(w.ddt_dexp_inv(a, b, t, s, u));
}

// Rotations built from arbitrary entries, and from an exact exponential.
inline void rotationOperations(DoubleStream& in, Results& out) {
  const Rotation A = anyMatrix3(in), B = anyMatrix3(in);
  const Vector3D v = vec3(in);
  const Displacement d(vec3(in));
  out.add(A.expCoord());
  out.add(A.cascade(B));
  out.add(A.icascade(B));
  out.add(A.rotate(v));
  out.add(A.irotate(v));
  out.add(A.rotate(d));
  out.add(A.irotate(d));
  out.add(A.quaternion().coeffs());
  const double angle = in.next();
  out.add(Rotation(static_cast<int>(in.byte() % 3), angle));
  out.add(Rotation(Eigen::Vector3d(v), angle));
}

inline void se3Operations(DoubleStream& in, Results& out) {
  const HTransform T = anyTransform(in), U = anyTransform(in);
  const Twist V = twist(in), X = twist(in);
  const Wrench F = wrench(in);
  const Vector3D w = vec3(in);
  const Displacement p(vec3(in));
  out.add(T.cascade(U));
  out.add(T.icascade(U));
  out.add(T.inverse());
  out.add(T.transform(p));
  out.add(T.itransform(p));
  out.add(T.transform(w));
  out.add(T.itransform(w));
  out.add(T.transform(V));
  out.add(T.itransform(V));
  out.add(T.transform(F));
  out.add(T.itransform(F));
  out.add(T.expCoord());

  Eigen::Matrix<double, 6, 7> J, res;
  for (int j = 0; j < 7; ++j) J.col(j) = (j % 2 ? V : X);
  T.itransform(J, res);
  out.add(res);
  V.adjoint(J, res);
  out.add(res);

  double alpha, beta, theta_sqr;
  V.compute_terms(&alpha, &beta, &theta_sqr);
  out.add(V.exp());
  out.add(V.exp(alpha, beta, theta_sqr));
  const Matrix6d dexp = V.dexp(alpha, beta, theta_sqr);
  out.add(dexp);
  out.add(V.dexp_inv(alpha, beta, theta_sqr));
  out.add(V.dexp());
  out.add(V.dexp_inv());
  out.add(V.ddt_dexp(alpha, beta, theta_sqr, V.w().dot(V.v()), V.w().dot(X.w()),
                     V.w().dot(X.v()), X.w().dot(V.v()), X));
  const double a = in.next(), b = in.next(), t = in.next();
  out.add(V.ddt_dexp(a, b, t, in.next(), in.next(), in.next(), in.next(), X));
  out.add(V.adjoint(X));
  out.add(V.coadjoint(F));
  out.add(X.upperBlockTriTransposedMult(dexp));
  out.add(F.upperBlockTriRelocatedMult(dexp));
}

// The poses the moderate-input property is stated for: exact exponentials of moderate vectors.
inline Rotation exactRotation(DoubleStream& in) { return vec3(in).exp(); }
inline HTransform exactTransform(DoubleStream& in) { return twist(in).exp(); }

template <typename Ctrl>
void configure(Ctrl& c, DoubleStream& in) {
  typename Ctrl::TaskVec k;
  const auto fill = [&] {
    for (int i = 0; i < Ctrl::DIM; ++i) k(i) = in.next();
    return k;
  };
  c.setPeriod(in.next());
  c.setPosGain(fill());
  c.setVelGain(fill());
  c.setIntGain(fill());
  c.setInvL2sqr(fill());
  c.setForceGain(fill());
  c.setForceIntGain(fill());
  c.setPassivityBased(in.byte() & 1);
}

// How a controller's inputs are read from the stream: poses (arbitrary or exact), velocities and
// forces.
struct RotationInputs {
  typedef RotationController Controller;
  static Rotation pose(DoubleStream& in, bool exact) {
    return exact ? exactRotation(in) : anyMatrix3(in);
  }
  static Vector3D velocity(DoubleStream& in) { return vec3(in); }
  static Vector3D force(DoubleStream& in) { return vec3(in); }
};
struct TransformInputs {
  typedef HTransformController Controller;
  static HTransform pose(DoubleStream& in, bool exact) {
    return exact ? exactTransform(in) : anyTransform(in);
  }
  static Twist velocity(DoubleStream& in) { return twist(in); }
  static Wrench force(DoubleStream& in) { return wrench(in); }
};

// Two cycles of every controller operation, so that the integrals and _ref feed the second one.
template <typename Inputs>
void controllerCycles(DoubleStream& in, Results& out, bool exact) {
  typename Inputs::Controller c;
  configure(c, in);
  for (int cycle = 0; cycle < 2; ++cycle) {
    const auto x = Inputs::pose(in, exact);
    const auto xd = Inputs::pose(in, exact);
    const auto v = Inputs::velocity(in), vd = Inputs::velocity(in), ad = Inputs::velocity(in);
    const auto f = Inputs::force(in), fd = Inputs::force(in);
    typename Inputs::Controller::TaskVec a, b, c1, d, e;
    c.error(x, xd, a);
    out.add(a);
    c.error(x, v, xd, vd, a, b);
    out.add(a), out.add(b);
    c.refVelocity(x, xd, vd, a);
    out.add(a);
    c.refVelocity(x, xd, vd, a, b);
    out.add(a), out.add(b);
    c.refAcceleration(x, v, xd, vd, ad, a, b);
    out.add(a), out.add(b);
    c.refAcceleration(x, v, xd, vd, ad, a, b, c1, d);
    out.add(a), out.add(b), out.add(c1), out.add(d);
    c.refImpedanceAcceleration(x, v, xd, vd, ad, f, fd, a, b);
    out.add(a), out.add(b);
    c.refImpedanceAcceleration(x, v, xd, vd, ad, f, fd, a, b, c1, d, e);
    out.add(a), out.add(b), out.add(c1), out.add(d), out.add(e);
    c.refComplianceForce(x, v, xd, vd, ad, f, fd, a);
    out.add(a);
    c.refComplianceForce(x, v, xd, vd, ad, f, fd, a, b, c1, d);
    out.add(a), out.add(b), out.add(c1), out.add(d);
    out.add(c.refForce()), out.add(c.int_error()), out.add(c.int_ef());
    out.add(c.stiffness()), out.add(c.damping());
  }
}

// The first byte chooses between arbitrary poses (anything goes, only crashes and undefined
// behaviour count) and exact poses (where moderate finite inputs must give finite results).
inline void runLieGroupControllerInput(const uint8_t* data, size_t size) {
  if (size == 0) return;
  const bool exact = data[0] & 1;
  DoubleStream in(data + 1, size - 1);
  Results out;
  if (!exact) {
    so3Operations(in, out);
    rotationOperations(in, out);
    se3Operations(in, out);
    controllerCycles<RotationInputs>(in, out, false);
    controllerCycles<TransformInputs>(in, out, false);
    return;
  }
  {
    const Vector3D w = vec3(in);
    const Twist V = twist(in);
    out.add(w.exp());
    out.add(V.exp());
    out.add(w.exp().expCoord());
    out.add(V.exp().expCoord());
    if (in.moderate()) require(out.finite(), "exp and log of moderate finite inputs are finite");
  }
  controllerCycles<RotationInputs>(in, out, true);
  if (in.moderate()) require(out.finite(), "rotation controller: moderate finite inputs give finite outputs");
  controllerCycles<TransformInputs>(in, out, true);
  if (in.moderate()) require(out.finite(), "transform controller: moderate finite inputs give finite outputs");
}

}  // namespace zorvik_fuzz

#endif
