// The library's own joint classes as the robot model's recursions see them when they may skip the
// joint contract's virtual calls: which joints are exactly of a library class, and the pose
// updates of the one-axis joints written out inline (the classes' own update() is this same code,
// compiled once in the library).
#ifndef AMBS_INTERNAL_LIBRARYJOINTS_
#define AMBS_INTERNAL_LIBRARYJOINTS_

#include <cmath>
#include <typeinfo>

#include "../Joint"

namespace ZorvikFoundation {
namespace internal {

// Whether j is exactly of the library class its type() names (not of a class derived from it, and
// not a client's class claiming a library kind). Every library joint class has its key function in
// the library, so its type_info is one object and comparing addresses suffices; were there ever a
// second copy, the joint would only be taken for a client's.
inline bool isLibraryJointClass(const Joint& j) {
  const std::type_info* t = &typeid(j);
  switch (j.type()) {
    case FLOATING: return t == &typeid(FloatingJoint);
    case RIGID: return t == &typeid(RigidJoint);
    case FREE: return t == &typeid(FreeJoint);
    case REVOLUTE: return t == &typeid(RevoluteJoint);
    case PRISMATIC: return t == &typeid(PrismaticJoint);
    case CYLINDRICAL: return t == &typeid(CylindricalJoint);
    case SPHERICAL: return t == &typeid(SphericalJoint);
    case MDH_REVOLUTE: return t == &typeid(MDHRevoluteJoint);
    case MDH_PRISMATIC: return t == &typeid(MDHPrismaticJoint);
    default: return false;
  }
}

// Whether a joint of a library class has a motion subspace E that does not depend on q (Edot = 0):
// all but the spherical and the free joint.
inline bool hasConstantMotionSubspace(JOINTTYPE type) { return type != SPHERICAL && type != FREE; }

// sin q and cos q of a joint angle, inline and without libm's general argument reduction: with
// q = k pi/2 + r, |r| <= pi/4 (pi/2 taken in three parts, the first two of 33 bits so that their
// products with k are exact for |q| < 1e5), the Taylor polynomials
//   sin r = r - r^3/3! + ... + r^17/17!,   cos r = 1 - r^2/2! + ... + r^16/16!,
// whose remainders stay below 1e-17 for |r| <= pi/4, then the quadrant k mod 4. Within half an ulp
// of ::sincos over joint ranges (tested); larger angles, infinities and NaN take ::sincos.
ZORVIK_ALWAYS_INLINE void jointSinCos(double q, double* s, double* c) {
  if (!(std::fabs(q) < 1e5)) {
    ::sincos(q, s, c);
    return;
  }
  // Round q 2/pi to an integer: adding and taking away 1.5 2^52 leaves no fraction bits.
  const double shifter = 0x1.8p52;
  const double k = (q * 0x1.45f306dc9c883p-1 + shifter) - shifter;
  const double r =
      ((q - k * 0x1.921fb544p+0) - k * 0x1.0b4611a6p-34) - k * 0x1.3198a2e037073p-69;
  const double r2 = r * r;
  const double sr =
      r + r * r2 *
              (-0x1.5555555555555p-3 +
               r2 * (0x1.1111111111111p-7 +
                     r2 * (-0x1.a01a01a01a01ap-13 +
                           r2 * (0x1.71de3a556c734p-19 +
                                 r2 * (-0x1.ae64567f544e4p-26 +
                                       r2 * (0x1.6124613a86d09p-33 +
                                             r2 * (-0x1.ae7f3e733b81fp-41 +
                                                   r2 * 0x1.952c77030ad4ap-49)))))));
  const double cr =
      1 + r2 * (-0.5 + r2 * (0x1.5555555555555p-5 +
                             r2 * (-0x1.6c16c16c16c17p-10 +
                                   r2 * (0x1.a01a01a01a01ap-16 +
                                         r2 * (-0x1.27e4fb7789f5cp-22 +
                                               r2 * (0x1.1eed8eff8d898p-29 +
                                                     r2 * (-0x1.93974a8c07c9dp-37 +
                                                           r2 * 0x1.ae7f3e733b81fp-45)))))));
  switch (static_cast<int>(k) & 3) {
    case 0: *s = sr; *c = cr; return;
    case 1: *s = cr; *c = -sr; return;
    case 2: *s = -sr; *c = -cr; return;
    default: *s = -cr; *c = sr; return;
  }
}

// Tadj = Toff exp(q [a]) for the unit axis a (three values) of a revolute joint, Toff its joint
// frame. About a coordinate axis, a = +-e_i, the rotation turns the other two axes in their plane:
// with (i, j, k) cyclic and s = sin(q a_i), the columns of R_off become
//   r_j' = c r_j + s r_k,   r_k' = c r_k - s r_j,   r_i' = r_i,
// twelve products instead of Rodrigues' matrix and a 3 x 3 product (the same rotation to rounding).
ZORVIK_ALWAYS_INLINE void revolutePose(const HTransform& Toff, const double* a, double q,
                                       HTransform& Tadj) {
  const double* T0 = Toff.data();  // column-major 4 x 4
  double* T = Tadj.data();
  double s, c;
  jointSinCos(q, &s, &c);
  for (int i = 0; i < 3; ++i) {
    const int j = (i + 1) % 3, k = (i + 2) % 3;
    if (a[j] != 0 || a[k] != 0) continue;
    s *= a[i];
    for (int r = 0; r < 3; ++r) {
      const double rj = T0[4 * j + r], rk = T0[4 * k + r];
      T[4 * j + r] = c * rj + s * rk;
      T[4 * k + r] = c * rk - s * rj;
      T[4 * i + r] = T0[4 * i + r];
    }
    for (int r = 0; r < 3; ++r) T[12 + r] = T0[12 + r];
    return;
  }
  // Any other axis: exp(q [a]) = I + s [a] + (1 - c) [a]^2, column by column.
  const Eigen::Matrix3d Rq =
      LieGroup::internal::_common_expression_1(s, 1 - c, Eigen::Map<const Eigen::Vector3d>(a));
  for (int col = 0; col < 3; ++col) LieGroup::internal::_rotate(T0, Rq.data() + 3 * col, T + 4 * col);
  for (int r = 0; r < 3; ++r) T[12 + r] = T0[12 + r];
}

// Tadj = Toff (I, q a) = (R_off, r_off + R_off (q a)) for the unit axis a of a prismatic joint.
ZORVIK_ALWAYS_INLINE void prismaticPose(const HTransform& Toff, const double* a, double q,
                                        HTransform& Tadj) {
  const double qa[3] = {q * a[0], q * a[1], q * a[2]};
  double d[3];
  LieGroup::internal::_rotate(Toff.data(), qa, d);
  Tadj.R() = Toff.R();
  for (int r = 0; r < 3; ++r) Tadj(r, 3) = Toff(r, 3) + d[r];
}

}  // namespace internal
}  // namespace ZorvikFoundation

#endif  // AMBS_INTERNAL_LIBRARYJOINTS_
