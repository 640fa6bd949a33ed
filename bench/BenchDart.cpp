// DART (Debian's libdart 6.12), skeletons loaded from the same URDF files with
// dart::utils::DartLoader, root joint fixed, links without <inertial> massless (as in KDL and ours).
// The URDF's <visual> and <collision> elements are removed before parsing: their meshes are not
// shipped and play no part in the dynamics. Names: dart/<op>/<robot>.
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
#include <dart/dynamics/BodyNode.hpp>
#include <dart/dynamics/DegreeOfFreedom.hpp>
#include <dart/dynamics/Joint.hpp>
#include <dart/dynamics/Skeleton.hpp>
#include <dart/utils/urdf/DartLoader.hpp>

#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "BenchRegistry.h"
#include "support/KdlBridge.h"

namespace zorvik_bench {
namespace {

// The URDF text without its <visual> and <collision> elements.
std::string dynamicsOnlyUrdf(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  for (const std::string tag : {"visual", "collision"}) {
    for (;;) {
      const size_t begin = text.find("<" + tag);
      if (begin == std::string::npos) break;
      const size_t selfClose = text.find("/>", begin), open = text.find(">", begin);
      size_t end;
      if (selfClose != std::string::npos && selfClose + 1 == open) {
        end = open + 1;
      } else {
        const std::string close = "</" + tag + ">";
        end = text.find(close, begin);
        if (end == std::string::npos) throw std::runtime_error("unclosed <" + tag + "> in " + path);
        end += close.size();
      }
      text.erase(begin, end - begin);
    }
  }
  return text;
}

struct DartFixture {
  DartFixture(const RobotInfo& info, const std::vector<std::string>& names) {
    dart::utils::DartLoader::Options options(
        nullptr, dart::utils::DartLoader::RootJointType::FIXED,
        dart::dynamics::Inertia(0.0, Eigen::Vector3d::Zero(), Eigen::Matrix3d::Zero()));
    dart::utils::DartLoader loader(options);
    // DART warns on std::cerr about every massless link; they are massless on purpose.
    std::streambuf* cerr = std::cerr.rdbuf(nullptr);
    skel = loader.parseSkeletonString(dynamicsOnlyUrdf(robotPath(info)),
                                      dart::common::Uri::createFromPath(robotPath(info)));
    std::cerr.rdbuf(cerr);
    if (!skel || static_cast<int>(skel->getNumDofs()) != info.n)
      throw std::runtime_error(std::string("DART could not load ") + info.file + " with " +
                               std::to_string(info.n) + " degrees of freedom");
    skel->setGravity(gravity());
    // Model coordinate i is DART's degree of freedom perm[i].
    for (const std::string& name : names) {
      const dart::dynamics::Joint* joint = skel->getJoint(name);
      if (!joint) throw std::runtime_error("DART skeleton has no joint " + name);
      perm.push_back(static_cast<int>(joint->getIndexInSkeleton(0)));
    }
    for (int k = 0; k < 2; ++k) {
      const JointState s = jointState(info.n, k);
      q[k] = toDart(s.q);
      qdot[k] = toDart(s.qdot);
      qddot[k] = toDart(s.qddot);
    }
    for (const std::string& tip : zorvik_test::kdl::branchTips(
             zorvik_test::kdl::treeFromUrdf(robotPath(info)))) {
      dart::dynamics::BodyNode* node = skel->getBodyNode(tip);
      if (!node) throw std::runtime_error("DART skeleton has no body " + tip);
      tips.push_back(node);
    }
  }
  Eigen::VectorXd toDart(const Eigen::VectorXd& x) const {
    Eigen::VectorXd y(x.size());
    for (int i = 0; i < x.size(); ++i) y(perm[i]) = x(i);
    return y;
  }
  Eigen::VectorXd fromDart(const Eigen::VectorXd& y) const {
    Eigen::VectorXd x(y.size());
    for (int i = 0; i < y.size(); ++i) x(i) = y(perm[i]);
    return x;
  }

  dart::dynamics::SkeletonPtr skel;
  std::vector<int> perm;
  std::vector<dart::dynamics::BodyNode*> tips;
  Eigen::VectorXd q[2], qdot[2], qddot[2];
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
  r.rnea = x.fromDart(s.getForces());
  r.gravity = x.fromDart(s.getGravityForces());
  r.coriolis = x.fromDart(s.getCoriolisForces());
  const Eigen::MatrixXd& M = s.getMassMatrix();
  r.mass.resize(info.n, info.n);
  for (int i = 0; i < info.n; ++i)
    for (int j = 0; j < info.n; ++j) r.mass(i, j) = M(x.perm[i], x.perm[j]);
  return r;
}

}  // namespace zorvik_bench
