// Numerical derivatives of a joint-space quantity with respect to the model's state, for checking
// analytic derivatives of the dynamics.
#ifndef ZORVIK_TEST_STATE_JACOBIAN_H
#define ZORVIK_TEST_STATE_JACOBIAN_H

#include "support/FiniteDifference.h"
#include "support/RandomRobot.h"

namespace zorvik_test {

// The Jacobian of f() (a joint vector evaluated at the model's current state) with respect to q
// or, with rates, to qdot, column by column by the five-point stencil at step h: Richardson's
// extrapolation (4 D(h) - D(2h)) / 3 of two central differences. Each evaluation sets the state
// with a full update; the state is put back.
template <int N, typename F>
typename VexoBaseXD<N>::JointMat stateJacobian(VexoBaseXD<N>& m, bool rates, F f, double h) {
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  const JointVec q0 = m.q(), qdot0 = m.qdot();
  typename VexoBaseXD<N>::JointMat D;
  for (int c = 0; c < N; ++c) {
    D.col(c) = centralDifference(
        [&](double t) {
          JointVec q = q0, qdot = qdot0;
          (rates ? qdot : q)(c) += t;
          setState<N>(m, q, qdot);
          return JointVec(f());
        },
        h);
  }
  setState<N>(m, q0, qdot0);
  return D;
}

}  // namespace zorvik_test

#endif
