// Orocos KDL (Debian's liborocos-kdl), built from the same URDF files with kdl_parser. Names:
// kdl/<op>/<robot>.
//
// Serial robots (UR5, Panda) use KDL's chain solvers on the chain from the root to the last link.
// The trees (Baxter's arms, the Allegro hand) use KDL's tree solvers where KDL has them:
// TreeFkSolverPos_recursive (pose of every branch tip), TreeJntToJacSolver (Jacobian of every
// branch tip) and TreeIdSolver_RNE (RNEA over the whole tree). KDL has no tree solver for
// velocities, Jacobian derivatives, the joint-space matrices or forward dynamics, so those sum the
// chain solvers over the independent branches (ChainFkSolverVel_recursive, ChainJntToJacDotSolver,
// ChainDynParam, ChainFdSolver_RNE), each branch chain carrying the fixed subtrees that hang off it
// (tests/support/KdlBridge.h). ChainFdSolver_RNE takes, at each state, the torques of the RNEA.
//
// Row rnea_tool_chain (UR5 and Panda only, not set against anything): ChainIdSolver_RNE on the
// chain kdl_parser gives from the root to the tool frame (tool0, panda_hand_tcp), the way a client
// usually builds it: the fixed segments on the way (base, flange, hand, tool frame) are kept as
// segments of their own, each paying a full step of the recursion, and the side branches (the
// Panda's fingers) are left out. It shows what KDL costs in that common form next to the lumped
// chain of the rnea row, KDL at its best.
//
// Every solver recomputes the poses from q, so each KDL row is set against our update plus the
// operation. Jacobians: KDL gives one segment's Jacobian per call, so its rows time the branch
// tips' pose, Jacobian and (jac_full) Jacobian derivative, while ours compute every body's.
#include <kdl/chaindynparam.hpp>
#include <kdl/chainfdsolver_recursive_newton_euler.hpp>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/chainfksolvervel_recursive.hpp>
#include <kdl/chainidsolver_recursive_newton_euler.hpp>
#include <kdl/chainjnttojacdotsolver.hpp>
#include <kdl/chainjnttojacsolver.hpp>
#include <kdl/treefksolverpos_recursive.hpp>
#include <kdl/treeidsolver_recursive_newton_euler.hpp>
#include <kdl/treejnttojacsolver.hpp>

#include <memory>
#include <stdexcept>

#include "BenchRegistry.h"
#include "support/KdlBridge.h"

namespace zorvik_bench {
namespace {

namespace kb = zorvik_test::kdl;

struct Branch {
  explicit Branch(const KDL::Chain& c)
      : chain(c),
        fkPos(chain),
        fkVel(chain),
        jac(chain),
        jacDot(chain),
        dyn(chain, KDL::Vector(gravity().x(), gravity().y(), gravity().z())),
        rne(chain, KDL::Vector(gravity().x(), gravity().y(), gravity().z())),
        fd(chain, KDL::Vector(gravity().x(), gravity().y(), gravity().z())) {
    jacDot.setRepresentation(KDL::ChainJntToJacDotSolver::BODYFIXED);
  }
  KDL::Chain chain;
  std::vector<int> map;
  KDL::ChainFkSolverPos_recursive fkPos;
  KDL::ChainFkSolverVel_recursive fkVel;
  KDL::ChainJntToJacSolver jac;
  KDL::ChainJntToJacDotSolver jacDot;
  KDL::ChainDynParam dyn;
  KDL::ChainIdSolver_RNE rne;
  KDL::ChainFdSolver_RNE fd;
  // Inputs for states A and B (rneaTau: the RNEA's torques there), outputs.
  KDL::JntArray q[2], qdot[2], qddot[2], rneaTau[2];
  KDL::JntArrayVel qv[2];
  KDL::JntArray tau, g, c, acc;
  KDL::JntSpaceInertiaMatrix M;
  KDL::Jacobian J, Jdot;
  KDL::Frame F;
  KDL::FrameVel FV;
  KDL::Wrenches noWrench;
};

struct KdlFixture {
  KdlFixture(const RobotInfo& info, const std::vector<std::string>& names)
      : tree(kb::treeFromUrdf(robotPath(info))),
        tips(kb::branchTips(tree)),
        isTree(tips.size() > 1),
        treeFk(tree),
        treeJac(tree),
        treeRne(tree, KDL::Vector(gravity().x(), gravity().y(), gravity().z())) {
    if (static_cast<int>(tree.getNrOfJoints()) != info.n)
      throw std::runtime_error(std::string("KDL tree of ") + info.file + " has the wrong size");
    const std::vector<int> treeMap = kb::treeToModel(tree, names);
    for (const std::string& tip : tips) {
      branches.emplace_back(new Branch(kb::branchChain(tree, tip)));
      Branch& b = *branches.back();
      b.map = kb::chainToModel(b.chain, names);
      const unsigned n = b.chain.getNrOfJoints();
      for (int k = 0; k < 2; ++k) {
        const JointState s = jointState(info.n, k);
        b.q[k] = kb::toKdl(s.q, b.map);
        b.qdot[k] = kb::toKdl(s.qdot, b.map);
        b.qddot[k] = kb::toKdl(s.qddot, b.map);
        b.qv[k] = KDL::JntArrayVel(b.q[k], b.qdot[k]);
      }
      b.tau.resize(n);
      b.acc.resize(n);
      b.g.resize(n);
      b.c.resize(n);
      b.M.resize(n);
      b.J.resize(n);
      b.Jdot.resize(n);
      b.noWrench.assign(b.chain.getNrOfSegments(), KDL::Wrench::Zero());
      for (int k = 0; k < 2; ++k) {
        b.rneaTau[k].resize(n);
        if (b.rne.CartToJnt(b.q[k], b.qdot[k], b.qddot[k], b.noWrench, b.rneaTau[k]) < 0)
          throw std::runtime_error("KDL's RNEA failed");
      }
    }
    for (int k = 0; k < 2; ++k) {
      const JointState s = jointState(info.n, k);
      tq[k] = kb::toKdl(s.q, treeMap);
      tqdot[k] = kb::toKdl(s.qdot, treeMap);
      tqddot[k] = kb::toKdl(s.qddot, treeMap);
    }
    ttau.resize(info.n);
    tJ.resize(info.n);
  }

  KDL::Tree tree;
  std::vector<std::string> tips;
  bool isTree;
  std::vector<std::unique_ptr<Branch>> branches;
  KDL::TreeFkSolverPos_recursive treeFk;
  KDL::TreeJntToJacSolver treeJac;
  KDL::TreeIdSolver_RNE treeRne;
  KDL::JntArray tq[2], tqdot[2], tqddot[2], ttau;
  KDL::Jacobian tJ;
  KDL::WrenchMap noWrenches;
  KDL::Frame tF;

  // The operations at state k; each returns KDL's error code (0 on success) summed over calls.
  int fkPos(int k) {
    int err = 0;
    if (isTree) {
      for (const std::string& tip : tips) err += treeFk.JntToCart(tq[k], tF, tip) < 0;
    } else {
      for (auto& b : branches) err += b->fkPos.JntToCart(b->q[k], b->F) < 0;
    }
    return err;
  }
  int fkVel(int k) {
    int err = 0;
    for (auto& b : branches) err += b->fkVel.JntToCart(b->qv[k], b->FV) < 0;
    return err;
  }
  int rnea(int k) {
    if (isTree) return treeRne.CartToJnt(tq[k], tqdot[k], tqddot[k], noWrenches, ttau) < 0;
    int err = 0;
    for (auto& b : branches)
      err += b->rne.CartToJnt(b->q[k], b->qdot[k], b->qddot[k], b->noWrench, b->tau) < 0;
    return err;
  }
  int fdyn(int k) {
    int err = 0;
    for (auto& b : branches)
      err += b->fd.CartToJnt(b->q[k], b->qdot[k], b->rneaTau[k], b->noWrench, b->acc) < 0;
    return err;
  }
  int gravityTorques(int k) {
    int err = 0;
    for (auto& b : branches) err += b->dyn.JntToGravity(b->q[k], b->g) < 0;
    return err;
  }
  int coriolis(int k) {
    int err = 0;
    for (auto& b : branches) err += b->dyn.JntToCoriolis(b->q[k], b->qdot[k], b->c) < 0;
    return err;
  }
  int mass(int k) {
    int err = 0;
    for (auto& b : branches) err += b->dyn.JntToMass(b->q[k], b->M) < 0;
    return err;
  }
  int jacPos(int k) {
    int err = 0;
    if (isTree) {
      for (const std::string& tip : tips) {
        err += treeFk.JntToCart(tq[k], tF, tip) < 0;
        err += treeJac.JntToJac(tq[k], tJ, tip) < 0;
      }
    } else {
      for (auto& b : branches) {
        err += b->fkPos.JntToCart(b->q[k], b->F) < 0;
        err += b->jac.JntToJac(b->q[k], b->J) < 0;
      }
    }
    return err;
  }
  int jacDot(int k) {
    int err = 0;
    for (auto& b : branches) err += b->jacDot.JntToJacDot(b->qv[k], b->Jdot) < 0;
    return err;
  }
};

// The tool frame of the serial robots, for rnea_tool_chain; empty for the others.
std::string toolFrame(const RobotInfo& info) {
  const std::string name = info.name;
  return name == "ur5" ? "tool0" : name == "panda" ? "panda_hand_tcp" : "";
}

// ChainIdSolver_RNE on the URDF's chain from the root to the tool frame, states A and B.
struct ToolChainRne {
  ToolChainRne(const KDL::Tree& tree, const std::string& tool,
               const std::vector<std::string>& names, int n) {
    if (!tree.getChain(tree.getRootSegment()->first, tool, chain))
      throw std::runtime_error("no KDL chain to " + tool);
    const std::vector<int> map = kb::chainToModel(chain, names);
    for (int k = 0; k < 2; ++k) {
      const JointState s = jointState(n, k);
      q[k] = kb::toKdl(s.q, map);
      qdot[k] = kb::toKdl(s.qdot, map);
      qddot[k] = kb::toKdl(s.qddot, map);
    }
    tau.resize(chain.getNrOfJoints());
    noWrench.assign(chain.getNrOfSegments(), KDL::Wrench::Zero());
    rne.reset(new KDL::ChainIdSolver_RNE(
        chain, KDL::Vector(gravity().x(), gravity().y(), gravity().z())));
  }
  KDL::Chain chain;
  std::unique_ptr<KDL::ChainIdSolver_RNE> rne;
  KDL::JntArray q[2], qdot[2], qddot[2], tau;
  KDL::Wrenches noWrench;
};

}  // namespace

void registerKdl(const RobotInfo& info, const std::vector<std::string>& names) {
  std::shared_ptr<KdlFixture> f(new KdlFixture(info, names));
  auto add = [&](const std::string& op, auto body) {
    addBenchmark("kdl", op, info.name, [f, body](benchmark::State& st) {
      int i = 0, err = 0;
      for (auto _ : st) {
        err += body(*f, i++ & 1);
        benchmark::ClobberMemory();
      }
      if (err) st.SkipWithError("a KDL solver failed");
    });
  };
  add("fk_pos", [](KdlFixture& x, int k) { return x.fkPos(k); });
  add("fk_vel", [](KdlFixture& x, int k) { return x.fkVel(k); });
  add("rnea", [](KdlFixture& x, int k) { return x.rnea(k); });
  add("fdyn", [](KdlFixture& x, int k) { return x.fdyn(k); });
  add("gravity", [](KdlFixture& x, int k) { return x.gravityTorques(k); });
  add("coriolis", [](KdlFixture& x, int k) { return x.coriolis(k); });
  add("mass", [](KdlFixture& x, int k) { return x.mass(k); });
  add("dynamics", [](KdlFixture& x, int k) {
    return x.mass(k) + x.coriolis(k) + x.gravityTorques(k);
  });
  add("jac_pos", [](KdlFixture& x, int k) { return x.jacPos(k); });
  add("jac_full", [](KdlFixture& x, int k) { return x.jacPos(k) + x.jacDot(k); });

  const std::string tool = toolFrame(info);
  if (tool.empty()) return;
  std::shared_ptr<ToolChainRne> t(new ToolChainRne(f->tree, tool, names, info.n));
  addBenchmark("kdl", "rnea_tool_chain", info.name, [t](benchmark::State& st) {
    int i = 0, err = 0;
    for (auto _ : st) {
      const int k = i++ & 1;
      err += t->rne->CartToJnt(t->q[k], t->qdot[k], t->qddot[k], t->noWrench, t->tau) < 0;
      benchmark::ClobberMemory();
    }
    if (err) st.SkipWithError("KDL's RNE failed");
  });
}

PeerResults kdlResults(const RobotInfo& info, const std::vector<std::string>& names) {
  KdlFixture x(info, names);
  PeerResults r;
  r.rnea = Eigen::VectorXd::Zero(info.n);
  r.gravity = Eigen::VectorXd::Zero(info.n);
  r.coriolis = Eigen::VectorXd::Zero(info.n);
  r.mass = Eigen::MatrixXd::Zero(info.n, info.n);
  r.fdyn = Eigen::VectorXd::Zero(info.n);
  if (x.rnea(0) + x.gravityTorques(0) + x.coriolis(0) + x.mass(0) + x.fdyn(0))
    throw std::runtime_error("a KDL solver failed");
  if (x.isTree) r.rnea = kb::fromKdl(x.ttau, kb::treeToModel(x.tree, names), info.n);
  for (auto& b : x.branches) {
    for (size_t i = 0; i < b->map.size(); ++i) {
      if (!x.isTree) r.rnea(b->map[i]) = b->tau(i);
      r.gravity(b->map[i]) = b->g(i);
      r.coriolis(b->map[i]) = b->c(i);
      r.fdyn(b->map[i]) = b->acc(i);
      for (size_t j = 0; j < b->map.size(); ++j) r.mass(b->map[i], b->map[j]) = b->M(i, j);
    }
  }
  return r;
}

}  // namespace zorvik_bench
