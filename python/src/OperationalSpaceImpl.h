// OperationalSpaceModel over OperationalSpaceXD<N>: each operation is the library call of the same
// name, the arrays copied between C-order buffers and the fixed-size Eigen objects. Included by
// RobotModelImpl.h, for the size units only. A padded robot's (n < N) arrays are its own block of
// the model's, as in RobotModelImpl.
#ifndef ZORVIK_PYTHON_OPERATIONALSPACEIMPL_H_
#define ZORVIK_PYTHON_OPERATIONALSPACEIMPL_H_

#include <Vexo/OperationalSpaceXD>

#include "OperationalSpaceModel.h"

namespace zorvik_python {
namespace detail {

template <int N>
class RobotModelImpl;

template <int N>
class OperationalSpaceImpl final : public OperationalSpaceModel {
 public:
  typedef VexoSDK::OperationalSpaceXD<N> Osc;
  typedef typename Osc::JointVec JointVec;

  explicit OperationalSpaceImpl(int n) : _n(n) {}

  int n() const override { return _n; }
  int addTask(int body, const double* T, int convention, int rows) override {
    return _osc.addTask(body, loaded<HTransform>(T), static_cast<VexoSDK::JacobianFrame>(convention),
                        static_cast<VexoSDK::TaskRows>(rows));
  }
  void clearTasks() override { _osc.clearTasks(); }
  int rows() const override { return _osc.rows(); }
  int taskCount() const override { return _osc.taskCount(); }
  void setSingularThreshold(double eps) override { _osc.setSingularThreshold(eps); }
  double singularThreshold() const override { return _osc.singularThreshold(); }
  void compute(RobotModel& robot, const double* gravity) override {
    _osc.compute(static_cast<RobotModelImpl<N>&>(robot).robot(),
                 Vector3D(Eigen::Map<const Eigen::Vector3d>(gravity)));
  }
  void inverseInertia(double* out) const override { store(_osc.inverseInertia(), out); }
  void taskInertia(double* out) const override { store(_osc.taskInertia(), out); }
  void dynamicallyConsistentInverse(double* out) const override {
    storeBlock(_osc.dynamicallyConsistentInverse(), _n, _osc.rows(), out);
  }
  void taskBias(double* out) const override { store(_osc.taskBias(), out); }
  void nullSpace(double* out) const override { storeBlock(_osc.nullSpace(), _n, _n, out); }
  void jacobian(double* out) const override { storeBlock(_osc.jacobian(), _osc.rows(), _n, out); }
  double conditioning() const override { return _osc.conditioning(); }
  bool damped() const override { return _osc.damped(); }
  void torque(const double* aTask, const double* tauPosture, double* tau) const override {
    const typename Osc::TaskVector a =
        Eigen::Map<const typename Osc::TaskVector>(aTask, _osc.rows());
    JointVec t;
    _osc.torque(a, padded<JointVec>(tauPosture, _n), t);
    storeBlock(t, _n, 1, tau);
  }

  ZORVIK_MAKE_ALIGNED_OPERATOR_NEW

 private:
  Osc _osc;
  int _n;
};

}  // namespace detail
}  // namespace zorvik_python

#endif  // ZORVIK_PYTHON_OPERATIONALSPACEIMPL_H_
