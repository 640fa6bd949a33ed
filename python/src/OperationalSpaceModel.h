// The size-independent face of OperationalSpaceXD<N> for the Python module, like ObserverModel:
// the binding (OperationalSpaceBindings.cpp) is written once against it, OperationalSpaceImpl.h
// implements it per size. Arrays cross it as C-order buffers of doubles; sizes and indices are
// checked by the binding before any call.
#ifndef ZORVIK_PYTHON_OPERATIONALSPACEMODEL_H_
#define ZORVIK_PYTHON_OPERATIONALSPACEMODEL_H_

namespace zorvik_python {

class RobotModel;

class OperationalSpaceModel {
 public:
  virtual ~OperationalSpaceModel() = default;
  virtual int n() const = 0;
  // A frame on body `body` at T_body_frame (4x4); convention 0 body, 1 world-aligned, 2 spatial;
  // rows 0 all, 1 linear, 2 angular. The first row of the task, or -1 when it does not fit.
  virtual int addTask(int body, const double* T_body_frame, int convention, int rows) = 0;
  virtual void clearTasks() = 0;
  virtual int rows() const = 0;
  virtual int taskCount() const = 0;
  virtual void setSingularThreshold(double eps) = 0;
  virtual double singularThreshold() const = 0;
  // robot.n() == n(); gravity (3) never null.
  virtual void compute(RobotModel& robot, const double* gravity) = 0;
  // (m, m), (m, m), (n, m), (m), (n, n), (m, n) with m = rows().
  virtual void inverseInertia(double* out) const = 0;
  virtual void taskInertia(double* out) const = 0;
  virtual void dynamicallyConsistentInverse(double* out) const = 0;
  virtual void taskBias(double* out) const = 0;
  virtual void nullSpace(double* out) const = 0;
  virtual void jacobian(double* out) const = 0;
  virtual double conditioning() const = 0;
  virtual bool damped() const = 0;
  virtual void torque(const double* aTask, const double* tauPosture, double* tau) const = 0;
};

}  // namespace zorvik_python

#endif  // ZORVIK_PYTHON_OPERATIONALSPACEMODEL_H_
