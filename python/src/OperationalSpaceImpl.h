// OperationalSpaceModel over OperationalSpaceXD<N>: each operation is the library call of the same
// name, the arrays copied between C-order buffers and the fixed-size Eigen objects. Included by
// RobotModelImpl.h, for the size units only.
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

  int n() const override { return N; }
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
    store(_osc.dynamicallyConsistentInverse(), out);
  }
  void taskBias(double* out) const override { store(_osc.taskBias(), out); }
  void nullSpace(double* out) const override { store(_osc.nullSpace(), out); }
  void jacobian(double* out) const override { store(_osc.jacobian(), out); }
  double conditioning() const override { return _osc.conditioning(); }
  bool damped() const override { return _osc.damped(); }
  void torque(const double* aTask, const double* tauPosture, double* tau) const override {
    const typename Osc::TaskVector a =
        Eigen::Map<const typename Osc::TaskVector>(aTask, _osc.rows());
    JointVec t;
    _osc.torque(a, JointVec(Eigen::Map<const JointVec>(tauPosture)), t);
    store(t, tau);
  }

  ZORVIK_MAKE_ALIGNED_OPERATOR_NEW

 private:
  Osc _osc;
};

}  // namespace detail
}  // namespace zorvik_python

#endif  // ZORVIK_PYTHON_OPERATIONALSPACEIMPL_H_
