// Conversions between numpy arrays and the library's Lie group types, for the Lie group, controller
// and inverse-kinematics bindings: (3,) Vector3D, (3, 3) Rotation, (4, 4) HTransform, (6,) Twist
// and Wrench; results as new C-order arrays (vectors 1-D).
//
// A rotation must be one: R^T R = I to within 1e-6 in every entry and det R > 0, what float64
// arithmetic, and float32 data, leave of a true rotation; a transform must also have the last row
// (0, 0, 0, 1) exactly. The maps, controllers and the solver give meaningless numbers for a scaled,
// sheared or mirrored matrix (the logarithm of one is not even defined), so it is a ValueError
// naming the argument.
#ifndef ZORVIK_PYTHON_LIETYPES_H_
#define ZORVIK_PYTHON_LIETYPES_H_

#include <LieGroup/HTransform>

#include <cstdio>
#include <string>
#include <type_traits>

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

constexpr double kRotationTolerance = 1e-6;

inline void requireRotation(const Eigen::Matrix3d& R, const char* name) {
  const double error = (R.transpose() * R - Eigen::Matrix3d::Identity()).cwiseAbs().maxCoeff();
  if (!(error <= kRotationTolerance) || !(R.determinant() > 0)) {
    char text[64];
    std::snprintf(text, sizeof text, "max |R^T R - I| = %.3g, det = %.3g", error, R.determinant());
    throw py::value_error("argument '" + std::string(name) +
                          "' must be a rotation (R^T R = I to 1e-6, det R > 0), got " + text);
  }
}

inline void requireRigidTransform(const Eigen::Matrix4d& T, const char* name) {
  if (T.row(3) != Eigen::RowVector4d(0, 0, 0, 1))
    throw py::value_error("argument '" + std::string(name) +
                          "' must be a rigid transform with the last row (0, 0, 0, 1), got (" +
                          std::to_string(T(3, 0)) + ", " + std::to_string(T(3, 1)) + ", " +
                          std::to_string(T(3, 2)) + ", " + std::to_string(T(3, 3)) + ")");
  requireRotation(T.topLeftCorner<3, 3>(), name);
}

template <typename Type>
Type from(py::handle h, const char* name) {
  typedef LieShape<Type> S;
  const Array a = S::cols == 1 ? asArray(h, name, {S::rows}) : asArray(h, name, {S::rows, S::cols});
  const double* p = a.data();
  Type x;
  for (py::ssize_t i = 0; i < S::rows; ++i)
    for (py::ssize_t j = 0; j < S::cols; ++j) x(i, j) = p[i * S::cols + j];
  if constexpr (std::is_same<Type, LieGroup::Rotation>::value) requireRotation(x, name);
  if constexpr (std::is_same<Type, LieGroup::HTransform>::value) requireRigidTransform(x, name);
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
