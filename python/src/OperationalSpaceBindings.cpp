// zorvik.OperationalSpace: OperationalSpaceXD on numpy arrays, tasks by link name. See
// <Vexo/OperationalSpaceXD> for the quantities and the singularity rule.
#include <string>

#include "Arrays.h"
#include "Bindings.h"
#include "OperationalSpaceModel.h"
#include "PyRobot.h"
#include "RobotModel.h"

namespace zorvik_python {

namespace {

// The robot it was made for is kept alive with it.
struct PyOperationalSpace {
  py::object robot;
  RobotModel* model;
  std::unique_ptr<OperationalSpaceModel> osc;
  bool computed = false;

  int n() const { return osc->n(); }
  int m() const { return osc->rows(); }
  void requireComputed(const char* what) const {
    if (!computed)
      throw py::value_error(std::string(what) + ": call compute() first (and again after "
                            "add_task or clear_tasks)");
  }
};

int choiceOf(const std::string& value, const char* argument,
             std::initializer_list<const char*> choices) {
  int i = 0;
  std::string list;
  for (const char* c : choices) {
    if (value == c) return i;
    list += std::string(i ? ", " : "") + "'" + c + "'";
    ++i;
  }
  throw py::value_error("argument '" + std::string(argument) + "' must be one of " + list +
                        ", got '" + value + "'");
}

int frameOf(const RobotDescription& d, const std::string& link) {
  const int f = d.frameIndex(link);
  if (f < 0)
    throw py::value_error("argument 'link': robot '" + d.robotName() + "' has no link '" + link +
                          "' (robot.frame_names lists them)");
  return f;
}

template <typename Getter>
py::array_t<double> result(const PyOperationalSpace& o, const char* what,
                           std::initializer_list<py::ssize_t> shape, Getter get) {
  o.requireComputed(what);
  py::array_t<double> out = newArray(shape);
  get(out.mutable_data());
  return out;
}

}  // namespace

void bindOperationalSpace(py::module_& m) {
  py::class_<PyOperationalSpace>(m, "OperationalSpace", R"doc(
Operational-space dynamics of a robot (fixed base): up to four task frames (links), 24 task rows
in all, stacked in the order they were added. After compute(), with M qddot + b = tau and the task
acceleration J qddot + Jdot qdot:
  inverse_inertia                 A = J M^-1 J^T (m, m)
  task_inertia                    Lambda = A^-1 (m, m), damped near singularities
  dynamically_consistent_inverse  Jbar = M^-1 J^T Lambda (n, m)
  task_bias                       mu = Lambda (J M^-1 b - Jdot qdot) (m,)
  null_space                      P = I - J^T Jbar^T (n, n)
  jacobian                        J (m, n)
and torque(a_task, tau_posture) = J^T (Lambda a_task + mu) + P tau_posture, under which the tasks
accelerate as a_task and tau_posture acts in their null space only. Near a singularity, the
eigenvalues of A below singular_threshold times the largest are damped (Lambda stays bounded);
conditioning is smallest / largest eigenvalue of A, damped whether any was damped.
)doc")
      .def(py::init([](py::object robot) {
             RobotModel& model = robotModelOf(robot, "robot", "OperationalSpace");
             std::unique_ptr<PyOperationalSpace> o(new PyOperationalSpace);
             o->robot = robot;
             o->model = &model;
             o->osc = model.makeOperationalSpace();
             return o;
           }),
           py::arg("robot"), "For a zorvik.Robot with a fixed base; no tasks yet.")
      .def(
          "add_task",
          [](PyOperationalSpace& o, const std::string& link, const std::string& convention,
             const std::string& rows) {
            const RobotDescription& d = o.model->description();
            const int f = frameOf(d, link);
            const int c = choiceOf(convention, "convention", {"body", "world_aligned", "spatial"});
            const int r = choiceOf(rows, "rows", {"all", "linear", "angular"});
            const int count = r == 0 ? 6 : 3;
            if (o.osc->taskCount() == 4 || o.m() + count > 24)
              throw py::value_error("add_task: at most 4 tasks and 24 task rows (now " +
                                    std::to_string(o.osc->taskCount()) + " tasks, " +
                                    std::to_string(o.m()) + " rows)");
            double T[16];
            const auto& offset = d.frames()[f].offset;
            for (int i = 0; i < 4; ++i)
              for (int j = 0; j < 4; ++j) T[4 * i + j] = offset(i, j);
            o.computed = false;
            return o.osc->addTask(d.frames()[f].body, T, c, r);
          },
          py::arg("link"), py::arg("convention") = "world_aligned", py::arg("rows") = "all",
          "Adds the frame of a link: its Jacobian in convention 'body', 'world_aligned' or "
          "'spatial' (as frame_jacobian), rows 'all' (6, linear first), 'linear' or 'angular' "
          "(3). Returns the index of its first row in the task vectors.")
      .def(
          "clear_tasks",
          [](PyOperationalSpace& o) {
            o.osc->clearTasks();
            o.computed = false;
          },
          "Removes every task.")
      .def_property_readonly("rows", [](PyOperationalSpace& o) { return o.m(); },
                             "Task rows m of all tasks.")
      .def_property(
          "singular_threshold", [](PyOperationalSpace& o) { return o.osc->singularThreshold(); },
          [](PyOperationalSpace& o, double eps) {
            if (!(eps > 0 && eps < 1))
              throw py::value_error("singular_threshold must lie in (0, 1), got " +
                                    std::to_string(eps));
            o.osc->setSingularThreshold(eps);
          },
          "Relative eigenvalue threshold of the damping (default 1e-6).")
      .def(
          "compute",
          [](PyOperationalSpace& o, py::handle gravity) {
            double zero[3] = {0, 0, 0};
            Array g;
            const double* gacc = zero;
            if (!gravity.is_none()) {
              g = asArray(gravity, "gravity", {3});
              gacc = g.data();
            }
            PyRobot& r = o.robot.cast<PyRobot&>();
            requireUpdate(r, true, "OperationalSpace.compute");
            o.model->updateJacobian(false);
            r.jacobians = r.jacobianRates = true;
            o.osc->compute(*o.model, gacc);
            o.computed = true;
          },
          py::arg("gravity") = py::none(),
          "All quantities at the state of the robot's last update() (the Jacobians are refreshed "
          "here). gravity: the gravitational acceleration (3,) in the base frame, None for none.")
      .def_property_readonly(
          "inverse_inertia",
          [](PyOperationalSpace& o) {
            return result(o, "inverse_inertia", {o.m(), o.m()},
                          [&](double* out) { o.osc->inverseInertia(out); });
          },
          "A = J M^-1 J^T (m, m).")
      .def_property_readonly(
          "task_inertia",
          [](PyOperationalSpace& o) {
            return result(o, "task_inertia", {o.m(), o.m()},
                          [&](double* out) { o.osc->taskInertia(out); });
          },
          "Lambda (m, m): A^-1, damped near singularities.")
      .def_property_readonly(
          "dynamically_consistent_inverse",
          [](PyOperationalSpace& o) {
            return result(o, "dynamically_consistent_inverse", {o.n(), o.m()},
                          [&](double* out) { o.osc->dynamicallyConsistentInverse(out); });
          },
          "Jbar = M^-1 J^T Lambda (n, m).")
      .def_property_readonly(
          "task_bias",
          [](PyOperationalSpace& o) {
            return result(o, "task_bias", {o.m()}, [&](double* out) { o.osc->taskBias(out); });
          },
          "mu = Lambda (J M^-1 b - Jdot qdot) (m,).")
      .def_property_readonly(
          "null_space",
          [](PyOperationalSpace& o) {
            return result(o, "null_space", {o.n(), o.n()},
                          [&](double* out) { o.osc->nullSpace(out); });
          },
          "P = I - J^T Jbar^T (n, n).")
      .def_property_readonly(
          "jacobian",
          [](PyOperationalSpace& o) {
            return result(o, "jacobian", {o.m(), o.n()},
                          [&](double* out) { o.osc->jacobian(out); });
          },
          "The stacked task Jacobian J (m, n).")
      .def_property_readonly(
          "conditioning",
          [](PyOperationalSpace& o) {
            o.requireComputed("conditioning");
            return o.osc->conditioning();
          },
          "Smallest over largest eigenvalue of A, in [0, 1].")
      .def_property_readonly(
          "damped",
          [](PyOperationalSpace& o) {
            o.requireComputed("damped");
            return o.osc->damped();
          },
          "Whether compute() damped a direction of A.")
      .def(
          "torque",
          [](PyOperationalSpace& o, py::handle a_task, py::handle tau_posture) {
            o.requireComputed("torque");
            const Array a = asArray(a_task, "a_task", {o.m()});
            Array p;
            std::vector<double> zeros(static_cast<std::size_t>(o.n()), 0.0);
            const double* posture = zeros.data();
            if (!tau_posture.is_none()) {
              p = asArray(tau_posture, "tau_posture", {o.n()});
              posture = p.data();
            }
            py::array_t<double> tau = newArray({o.n()});
            o.osc->torque(a.data(), posture, tau.mutable_data());
            return tau;
          },
          py::arg("a_task"), py::arg("tau_posture") = py::none(),
          "tau (n,) = J^T (Lambda a_task + mu) + P tau_posture: the tasks accelerate as a_task "
          "(m,), tau_posture (n,) acts in their null space only.");
}

}  // namespace zorvik_python
