// The parts of the module, each defined in its own translation unit so that they compile in
// parallel.
#ifndef ZORVIK_PYTHON_BINDINGS_H_
#define ZORVIK_PYTHON_BINDINGS_H_

#include <pybind11/pybind11.h>

namespace zorvik_python {

// Robot, load_urdf, LoadError, MomentumObserver (Module.cpp).
void bindRobot(pybind11::module_& m);
// zorvik.so3 and zorvik.se3 (LieGroupBindings.cpp).
void bindLieGroups(pybind11::module_& m);
// RotationController and HTransformController (ControllerBindings.cpp).
void bindControllers(pybind11::module_& m);

}  // namespace zorvik_python

#endif  // ZORVIK_PYTHON_BINDINGS_H_
