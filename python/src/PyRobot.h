// The Python robot object, shared by the translation units that bind its methods (Module.cpp,
// RobotQueries.cpp), with the argument checks they share.
#ifndef ZORVIK_PYTHON_PYROBOT_H_
#define ZORVIK_PYTHON_PYROBOT_H_

#include <ZorvikURDF/Robot>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "Arrays.h"
#include "RobotModel.h"

namespace zorvik_python {

// A robot of any supported size. The model is used from the calling thread only (single calls hold
// the GIL); the batches run on their own models, one per worker, built on first use from the same
// description and kept for later batches; inverse_kinematics runs on a model of its own too, so
// that the robot's state is left as it was.
//
// The state vectors are views Python writes at any time (robot.q[2] = x), so every result that
// reads what an update computed first compares q and qdot with the values the last update saw, bit
// for bit (n doubles: nanoseconds), and refuses a state no update has seen (see requireUpdate).
//
// Parameter changes made from Python (mass properties, damping, friction, external wrenches) go to
// the model and every worker, and are kept as edits, one per parameter, that a worker built later
// replays after its rebuild from the description: a batch computes with the parameters a single
// call uses.
struct PyRobot {
  std::unique_ptr<RobotModel> model;
  std::vector<std::unique_ptr<RobotModel>> workers;
  std::mutex batchMutex;
  std::unique_ptr<RobotModel> ikModel;
  std::mutex ikMutex;

  // What the last update() computed from: its q, qdot and whether it computed the twists; whether
  // update_jacobian() ran since, and with the derivatives.
  enum Updated { kNothing, kPoses, kTwists };
  Updated updated = kNothing;
  std::vector<double> updatedQ, updatedQdot;
  bool jacobians = false, jacobianRates = false;
  // A floating base's pose or twist written since the last update.
  bool basePoseSet = false, baseTwistSet = false;

  std::map<std::string, std::function<void(RobotModel&)>> edits;
  // The friction model of coordinate i once set from Python, shared by the model and its workers
  // (a Coulomb model holds nothing but its coefficient).
  std::map<int, std::unique_ptr<ZorvikFoundation::URDF::CoulombFriction>> frictions;

  int n() const { return model->n(); }

  // A new worker: the description's model with the edits made so far.
  std::unique_ptr<RobotModel> newWorker() const {
    std::unique_ptr<RobotModel> w = model->rebuild();
    for (const auto& e : edits) e.second(*w);
    return w;
  }
  // Applies edit to the model and the workers, and keeps it under key for later workers (an empty
  // key: not kept).
  void edit(const std::string& key, std::function<void(RobotModel&)> e) {
    std::lock_guard<std::mutex> lock(batchMutex);
    e(*model);
    for (auto& w : workers) e(*w);
    if (!key.empty()) edits[key] = std::move(e);
  }
  // Forgets the kept edits whose key starts with prefix.
  void forget(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(batchMutex);
    for (auto it = edits.lower_bound(prefix); it != edits.end() && it->first.compare(0, prefix.size(), prefix) == 0;)
      it = edits.erase(it);
  }
};

inline void noteUpdate(PyRobot& r, bool posOnly) {
  const int n = r.n();
  r.updatedQ.assign(r.model->q(), r.model->q() + n);
  r.updatedQdot.assign(r.model->qdot(), r.model->qdot() + n);
  r.updated = posOnly ? PyRobot::kPoses : PyRobot::kTwists;
  r.jacobians = r.jacobianRates = false;
  r.basePoseSet = r.baseTwistSet = false;
}

// Raises unless the model holds the poses (and, with twists, the twists) of its current q and qdot.
inline void requireUpdate(PyRobot& r, bool twists, const char* what) {
  const std::size_t bytes = sizeof(double) * static_cast<std::size_t>(r.n());
  const char* problem = nullptr;
  if (r.updated == PyRobot::kNothing)
    problem = "the robot was never updated";
  else if (std::memcmp(r.model->q(), r.updatedQ.data(), bytes) != 0)
    problem = "robot.q changed since the last update()";
  else if (r.basePoseSet)
    problem = "robot.base_pose was set since the last update()";
  else if (twists && r.updated != PyRobot::kTwists)
    problem = "the last update was update(pos_only=True), which computes no twists";
  else if (twists && std::memcmp(r.model->qdot(), r.updatedQdot.data(), bytes) != 0)
    problem = "robot.qdot changed since the last update()";
  else if (twists && r.baseTwistSet)
    problem = "robot.base_twist was set since the last update()";
  if (problem)
    throw std::runtime_error(std::string(what) + ": " + problem + "; call robot.update() first (" +
                          what + " reads the state the last update computed)");
}

inline void requireJacobians(PyRobot& r, bool rates, const char* what) {
  requireUpdate(r, rates, what);
  if (!r.jacobians || (rates && !r.jacobianRates))
    throw std::runtime_error(std::string(what) + ": call robot.update_jacobian(" +
                          (rates ? "" : "pos_only=True or False") +
                          ") after the last update() first (no Jacobian" + (rates ? " derivative" : "") +
                          " has been computed for this state)");
}

// The key under which an edit of parameter `what` of body or coordinate i is kept.
inline std::string editKey(const char* what, int i) {
  return std::string(what) + ":" + std::to_string(i) + ".";
}

inline int bodyIndex(PyRobot& r, int k, const char* name = "k") {
  if (k < 0 || k > r.n())
    throw py::index_error("argument '" + std::string(name) + "' must be a body index in 0.." +
                          std::to_string(r.n()) + ", got " + std::to_string(k));
  return k;
}

// A frame by link name or by index.
inline int frameOf(PyRobot& r, py::handle frame) {
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

}  // namespace zorvik_python

#endif  // ZORVIK_PYTHON_PYROBOT_H_
