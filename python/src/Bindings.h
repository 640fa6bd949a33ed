// The parts of the module, each defined in its own translation unit so that they compile in
// parallel.
#ifndef ZORVIK_PYTHON_BINDINGS_H_
#define ZORVIK_PYTHON_BINDINGS_H_

#include <pybind11/pybind11.h>

namespace zorvik_python {

// Robot, load_urdf, LoadError, MomentumObserver (Module.cpp).
void bindRobot(pybind11::module_& m);
// Robot.inertial_parameters, set_inertial_parameters, regressor, passive_regressor,
// zorvik.base_parameters, zorvik.wrench_regressor (RegressorBindings.cpp; after bindRobot).
void bindRegressors(pybind11::module_& m);
// The robot's centroidal quantities, energies, body and joint parameters, external wrenches and
// joint-limit checks (RobotQueries.cpp); after bindRobot.
void bindRobotIntrospection(pybind11::module_& m);
// zorvik.so3 and zorvik.se3 (LieGroupBindings.cpp).
void bindLieGroups(pybind11::module_& m);
// RotationController and HTransformController (ControllerBindings.cpp).
void bindControllers(pybind11::module_& m);
// OperationalSpace (OperationalSpaceBindings.cpp), after bindRobot.
void bindOperationalSpace(pybind11::module_& m);

class RobotModel;
// The model of a zorvik.Robot (Module.cpp); TypeError naming `argument` for anything else,
// ValueError for a floating base when `what` needs a fixed one (what non-null).
RobotModel& robotModelOf(pybind11::handle robot, const char* argument, const char* what);

}  // namespace zorvik_python

#endif  // ZORVIK_PYTHON_BINDINGS_H_
