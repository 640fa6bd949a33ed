// The Python module zorvik: robots loaded from URDF, of any supported size behind one class, their
// kinematics and dynamics on numpy arrays, batches over worker threads, the momentum observer.
// The Lie groups and the controllers are in LieGroupBindings.cpp.
//
// Conventions, as in the library: float64; vectors of the joint space are 1-D arrays of length n,
// matrices (n, n), Jacobians (6, n) with the linear rows first, twists and wrenches 6-vectors
// (linear part first), poses (4, 4) homogeneous matrices in the base's reference frame.
#include <pybind11/stl.h>

#include <ZorvikURDF/RobotDescription>

#include <algorithm>
#include <chrono>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "Arrays.h"
#include "Bindings.h"
#include "RobotModel.h"

namespace zorvik_python {

namespace {

using ZorvikFoundation::URDF::LoadError;
using ZorvikFoundation::URDF::LoadOptions;

const SizeEntry* findSize(int n) {
  for (const SizeEntry& e : supportedSizes())
    if (e.n == n) return &e;
  return nullptr;
}

std::string sizeRange() {
  const std::vector<SizeEntry>& sizes = supportedSizes();
  return std::to_string(sizes.front().n) + ".." + std::to_string(sizes.back().n);
}

// A robot of any supported size. The model is used from the calling thread only (single calls hold
// the GIL); the batches run on their own models, one per worker, built on first use from the same
// description and kept for later batches.
struct PyRobot {
  std::unique_ptr<RobotModel> model;
  std::vector<std::unique_ptr<RobotModel>> workers;
  std::mutex batchMutex;

  int n() const { return model->n(); }
};

std::unique_ptr<PyRobot> makeRobot(const RobotDescription& description) {
  const int n = description.modelSize();
  const SizeEntry* entry = findSize(n);
  if (!entry)
    throw LoadError(description.source(), 0, "robot '" + description.robotName() + "'",
                    "it has " + std::to_string(n) +
                        " joint coordinates; this build of the Python module supports " +
                        sizeRange() + " (configure with -DZORVIK_PYTHON_MAX_DOF=" +
                        std::to_string(n) + " for more)");
  std::unique_ptr<PyRobot> robot(new PyRobot);
  robot->model = entry->robot(description);
  return robot;
}

LoadOptions loadOptions(const std::map<std::string, double>& locked, bool floating, bool strict) {
  LoadOptions options;
  options.lockedJoints = locked;
  options.floatingBase = floating;
  options.strict = strict;
  return options;
}

// A writable 1-D view of n doubles owned by the robot object, which the view keeps alive.
py::array_t<double> stateView(py::handle owner, double* data, int n) {
  return py::array_t<double>({static_cast<py::ssize_t>(n)}, {static_cast<py::ssize_t>(sizeof(double))},
                             data, owner);
}

void assign(double* target, py::handle value, const char* name, int n) {
  const Array a = asArray(value, name, {n});
  std::copy(a.data(), a.data() + n, target);
}

py::array_t<double> copyOf(const double* data, int n) {
  py::array_t<double> out = newArray({n});
  std::copy(data, data + n, out.mutable_data());
  return out;
}

const double* gravityOf(py::handle gravity, Array& holder) {
  if (gravity.is_none()) return nullptr;
  holder = asArray(gravity, "gravity", {3});
  return holder.data();
}

// The base acceleration of the floating-base forms; only a floating-base robot takes one.
const double* baseAccOf(PyRobot& r, py::handle baseAcc, Array& holder) {
  if (baseAcc.is_none()) return nullptr;
  if (!r.model->floatingBase())
    throw py::value_error("argument 'base_acc' is for floating-base robots only (this robot was "
                          "loaded with floating_base=False)");
  holder = asArray(baseAcc, "base_acc", {6});
  return holder.data();
}

void requireFixedBase(PyRobot& r, const char* what) {
  if (r.model->floatingBase())
    throw py::value_error(std::string(what) + " needs a fixed base (this robot was loaded with "
                          "floating_base=True)");
}

void requireDerivatives(PyRobot& r) {
  if (!r.model->hasDerivatives())
    throw py::type_error("the dynamics derivatives are not in the ZorvikCore library this module "
                         "was built against");
}

int bodyIndex(PyRobot& r, int k, const char* name = "k") {
  if (k < 0 || k > r.n())
    throw py::index_error("argument '" + std::string(name) + "' must be a body index in 0.." +
                          std::to_string(r.n()) + ", got " + std::to_string(k));
  return k;
}

// A frame by link name or by index.
int frameOf(PyRobot& r, py::handle frame) {
  const RobotDescription& d = r.model->description();
  if (py::isinstance<py::str>(frame)) {
    const std::string link = frame.cast<std::string>();
    const int f = d.frameIndex(link);
    if (f < 0)
      throw py::value_error("argument 'frame': robot '" + d.robotName() + "' has no link '" +
                            link + "' (robot.frame_names lists them)");
    return f;
  }
  if (PyLong_Check(frame.ptr())) {
    const long f = frame.cast<long>();
    const long count = static_cast<long>(d.frames().size());
    if (f < 0 || f >= count)
      throw py::index_error("argument 'frame' must be a frame index in 0.." +
                            std::to_string(count - 1) + ", got " + std::to_string(f));
    return static_cast<int>(f);
  }
  throw py::type_error("argument 'frame' must be a link name (str) or a frame index (int)");
}

int conventionOf(const std::string& convention) {
  if (convention == "body") return 0;
  if (convention == "world_aligned") return 1;
  if (convention == "spatial") return 2;
  throw py::value_error("argument 'convention' must be 'body', 'world_aligned' or 'spatial', got '" +
                        convention + "'");
}

// ---------------------------------------------------------------------------------------------
// Batches: K states split in contiguous chunks over `threads` workers, each on its own model. The
// calling thread takes the first chunk; every worker runs with the caller's floating-point control
// word (flush-to-zero and denormals-are-zero as the library set them), so that each state gives
// the bits a single call on the caller's thread gives.

int threadCount(py::handle threads) {
  if (threads.is_none()) return std::max(1u, std::thread::hardware_concurrency());
  if (!PyLong_Check(threads.ptr())) throw py::type_error("argument 'threads' must be an int");
  const long t = threads.cast<long>();
  if (t < 1) throw py::value_error("argument 'threads' must be at least 1, got " + std::to_string(t));
  return static_cast<int>(std::min<long>(t, 1024));
}

template <typename Work>
void runBatch(PyRobot& r, py::ssize_t K, int threads, const Work& work) {
  if (K == 0) return;
  const int T = static_cast<int>(std::min<py::ssize_t>(threads, K));
  py::gil_scoped_release release;
  std::lock_guard<std::mutex> lock(r.batchMutex);
  while (static_cast<int>(r.workers.size()) < T) r.workers.push_back(r.model->rebuild());
#if defined(__SSE__)
  const unsigned csr = _mm_getcsr();
#endif
  std::vector<std::exception_ptr> errors(static_cast<std::size_t>(T));
  auto chunk = [&](int t) {
    try {
#if defined(__SSE__)
      _mm_setcsr(csr);
#endif
      RobotModel& m = *r.workers[static_cast<std::size_t>(t)];
      for (py::ssize_t k = K * t / T; k < K * (t + 1) / T; ++k) work(m, k);
    } catch (...) {
      errors[static_cast<std::size_t>(t)] = std::current_exception();
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(static_cast<std::size_t>(T - 1));
  for (int t = 1; t < T; ++t) pool.emplace_back(chunk, t);
  chunk(0);
  for (std::thread& th : pool) th.join();
  for (const std::exception_ptr& e : errors)
    if (e) std::rethrow_exception(e);
}

// The state of row k of Q and Qdot, then the update every batch starts from.
void setState(RobotModel& m, const double* Q, const double* Qdot, py::ssize_t k) {
  const int n = m.n();
  std::copy(Q + k * n, Q + (k + 1) * n, m.q());
  std::copy(Qdot + k * n, Qdot + (k + 1) * n, m.qdot());
  m.update(false);
}

struct BatchInputs {
  Array Q, Qdot, third, gravity;
  py::ssize_t K;
};

BatchInputs batchInputs(PyRobot& r, py::handle Q, py::handle Qdot, py::handle third,
                        const char* thirdName, py::handle gravity, bool thirdRequired) {
  const int n = r.n();
  BatchInputs in;
  in.Q = asArray(Q, "Q", {-1, n});
  in.K = in.Q.shape(0);
  in.Qdot = asArray(Qdot, "Qdot", {in.K, n});
  if (thirdRequired) in.third = asArray(third, thirdName, {in.K, n});
  in.gravity = asArray(gravity, "gravity", {3});
  return in;
}

// ---------------------------------------------------------------------------------------------

struct PyObserver {
  std::unique_ptr<ObserverModel> model;
  double period;
  std::vector<double> gain;
};

const char* const kGravityNote =
    "gravity: the gravitational acceleration (3,) in the base's reference frame, pointing down "
    "(zorvik.GRAVITY is (0, 0, -9.81)); None leaves gravity out.";

}  // namespace

void bindRobot(py::module_& m) {
  // Kept for the life of the process: a static Python object would be released after the
  // interpreter has finalized.
  static py::exception<LoadError>& loadError =
      *new py::exception<LoadError>(m, "LoadError", PyExc_RuntimeError);
  loadError.doc() =
      "A robot description that cannot be read or turned into a model. The message is "
      "'<file>:<line>: <element>: <problem>'; the attributes file, line (1-based, 0 when the "
      "problem is not tied to one line), element and problem hold its parts.";
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const LoadError& e) {
      py::object error = py::handle(loadError.ptr())(py::str(e.what()));
      error.attr("file") = e.file();
      error.attr("line") = e.line();
      error.attr("element") = e.element();
      error.attr("problem") = e.problem();
      PyErr_SetObject(loadError.ptr(), error.ptr());
    }
  });

  std::vector<int> sizes;
  for (const SizeEntry& e : supportedSizes()) sizes.push_back(e.n);
  m.attr("SUPPORTED_SIZES") = py::tuple(py::cast(sizes));
  m.attr("HAS_DERIVATIVES") = supportedSizes().front().derivatives();

  py::class_<PyRobot> robot(m, "Robot", R"doc(
A robot model of n joint coordinates built from a URDF description (zorvik.load_urdf,
Robot.from_string).

Body 0 is the root link, body k (1..n) the child link of the moving joint that owns coordinate
k - 1. Every twist, acceleration and Jacobian of a body is in that body's own frame, linear part
first; poses are (4, 4) in the base's reference frame (the root link's frame for a fixed base).

State: q, qdot, qddot and tau are writable views of the model's own vectors (robot.q[2] = x
changes the model; robot.q = array copies the values in; an array read from robot.q keeps
seeing the model's values). Per cycle: write q and qdot, call update(), then
update_jacobian() for J, Jdot, Vdot and frame Jacobians, and the dynamics functions, which read
the state of the last update and never update themselves.
)doc");

  robot
      .def_static(
          "from_string",
          [](const std::string& xml, const std::map<std::string, double>& locked_joints,
             bool floating_base, bool strict, const std::string& source_name) {
            return makeRobot(RobotDescription::fromString(
                xml, source_name, loadOptions(locked_joints, floating_base, strict)));
          },
          py::arg("xml"), py::arg("locked_joints") = std::map<std::string, double>(),
          py::arg("floating_base") = false, py::arg("strict") = false,
          py::arg("source_name") = "<string>",
          "A robot from URDF text; source_name stands for the file in error messages. See "
          "load_urdf for the options.")
      .def_property_readonly("n", &PyRobot::n, "Number of joint coordinates.")
      .def_property_readonly(
          "name", [](PyRobot& r) { return r.model->description().robotName(); }, "The URDF robot name.")
      .def_property_readonly(
          "floating_base", [](PyRobot& r) { return r.model->floatingBase(); },
          "Whether the root link floats (loaded with floating_base=True).")
      .def_property_readonly(
          "joint_names",
          [](PyRobot& r) {
            std::vector<std::string> names;
            for (const auto& j : r.model->description().joints()) names.push_back(j.name);
            return names;
          },
          "Name of the joint owning each coordinate, in coordinate order.")
      .def_property_readonly(
          "frame_names",
          [](PyRobot& r) {
            std::vector<std::string> names;
            for (const auto& f : r.model->description().frames()) names.push_back(f.link);
            return names;
          },
          "Every URDF link, merged ones included, in frame-index order.")
      .def_property_readonly(
          "body_names",
          [](PyRobot& r) {
            std::vector<std::string> names;
            for (const auto& b : r.model->description().bodies()) names.push_back(b.link);
            return names;
          },
          "The link whose frame is each body's frame, bodies 0..n.")
      .def_property_readonly(
          "warnings", [](PyRobot& r) { return r.model->description().warnings(); },
          "What the loader found questionable in the description (strict=True makes these errors).")
      .def_property_readonly(
          "position_limits",
          [](PyRobot& r) {
            const auto& joints = r.model->description().joints();
            py::array_t<double> lower = newArray({r.n()}), upper = newArray({r.n()});
            for (int i = 0; i < r.n(); ++i) {
              lower.mutable_data()[i] = joints[static_cast<std::size_t>(i)].lower;
              upper.mutable_data()[i] = joints[static_cast<std::size_t>(i)].upper;
            }
            return py::make_tuple(lower, upper);
          },
          "(lower, upper): the URDF position limits per coordinate, rad or m (-inf, inf for "
          "continuous joints).")
      .def(
          "joint_index",
          [](PyRobot& r, const std::string& name) {
            const int i = r.model->description().jointIndex(name);
            if (i < 0)
              throw py::value_error("argument 'name': robot '" +
                                    r.model->description().robotName() +
                                    "' has no moving joint '" + name + "'");
            return i;
          },
          py::arg("name"), "The coordinate of a moving joint.")
      .def(
          "frame_body", [](PyRobot& r, py::handle frame) {
            return r.model->description().frames()[static_cast<std::size_t>(frameOf(r, frame))].body;
          },
          py::arg("frame"), "The body a link (name or frame index) is attached to.")
      .def(
          "frame_offset",
          [](PyRobot& r, py::handle frame) {
            const auto& T = r.model->description().frames()[static_cast<std::size_t>(frameOf(r, frame))].offset;
            py::array_t<double> out = newArray({4, 4});
            for (int i = 0; i < 4; ++i)
              for (int j = 0; j < 4; ++j) out.mutable_data()[4 * i + j] = T(i, j);
            return out;
          },
          py::arg("frame"), "T_body_link (4, 4): the link's fixed pose in its body's frame.")
      .def("__repr__", [](PyRobot& r) {
        return "<zorvik.Robot '" + r.model->description().robotName() + "' n=" +
               std::to_string(r.n()) + (r.model->floatingBase() ? " floating base>" : ">");
      });

  // State views and assignment.
  struct StateMember {
    const char* name;
    double* (RobotModel::*get)();
    const char* doc;
  };
  static const StateMember members[] = {
      {"q", &RobotModel::q, "Joint coordinates (n,), rad or m: a writable view of the model's own."},
      {"qdot", &RobotModel::qdot, "Joint rates (n,): a writable view of the model's own."},
      {"qddot", &RobotModel::qddot,
       "Joint accelerations (n,): a writable view; fdyn writes its result here. Vdot and "
       "frame_acceleration read it."},
      {"tau", &RobotModel::tau,
       "Joint torques (n,), N m or N: a writable view; the idyn family writes its result here, "
       "the observer reads the applied torques from it."},
  };
  for (const StateMember& s : members) {
    auto get = s.get;
    const char* name = s.name;
    robot.def_property(
        name,
        [get](py::object self) {
          PyRobot& r = self.cast<PyRobot&>();
          return stateView(self, ((*r.model).*get)(), r.n());
        },
        [get, name](PyRobot& r, py::handle value) { assign(((*r.model).*get)(), value, name, r.n()); },
        s.doc);
  }

  // Results of one body (index 0..n) or one frame (link name or frame index), as new arrays of
  // rows x cols (cols 0: a vector; -1: n columns).
  struct Output {
    const char* name;
    void (RobotModel::*get)(int, double*) const;
    bool frame;
    py::ssize_t rows, cols;
    const char* doc;
  };
  static const Output outputs[] = {
      {"T", &RobotModel::pose, false, 4, 4, "Pose (4, 4) of body k (0..n) in the reference frame."},
      {"V", &RobotModel::twist, false, 6, 0, "Twist (6,) of body k in its own frame, (v, w)."},
      {"J", &RobotModel::jacobian, false, 6, -1,
       "Body Jacobian (6, n) of body k in its own frame, V(k) = J(k) qdot (after "
       "update_jacobian())."},
      {"Jdot", &RobotModel::jacobianDot, false, 6, -1,
       "Time derivative (6, n) of J(k) (after update_jacobian(), with the derivatives)."},
      {"Vdot", &RobotModel::acceleration, false, 6, 0,
       "Acceleration (6,) of body k in its own frame, J(k) qddot + Jdot(k) qdot from the stored "
       "qddot and qdot (no base motion, no gravity; after update_jacobian())."},
      {"frame_pose", &RobotModel::framePose, true, 4, 4,
       "Pose (4, 4) of a link (name or frame index) in the reference frame."},
      {"frame_twist", &RobotModel::frameTwist, true, 6, 0, "Twist (6,) of a link in its own frame."},
      {"frame_acceleration", &RobotModel::frameAcceleration, true, 6, 0,
       "Acceleration (6,) of a link in its own frame from the stored qddot and qdot (after "
       "update_jacobian())."},
  };
  for (const Output& o : outputs) {
    auto get = o.get;
    const py::ssize_t rows = o.rows, cols = o.cols;
    auto result = [rows, cols](PyRobot& r) {
      return cols == 0 ? newArray({rows}) : newArray({rows, cols < 0 ? r.n() : cols});
    };
    if (o.frame)
      robot.def(
          o.name,
          [get, result](PyRobot& r, py::handle frame) {
            py::array_t<double> out = result(r);
            ((*r.model).*get)(frameOf(r, frame), out.mutable_data());
            return out;
          },
          py::arg("frame"), o.doc);
    else
      robot.def(
          o.name,
          [get, result](PyRobot& r, int k) {
            py::array_t<double> out = result(r);
            ((*r.model).*get)(bodyIndex(r, k), out.mutable_data());
            return out;
          },
          py::arg("k"), o.doc);
  }

  robot
      .def_property(
          "base_pose",
          [](PyRobot& r) {
            py::array_t<double> out = newArray({4, 4});
            r.model->basePose(out.mutable_data());
            return out;
          },
          [](PyRobot& r, py::handle value) {
            if (!r.model->floatingBase())
              throw py::value_error("base_pose is written on floating-base robots only");
            const Array T = asArray(value, "base_pose", {4, 4});
            r.model->setBasePose(T.data());
          },
          "The base's pose (4, 4) in the reference frame, applied at the next update(); "
          "writable on a floating base (a copy: assign a whole matrix).")
      .def_property(
          "base_twist",
          [](PyRobot& r) {
            py::array_t<double> out = newArray({6});
            r.model->baseTwist(out.mutable_data());
            return out;
          },
          [](PyRobot& r, py::handle value) {
            if (!r.model->floatingBase())
              throw py::value_error("base_twist is written on floating-base robots only");
            const Array V = asArray(value, "base_twist", {6});
            r.model->setBaseTwist(V.data());
          },
          "The base's twist (6,) in its own frame, applied at the next update(); writable on a "
          "floating base (a copy).")
      .def_property_readonly(
          "base_acc",
          [](PyRobot& r) {
            py::array_t<double> out = newArray({6});
            r.model->baseAcceleration(out.mutable_data());
            return out;
          },
          "The base's acceleration (6,) in its own frame that the last fdyn of a floating-base "
          "robot found (a copy).")

      .def(
          "update", [](PyRobot& r, bool pos_only) { r.model->update(pos_only); },
          py::arg("pos_only") = false,
          "Forward kinematics from q (and qdot): body poses and, unless pos_only, body twists.")
      .def(
          "update_jacobian", [](PyRobot& r, bool pos_only) { r.model->updateJacobian(pos_only); },
          py::arg("pos_only") = false,
          "Body Jacobians and, unless pos_only, their derivatives (after update()).")
      .def(
          "frame_jacobian",
          [](PyRobot& r, py::handle frame, const std::string& convention) {
            py::array_t<double> out = newArray({6, r.n()});
            r.model->frameJacobian(frameOf(r, frame), conventionOf(convention), out.mutable_data());
            return out;
          },
          py::arg("frame"), py::arg("convention"),
          "Jacobian (6, n) of a link after update_jacobian(): convention 'body' (its twist in "
          "its own frame), 'world_aligned' (origin velocity and angular velocity in the "
          "reference axes) or 'spatial' (its twist seen in the reference frame).")
      .def(
          "frame_jacobian_dot",
          [](PyRobot& r, py::handle frame, const std::string& convention) {
            py::array_t<double> out = newArray({6, r.n()});
            r.model->frameJacobianDot(frameOf(r, frame), conventionOf(convention),
                                      out.mutable_data());
            return out;
          },
          py::arg("frame"), py::arg("convention"),
          "Time derivative (6, n) of frame_jacobian in the same convention (after "
          "update_jacobian(), which must include the derivatives).")

      .def(
          "idyn",
          [](PyRobot& r, py::handle qdot, py::handle qddot, py::handle gravity,
             py::handle base_acc) {
            const int n = r.n();
            const Array v = asArray(qdot, "qdot", {n}), a = asArray(qddot, "qddot", {n});
            Array g, b;
            r.model->idyn(v.data(), a.data(), gravityOf(gravity, g), baseAccOf(r, base_acc, b));
            return copyOf(r.model->tau(), n);
          },
          py::arg("qdot"), py::arg("qddot"), py::arg("gravity") = py::none(),
          py::arg("base_acc") = py::none(),
          (std::string("Inverse dynamics tau = M(q) qddot + C(q, qdot) qdot + g(q) (n,) at the "
                       "state of the last update(false). Returns tau and leaves it in robot.tau. ") +
           kGravityNote +
           " base_acc (6,): on a floating base, the base's acceleration in its own frame "
           "(the floating-base form, with base_twist as the base's twist).")
              .c_str())
      .def(
          "idyn_passive",
          [](PyRobot& r, py::handle qdot_ref, py::handle qddot_ref, py::handle gravity,
             py::handle base_acc) {
            const int n = r.n();
            const Array v = asArray(qdot_ref, "qdot_ref", {n});
            const Array a = asArray(qddot_ref, "qddot_ref", {n});
            Array g, b;
            r.model->idynPassive(v.data(), a.data(), gravityOf(gravity, g),
                                 baseAccOf(r, base_acc, b));
            return copyOf(r.model->tau(), n);
          },
          py::arg("qdot_ref"), py::arg("qddot_ref"), py::arg("gravity") = py::none(),
          py::arg("base_acc") = py::none(),
          (std::string("Passivity-based inverse dynamics tau = M qddot_ref + C(q, qdot) qdot_ref "
                       "+ g (the actual qdot through the last update). Returns tau and leaves it "
                       "in robot.tau. ") +
           kGravityNote)
              .c_str())
      .def(
          "idyn_gravity",
          [](PyRobot& r, py::handle gravity) {
            const Array g = asArray(gravity, "gravity", {3});
            r.model->idynGravity(g.data());
            return copyOf(r.model->tau(), r.n());
          },
          py::arg("gravity"),
          "Gravity torques g(q) (n,) for the gravitational acceleration (3,). Returns them and "
          "leaves them in robot.tau.")
      .def(
          "idyn_momentum",
          [](PyRobot& r, py::handle qddot, py::handle base_acc) {
            const Array a = asArray(qddot, "qddot", {r.n()});
            Array b;
            r.model->idynMomentum(a.data(), baseAccOf(r, base_acc, b));
            return copyOf(r.model->tau(), r.n());
          },
          py::arg("qddot"), py::arg("base_acc") = py::none(),
          "M(q) x (n,) for any x (zero velocity, no gravity): with x = qdot the generalized "
          "momentum. Returns it and leaves it in robot.tau.")
      .def(
          "fdyn",
          [](PyRobot& r, py::handle tau, py::handle gravity) {
            const Array t = asArray(tau, "tau", {r.n()});
            Array g;
            r.model->fdyn(t.data(), gravityOf(gravity, g));
            return copyOf(r.model->qddot(), r.n());
          },
          py::arg("tau"), py::arg("gravity") = py::none(),
          (std::string("Forward dynamics by the articulated-body recursion: qddot (n,) for the "
                       "torques tau at the state of the last update(false); returns it and "
                       "leaves it in robot.qddot (a floating base's acceleration in "
                       "robot.base_acc). Joint damping and friction are not in it. ") +
           kGravityNote)
              .c_str())
      .def(
          "joint_dynamics",
          [](PyRobot& r, py::handle gravity) {
            requireFixedBase(r, "joint_dynamics");
            const Array g = asArray(gravity, "gravity", {3});
            const int n = r.n();
            py::array_t<double> M = newArray({n, n}), C = newArray({n, n}), G = newArray({n});
            r.model->jointDynamics(g.data(), M.mutable_data(), C.mutable_data(), G.mutable_data());
            return py::make_tuple(M, C, G);
          },
          py::arg("gravity"),
          "(M, C, G): mass matrix (n, n), passivity-based Coriolis matrix (n, n) (dM/dt - 2C "
          "skew-symmetric) and gravity torques (n,) at the state of the last update(false); "
          "robot.tau and the state are left as they were.")
      .def(
          "mass_inverse",
          [](PyRobot& r) {
            requireFixedBase(r, "mass_inverse");
            py::array_t<double> Minv = newArray({r.n(), r.n()});
            r.model->massInverse(Minv.mutable_data());
            return Minv;
          },
          "M(q)^-1 (n, n) at the stored q, by the articulated-body recursion (exactly symmetric).")
      .def(
          "idyn_derivatives",
          [](PyRobot& r, py::handle qddot, py::handle gravity) {
            requireFixedBase(r, "idyn_derivatives");
            requireDerivatives(r);
            const int n = r.n();
            const Array a = asArray(qddot, "qddot", {n});
            const Array g = asArray(gravity, "gravity", {3});
            py::array_t<double> dq = newArray({n, n}), dqdot = newArray({n, n});
            r.model->idynDerivatives(a.data(), g.data(), dq.mutable_data(), dqdot.mutable_data());
            return py::make_tuple(dq, dqdot);
          },
          py::arg("qddot"), py::arg("gravity"),
          "(dtau_dq, dtau_dqdot) (n, n) each: the partial derivatives of idyn(qdot, qddot, "
          "gravity) at the state of the last update(false).")
      .def(
          "fdyn_derivatives",
          [](PyRobot& r, py::handle tau, py::handle gravity) {
            requireFixedBase(r, "fdyn_derivatives");
            requireDerivatives(r);
            const int n = r.n();
            const Array t = asArray(tau, "tau", {n});
            const Array g = asArray(gravity, "gravity", {3});
            py::array_t<double> dq = newArray({n, n}), dqdot = newArray({n, n}),
                                Minv = newArray({n, n});
            r.model->fdynDerivatives(t.data(), g.data(), dq.mutable_data(), dqdot.mutable_data(),
                                     Minv.mutable_data());
            return py::make_tuple(dq, dqdot, Minv);
          },
          py::arg("tau"), py::arg("gravity"),
          "(dqddot_dq, dqddot_dqdot, Minv) (n, n) each: the partial derivatives of fdyn(tau, "
          "gravity) at the state of the last update(false), and M(q)^-1 (dqddot/dtau).")
      .def(
          "inverse_kinematics",
          [](PyRobot& r, py::handle frame, py::handle target, py::handle q_seed,
             double position_tolerance, double rotation_tolerance, int max_iterations,
             int restarts, double position_weight, double rotation_weight,
             unsigned long long seed) {
            const int f = frameOf(r, frame);
            const Array T = asArray(target, "target", {4, 4});
            const Array seedQ = asArray(q_seed, "q_seed", {r.n()});
            if (max_iterations < 1 || restarts < 0)
              throw py::value_error("max_iterations must be at least 1 and restarts at least 0");
            IkOptions o;
            o.positionTolerance = position_tolerance;
            o.rotationTolerance = rotation_tolerance;
            o.maxIterations = max_iterations;
            o.restarts = restarts;
            o.positionWeight = position_weight;
            o.rotationWeight = rotation_weight;
            o.seed = seed;
            py::array_t<double> q = newArray({r.n()});
            const IkOutcome res = r.model->inverseKinematics(f, T.data(), seedQ.data(), o,
                                                             q.mutable_data());
            py::dict info;
            info["converged"] = res.converged;
            info["iterations"] = res.iterations;
            info["position_error"] = res.positionError;
            info["rotation_error"] = res.rotationError;
            return py::make_tuple(q, info);
          },
          py::arg("frame"), py::arg("target"), py::arg("q_seed"),
          py::arg("position_tolerance") = 1e-6, py::arg("rotation_tolerance") = 1e-6,
          py::arg("max_iterations") = 100, py::arg("restarts") = 20,
          py::arg("position_weight") = 1.0, py::arg("rotation_weight") = 1.0,
          py::arg("seed") = 1ull,
          "(q, info): coordinates (n,) that put the link at the target pose (4, 4), by damped "
          "least squares within the URDF position limits, with deterministic restarts; info "
          "has converged, iterations, position_error (m) and rotation_error (rad). The model is "
          "the solver's workspace: afterwards robot.q is q and the poses are those of q.");

  // Batches.
  robot
      .def(
          "batch_idyn",
          [](PyRobot& r, py::handle Q, py::handle Qdot, py::handle Qddot, py::handle gravity,
             py::handle threads) {
            const BatchInputs in = batchInputs(r, Q, Qdot, Qddot, "Qddot", gravity, true);
            const int n = r.n();
            py::array_t<double> out = newArray({in.K, n});
            double* tau = out.mutable_data();
            const double *q = in.Q.data(), *qd = in.Qdot.data(), *qdd = in.third.data(),
                         *g = in.gravity.data();
            runBatch(r, in.K, threadCount(threads), [&](RobotModel& m, py::ssize_t k) {
              setState(m, q, qd, k);
              m.idyn(qd + k * n, qdd + k * n, g, nullptr);
              std::copy(m.tau(), m.tau() + n, tau + k * n);
            });
            return out;
          },
          py::arg("Q"), py::arg("Qdot"), py::arg("Qddot"), py::arg("gravity"),
          py::arg("threads") = py::none(),
          "idyn for K states: rows of Q, Qdot, Qddot (K, n) -> tau (K, n), each row the bits of "
          "update() and idyn(Qdot[k], Qddot[k], gravity) at q = Q[k], qdot = Qdot[k]. Runs "
          "without the GIL on `threads` workers (default: every core), each on its own copy of "
          "the model; the robot's own state is not touched.")
      .def(
          "batch_fdyn",
          [](PyRobot& r, py::handle Q, py::handle Qdot, py::handle Tau, py::handle gravity,
             py::handle threads) {
            requireFixedBase(r, "batch_fdyn");
            const BatchInputs in = batchInputs(r, Q, Qdot, Tau, "Tau", gravity, true);
            const int n = r.n();
            py::array_t<double> out = newArray({in.K, n});
            double* qddot = out.mutable_data();
            const double *q = in.Q.data(), *qd = in.Qdot.data(), *tau = in.third.data(),
                         *g = in.gravity.data();
            runBatch(r, in.K, threadCount(threads), [&](RobotModel& m, py::ssize_t k) {
              setState(m, q, qd, k);
              m.fdyn(tau + k * n, g);
              std::copy(m.qddot(), m.qddot() + n, qddot + k * n);
            });
            return out;
          },
          py::arg("Q"), py::arg("Qdot"), py::arg("Tau"), py::arg("gravity"),
          py::arg("threads") = py::none(),
          "fdyn for K states: Q, Qdot, Tau (K, n) -> qddot (K, n), as batch_idyn.")
      .def(
          "batch_joint_dynamics",
          [](PyRobot& r, py::handle Q, py::handle Qdot, py::handle gravity, py::handle threads) {
            requireFixedBase(r, "batch_joint_dynamics");
            const BatchInputs in = batchInputs(r, Q, Qdot, py::none(), "", gravity, false);
            const int n = r.n();
            py::array_t<double> M = newArray({in.K, n, n}), C = newArray({in.K, n, n}),
                                G = newArray({in.K, n});
            double *pM = M.mutable_data(), *pC = C.mutable_data(), *pG = G.mutable_data();
            const double *q = in.Q.data(), *qd = in.Qdot.data(), *g = in.gravity.data();
            runBatch(r, in.K, threadCount(threads), [&](RobotModel& m, py::ssize_t k) {
              setState(m, q, qd, k);
              m.jointDynamics(g, pM + k * n * n, pC + k * n * n, pG + k * n);
            });
            return py::make_tuple(M, C, G);
          },
          py::arg("Q"), py::arg("Qdot"), py::arg("gravity"), py::arg("threads") = py::none(),
          "joint_dynamics for K states: Q, Qdot (K, n) -> (M (K, n, n), C (K, n, n), G (K, n)), "
          "as batch_idyn.")
      .def(
          "batch_idyn_derivatives",
          [](PyRobot& r, py::handle Q, py::handle Qdot, py::handle Qddot, py::handle gravity,
             py::handle threads) {
            requireFixedBase(r, "batch_idyn_derivatives");
            requireDerivatives(r);
            const BatchInputs in = batchInputs(r, Q, Qdot, Qddot, "Qddot", gravity, true);
            const int n = r.n();
            py::array_t<double> dq = newArray({in.K, n, n}), dqdot = newArray({in.K, n, n});
            double *pq = dq.mutable_data(), *pqd = dqdot.mutable_data();
            const double *q = in.Q.data(), *qd = in.Qdot.data(), *qdd = in.third.data(),
                         *g = in.gravity.data();
            runBatch(r, in.K, threadCount(threads), [&](RobotModel& m, py::ssize_t k) {
              setState(m, q, qd, k);
              m.idynDerivatives(qdd + k * n, g, pq + k * n * n, pqd + k * n * n);
            });
            return py::make_tuple(dq, dqdot);
          },
          py::arg("Q"), py::arg("Qdot"), py::arg("Qddot"), py::arg("gravity"),
          py::arg("threads") = py::none(),
          "idyn_derivatives for K states: Q, Qdot, Qddot (K, n) -> (dtau_dq, dtau_dqdot) "
          "(K, n, n) each, as batch_idyn.");

  m.def(
      "load_urdf",
      [](py::object path, const std::map<std::string, double>& locked_joints, bool floating_base,
         bool strict) {
        const std::string file =
            py::str(py::module_::import("os").attr("fspath")(path)).cast<std::string>();
        return makeRobot(RobotDescription::fromFile(file, loadOptions(locked_joints, floating_base, strict)));
      },
      py::arg("path"), py::arg("locked_joints") = std::map<std::string, double>(),
      py::arg("floating_base") = false, py::arg("strict") = false,
      "A Robot from a URDF file, of whatever size it has (zorvik.SUPPORTED_SIZES). "
      "locked_joints maps moving joints to the positions (rad or m) at which they become fixed; "
      "floating_base mounts the root link on a free-floating base whose pose and twist the "
      "client writes (base_pose, base_twist); strict turns the loader's warnings into errors. "
      "Raises zorvik.LoadError naming the file, line and element.");

  // The C++ side of bench/python_overhead.py: the same interface calls timed in a loop, without
  // Python in between.
  m.def(
      "_time_idyn",
      [](PyRobot& r, py::handle qdot, py::handle qddot, py::handle gravity, long iterations) {
        const int n = r.n();
        const Array v = asArray(qdot, "qdot", {n}), a = asArray(qddot, "qddot", {n});
        const Array g = asArray(gravity, "gravity", {3});
        const auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < iterations; ++i) r.model->idyn(v.data(), a.data(), g.data(), nullptr);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        return elapsed.count() / static_cast<double>(iterations);
      },
      py::arg("robot"), py::arg("qdot"), py::arg("qddot"), py::arg("gravity"),
      py::arg("iterations"), "Seconds per idyn call made from C++ (for the benchmark).");
  m.def(
      "_time_states_idyn",
      [](PyRobot& r, py::handle Q, py::handle Qdot, py::handle Qddot, py::handle gravity) {
        const BatchInputs in = batchInputs(r, Q, Qdot, Qddot, "Qddot", gravity, true);
        const int n = r.n();
        std::vector<double> tau(static_cast<std::size_t>(n));
        const auto start = std::chrono::steady_clock::now();
        for (py::ssize_t k = 0; k < in.K; ++k) {
          setState(*r.model, in.Q.data(), in.Qdot.data(), k);
          r.model->idyn(in.Qdot.data() + k * n, in.third.data() + k * n, in.gravity.data(), nullptr);
          std::copy(r.model->tau(), r.model->tau() + n, tau.begin());
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        return elapsed.count() / static_cast<double>(std::max<py::ssize_t>(in.K, 1));
      },
      py::arg("robot"), py::arg("Q"), py::arg("Qdot"), py::arg("Qddot"), py::arg("gravity"),
      "Seconds per state of update() and idyn from C++ on one thread (for the benchmark).");

  py::class_<PyObserver>(m, "MomentumObserver", R"doc(
Generalized-momentum observer of the external joint torques: the residual r follows tau_ext
through a first-order lag of bandwidth gain (1/s) per joint, discretised by implicit Euler with
the given period (s). Every period: write the measured q and qdot, call robot.update(), put the
applied torques in robot.tau, call estimate. It starts from zero momentum (robot at rest).
)doc")
      .def(py::init([](int n, double period, py::handle gain) {
             const SizeEntry* e = findSize(n);
             if (!e)
               throw py::value_error("argument 'n' must be a supported size (" + sizeRange() +
                                     "), got " + std::to_string(n));
             std::unique_ptr<PyObserver> o(new PyObserver);
             o->model = e->observer();
             o->period = period;
             o->gain = asGain(gain, "gain", n);
             o->model->setPeriod(period);
             o->model->setGain(o->gain.data());
             return o;
           }),
           py::arg("n"), py::arg("period"), py::arg("gain"),
           "n joint coordinates, sampling period in s, gain a scalar or one per joint (1/s).")
      .def_property_readonly(
          "n", [](PyObserver& o) { return o.model->n(); }, "Number of joint coordinates.")
      .def_property_readonly(
          "period", [](PyObserver& o) { return o.period; }, "Sampling period in s.")
      .def_property_readonly(
          "gain",
          [](PyObserver& o) { return copyOf(o.gain.data(), static_cast<int>(o.gain.size())); },
          "Bandwidth L per joint (n,), 1/s (a copy).")
      .def(
          "estimate",
          [](PyObserver& o, PyRobot& r, py::handle gravity) {
            if (r.n() != o.model->n())
              throw py::value_error("argument 'robot' must have " + std::to_string(o.model->n()) +
                                    " joint coordinates, got " + std::to_string(r.n()));
            requireFixedBase(r, "the momentum observer");
            Array g;
            py::array_t<double> out = newArray({r.n()});
            o.model->estimate(*r.model, gravityOf(gravity, g), out.mutable_data());
            return out;
          },
          py::arg("robot"), py::arg("gravity") = py::none(),
          "One observer step: the residual (n,), an estimate of the external joint torques, from "
          "the robot's state of the last update(false) and the applied torques in robot.tau. "
          "The robot comes back unchanged.");
}

}  // namespace zorvik_python

PYBIND11_MODULE(_zorvik, m) {
  m.doc() =
      "ZorvikCore: rigid-body kinematics and dynamics of robot manipulators on numpy arrays.";
  zorvik_python::bindRobot(m);
  zorvik_python::bindLieGroups(m);
  zorvik_python::bindControllers(m);
}
