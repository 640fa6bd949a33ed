// Numerical derivatives for checking analytic ones.
#ifndef ZORVIK_TEST_FINITE_DIFFERENCE_H
#define ZORVIK_TEST_FINITE_DIFFERENCE_H

#include <type_traits>

namespace zorvik_test {

// d/dt f(t) at t = 0 by the five-point central stencil
//   (f(-2h) - 8 f(-h) + 8 f(h) - f(2h)) / (12 h),
// whose truncation error is h^4 f^(5) / 30; rounding noise e in f contributes about 1.5 e / h.
// f returns a number or a plain Eigen matrix (not an expression, which would refer to temporaries
// of the call).
template <typename Function>
auto centralDifference(Function&& f, double h) -> std::decay_t<decltype(f(0.0))> {
  typedef std::decay_t<decltype(f(0.0))> Result;
  const Result fm2 = f(-2 * h), fm1 = f(-h), fp1 = f(h), fp2 = f(2 * h);
  return Result((fm2 - 8 * fm1 + 8 * fp1 - fp2) / (12 * h));
}

}  // namespace zorvik_test

#endif
