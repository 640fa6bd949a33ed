// DART (Debian's libdart 6.12), skeletons loaded from the same URDF files through the tests' DART
// oracle (tests/support/DartOracle.h: root joint fixed, links without <inertial> massless, joint
// damping, springs and friction off, as in KDL and ours). Names: dart/<op>/<robot>.
//
// DART computes lazily and caches: setPositions/setVelocities mark the kinematics and the dynamics
// terms dirty, and the getters recompute them. Every iteration therefore sets the state first,
// alternating between states A and B (DART skips setting a state equal to the current one), and
// then asks for the results, so that each iteration does the full computation from the state:
//   fk_pos    setPositions, computeForwardKinematics(transforms)
//   fk_vel    setPositions, setVelocities, computeForwardKinematics(transforms, velocities)
//   rnea      set q, qdot, qddot, computeInverseDynamics()
//   gravity   setPositions, getGravityForces()
//   coriolis  setPositions, setVelocities, getCoriolisForces()       (C qdot)
//   mass      setPositions, getMassMatrix()
//   dynamics  set q, qdot, getMassMatrix(), getCoriolisForces(), getGravityForces()
//   jac_pos   setPositions, the body Jacobian of every branch tip
//   jac_full  set q, qdot, the body Jacobian and its derivative (getJacobianSpatialDeriv, body
//             frame like ours) of every branch tip
//   fdyn      set q, qdot, the RNEA's torques of the state, computeForwardDynamics()
//   mass_inverse  setPositions, getInvMassMatrix()
#include <dart/dynamics/BodyNode.hpp>
#include <dart/dynamics/Skeleton.hpp>

#include <memory>
#include <stdexcept>

#include "BenchRegistry.h"
#include "support/DartOracle.h"
#include "support/KdlBridge.h"

namespace zorvik_bench {
namespace {

struct DartFixture {
  DartFixture(const RobotInfo& info, const std::vector<std::string>& names)
      : robot(robotPath(info), names, gravity()), skel(&robot.skeleton()) {
    for (int k = 0; k < 2; ++k) {
      const JointState s = jointState(info.n, k);
      q[k] = robot.toDart(s.q);
      qdot[k] = robot.toDart(s.qdot);
      qddot[k] = robot.toDart(s.qddot);
      skel->setPositions(q[k]);
      skel->setVelocities(qdot[k]);
      skel->setAccelerations(qddot[k]);
      skel->computeInverseDynamics();
      tau[k] = skel->getForces();
    }
    for (const std::string& tip : zorvik_test::kdl::branchTips(
             zorvik_test::kdl::treeFromUrdf(robotPath(info)))) {
      dart::dynamics::BodyNode* node = skel->getBodyNode(tip);
      if (!node) throw std::runtime_error("DART skeleton has no body " + tip);
      tips.push_back(node);
    }
  }

  zorvik_test::DartRobot robot;
  dart::dynamics::Skeleton* skel;
  std::vector<dart::dynamics::BodyNode*> tips;
  Eigen::VectorXd q[2], qdot[2], qddot[2], tau[2];
};

}  // namespace

void registerDart(const RobotInfo& info, const std::vector<std::string>& names) {
  std::shared_ptr<DartFixture> f(new DartFixture(info, names));
  auto add = [&](const std::string& op, auto body) {
    addBenchmark("dart", op, info.name, [f, body](benchmark::State& st) {
      int i = 0;
      for (auto _ : st) {
        body(*f, *f->skel, i++ & 1);
        benchmark::ClobberMemory();
      }
    });
  };
  typedef dart::dynamics::Skeleton Skel;
  add("fk_pos", [](DartFixture& x, Skel& s, int k) {
    s.setPositions(x.q[k]);
    s.computeForwardKinematics(true, false, false);
  });
  add("fk_vel", [](DartFixture& x, Skel& s, int k) {
    s.setPositions(x.q[k]);
    s.setVelocities(x.qdot[k]);
    s.computeForwardKinematics(true, true, false);
  });
  add("rnea", [](DartFixture& x, Skel& s, int k) {
    s.setPositions(x.q[k]);
    s.setVelocities(x.qdot[k]);
    s.setAccelerations(x.qddot[k]);
    s.computeInverseDynamics();
  });
  add("gravity", [](DartFixture& x, Skel& s, int k) {
    s.setPositions(x.q[k]);
    benchmark::DoNotOptimize(s.getGravityForces().data());
  });
  add("coriolis", [](DartFixture& x, Skel& s, int k) {
    s.setPositions(x.q[k]);
    s.setVelocities(x.qdot[k]);
    benchmark::DoNotOptimize(s.getCoriolisForces().data());
  });
  add("mass", [](DartFixture& x, Skel& s, int k) {
    s.setPositions(x.q[k]);
    benchmark::DoNotOptimize(s.getMassMatrix().data());
  });
  add("dynamics", [](DartFixture& x, Skel& s, int k) {
    s.setPositions(x.q[k]);
    s.setVelocities(x.qdot[k]);
    benchmark::DoNotOptimize(s.getMassMatrix().data());
    benchmark::DoNotOptimize(s.getCoriolisForces().data());
    benchmark::DoNotOptimize(s.getGravityForces().data());
  });
  add("fdyn", [](DartFixture& x, Skel& s, int k) {
    s.setPositions(x.q[k]);
    s.setVelocities(x.qdot[k]);
    s.setForces(x.tau[k]);
    s.computeForwardDynamics();
  });
  add("mass_inverse", [](DartFixture& x, Skel& s, int k) {
    s.setPositions(x.q[k]);
    benchmark::DoNotOptimize(s.getInvMassMatrix().data());
  });
  add("jac_pos", [](DartFixture& x, Skel& s, int k) {
    s.setPositions(x.q[k]);
    for (dart::dynamics::BodyNode* b : x.tips) benchmark::DoNotOptimize(b->getJacobian().data());
  });
  add("jac_full", [](DartFixture& x, Skel& s, int k) {
    s.setPositions(x.q[k]);
    s.setVelocities(x.qdot[k]);
    for (dart::dynamics::BodyNode* b : x.tips) {
      benchmark::DoNotOptimize(b->getJacobian().data());
      benchmark::DoNotOptimize(b->getJacobianSpatialDeriv().data());
    }
  });
}

PeerResults dartResults(const RobotInfo& info, const std::vector<std::string>& names) {
  DartFixture x(info, names);
  dart::dynamics::Skeleton& s = *x.skel;
  PeerResults r;
  s.setPositions(x.q[0]);
  s.setVelocities(x.qdot[0]);
  s.setAccelerations(x.qddot[0]);
  s.computeInverseDynamics();
  r.rnea = x.robot.fromDart(Eigen::VectorXd(s.getForces()));
  r.gravity = x.robot.fromDart(Eigen::VectorXd(s.getGravityForces()));
  r.coriolis = x.robot.fromDart(Eigen::VectorXd(s.getCoriolisForces()));
  r.mass = x.robot.fromDart(Eigen::MatrixXd(s.getMassMatrix()));
  s.setForces(x.tau[0]);
  s.computeForwardDynamics();
  r.fdyn = x.robot.fromDart(Eigen::VectorXd(s.getAccelerations()));
  r.massInverse = x.robot.fromDart(Eigen::MatrixXd(s.getInvMassMatrix()));
  return r;
}

}  // namespace zorvik_bench
