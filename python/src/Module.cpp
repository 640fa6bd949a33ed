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
#include <cctype>
#include <chrono>
#include <cstring>
#include <exception>
#include <regex>
#include <stdexcept>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "Arrays.h"
#include "Bindings.h"
#include "LieTypes.h"
#include "PyRobot.h"
#include "RobotModel.h"

namespace zorvik_python {

namespace {

using ZorvikFoundation::URDF::LoadError;
using ZorvikFoundation::URDF::LoadOptions;

// The smallest compiled size that holds n coordinates, or null when n is larger than all.
const SizeEntry* sizeFor(int n) {
  for (const SizeEntry& e : compiledSizes())
    if (e.n >= n) return &e;
  return nullptr;
}

int maxSize() { return compiledSizes().back().n; }

// modelSize 0: the smallest compiled size that holds the robot; else that compiled size.
std::unique_ptr<PyRobot> makeRobot(const RobotDescription& description, int modelSize) {
  const int n = description.modelSize();
  const SizeEntry* entry = sizeFor(n);
  if (!entry)
    throw LoadError(description.source(), 0, "robot '" + description.robotName() + "'",
                    "it has " + std::to_string(n) +
                        " joint coordinates; this build of the Python module supports 1.." +
                        std::to_string(maxSize()) + " (configure with -DZORVIK_PYTHON_SIZES=\"... " +
                        std::to_string(n) + "\" for more)");
  if (modelSize != 0) {
    entry = sizeFor(modelSize);
    if (!entry || entry->n != modelSize || modelSize < n)
      throw py::value_error("argument 'model_size' must be 0 or a compiled size (zorvik.COMPILED_SIZES) "
                            "of at least the robot's " + std::to_string(n) +
                            " coordinates, got " + std::to_string(modelSize));
  }
  std::unique_ptr<PyRobot> robot(new PyRobot);
  robot->model = entry->robot(description);
  return robot;
}

LoadOptions loadOptions(const std::map<std::string, double>& locked, bool floating, bool strict,
                        bool repairInertia) {
  LoadOptions options;
  options.lockedJoints = locked;
  options.floatingBase = floating;
  options.strict = strict;
  options.repairInertia = repairInertia;
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

int conventionOf(const std::string& convention) {
  if (convention == "body") return 0;
  if (convention == "world_aligned") return 1;
  if (convention == "spatial") return 2;
  throw py::value_error("argument 'convention' must be 'body', 'world_aligned' or 'spatial', got '" +
                        convention + "'");
}

// The loader's messages name its C++ options (LoadOptions::lockedJoints); in Python they are the
// keyword arguments of load_urdf, the same names in snake case (locked_joints).
std::string pythonNames(const std::string& text) {
  static const std::regex option("LoadOptions::([A-Za-z0-9]+)");
  std::string out;
  auto last = text.cbegin();
  for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) {
    out.append(last, (*it)[0].first);
    for (char c : (*it)[1].str()) {
      if (std::isupper(static_cast<unsigned char>(c))) {
        out += '_';
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
      out += c;
    }
    last = (*it)[0].second;
  }
  return out.append(last, text.cend());
}

// ---------------------------------------------------------------------------------------------
// Batches: K states split in contiguous chunks over `threads` workers, each on its own model. The
// calling thread takes the first chunk; every worker runs with the caller's floating-point control
// word (flush-to-zero and denormals-are-zero as the library set them), so that each state gives
// the bits a single call on the caller's thread gives.

// The default thread count, from the work of the batch. One state costs about 0.09 n us of idyn
// (n coordinates; measured single-threaded on this project's 2-core machine: 0.6 us at n = 6 and 7,
// 1.2 to 1.7 us at n = 16), fdyn and joint_dynamics about twice that, idyn_derivatives three
// times; starting and joining a worker thread costs 20 to 100 us (up to 99 us under load, when
// K = 10 states took 5 us on one thread). So the batch takes one thread per 2000 units of
// K n weight (each thread at least about 180 us of work, twice its start-up), at least one and
// never more than cores: batch_idyn of the 7-joint Panda stays on the calling thread up to K = 571
// states and takes two from K = 572.
int defaultThreads(py::ssize_t K, int n, int weight) {
  const long long units = static_cast<long long>(K) * n * weight;
  const long long cores = std::max(1u, std::thread::hardware_concurrency());
  return static_cast<int>(std::max(1LL, std::min(cores, units / 2000)));
}

// The thread count for K states: threads as given, or None for defaultThreads.
int threadCount(py::handle threads, py::ssize_t K, int n, int weight) {
  if (threads.is_none()) return defaultThreads(K, n, weight);
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
  while (static_cast<int>(r.workers.size()) < T) r.workers.push_back(r.newWorker());
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

// The inverse kinematics' settings from the Python arguments, each checked.
IkOptions ikOptions(double positionTolerance, double rotationTolerance, int maxIterations,
                    int restarts, double positionWeight, double rotationWeight,
                    py::handle iterationBudget) {
  auto nonNegative = [](double x, const char* name) {
    if (!(x >= 0))
      throw py::value_error("argument '" + std::string(name) + "' must be >= 0, got " +
                            std::to_string(x));
    return x;
  };
  auto weight = [](double w, const char* name) {
    if (!(w >= 0) || !std::isfinite(w))
      throw py::value_error("argument '" + std::string(name) + "' must be finite and >= 0, got " +
                            std::to_string(w));
    return w;
  };
  IkOptions o;
  o.positionTolerance = nonNegative(positionTolerance, "position_tolerance");
  o.rotationTolerance = nonNegative(rotationTolerance, "rotation_tolerance");
  o.positionWeight = weight(positionWeight, "position_weight");
  o.rotationWeight = weight(rotationWeight, "rotation_weight");
  if (o.positionWeight == 0 && o.rotationWeight == 0)
    throw py::value_error("arguments 'position_weight' and 'rotation_weight' are both zero: "
                          "nothing would be solved");
  if (maxIterations < 1)
    throw py::value_error("argument 'max_iterations' must be at least 1, got " +
                          std::to_string(maxIterations));
  if (restarts < 0)
    throw py::value_error("argument 'restarts' must be at least 0, got " + std::to_string(restarts));
  o.maxIterations = maxIterations;
  o.restarts = restarts;
  if (!iterationBudget.is_none()) {
    if (!PyLong_Check(iterationBudget.ptr()) || PyBool_Check(iterationBudget.ptr()))
      throw py::type_error("argument 'iteration_budget' must be an int or None");
    const long long b = iterationBudget.cast<long long>();
    if (b < 1)
      throw py::value_error("argument 'iteration_budget' must be at least 1, got " +
                            std::to_string(b));
    o.iterationBudget = static_cast<int>(std::min<long long>(b, std::numeric_limits<int>::max()));
  }
  return o;
}

// The stop test of a Python solve, asked before every iteration without the GIL: the time budget
// against the steady clock; and, at every new start and every 100 iterations, Python's signal
// handlers (with the GIL), so that Ctrl-C ends the solve with KeyboardInterrupt.
struct IkStop {
  bool timed = false;
  std::chrono::steady_clock::time_point deadline;
  int start = 0;
  long calls = 0;
  bool interrupted = false;

  explicit IkStop(py::handle timeBudget) {
    if (timeBudget.is_none()) return;
    if (!PyFloat_Check(timeBudget.ptr()) &&
        !(PyLong_Check(timeBudget.ptr()) && !PyBool_Check(timeBudget.ptr())))
      throw py::type_error("argument 'time_budget' must be a number of seconds or None");
    const double seconds = timeBudget.cast<double>();
    if (!(seconds > 0) || !std::isfinite(seconds))
      throw py::value_error("argument 'time_budget' must be a finite positive number of seconds, "
                            "got " + std::to_string(seconds));
    timed = true;
    // At most 30 years: the clock's 64-bit nanoseconds hold some 290.
    deadline = std::chrono::steady_clock::now() +
               std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                   std::chrono::duration<double>(std::min(seconds, 1e9)));
  }

  static bool test(void* context, int start) {
    IkStop& s = *static_cast<IkStop*>(context);
    if (s.timed && std::chrono::steady_clock::now() >= s.deadline) return true;
    if (start != s.start || ++s.calls % 100 == 0) {
      s.start = start;
      py::gil_scoped_acquire gil;
      s.interrupted = PyErr_CheckSignals() != 0;   // the exception stays set for the caller
    }
    return s.interrupted;
  }
};

}  // namespace

RobotModel& robotModelOf(py::handle robot, const char* argument, const char* what) {
  if (!py::isinstance<PyRobot>(robot))
    throw py::type_error("argument '" + std::string(argument) + "' must be a zorvik.Robot");
  PyRobot& r = robot.cast<PyRobot&>();
  if (what) requireFixedBase(r, what);
  return *r.model;
}

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
      py::object error = py::handle(loadError.ptr())(py::str(pythonNames(e.what())));
      error.attr("file") = e.file();
      error.attr("line") = e.line();
      error.attr("element") = pythonNames(e.element());
      error.attr("problem") = pythonNames(e.problem());
      PyErr_SetObject(loadError.ptr(), error.ptr());
    }
  });

  std::vector<int> supported, compiled;
  for (int n = 1; n <= maxSize(); ++n) supported.push_back(n);
  for (const SizeEntry& e : compiledSizes()) compiled.push_back(e.n);
  m.attr("SUPPORTED_SIZES") = py::tuple(py::cast(supported));
  m.attr("COMPILED_SIZES") = py::tuple(py::cast(compiled));
  m.attr("HAS_DERIVATIVES") = compiledSizes().front().derivatives();

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
the state of the last update and never update themselves. That state is checked, not trusted:
every result compares q (and, where velocities enter, qdot) with what the last update saw and
raises RuntimeError naming update() when they differ, or update_jacobian() when the Jacobians
are not those of the last update; nothing is ever computed from a stale state or returned from
memory no call has written. inverse_kinematics works on a model of its own and leaves the robot's
state as it was.
)doc");

  robot
      .def_static(
          "from_string",
          [](const std::string& xml, const std::map<std::string, double>& locked_joints,
             bool floating_base, bool strict, const std::string& source_name, bool repair_inertia,
             int model_size) {
            return makeRobot(RobotDescription::fromString(
                                 xml, source_name,
                                 loadOptions(locked_joints, floating_base, strict, repair_inertia)),
                             model_size);
          },
          py::arg("xml"), py::arg("locked_joints") = std::map<std::string, double>(),
          py::arg("floating_base") = false, py::arg("strict") = false,
          py::arg("source_name") = "<string>", py::arg("repair_inertia") = false,
          py::arg("model_size") = 0,
          "A robot from URDF text; source_name stands for the file in error messages. See "
          "load_urdf for the options.")
      .def_property_readonly("n", &PyRobot::n, "Number of joint coordinates.")
      .def_property_readonly(
          "model_size", [](PyRobot& r) { return r.model->modelSize(); },
          "The compiled size of the model holding the robot (zorvik.COMPILED_SIZES): n, or more "
          "when the model is padded.")
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
  // rows x cols (cols 0: a vector; -1: n columns), and what each reads.
  enum Needs { kPoses, kTwists, kJacobians, kJacobianRates };
  struct Output {
    const char* name;
    void (RobotModel::*get)(int, double*) const;
    bool frame;
    py::ssize_t rows, cols;
    Needs needs;
    const char* doc;
  };
  static const Output outputs[] = {
      {"T", &RobotModel::pose, false, 4, 4, kPoses,
       "Pose (4, 4) of body k (0..n) in the reference frame (after update())."},
      {"V", &RobotModel::twist, false, 6, 0, kTwists,
       "Twist (6,) of body k in its own frame, (v, w) (after update(), not pos_only)."},
      {"J", &RobotModel::jacobian, false, 6, -1, kJacobians,
       "Body Jacobian (6, n) of body k in its own frame, V(k) = J(k) qdot (after update() and "
       "update_jacobian())."},
      {"Jdot", &RobotModel::jacobianDot, false, 6, -1, kJacobianRates,
       "Time derivative (6, n) of J(k) (after update() and update_jacobian(), both with the "
       "derivatives)."},
      {"Vdot", &RobotModel::acceleration, false, 6, 0, kJacobianRates,
       "Acceleration (6,) of body k in its own frame, J(k) qddot + Jdot(k) qdot from the stored "
       "qddot and qdot (no base motion, no gravity; after update() and update_jacobian())."},
      {"frame_pose", &RobotModel::framePose, true, 4, 4, kPoses,
       "Pose (4, 4) of a link (name or frame index) in the reference frame (after update())."},
      {"frame_twist", &RobotModel::frameTwist, true, 6, 0, kTwists,
       "Twist (6,) of a link in its own frame (after update(), not pos_only)."},
      {"frame_acceleration", &RobotModel::frameAcceleration, true, 6, 0, kJacobianRates,
       "Acceleration (6,) of a link in its own frame from the stored qddot and qdot (after "
       "update() and update_jacobian())."},
  };
  for (const Output& o : outputs) {
    auto get = o.get;
    const py::ssize_t rows = o.rows, cols = o.cols;
    const Needs needs = o.needs;
    const std::string what = std::string("robot.") + o.name;
    auto result = [rows, cols, needs, what](PyRobot& r) {
      if (needs == kPoses || needs == kTwists)
        requireUpdate(r, needs == kTwists, what.c_str());
      else
        requireJacobians(r, needs == kJacobianRates, what.c_str());
      return cols == 0 ? newArray({rows}) : newArray({rows, cols < 0 ? r.n() : cols});
    };
    if (o.frame)
      robot.def(
          o.name,
          [get, result](PyRobot& r, py::handle frame) {
            const int f = frameOf(r, frame);
            py::array_t<double> out = result(r);
            ((*r.model).*get)(f, out.mutable_data());
            return out;
          },
          py::arg("frame"), o.doc);
    else
      robot.def(
          o.name,
          [get, result](PyRobot& r, int k) {
            const int b = bodyIndex(r, k);
            py::array_t<double> out = result(r);
            ((*r.model).*get)(b, out.mutable_data());
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
            requireRigidTransform(Eigen::Map<const Eigen::Matrix<double, 4, 4, Eigen::RowMajor>>(T.data()),
                                  "base_pose");
            r.model->setBasePose(T.data());
            r.basePoseSet = true;
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
            r.baseTwistSet = true;
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
          "update",
          [](PyRobot& r, bool pos_only) {
            r.model->update(pos_only);
            noteUpdate(r, pos_only);
          },
          py::arg("pos_only") = false,
          "Forward kinematics from q (and qdot): body poses and, unless pos_only, body twists. "
          "Every result that reads them (poses, twists, Jacobians, dynamics) raises RuntimeError "
          "naming update() when q (or, where twists enter, qdot) has changed since.")
      .def(
          "update_jacobian",
          [](PyRobot& r, bool pos_only) {
            requireUpdate(r, !pos_only, "robot.update_jacobian");
            r.model->updateJacobian(pos_only);
            r.jacobians = true;
            r.jacobianRates = r.jacobianRates || !pos_only;
          },
          py::arg("pos_only") = false,
          "Body Jacobians and, unless pos_only, their derivatives (after update(), not pos_only "
          "for the derivatives). J, Jdot, Vdot and the frame Jacobians raise RuntimeError naming "
          "update_jacobian() until it has run for the current update.")
      .def(
          "frame_jacobian",
          [](PyRobot& r, py::handle frame, const std::string& convention) {
            const int f = frameOf(r, frame), c = conventionOf(convention);
            requireJacobians(r, false, "robot.frame_jacobian");
            py::array_t<double> out = newArray({6, r.n()});
            r.model->frameJacobian(f, c, out.mutable_data());
            return out;
          },
          py::arg("frame"), py::arg("convention"),
          "Jacobian (6, n) of a link after update_jacobian(): convention 'body' (its twist in "
          "its own frame), 'world_aligned' (origin velocity and angular velocity in the "
          "reference axes) or 'spatial' (its twist seen in the reference frame).")
      .def(
          "frame_jacobian_dot",
          [](PyRobot& r, py::handle frame, const std::string& convention) {
            const int f = frameOf(r, frame), c = conventionOf(convention);
            requireJacobians(r, true, "robot.frame_jacobian_dot");
            py::array_t<double> out = newArray({6, r.n()});
            r.model->frameJacobianDot(f, c, out.mutable_data());
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
            const double *gp = gravityOf(gravity, g), *bp = baseAccOf(r, base_acc, b);
            requireUpdate(r, true, "robot.idyn");
            r.model->idyn(v.data(), a.data(), gp, bp);
            return copyOf(r.model->tau(), n);
          },
          py::arg("qdot"), py::arg("qddot"), py::arg("gravity") = py::none(),
          py::arg("base_acc") = py::none(),
          (std::string("Inverse dynamics tau = M(q) qddot + C(q, qdot) qdot + g(q) (n,) at the "
                       "state of the last update(false). The velocity terms C(q, qdot) qdot come from "
                       "that state (the twists the update computed from robot.qdot), not from the "
                       "qdot argument, which only feeds each joint's own relative acceleration "
                       "E qddot + Edot qdot (no effect for revolute and prismatic joints, whose "
                       "Edot is zero): to change the velocity, write robot.qdot and update(). "
                       "Returns tau and leaves it in robot.tau. ") +
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
            const double *gp = gravityOf(gravity, g), *bp = baseAccOf(r, base_acc, b);
            requireUpdate(r, true, "robot.idyn_passive");
            r.model->idynPassive(v.data(), a.data(), gp, bp);
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
            requireUpdate(r, false, "robot.idyn_gravity");
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
            const double* bp = baseAccOf(r, base_acc, b);
            requireUpdate(r, false, "robot.idyn_momentum");
            r.model->idynMomentum(a.data(), bp);
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
            const double* gp = gravityOf(gravity, g);
            requireUpdate(r, true, "robot.fdyn");
            r.model->fdyn(t.data(), gp);
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
            requireUpdate(r, true, "robot.joint_dynamics");
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
            requireUpdate(r, false, "robot.mass_inverse");
            py::array_t<double> Minv = newArray({r.n(), r.n()});
            r.model->massInverse(Minv.mutable_data());
            return Minv;
          },
          "M(q)^-1 (n, n) at the stored q, by the articulated-body recursion (exactly symmetric).")
      .def(
          "mass_matrix",
          [](PyRobot& r) {
            requireFixedBase(r, "mass_matrix");
            requireUpdate(r, false, "robot.mass_matrix");
            py::array_t<double> M = newArray({r.n(), r.n()});
            r.model->massMatrix(M.mutable_data());
            return M;
          },
          "M(q) (n, n) alone at the stored q (the velocities are not read), exactly symmetric: "
          "the M of joint_dynamics without the cost of C and G.")
      .def(
          "idyn_derivatives",
          [](PyRobot& r, py::handle qddot, py::handle gravity) {
            requireFixedBase(r, "idyn_derivatives");
            requireDerivatives(r);
            const int n = r.n();
            const Array a = asArray(qddot, "qddot", {n});
            const Array g = asArray(gravity, "gravity", {3});
            requireUpdate(r, true, "robot.idyn_derivatives");
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
            requireUpdate(r, true, "robot.fdyn_derivatives");
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
             unsigned long long seed, py::handle iteration_budget, py::handle time_budget) {
            const int f = frameOf(r, frame);
            const Array T = asArray(target, "target", {4, 4});
            requireRigidTransform(Eigen::Map<const Eigen::Matrix<double, 4, 4, Eigen::RowMajor>>(T.data()),
                                  "target");
            const Array seedQ = asArray(q_seed, "q_seed", {r.n()});
            IkOptions o = ikOptions(position_tolerance, rotation_tolerance, max_iterations,
                                    restarts, position_weight, rotation_weight, iteration_budget);
            o.seed = seed;
            IkStop stop(time_budget);
            o.stopTest = &IkStop::test;
            o.stopContext = &stop;
            const std::vector<double> targetCopy(T.data(), T.data() + 16),
                seedCopy(seedQ.data(), seedQ.data() + r.n());
            double base[16];
            r.model->basePose(base);   // a floating base's pose places the target's frame
            py::array_t<double> q = newArray({r.n()});
            double* qOut = q.mutable_data();
            IkOutcome res;
            {
              // The solve touches no Python object: other threads run meanwhile, on a model that
              // is the solver's alone.
              py::gil_scoped_release release;
              std::lock_guard<std::mutex> lock(r.ikMutex);
              if (!r.ikModel) r.ikModel = r.model->rebuild();
              r.ikModel->setBasePose(base);
              res = r.ikModel->inverseKinematics(f, targetCopy.data(), seedCopy.data(), o, qOut);
            }
            if (stop.interrupted) throw py::error_already_set();
            py::dict info;
            info["converged"] = res.converged;
            info["iterations"] = res.iterations;
            info["position_error"] = res.positionError;
            info["rotation_error"] = res.rotationError;
            info["stopped"] = res.stopped;
            return py::make_tuple(q, info);
          },
          py::arg("frame"), py::arg("target"), py::arg("q_seed"),
          py::arg("position_tolerance") = IkOptions::Defaults::positionTolerance,
          py::arg("rotation_tolerance") = IkOptions::Defaults::rotationTolerance,
          py::arg("max_iterations") = IkOptions::Defaults::maxIterations,
          py::arg("restarts") = IkOptions::Defaults::restarts,
          py::arg("position_weight") = IkOptions::Defaults::positionWeight,
          py::arg("rotation_weight") = IkOptions::Defaults::rotationWeight,
          py::arg("seed") = static_cast<unsigned long long>(IkOptions::Defaults::seed),
          py::arg("iteration_budget") = py::none(), py::arg("time_budget") = py::none(),
          "(q, info): coordinates (n,) that put the link at the target pose (4, 4, a rigid "
          "transform), by damped least squares within the URDF position limits, with "
          "deterministic restarts (the defaults are the C++ solver's, IKDefaults in "
          "<Vexo/InverseKinematicsXD>). Tolerances in m and rad, >= 0; weights finite, >= 0, not "
          "both zero (rotation_weight=0: position only). iteration_budget (int >= 1) bounds the "
          "iterations of all starts together, deterministically; time_budget (s, > 0) bounds the "
          "solve's time on a monotonic clock; either ends the solve with the best iterate so far "
          "and info['stopped'] = True. info also has converged, iterations, position_error (m) "
          "and rotation_error (rad). The solve runs without the GIL on a model of its own: the "
          "robot's state is left as it was (robot.q is not q). It checks for signals between "
          "restarts and every 100 iterations: Ctrl-C raises KeyboardInterrupt.");

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
            runBatch(r, in.K, threadCount(threads, in.K, n, 1), [&](RobotModel& m, py::ssize_t k) {
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
          "without the GIL on `threads` workers, each on its own copy of the model; the robot's "
          "own state is not touched. Default threads: one per 2000 units of K * n * w (w = 1 "
          "for batch_idyn, 2 for batch_fdyn and batch_joint_dynamics, 3 for "
          "batch_idyn_derivatives), at least 1 and at most the number of cores: about 180 us of "
          "work per thread, twice what starting one costs, so that small batches stay on the "
          "calling thread (batch_idyn of a 7-joint arm up to K = 571).")
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
            runBatch(r, in.K, threadCount(threads, in.K, n, 2), [&](RobotModel& m, py::ssize_t k) {
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
            runBatch(r, in.K, threadCount(threads, in.K, n, 2), [&](RobotModel& m, py::ssize_t k) {
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
            runBatch(r, in.K, threadCount(threads, in.K, n, 3), [&](RobotModel& m, py::ssize_t k) {
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
         bool strict, bool repair_inertia, int model_size) {
        // str, bytes (decoded as the file system does) or any os.PathLike of either.
        if (!py::isinstance<py::str>(path) && !py::isinstance<py::bytes>(path) &&
            !py::hasattr(path, "__fspath__"))
          throw py::type_error("argument 'path' must be a str, bytes or os.PathLike, got " +
                               std::string(py::str(py::type::handle_of(path).attr("__name__"))));
        const py::module_ os = py::module_::import("os");
        const std::string file = os.attr("fsdecode")(os.attr("fspath")(path)).cast<std::string>();
        return makeRobot(RobotDescription::fromFile(
                             file, loadOptions(locked_joints, floating_base, strict, repair_inertia)),
                         model_size);
      },
      py::arg("path"), py::arg("locked_joints") = std::map<std::string, double>(),
      py::arg("floating_base") = false, py::arg("strict") = false,
      py::arg("repair_inertia") = false, py::arg("model_size") = 0,
      "A Robot from a URDF file (path: str, bytes or os.PathLike), of whatever size it has "
      "(zorvik.SUPPORTED_SIZES). It is held by the smallest compiled model that fits "
      "(zorvik.COMPILED_SIZES), padded when larger than the robot: every result has the robot's "
      "own sizes and equals that of a model of exactly its size to rounding; model_size picks "
      "another compiled size (0: the smallest that fits). "
      "locked_joints maps moving joints to the positions (rad or m) at which they become fixed; "
      "floating_base mounts the root link on a free-floating base whose pose and twist the "
      "client writes (base_pose, base_twist); strict turns the loader's warnings into errors; "
      "repair_inertia replaces an inconsistent inertia tensor (negative principal moment, "
      "violated triangle inequality) by the nearest consistent one, with a warning naming the "
      "link, instead of refusing it. Raises zorvik.LoadError naming the file, line and element.");

  m.def("_default_threads", &defaultThreads, py::arg("K"), py::arg("n"), py::arg("weight"),
        "The batches' default thread count for K states of n coordinates at a cost weight (1: "
        "idyn; 2: fdyn, joint_dynamics; 3: idyn_derivatives).");

  // The C++ side of bench/python_overhead.py: the same interface calls timed in a loop, without
  // Python in between.
  m.def(
      "_time_idyn",
      [](PyRobot& r, py::handle qdot, py::handle qddot, py::handle gravity, long iterations) {
        const int n = r.n();
        const Array v = asArray(qdot, "qdot", {n}), a = asArray(qddot, "qddot", {n});
        const Array g = asArray(gravity, "gravity", {3});
        requireUpdate(r, true, "_time_idyn");
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
        if (in.K > 0) noteUpdate(r, false);   // the model holds the last row's state
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
             const SizeEntry* e = n >= 1 ? sizeFor(n) : nullptr;
             if (!e)
               throw py::value_error("argument 'n' must be a supported size (1.." +
                                     std::to_string(maxSize()) + "), got " + std::to_string(n));
             std::unique_ptr<PyObserver> o(new PyObserver);
             o->model = e->observer(n);
             o->period = asPeriod(period, "period", false);
             o->gain = asGain(gain, "gain", n);
             for (double L : o->gain)
               if (L < 0)
                 throw py::value_error("argument 'gain' must be >= 0 (a bandwidth, 1/s), got " +
                                       std::to_string(L));
             o->model->setPeriod(period);
             o->model->setGain(o->gain.data());
             return o;
           }),
           py::arg("n"), py::arg("period"), py::arg("gain"),
           "n joint coordinates, sampling period in s (finite, > 0), gain a scalar or one per "
           "joint (1/s, finite, >= 0).")
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
            const double* gp = gravityOf(gravity, g);
            requireUpdate(r, true, "MomentumObserver.estimate");
            // A robot held by another compiled size (model_size) gets an observer of its size,
            // which starts again from zero momentum.
            if (r.model->modelSize() != o.model->modelSize()) {
              o.model = r.model->makeObserver();
              o.model->setPeriod(o.period);
              o.model->setGain(o.gain.data());
            }
            py::array_t<double> out = newArray({r.n()});
            o.model->estimate(*r.model, gp, out.mutable_data());
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
  zorvik_python::bindRegressors(m);
  zorvik_python::bindRobotIntrospection(m);
  zorvik_python::bindLieGroups(m);
  zorvik_python::bindControllers(m);
  zorvik_python::bindOperationalSpace(m);
}
