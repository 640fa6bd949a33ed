// One control cycle of a task-space impedance controller on a robot model, as a client would run
// it every period, shared by the benchmark and the latency program so that both time the same code:
//   1. write q and qdot, update(false)                       poses and twists
//   2. updateJacobian(false)                                 body Jacobians and derivatives
//   3. HTransformController::refImpedanceAcceleration        on the last body's pose and twist
//   4. joint reference accelerations from the task-space one, qddot = J^T (Vdotref - Jdot qdot)
//      with the last body's Jacobian (a Jacobian-transpose map, no matrix inversion), then
//      idyn(qdot, qddot, g)                                  the commanded torques, left in tau()
//   5. MomentumObserverXD::estimate with those torques       external torque estimate
#ifndef ZORVIK_BENCH_CONTROL_CYCLE_H
#define ZORVIK_BENCH_CONTROL_CYCLE_H

#include <Controller/HTransformController>
#include <Vexo/MomentumObserverXD>
#include <ZorvikURDF/RobotLoader>

namespace zorvik_bench {

template <int N>
class ControlCycle {
 public:
  typedef ZorvikFoundation::URDF::Robot<N> Robot;
  typedef typename Robot::JointVec JointVec;
  typedef ZorvikFoundation::HTransformController::TaskVec TaskVec;

  ControlCycle(Robot& robot, const Eigen::Vector3d& g) : _robot(robot), _g(g) {
    _controller.setPeriod(1e-3);
    _controller.setPosGain(100.0);
    _controller.setVelGain(20.0);
    _controller.setForceGain(0.01);
    _controller.setInvL2sqr(1.0);
    _observer.setPeriod(1e-3);
    _observer.setGain(JointVec::Constant(50.0));
    // The desired pose: the last body's pose at q = 0.1 rad on every joint, moving slowly.
    robot.q().setConstant(0.1);
    robot.qdot().setZero();
    robot.update(false);
    _Td = robot.body(N).T();
    _Vd = LieGroup::Twist(0.01, -0.02, 0.03, 0.1, -0.05, 0.02);
    _Vdotd = LieGroup::Twist(0.1, 0.0, -0.1, 0.0, 0.2, 0.0);
    _F = LieGroup::Wrench(1.0, -2.0, 0.5, 0.1, 0.0, -0.1);
    _Fd = LieGroup::Wrench(0.5, 0.0, 0.0, 0.0, 0.05, 0.0);
  }

  // Phases 1 to 5; the split versions let the latency program time each phase.
  void kinematics(const JointVec& q, const JointVec& qdot) {
    _robot.q() = q;
    _robot.qdot() = qdot;
    _robot.update(false);
  }
  void jacobians() { _robot.updateJacobian(false); }
  void controller() {
    const ZorvikFoundation::Body& ee = _robot.body(N);
    _controller.refImpedanceAcceleration(ee.T(), ee.V(), _Td, _Vd, _Vdotd, _F, _Fd, _Vref,
                                         _Vdotref);
  }
  void dynamics() {
    const Eigen::Matrix<double, 6, 1> a = _Vdotref - _robot.Jdot(N) * _robot.qdot();
    _qddot.noalias() = _robot.J(N).transpose() * a;
    _robot.idyn(_robot.qdot(), _qddot, _g);
  }
  void observer() { _observer.estimate(_robot, _tauExt, _g); }

  void run(const JointVec& q, const JointVec& qdot) {
    kinematics(q, qdot);
    jacobians();
    controller();
    dynamics();
    observer();
  }

  const JointVec& tauExt() const { return _tauExt; }

 private:
  Robot& _robot;
  LieGroup::Vector3D _g;
  ZorvikFoundation::HTransformController _controller;
  ZorvikFoundation::VexoSDK::MomentumObserverXD<N> _observer;
  LieGroup::HTransform _Td;
  LieGroup::Twist _Vd, _Vdotd;
  LieGroup::Wrench _F, _Fd;
  TaskVec _Vref, _Vdotref;
  JointVec _qddot, _tauExt;
};

}  // namespace zorvik_bench

#endif
