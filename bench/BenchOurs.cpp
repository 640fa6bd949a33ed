// Our operations, timed on the release library with its default flags. Names: ours/<op>/<robot>.
//
// Single operations run on a model updated once at state A, as a client calls them after its
// update. The composite operations (fk_*, jac_*, rnea, gravity, coriolis, mass, dynamics, fdyn,
// mass_inverse, the derivatives) include
// the update from the joint state, alternating between states A and B, because that is the work
// the peers' solvers do from q (and qdot) on every call; they are the rows set against KDL and DART.
// The forward dynamics takes, at each state, the torques of the inverse dynamics there, so that the
// accelerations are those of the state.
#include <benchmark/benchmark.h>

#include <Controller/HTransformController>
#include <Controller/RotationController>
#include <Vexo/CentroidalXD>
#include <Vexo/DynamicAnalysisXD>
#include <Vexo/MomentumObserverXD>
#include <ZorvikURDF/RobotLoader>
#include <memory>

#include "../tests/support/OperationalSpaceReference.h"
#include "BenchRegistry.h"
#include "BenchRobots.h"
#include "ControlCycle.h"

using namespace ZorvikFoundation;

namespace zorvik_bench {
namespace {

template <int N>
struct OursFixture {
  typedef URDF::Robot<N> Robot;
  typedef typename Robot::JointVec JointVec;
  typedef typename Robot::JointMat JointMat;

  explicit OursFixture(const RobotInfo& info)
      : robot(URDF::loadRobot<N>(robotPath(info))), g(gravity()), cycle(robot, gravity()) {
    for (int k = 0; k < 2; ++k) {
      const JointState s = jointState(N, k);
      q[k] = s.q;
      qdot[k] = s.qdot;
      qddot[k] = s.qddot;
    }
    qdot_r = 0.9 * qdot[0];
    zero.setZero();
    for (int k = 0; k < 2; ++k) {
      setState(k, false);
      robot.idyn(qdot[k], qddot[k], g);
      tau[k] = robot.tau();
    }
    observer.setPeriod(1e-3);
    observer.setGain(JointVec::Constant(50.0));
    setState(0, false);
    robot.updateJacobian(false);
    robot.idyn(qdot[0], qddot[0], g);
    for (const std::string& link : taskLinks(info.name)) {
      const int f = robot.frameIndex(link);
      const VexoSDK::TaskRows rows =
          std::string(info.name) == "allegro" ? VexoSDK::TaskRows::Linear : VexoSDK::TaskRows::All;
      osc.addTask(robot.frameBody(f), robot.frameOffset(f), VexoSDK::JacobianFrame::WorldAligned,
                  rows);
      dense.addTask(robot.frameBody(f), robot.frameOffset(f), VexoSDK::JacobianFrame::WorldAligned,
                    rows);
    }
  }
  // The operational-space tasks: the tool frame of the arms, both of Baxter's hands, the four
  // fingertips of the Allegro hand (position rows).
  static std::vector<std::string> taskLinks(const std::string& robot) {
    if (robot == "ur5") return {"tool0"};
    if (robot == "panda") return {"panda_hand"};
    if (robot == "baxter") return {"right_hand_link", "left_hand_link"};
    return {"link_3.0_tip", "link_7.0_tip", "link_11.0_tip", "link_15.0_tip"};
  }
  void setState(int k, bool pos_only) {
    robot.q() = q[k];
    robot.qdot() = qdot[k];
    robot.update(pos_only);
  }

  Robot robot;
  LieGroup::Vector3D g;
  JointVec q[2], qdot[2], qddot[2], tau[2], qdot_r, zero, tauExt;
  JointMat M, C, Minv, dq, dqdot;
  JointVec G;
  std::unique_ptr<typename VexoSDK::DynamicAnalysisXD<N>::RegressorMat> Y{
      new typename VexoSDK::DynamicAnalysisXD<N>::RegressorMat};
  LieGroup::Displacement com;
  typename VexoSDK::CentroidalXD<N>::ComJac Jcom;
  VexoSDK::MomentumObserverXD<N> observer;
  ControlCycle<N> cycle;
  VexoSDK::OperationalSpaceXD<N> osc;
  zorvik_test::DenseOperationalSpace<N> dense;

  ZORVIK_MAKE_ALIGNED_OPERATOR_NEW
};

template <int N>
void registerOursFor(const RobotInfo& info) {
  typedef OursFixture<N> Fx;
  std::shared_ptr<Fx> f(new Fx(info));
  const std::string robot = info.name;
  auto add = [&](const std::string& op, auto body) {
    addBenchmark("ours", op, robot, [f, body](benchmark::State& st) {
      Fx& x = *f;
      x.setState(0, false);
      x.robot.updateJacobian(false);
      int i = 0;
      for (auto _ : st) {
        body(x, i++ & 1);
        benchmark::ClobberMemory();
      }
    });
  };

  // The operations themselves.
  add("update_full", [](Fx& x, int k) { x.setState(k, false); });
  add("update_pos", [](Fx& x, int k) { x.setState(k, true); });
  add("update_velocity", [](Fx& x, int k) {
    x.robot.qdot() = x.qdot[k];
    x.robot.updateVelocity();
  });
  add("jacobian_full", [](Fx& x, int) { x.robot.updateJacobian(false); });
  add("jacobian_pos", [](Fx& x, int) { x.robot.updateJacobian(true); });
  add("idyn", [](Fx& x, int) { x.robot.idyn(x.qdot[0], x.qddot[0], x.g); });
  add("idyn_passive", [](Fx& x, int) { x.robot.idyn_passive(x.qdot_r, x.qddot[0], x.g); });
  add("idyn_gravity", [](Fx& x, int) { x.robot.idyn_gravity(x.g); });
  add("idyn_momentum", [](Fx& x, int) { x.robot.idyn_momentum(x.qdot[0]); });
  add("joint_dynamics", [](Fx& x, int) {
    VexoSDK::DynamicAnalysisXD<N>::JointDynamics(x.robot, x.M, x.C, x.G, x.g);
  });
  add("mass_matrix", [](Fx& x, int) { VexoSDK::DynamicAnalysisXD<N>::MassMatrix(x.robot, x.M); });
  add("fdyn_only", [](Fx& x, int) { x.robot.fdyn(x.tau[0], x.g); });
  // The operational-space quantities of the robot's tasks (after update and updateJacobian): ours,
  // the dense route a client writes (MassMatrix, Cholesky, products), and the same products on the
  // articulated-body M^-1 (MassInverse).
  add("osc_compute", [](Fx& x, int) { x.osc.compute(x.robot, x.g); });
  add("osc_dense", [](Fx& x, int) { x.dense.compute(x.robot, x.g); });
  add("osc_articulated", [](Fx& x, int) { x.dense.compute(x.robot, x.g, true); });
  add("mass_inverse_only",
      [](Fx& x, int) { VexoSDK::DynamicAnalysisXD<N>::MassInverse(x.robot, x.Minv); });
  add("observer", [](Fx& x, int) { x.observer.estimate(x.robot, x.tauExt, x.g); });
  // The centre of mass with its Jacobian, and the kinetic energy, on the updated model.
  add("com_jacobian", [](Fx& x, int) {
    VexoSDK::CentroidalXD<N>::centerOfMass(x.robot, x.com, x.Jcom);
    benchmark::DoNotOptimize(x.com);
    benchmark::DoNotOptimize(x.Jcom);
  });
  add("kinetic_energy", [](Fx& x, int) {
    benchmark::DoNotOptimize(VexoSDK::CentroidalXD<N>::kineticEnergy(x.robot));
  });
  add("cycle", [](Fx& x, int k) { x.cycle.run(x.q[k], x.qdot[k]); });

  // The same work as the peers' solvers, from the joint state.
  add("fk_pos", [](Fx& x, int k) { x.setState(k, true); });
  add("fk_vel", [](Fx& x, int k) { x.setState(k, false); });
  add("rnea", [](Fx& x, int k) {
    x.setState(k, false);
    x.robot.idyn(x.qdot[k], x.qddot[k], x.g);
  });
  add("gravity", [](Fx& x, int k) {
    x.setState(k, true);
    x.robot.idyn_gravity(x.g);
  });
  // C(q, qdot) qdot: the passive form with reference rate qdot, zero reference acceleration and no
  // gravity.
  add("coriolis", [](Fx& x, int k) {
    x.setState(k, false);
    x.robot.idyn_passive(x.qdot[k], x.zero);
  });
  // M(q) from the joint positions: the composite-rigid-body pass of MassMatrix.
  add("mass", [](Fx& x, int k) {
    x.setState(k, true);
    VexoSDK::DynamicAnalysisXD<N>::MassMatrix(x.robot, x.M);
  });
  add("dynamics", [](Fx& x, int k) {
    x.setState(k, false);
    VexoSDK::DynamicAnalysisXD<N>::JointDynamics(x.robot, x.M, x.C, x.G, x.g);
  });
  add("fdyn", [](Fx& x, int k) {
    x.setState(k, false);
    x.robot.fdyn(x.tau[k], x.g);
  });
  add("mass_inverse", [](Fx& x, int k) {
    x.setState(k, true);
    VexoSDK::DynamicAnalysisXD<N>::MassInverse(x.robot, x.Minv);
  });
  add("idyn_derivatives", [](Fx& x, int k) {
    x.setState(k, false);
    VexoSDK::DynamicAnalysisXD<N>::IdynDerivatives(x.robot, x.qddot[k], x.g, x.dq, x.dqdot);
  });
  add("fdyn_derivatives", [](Fx& x, int k) {
    x.setState(k, false);
    VexoSDK::DynamicAnalysisXD<N>::FdynDerivatives(x.robot, x.tau[k], x.g, x.dq, x.dqdot, x.Minv);
  });
  // What the analytic derivatives replace: d tau / dq by one-sided differences, N + 1 passes of
  // update(false) + idyn (d tau / d qdot would take N more).
  add("idyn_finite_differences", [](Fx& x, int k) {
    x.setState(k, false);
    x.robot.idyn(x.qdot[k], x.qddot[k], x.g);
    const typename Fx::JointVec tau = x.robot.tau();
    const double h = 1e-7;
    for (int c = 0; c < N; ++c) {
      x.robot.q() = x.q[k];
      x.robot.q()(c) += h;
      x.robot.update(false);
      x.robot.idyn(x.qdot[k], x.qddot[k], x.g);
      x.dq.col(c) = (x.robot.tau() - tau) / h;
    }
  });
  // The joint torques as Y pi: the regressor at the state of rnea's row, and its passive form.
  add("regressor", [](Fx& x, int k) {
    x.setState(k, false);
    VexoSDK::DynamicAnalysisXD<N>::Regressor(x.robot, x.qddot[k], x.g, *x.Y);
  });
  add("passive_regressor", [](Fx& x, int k) {
    x.setState(k, false);
    VexoSDK::DynamicAnalysisXD<N>::PassiveRegressor(x.robot, x.qdot_r, x.qddot[k], x.g, *x.Y);
  });
  add("jac_pos", [](Fx& x, int k) {
    x.setState(k, true);
    x.robot.updateJacobian(true);
  });
  add("jac_full", [](Fx& x, int k) {
    x.setState(k, false);
    x.robot.updateJacobian(false);
  });
}

// The task-space controllers do not depend on the robot: one fixed error of about 0.5 rad and
// 0.1 m with motion and force errors on every axis.
struct RotFixture {
  RotationController c;
  LieGroup::Rotation R, Rd;
  LieGroup::Vector3D w, wd, wdotd, n, nd;
  RotationController::TaskVec a, b;
};
struct HtfFixture {
  HTransformController c;
  LieGroup::HTransform T, Td;
  LieGroup::Twist V, Vd, Vdotd;
  LieGroup::Wrench F, Fd;
  HTransformController::TaskVec a, b;
  ZORVIK_MAKE_ALIGNED_OPERATOR_NEW
};

void registerControllers() {
  typedef RotFixture Rot;
  typedef HtfFixture Htf;
  const Eigen::Matrix3d R =
      Eigen::AngleAxisd(0.4, Eigen::Vector3d(1, 2, 3).normalized()).toRotationMatrix();
  const Eigen::Matrix3d Rd =
      Eigen::AngleAxisd(0.9, Eigen::Vector3d(-1, 0.5, 2).normalized()).toRotationMatrix();
  std::shared_ptr<Rot> rot(new Rot);
  rot->R = R;
  rot->Rd = Rd;
  rot->w = LieGroup::Vector3D(0.1, -0.2, 0.3);
  rot->wd = LieGroup::Vector3D(0.0, 0.1, -0.1);
  rot->wdotd = LieGroup::Vector3D(0.2, 0.0, 0.1);
  rot->n = LieGroup::Vector3D(0.5, -0.3, 0.2);
  rot->nd = LieGroup::Vector3D(0.1, 0.1, 0.0);
  std::shared_ptr<Htf> htf(new Htf);
  htf->T = LieGroup::HTransform(R, Eigen::Vector3d(0.4, -0.1, 0.6));
  htf->Td = LieGroup::HTransform(Rd, Eigen::Vector3d(0.5, 0.0, 0.55));
  htf->V = LieGroup::Twist(0.1, -0.2, 0.05, 0.1, -0.2, 0.3);
  htf->Vd = LieGroup::Twist(0.0, 0.1, 0.0, 0.0, 0.1, -0.1);
  htf->Vdotd = LieGroup::Twist(0.2, 0.0, 0.1, 0.2, 0.0, 0.1);
  htf->F = LieGroup::Wrench(1.0, -2.0, 0.5, 0.5, -0.3, 0.2);
  htf->Fd = LieGroup::Wrench(0.5, 0.0, 0.0, 0.1, 0.1, 0.0);
  rot->c.setPeriod(1e-3);
  rot->c.setPosGain(100.0);
  rot->c.setVelGain(20.0);
  rot->c.setForceGain(0.01);
  rot->c.setInvL2sqr(1.0);
  htf->c.setPeriod(1e-3);
  htf->c.setPosGain(100.0);
  htf->c.setVelGain(20.0);
  htf->c.setForceGain(0.01);
  htf->c.setInvL2sqr(1.0);

  addBenchmark("ours", "rot_impedance", "task", [rot](benchmark::State& st) {
    Rot& x = *rot;
    for (auto _ : st) {
      x.c.refImpedanceAcceleration(x.R, x.w, x.Rd, x.wd, x.wdotd, x.n, x.nd, x.a, x.b);
      benchmark::ClobberMemory();
    }
  });
  addBenchmark("ours", "rot_compliance", "task", [rot](benchmark::State& st) {
    Rot& x = *rot;
    for (auto _ : st) {
      x.c.refComplianceForce(x.R, x.w, x.Rd, x.wd, x.wdotd, x.n, x.nd, x.a);
      benchmark::ClobberMemory();
    }
  });
  addBenchmark("ours", "htf_impedance", "task", [htf](benchmark::State& st) {
    Htf& x = *htf;
    for (auto _ : st) {
      x.c.refImpedanceAcceleration(x.T, x.V, x.Td, x.Vd, x.Vdotd, x.F, x.Fd, x.a, x.b);
      benchmark::ClobberMemory();
    }
  });
  addBenchmark("ours", "htf_compliance", "task", [htf](benchmark::State& st) {
    Htf& x = *htf;
    for (auto _ : st) {
      x.c.refComplianceForce(x.T, x.V, x.Td, x.Vd, x.Vdotd, x.F, x.Fd, x.a);
      benchmark::ClobberMemory();
    }
  });
}

template <int N>
PeerResults oursResultsFor(const RobotInfo& info) {
  OursFixture<N> x(info);
  PeerResults r;
  x.setState(0, false);
  x.robot.idyn(x.qdot[0], x.qddot[0], x.g);
  r.rnea = x.robot.tau();
  VexoSDK::DynamicAnalysisXD<N>::JointDynamics(x.robot, x.M, x.C, x.G, x.g);
  r.gravity = x.G;
  r.coriolis = x.C * x.qdot[0];
  r.mass = x.M;
  x.robot.fdyn(x.tau[0], x.g);
  r.fdyn = x.robot.qddot();
  VexoSDK::DynamicAnalysisXD<N>::MassInverse(x.robot, x.Minv);
  r.massInverse = x.Minv;
  return r;
}

}  // namespace

PeerResults oursResults(const RobotInfo& info) {
  switch (info.n) {
    case 6: return oursResultsFor<6>(info);
    case 7: return oursResultsFor<7>(info);
    case 14: return oursResultsFor<14>(info);
    default: return oursResultsFor<16>(info);
  }
}

void registerOurs(const RobotInfo& info) {
  switch (info.n) {
    case 6: registerOursFor<6>(info); break;
    case 7: registerOursFor<7>(info); break;
    case 14: registerOursFor<14>(info); break;
    default: registerOursFor<16>(info); break;
  }
}

void registerOursTask() { registerControllers(); }

}  // namespace zorvik_bench
