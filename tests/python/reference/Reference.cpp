// zorvik_python_reference: the C++ side of the Python module's tests. It runs the library's own
// calls on inputs the test writes, and prints every result in hexadecimal floating point (%a),
// one line per result: "<name> <values in C order>". The test runs the same calls through the
// module and compares the bits.
//
//   zorvik_python_reference robot <urdf> <input> [floating] [ik <link>] [lock <joint> <q>]...
//       input: "gravity g0 g1 g2", then one line per state: q qdot qddot x (n values each) and,
//       for a floating base, the base pose (16, C order), twist (6) and acceleration (6)
//   zorvik_python_reference lie <input>
//       one line per case: w u (3) lam lamdot (6) R (9) T (16) V F (6)
//   zorvik_python_reference controllers <input>
//       one line per step: R w Rd wd wdotd n nd, then T V Td Vd Vdotd F Fd
#include <Controller/HTransformController>
#include <Controller/RotationController>
#include <Vexo/DynamicAnalysisXD>
#include <Vexo/MomentumObserverXD>
#include <ZorvikURDF/RobotLoader>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "RobotModelImpl.h"

namespace {

using namespace ZorvikFoundation;
using LieGroup::HTransform;
using LieGroup::Rotation;
using LieGroup::Twist;
using LieGroup::Vector3D;
using LieGroup::Wrench;

template <typename Derived>
void put(const char* label, const Eigen::MatrixBase<Derived>& m) {
  std::printf("%s", label);
  for (Eigen::Index i = 0; i < m.rows(); ++i)
    for (Eigen::Index j = 0; j < m.cols(); ++j) std::printf(" %a", m(i, j));
  std::printf("\n");
}
void put(const char* label, double x) { std::printf("%s %a\n", label, x); }

// Reads the numbers of one line in order.
struct Line {
  std::vector<double> v;
  std::size_t i = 0;
  template <typename Type>
  Type next() {
    Type m;
    for (Eigen::Index r = 0; r < m.rows(); ++r)
      for (Eigen::Index c = 0; c < m.cols(); ++c) m(r, c) = v.at(i++);
    return m;
  }
  // n numbers into the head of a vector of Vec's size, zeros after them.
  template <typename Vec>
  Vec padded(int n) {
    Vec x = Vec::Zero();
    for (int r = 0; r < n; ++r) x(r) = v.at(i++);
    return x;
  }
};

std::vector<Line> readLines(const char* path) {
  std::ifstream in(path);
  std::vector<Line> lines;
  std::string text, word;
  while (std::getline(in, text)) {
    std::istringstream s(text);
    Line l;
    while (s >> word) {
      if (word == "gravity" || word == "state") continue;
      l.v.push_back(std::strtod(word.c_str(), nullptr));
    }
    if (!l.v.empty()) lines.push_back(l);
  }
  return lines;
}

const char* const kConventions[] = {"body", "world_aligned", "spatial"};

// The robot is held as the module holds it: by the smallest of the libraries' sizes that fits,
// padded when larger (URDF::withPaddedRobot; its own block of every result is printed).
template <int N>
void robotResults(URDF::Robot<N>& robot, const std::vector<Line>& lines, bool floating,
                  const std::string& ikLink) {
  const int n = robot.coordinates();
  typedef typename URDF::Robot<N>::JointVec JointVec;
  typedef typename VexoSDK::VexoBaseXD<N>::JointMat JointMat;
  typedef typename URDF::Robot<N>::JointJac JointJac;
  Line first = lines.at(0);
  const Vector3D g = first.next<Eigen::Vector3d>();
  VexoSDK::MomentumObserverXD<N> observer;
  observer.setPeriod(1e-3);
  observer.setGain(JointVec::Constant(50.0));  // the padding's gain changes nothing
  for (std::size_t s = 1; s < lines.size(); ++s) {
    Line l = lines[s];
    const JointVec q = l.padded<JointVec>(n), qdot = l.padded<JointVec>(n),
                   qddot = l.padded<JointVec>(n), x = l.padded<JointVec>(n);
    Twist baseAcc;
    if (floating) {
      robot.joint(0).Tadj() = l.next<Eigen::Matrix4d>();
      robot.joint(0).Vadj() = l.next<LieGroup::Vector6d>();
      baseAcc = l.next<LieGroup::Vector6d>();
    }
    robot.q() = q;
    robot.qdot() = qdot;
    robot.update(true);
    for (int k = 0; k <= n; ++k) put("T_pos", robot.T(k));
    robot.update(false);
    robot.updateJacobian(true);
    for (int k = 0; k <= n; ++k) put("J_pos", robot.J(k).leftCols(n));
    robot.updateJacobian(false);
    robot.qddot() = qddot;
    for (int k = 0; k <= n; ++k) {
      put("T", robot.T(k));
      put("V", robot.V(k));
      put("J", robot.J(k).leftCols(n));
      put("Jdot", robot.Jdot(k).leftCols(n));
      put("Vdot", robot.Vdot(k));
    }
    for (int f = 0; f < static_cast<int>(robot.description().frames().size()); ++f) {
      put("frame_pose", robot.framePose(f));
      put("frame_twist", robot.frameTwist(f));
      put("frame_acceleration", robot.frameAcceleration(f));
      for (int c = 0; c < 3; ++c) {
        JointJac J;
        robot.frameJacobian(f, static_cast<VexoSDK::JacobianFrame>(c), J);
        put((std::string("frame_jacobian_") + kConventions[c]).c_str(), J.leftCols(n));
        robot.frameJacobianDot(f, static_cast<VexoSDK::JacobianFrame>(c), J);
        put((std::string("frame_jacobian_dot_") + kConventions[c]).c_str(), J.leftCols(n));
      }
    }
    if (floating) {
      robot.idyn(robot.V(0), baseAcc, qdot, qddot, g);
      put("idyn", robot.tau().head(n));
      robot.idyn_passive(robot.V(0), baseAcc, x, qddot, g);
      put("idyn_passive", robot.tau().head(n));
      robot.idyn_momentum(baseAcc, qddot);
      put("idyn_momentum", robot.tau().head(n));
      robot.fdyn(robot.V(0), robot.Vdot(), x, g);
      put("fdyn", robot.qddot().head(n));
      put("base_acc", robot.Vdot());
      continue;
    }
    robot.idyn(qdot, qddot, g);
    put("idyn", robot.tau().head(n));
    robot.idyn(qdot, qddot);
    put("idyn_no_gravity", robot.tau().head(n));
    robot.idyn_passive(x, qddot, g);
    put("idyn_passive", robot.tau().head(n));
    robot.idyn_gravity(g);
    put("idyn_gravity", robot.tau().head(n));
    robot.idyn_momentum(qddot);
    put("idyn_momentum", robot.tau().head(n));
    robot.fdyn(x, g);
    put("fdyn", robot.qddot().head(n));
    robot.fdyn(x);
    put("fdyn_no_gravity", robot.qddot().head(n));
    JointMat M, C, Minv;
    JointVec G;
    VexoSDK::DynamicAnalysisXD<N>::JointDynamics(robot, M, C, G, g);
    put("M", M.topLeftCorner(n, n));
    put("C", C.topLeftCorner(n, n));
    put("G", G.head(n));
    VexoSDK::DynamicAnalysisXD<N>::MassInverse(robot, Minv);
    put("Minv", Minv.topLeftCorner(n, n));
    if constexpr (zorvik_python::detail::HasDerivatives<N>::value) {
      JointMat A, B, D;
      VexoSDK::DynamicAnalysisXD<N>::IdynDerivatives(robot, qddot, g, A, B);
      put("dtau_dq", A.topLeftCorner(n, n));
      put("dtau_dqdot", B.topLeftCorner(n, n));
      VexoSDK::DynamicAnalysisXD<N>::FdynDerivatives(robot, x, g, A, B, D);
      put("dqddot_dq", A.topLeftCorner(n, n));
      put("dqddot_dqdot", B.topLeftCorner(n, n));
      put("fd_Minv", D.topLeftCorner(n, n));
    }
    robot.tau() = x;
    JointVec r;
    observer.estimate(robot, r, g);
    put("observer", r.head(n));
    if (!ikLink.empty()) {
      // The target is the link's pose at this state; the seed is the state moved by 0.2 rad.
      const int f = robot.frameIndex(ikLink);
      const HTransform target = robot.framePose(f);
      VexoSDK::InverseKinematicsXD<N> ik = robot.inverseKinematics();
      JointVec seed = q;
      seed.head(n).array() += 0.2;
      JointVec out;
      const VexoSDK::IKResult res = ik.solve(robot, robot.frameBody(f), robot.frameOffset(f),
                                             target, seed, out);
      put("ik_q", out.head(n));
      put("ik_converged", res.converged ? 1.0 : 0.0);
      put("ik_iterations", static_cast<double>(res.iterations));
      // 2 m off in every axis, out of reach: every start runs, so the iterations count what the
      // defaults allow.
      HTransform far = target;
      far.r() += Eigen::Vector3d(2, 2, 2);
      const VexoSDK::IKResult resFar =
          ik.solve(robot, robot.frameBody(f), robot.frameOffset(f), far, seed, out);
      put("ik_far_q", out.head(n));
      put("ik_far_iterations", static_cast<double>(resFar.iterations));
    }
  }
}

void lieResults(const std::vector<Line>& lines) {
  for (Line l : lines) {
    const Vector3D w = l.next<Eigen::Vector3d>(), u = l.next<Eigen::Vector3d>();
    const Twist lam = l.next<LieGroup::Vector6d>(), lamdot = l.next<LieGroup::Vector6d>();
    const Rotation R = l.next<Eigen::Matrix3d>();
    const HTransform T = l.next<Eigen::Matrix4d>();
    const Twist V = l.next<LieGroup::Vector6d>();
    const Wrench F = l.next<LieGroup::Vector6d>();
    double alpha, beta, theta_sqr;
    put("so3.hat", w.ceil());
    put("so3.exp", w.exp());
    put("so3.log", R.expCoord());
    put("so3.dexp", w.dexp());
    put("so3.dexp_inv", w.dexp_inv());
    w.compute_terms(&alpha, &beta, &theta_sqr);
    put("so3.ddt_dexp", w.ddt_dexp(alpha, beta, theta_sqr, w.dot(u), u));
    put("so3.ddt_dexp_inv", w.ddt_dexp_inv(alpha, beta, theta_sqr, w.dot(u), u));
    put("se3.exp", lam.exp());
    put("se3.log", T.expCoord());
    put("se3.dexp", lam.dexp());
    put("se3.dexp_inv", lam.dexp_inv());
    lam.compute_terms(&alpha, &beta, &theta_sqr);
    const Eigen::Vector3d xi = lam.w(), eta = lam.v(), xidot = lamdot.w(), etadot = lamdot.v();
    put("se3.ddt_dexp", lam.ddt_dexp(alpha, beta, theta_sqr, xi.dot(eta), xi.dot(xidot),
                                     xi.dot(etadot), xidot.dot(eta), lamdot));
    put("se3.inverse", T.inverse());
    put("se3.transform_twist", T.transform(V));
    put("se3.itransform_twist", T.itransform(V));
    put("se3.transform_wrench", T.transform(F));
    put("se3.itransform_wrench", T.itransform(F));
  }
}

// Both controllers with the gains the test sets: kp 25, kv 10, ki 1, inv_l2sqr 2, kf 0.5, kfi 0.1,
// period 1e-3, each with the passivity switch off and on, over the same steps.
template <typename Ctrl, int Offset>
void controllerResults(const char* name, const std::vector<Line>& lines) {
  typedef typename Ctrl::PosType Pos;
  typedef typename Ctrl::VelType Vel;
  typedef typename Ctrl::ForceType Force;
  typedef typename Ctrl::TaskVec TaskVec;
  typedef Eigen::Matrix<double, Pos::RowsAtCompileTime, Pos::ColsAtCompileTime> PosM;
  typedef Eigen::Matrix<double, Vel::RowsAtCompileTime, 1> VelM;
  for (int passive = 0; passive < 2; ++passive) {
    Ctrl c;
    c.setPeriod(1e-3);
    c.setPosGain(25.0);
    c.setVelGain(10.0);
    c.setIntGain(1.0);
    c.setInvL2sqr(2.0);
    c.setForceGain(0.5);
    c.setForceIntGain(0.1);
    c.setPassivityBased(passive == 1);
    for (Line l : lines) {
      l.i = Offset;
      const Pos x = l.next<PosM>();
      const Vel v = l.next<VelM>();
      const Pos xd = l.next<PosM>();
      const Vel vd = l.next<VelM>(), ad = l.next<VelM>();
      const Force f = l.next<VelM>(), fd = l.next<VelM>();
      TaskVec a, b, e, edot, ef;
      Force fref;
      const std::string p = std::string(name) + (passive ? ".passive." : ".plain.");
      c.error(x, xd, e);
      put((p + "error").c_str(), e);
      c.error(x, v, xd, vd, e, edot);
      put((p + "error_rate").c_str(), edot);
      c.refVelocity(x, xd, vd, a, e);
      put((p + "ref_velocity").c_str(), a);
      c.refAcceleration(x, v, xd, vd, ad, a, b, e, edot);
      put((p + "ref_acceleration").c_str(), b);
      c.refImpedanceAcceleration(x, v, xd, vd, ad, f, fd, a, b, e, edot, ef);
      put((p + "ref_impedance_velocity").c_str(), a);
      put((p + "ref_impedance_acceleration").c_str(), b);
      put((p + "force_error").c_str(), ef);
      c.refComplianceForce(x, v, xd, vd, ad, f, fd, fref, e, edot, ef);
      put((p + "ref_compliance_force").c_str(), fref);
      put((p + "ref_force").c_str(), c.refForce());
      put((p + "int_error").c_str(), c.int_error());
      put((p + "int_ef").c_str(), c.int_ef());
      put((p + "stiffness").c_str(), c.stiffness());
      put((p + "damping").c_str(), c.damping());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: zorvik_python_reference robot|lie|controllers ...\n");
    return 2;
  }
  const std::string mode = argv[1];
  if (mode == "lie") {
    lieResults(readLines(argv[2]));
    return 0;
  }
  if (mode == "controllers") {
    const std::vector<Line> lines = readLines(argv[2]);
    controllerResults<RotationController, 0>("rotation", lines);
    controllerResults<HTransformController, 33>("htransform", lines);
    return 0;
  }
  URDF::LoadOptions options;
  bool floating = false;
  std::string ikLink;
  for (int a = 4; a < argc; ++a) {
    const std::string opt = argv[a];
    if (opt == "floating") floating = options.floatingBase = true;
    if (opt == "ik" && a + 1 < argc) ikLink = argv[++a];
    if (opt == "lock" && a + 2 < argc) {
      options.lockedJoints[argv[a + 1]] = std::strtod(argv[a + 2], nullptr);
      a += 2;
    }
  }
  const URDF::RobotDescription description = URDF::RobotDescription::fromFile(argv[2], options);
  const std::vector<Line> lines = readLines(argv[3]);
  URDF::withPaddedRobot(description,
                        [&](auto& robot) { robotResults(robot, lines, floating, ikLink); });
  return 0;
}
