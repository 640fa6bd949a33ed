// Conversions between numpy arrays and the library's Lie group types, for the Lie group and
// controller bindings: (3,) Vector3D, (3, 3) Rotation, (4, 4) HTransform, (6,) Twist and Wrench;
// results as new C-order arrays (vectors 1-D).
#ifndef ZORVIK_PYTHON_LIETYPES_H_
#define ZORVIK_PYTHON_LIETYPES_H_

#include <LieGroup/HTransform>

#include "Arrays.h"

namespace zorvik_python {

template <typename Type>
struct LieShape;
template <>
struct LieShape<LieGroup::Vector3D> {
  static constexpr py::ssize_t rows = 3, cols = 1;
};
template <>
struct LieShape<LieGroup::Rotation> {
  static constexpr py::ssize_t rows = 3, cols = 3;
};
template <>
struct LieShape<LieGroup::HTransform> {
  static constexpr py::ssize_t rows = 4, cols = 4;
};
template <>
struct LieShape<LieGroup::Twist> {
  static constexpr py::ssize_t rows = 6, cols = 1;
};
template <>
struct LieShape<LieGroup::Wrench> {
  static constexpr py::ssize_t rows = 6, cols = 1;
};

template <typename Type>
Type from(py::handle h, const char* name) {
  typedef LieShape<Type> S;
  const Array a = S::cols == 1 ? asArray(h, name, {S::rows}) : asArray(h, name, {S::rows, S::cols});
  const double* p = a.data();
  Type x;
  for (py::ssize_t i = 0; i < S::rows; ++i)
    for (py::ssize_t j = 0; j < S::cols; ++j) x(i, j) = p[i * S::cols + j];
  return x;
}

template <typename Derived>
py::array_t<double> toArray(const Eigen::MatrixBase<Derived>& m) {
  py::array_t<double> out = m.cols() == 1 ? newArray({m.rows()}) : newArray({m.rows(), m.cols()});
  double* p = out.mutable_data();
  for (Eigen::Index i = 0; i < m.rows(); ++i)
    for (Eigen::Index j = 0; j < m.cols(); ++j) p[i * m.cols() + j] = m(i, j);
  return out;
}

}  // namespace zorvik_python

#endif  // ZORVIK_PYTHON_LIETYPES_H_
