// numpy arguments and results of the module: every argument is checked here, before any library
// call, so that a wrong type, dtype or shape raises a Python exception that names the argument and
// the shape it should have, and no debug assertion or out-of-range access can be reached.
#ifndef ZORVIK_PYTHON_ARRAYS_H_
#define ZORVIK_PYTHON_ARRAYS_H_

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

namespace zorvik_python {

namespace py = pybind11;

// float64, C order: the layout the interface reads and writes.
typedef py::array_t<double, py::array::c_style | py::array::forcecast> Array;

// "(7,)", "(6, 7)", "(K, 7)".
inline std::string shapeText(std::initializer_list<py::ssize_t> shape) {
  std::string s = "(";
  bool first = true;
  for (py::ssize_t d : shape) {
    if (!first) s += ", ";
    s += d < 0 ? std::string("K") : std::to_string(d);
    first = false;
  }
  if (shape.size() == 1) s += ",";
  return s + ")";
}

inline std::string shapeOf(const py::array& a) {
  std::string s = "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) {
    if (i) s += ", ";
    s += std::to_string(a.shape(i));
  }
  if (a.ndim() == 1) s += ",";
  return s + ")";
}

// np.asarray(h); null with the Python error set when numpy cannot make an array of it.
inline PyObject* toNumpy(py::handle h) {
  try {
    // Never released: a static Python object would be freed after the interpreter is gone.
    static PyObject* asarray = py::object(py::module_::import("numpy").attr("asarray")).release().ptr();
    return py::handle(asarray)(h).release().ptr();
  } catch (py::error_already_set& e) {
    e.restore();
    return nullptr;
  }
}

// The argument as a C-order float64 array of the given shape (-1: any length, the same for every
// argument of a batch); a float64 C-order ndarray passes without a copy, anything else real
// (lists, integer or float32 arrays) is converted. Raises TypeError for what is not a real array
// and ValueError for a wrong shape.
inline Array asArray(py::handle h, const char* name, std::initializer_list<py::ssize_t> shape) {
  Array a;
  if (Array::check_(h)) {
    a = py::reinterpret_borrow<Array>(h);
  } else {
    if (h.is_none())
      throw py::type_error("argument '" + std::string(name) + "' must be an array of shape " +
                           shapeText(shape) + ", got None");
    py::array generic;
    if (py::isinstance<py::array>(h)) {
      generic = py::reinterpret_borrow<py::array>(h);
    } else {
      PyObject* converted = toNumpy(h);
      if (!converted) {
        PyErr_Clear();
        throw py::type_error("argument '" + std::string(name) + "' must be a real array of shape " +
                             shapeText(shape) + ", got " +
                             std::string(py::str(py::type::handle_of(h).attr("__name__"))));
      }
      generic = py::reinterpret_steal<py::array>(converted);
    }
    const char kind = generic.dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u')
      throw py::type_error("argument '" + std::string(name) + "' must be a real array of shape " +
                           shapeText(shape) + ", got dtype " +
                           std::string(py::str(generic.dtype())));
    a = Array::ensure(generic);
    if (!a) throw py::error_already_set();
  }
  bool ok = a.ndim() == static_cast<py::ssize_t>(shape.size());
  py::ssize_t i = 0;
  for (py::ssize_t d : shape) {
    if (!ok) break;
    ok = d < 0 || a.shape(i) == d;
    ++i;
  }
  if (!ok)
    throw py::value_error("argument '" + std::string(name) + "' must have shape " +
                          shapeText(shape) + ", got " + shapeOf(a));
  return a;
}

// A new C-order float64 array, made by numpy's own constructor: the per-call results of the
// single calls then cost no heap work beyond numpy's.
inline py::array_t<double> newArray(std::initializer_list<py::ssize_t> shape) {
  Py_intptr_t dims[3];
  int nd = 0;
  for (py::ssize_t d : shape) dims[nd++] = d;
  auto& api = py::detail::npy_api::get();
  PyObject* a = api.PyArray_NewFromDescr_(api.PyArray_Type_,
                                          api.PyArray_DescrFromType_(py::detail::npy_api::NPY_DOUBLE_),
                                          nd, dims, nullptr, nullptr, 0, nullptr);
  if (!a) throw py::error_already_set();
  return py::reinterpret_steal<py::array_t<double>>(a);
}

// A gain: a scalar for every axis, or one entry per axis; every entry a finite number.
inline std::vector<double> asGain(py::handle h, const char* name, py::ssize_t n) {
  std::vector<double> gain;
  if (PyFloat_Check(h.ptr()) || (PyLong_Check(h.ptr()) && !PyBool_Check(h.ptr()))) {
    gain.assign(static_cast<std::size_t>(n), h.cast<double>());
  } else if (py::isinstance<py::array>(h) && py::reinterpret_borrow<py::array>(h).ndim() == 0) {
    const Array a = asArray(h, name, {});
    gain.assign(static_cast<std::size_t>(n), *a.data());
  } else {
    const Array a = asArray(h, name, {n});
    gain.assign(a.data(), a.data() + n);
  }
  for (double g : gain)
    if (!std::isfinite(g))
      throw py::value_error("argument '" + std::string(name) + "' must be finite, got " +
                            std::to_string(g));
  return gain;
}

// A period in s: finite and positive (or, with zeroAllowed, zero too).
inline double asPeriod(double h, const char* name, bool zeroAllowed) {
  if (!std::isfinite(h) || h < 0 || (h == 0 && !zeroAllowed))
    throw py::value_error("argument '" + std::string(name) + "' must be a finite " +
                          (zeroAllowed ? "non-negative" : "positive") + " number of seconds, got " +
                          std::to_string(h));
  return h;
}

}  // namespace zorvik_python

#endif  // ZORVIK_PYTHON_ARRAYS_H_
