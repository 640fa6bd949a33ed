// MuJoCo (Debian's libmujoco 2.2.2), compiled from the same URDF files. Names: mujoco/<op>/<robot>.
//
// MuJoCo reads URDF through its own importer. The robot files carry <visual> and <collision>
// elements whose meshes are not shipped, so at start-up each file is rewritten in memory: those
// elements removed and <mujoco><compiler discardvisual="true" fusestatic="true"/></mujoco> added,
// which merges every body hanging on a fixed joint into its parent (the same masses about the same
// axes, fewer bodies). The rewritten text is handed to mj_loadXML through MuJoCo's virtual file
// system; nothing is written to disk. The compiled model then gets our gravity and no joint
// damping, armature, friction loss or stiffness, so that its equations of motion are ours.
//
// MuJoCo numbers its coordinates in its own body order; each of our joints is found by name and
// its qpos and dof addresses kept, so that states and results convert to and from our order.
//
// Every row sets the joint state (alternating between states A and B, as every peer) and runs the
// pipeline stages the result needs, from the state:
//   fk_pos        mj_kinematics                                            (body poses)
//   fk_vel        mj_kinematics + mj_comPos + mj_comVel                    (poses, twists)
//   rnea          fk_vel + mj_rne(flg_acc = 1)                             (M qddot + bias)
//   mass          mj_kinematics + mj_comPos + mj_crb + mj_fullM            (dense M)
//   fdyn          fk_vel + mj_crb + mj_factorM, bias by mj_rne(flg_acc = 0),
//                 mj_solveM on tau - bias                                  (qddot)
//   mass_inverse  mj_kinematics + mj_comPos + mj_crb + mj_factorM + mj_solveM on the N unit
//                 columns                                                  (dense M^-1)
// MuJoCo's solvers work on preallocated mjData and do not allocate.
#include <mujoco/mujoco.h>
#include <tinyxml2.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "BenchRegistry.h"

namespace zorvik_bench {
namespace {

// The URDF file as MuJoCo's importer accepts it without meshes (see the header comment).
std::string mujocoUrdf(const std::string& path) {
  tinyxml2::XMLDocument doc;
  if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS)
    throw std::runtime_error("cannot read " + path);
  tinyxml2::XMLElement* robot = doc.FirstChildElement("robot");
  if (!robot) throw std::runtime_error(path + " has no <robot> element");
  for (tinyxml2::XMLElement* link = robot->FirstChildElement("link"); link;
       link = link->NextSiblingElement("link")) {
    for (const char* tag : {"visual", "collision"})
      while (tinyxml2::XMLElement* e = link->FirstChildElement(tag)) link->DeleteChild(e);
  }
  tinyxml2::XMLElement* mujoco = doc.NewElement("mujoco");
  tinyxml2::XMLElement* compiler = doc.NewElement("compiler");
  compiler->SetAttribute("discardvisual", "true");
  compiler->SetAttribute("fusestatic", "true");
  mujoco->InsertEndChild(compiler);
  robot->InsertFirstChild(mujoco);
  tinyxml2::XMLPrinter printer;
  doc.Print(&printer);
  return printer.CStr();
}

struct MujocoFixture {
  MujocoFixture(const RobotInfo& info, const std::vector<std::string>& names) {
    const std::string text = mujocoUrdf(robotPath(info));
    std::unique_ptr<mjVFS> vfs(new mjVFS);
    mj_defaultVFS(vfs.get());
    const char* file = "robot.urdf";
    if (mj_makeEmptyFileVFS(vfs.get(), file, static_cast<int>(text.size())) != 0)
      throw std::runtime_error("MuJoCo's virtual file system refused the robot");
    std::memcpy(vfs->filedata[mj_findFileVFS(vfs.get(), file)], text.data(), text.size());
    char error[1000] = "";
    m = mj_loadXML(file, vfs.get(), error, sizeof error);
    mj_deleteVFS(vfs.get());
    if (!m) {
      std::string what = error;
      std::replace(what.begin(), what.end(), '\n', ' ');
      throw std::runtime_error(std::string("MuJoCo cannot load ") + info.file + ": " + what);
    }
    if (m->nv != info.n || m->nq != info.n || m->njnt != info.n) {
      const std::string what = std::string("MuJoCo's model of ") + info.file + " has " +
                               std::to_string(m->nv) + " degrees of freedom, expected " +
                               std::to_string(info.n);
      mj_deleteModel(m);
      throw std::runtime_error(what);
    }
    // Our coordinate i is MuJoCo's joint of the same name.
    for (const std::string& name : names) {
      const int j = mj_name2id(m, mjOBJ_JOINT, name.c_str());
      if (j < 0 || (m->jnt_type[j] != mjJNT_HINGE && m->jnt_type[j] != mjJNT_SLIDE)) {
        mj_deleteModel(m);
        throw std::runtime_error("MuJoCo's model has no one-axis joint " + name);
      }
      qadr.push_back(m->jnt_qposadr[j]);
      vadr.push_back(m->jnt_dofadr[j]);
    }
    // Our equations of motion: our gravity, no passive joint forces, no rotor inertia. The
    // importer turns a URDF joint's <dynamics damping friction> into damping and friction loss.
    int passive = 0;
    for (int v = 0; v < m->nv; ++v)
      passive += m->dof_damping[v] != 0 || m->dof_armature[v] != 0 || m->dof_frictionloss[v] != 0;
    for (int j = 0; j < m->njnt; ++j) passive += m->jnt_stiffness[j] != 0;
    if (passive)
      std::fprintf(stderr, "[mujoco] %s: damping, armature, friction loss, stiffness set to 0 (%d "
                   "non-zero)\n", info.name, passive);
    for (int i = 0; i < 3; ++i) m->opt.gravity[i] = gravity()(i);
    for (int v = 0; v < m->nv; ++v) {
      m->dof_damping[v] = 0;
      m->dof_armature[v] = 0;
      m->dof_frictionloss[v] = 0;
    }
    for (int j = 0; j < m->njnt; ++j) m->jnt_stiffness[j] = 0;
    d = mj_makeData(m);
    const int n = info.n;
    out.resize(n);
    bias.resize(n);
    rhs.resize(n);
    M.resize(n * n);
    Minv.resize(n * n);
    eye.assign(n * n, 0.0);
    for (int i = 0; i < n; ++i) eye[i * n + i] = 1;
    for (int k = 0; k < 2; ++k) {
      const JointState s = jointState(n, k);
      q[k] = toMujoco(s.q, true);
      qdot[k] = toMujoco(s.qdot, false);
      qddot[k] = toMujoco(s.qddot, false);
      // The forward dynamics' torques: MuJoCo's own inverse dynamics at the state.
      setState(k, true, true);
      velocities();
      mj_rne(m, d, 1, out.data());
      tau[k] = out;
    }
  }
  ~MujocoFixture() {
    mj_deleteData(d);
    mj_deleteModel(m);
  }
  MujocoFixture(const MujocoFixture&) = delete;
  MujocoFixture& operator=(const MujocoFixture&) = delete;

  std::vector<double> toMujoco(const Eigen::VectorXd& x, bool positions) const {
    std::vector<double> r(x.size(), 0.0);
    for (int i = 0; i < x.size(); ++i) r[positions ? qadr[i] : vadr[i]] = x(i);
    return r;
  }
  Eigen::VectorXd fromMujoco(const std::vector<double>& x) const {
    Eigen::VectorXd r(vadr.size());
    for (size_t i = 0; i < vadr.size(); ++i) r(i) = x[vadr[i]];
    return r;
  }
  Eigen::MatrixXd fromMujoco(const std::vector<double>& x, int n) const {
    Eigen::MatrixXd r(n, n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) r(i, j) = x[vadr[i] * n + vadr[j]];
    return r;
  }

  void setState(int k, bool vel, bool acc) {
    std::memcpy(d->qpos, q[k].data(), sizeof(double) * m->nq);
    if (vel) std::memcpy(d->qvel, qdot[k].data(), sizeof(double) * m->nv);
    if (acc) std::memcpy(d->qacc, qddot[k].data(), sizeof(double) * m->nv);
  }
  // Body poses and the composite-rigid-body frames every later stage works in.
  void positions() {
    mj_kinematics(m, d);
    mj_comPos(m, d);
  }
  void velocities() {
    positions();
    mj_comVel(m, d);
  }
  void factor() {
    positions();
    mj_crb(m, d);
    mj_factorM(m, d);
  }
  // qddot for the torques t (MuJoCo's order) at state k.
  void fdyn(int k, const std::vector<double>& t) {
    setState(k, true, false);
    velocities();
    mj_crb(m, d);
    mj_factorM(m, d);
    mj_rne(m, d, 0, bias.data());
    for (int i = 0; i < m->nv; ++i) rhs[i] = t[i] - bias[i];
    mj_solveM(m, d, out.data(), rhs.data(), 1);
  }
  void massInverse(int k) {
    setState(k, false, false);
    factor();
    mj_solveM(m, d, Minv.data(), eye.data(), m->nv);
  }

  mjModel* m = nullptr;
  mjData* d = nullptr;
  std::vector<int> qadr, vadr;  // MuJoCo's qpos and dof address of our coordinate i
  std::vector<double> q[2], qdot[2], qddot[2], tau[2];  // states A and B in MuJoCo's order
  std::vector<double> out, bias, rhs, M, Minv, eye;
};

// Loads the robot or says why MuJoCo cannot, once per robot.
std::shared_ptr<MujocoFixture> load(const RobotInfo& info, const std::vector<std::string>& names) {
  try {
    return std::make_shared<MujocoFixture>(info, names);
  } catch (const std::exception& e) {
    // MuJoCo refuses inertias that break the triangle inequality (the Allegro hand's fingers);
    // its balanceinertia option would change them, so such a robot is left out, not altered.
    std::fprintf(stderr, "[mujoco] %s skipped: %s\n", info.name, e.what());
    return nullptr;
  }
}

}  // namespace

void registerMujoco(const RobotInfo& info, const std::vector<std::string>& names) {
  std::shared_ptr<MujocoFixture> f = load(info, names);
  if (!f) return;
  auto add = [&](const std::string& op, auto body) {
    addBenchmark("mujoco", op, info.name, [f, body](benchmark::State& st) {
      int i = 0;
      for (auto _ : st) {
        body(*f, i++ & 1);
        benchmark::ClobberMemory();
      }
    });
  };
  add("fk_pos", [](MujocoFixture& x, int k) {
    x.setState(k, false, false);
    mj_kinematics(x.m, x.d);
  });
  add("fk_vel", [](MujocoFixture& x, int k) {
    x.setState(k, true, false);
    x.velocities();
  });
  add("rnea", [](MujocoFixture& x, int k) {
    x.setState(k, true, true);
    x.velocities();
    mj_rne(x.m, x.d, 1, x.out.data());
  });
  add("mass", [](MujocoFixture& x, int k) {
    x.setState(k, false, false);
    x.positions();
    mj_crb(x.m, x.d);
    mj_fullM(x.m, x.M.data(), x.d->qM);
  });
  add("fdyn", [](MujocoFixture& x, int k) { x.fdyn(k, x.tau[k]); });
  add("mass_inverse", [](MujocoFixture& x, int k) { x.massInverse(k); });
}

bool mujocoResults(const RobotInfo& info, const std::vector<std::string>& names,
                   const Eigen::VectorXd& tau, PeerResults& r) {
  std::shared_ptr<MujocoFixture> f = load(info, names);
  if (!f) return false;
  MujocoFixture& x = *f;
  const int n = info.n;
  x.setState(0, true, true);
  x.velocities();
  mj_rne(x.m, x.d, 1, x.out.data());
  r.rnea = x.fromMujoco(x.out);
  x.setState(0, false, false);
  x.positions();
  mj_crb(x.m, x.d);
  mj_fullM(x.m, x.M.data(), x.d->qM);
  r.mass = x.fromMujoco(x.M, n);
  x.fdyn(0, x.toMujoco(tau, false));
  r.fdyn = x.fromMujoco(x.out);
  x.massInverse(0);
  r.massInverse = x.fromMujoco(x.Minv, n);
  return true;
}

}  // namespace zorvik_bench
