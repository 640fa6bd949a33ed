// Bodies' mass properties in the reference frame, summed over subtrees: the spatial inertia I of a
// body and its rate of change as the body moves (RigidComposite), and the Coriolis factor
// v x* I (CoriolisComposite). Shared by the forward dynamics, the joint-space matrices and the
// dynamics derivatives of models of plain bodies.
#ifndef VEXO_INTERNAL_REFERENCEINERTIA_
#define VEXO_INTERNAL_REFERENCEINERTIA_

#include "../../AMBS/Body"

namespace ZorvikFoundation {
namespace internal {

// Bodies. The spatial inertia I of a body in the reference frame and its rate of change as the
// body moves with the spatial twist v = (v_o, w), Idot = v x* I - I v x, summed over a subtree.
//
// RigidComposite, for plain Bodies: rigid bodies' inertias keep their structure under sums,
//   I = [[m 1, -[h]], [[h], J]],   Idot = [[0, -[g]], [[g], K]],
// with the mass m, the first moment h = m c (c the centre of mass), the rotational inertia J about
// the origin, and, as c moves with c' = v_o + w x c and the inertia about the centre of mass Jc
// with Jc' = [w] Jc - Jc [w], g = m c' and K = J' = Jc' - m ([c'][c] + [c][c']), where
// [a][b] + [b][a] = a b^T + b a^T - 2 (a.b) 1. Ten and nine numbers, and their products with a
// twist x = (x_v, x_w): I x = (m x_v - h x x_w, h x x_v + J x_w), Idot x = (-g x x_w,
// g x x_v + K x_w).
struct RigidComposite {
  typedef Eigen::Matrix3d M3;
  typedef Eigen::Vector3d V3;
  double m;
  V3 h, g;
  M3 J, K;

  // The body's I alone, and with Idot for its twist v.
  void setBody(const Body& b) { _set(b, nullptr); }
  void setBody(const Body& b, const Twist& v) { _set(b, &v); }
  void add(const RigidComposite& o) {
    m += o.m;
    h += o.h;
    g += o.g;
    J += o.J;
    K += o.K;
  }
  Wrench I(const Twist& x) const {
    return Wrench(Vector3D(m * x.v() - h.cross(x.w())), Vector3D(h.cross(x.v()) + J * x.w()));
  }
  Wrench Idot(const Twist& x) const {
    return Wrench(Vector3D(-g.cross(x.w())), Vector3D(g.cross(x.v()) + K * x.w()));
  }
  // The wrench the body needs for the spatial acceleration a at twist v (momentum Iv = I v), less
  // its external wrench: I a + v x* I v - F_ext, in the reference frame.
  Wrench wrench(const Body& b, const Twist& v, const Twist& a, const Wrench& Iv) const {
    Wrench res(I(a) + v.coadjoint(Iv));
    if (b.hasNonzeroWrench()) res -= b.T().transform(b.Fext());
    return res;
  }

 private:
  void _set(const Body& b, const Twist* v) {
    const Inertia& inertia = b.getInertia();
    const M3& R = b.T().R();
    const V3 c = R * V3(inertia.com()) + b.T().r();
    const M3 Jc = R * inertia.comInertia() * R.transpose();
    m = inertia.m();
    h = m * c;
    J = Jc - m * Vector3D(c).ceilSqr();
    if (!v) return;
    const V3 cdot = v->v() + v->w().cross(c);
    const M3 WJ = Vector3D(v->w()).ceil() * Jc;
    const M3 ccdot = c * cdot.transpose();
    g = m * cdot;
    K = WJ + WJ.transpose() - m * (ccdot + ccdot.transpose());
    K.diagonal().array() += 2 * m * c.dot(cdot);
  }
};

// The Coriolis factor of the joint-space dynamics in the reference frame. With the reference-frame
// twist v of a body and its inertia I (as in RigidComposite), the factor whose torques are
//   C = sum over bodies of J^T (I Jdot + v x* I J)
// (J the body's spatial Jacobian, Jdot its rate of change) needs v x* I summed over subtrees. With
// v = (u, w) and I = [[m 1, -[h]], [[h], J]],
//   v x* I = [[m [w], -[w][h]], [m [u] + [w][h], -[u][h] + [w] J]],
// kept as a = sum m w, b = sum m u, X = sum [w][h], Y = sum (-[u][h] + [w] J), with
// [w][h] = h w^T - (w.h) 1. Its products with a twist x = (x_v, x_w) and, transposed, a wrench
// y = (y_f, y_n):
//   B x   = (a x x_v - X x_w,  b x x_v + X x_v + Y x_w),
//   B^T y = (y_f x a + y_n x b + X^T y_n,  Y^T y_n - X^T y_f).
struct CoriolisComposite {
  typedef Eigen::Matrix3d M3;
  typedef Eigen::Vector3d V3;
  V3 a, b;
  M3 X, Y;

  // One body, of inertia I (RigidComposite::setBody) and reference-frame twist v.
  void setBody(const RigidComposite& I, const Twist& v) {
    const V3 u = v.v(), w = v.w();
    a = I.m * w;
    b = I.m * u;
    X.noalias() = I.h * w.transpose();
    X.diagonal().array() -= w.dot(I.h);
    Y.noalias() = -I.h * u.transpose();
    Y.diagonal().array() += u.dot(I.h);
    for (int c = 0; c < 3; ++c) Y.col(c) += w.cross(I.J.col(c));
  }
  void add(const CoriolisComposite& o) {
    a += o.a;
    b += o.b;
    X += o.X;
    Y += o.Y;
  }
  Wrench times(const Twist& x) const {
    const V3 xv = x.v(), xw = x.w();
    return Wrench(V3(a.cross(xv) - X * xw), V3(b.cross(xv) + X * xv + Y * xw));
  }
  Twist transposeTimes(const Wrench& y) const {
    const V3 yf = y.f(), yn = y.n();
    return Twist(V3(yf.cross(a) + yn.cross(b) + X.transpose() * yn),
                 V3(Y.transpose() * yn - X.transpose() * yf));
  }
};

}  // namespace internal
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_REFERENCEINERTIA_
