// zorvik_result_dump: prints, in hexadecimal floating point (%a), every result of the recursions,
// the dynamics matrices, the observer and both controllers on the bundled robots and on random
// models with every joint class, for fixed pseudo-random states. Two builds of the library that
// must compute the same numbers (a refactoring, a change of build flags) print the same text;
// `diff` of the two outputs shows any bit that moved.
//
//   zorvik_result_dump [robot directory] > dump.txt
#include <Controller/HTransformController>
#include <Controller/RotationController>
#include <Vexo/DynamicAnalysisXD>
#include <Vexo/MomentumObserverXD>
#include <ZorvikURDF/RobotLoader>

#include <cstdio>
#include <random>
#include <string>

#include "support/DynamicsRobots.h"

namespace {

using namespace zorvik_test;

void put(const char* label, double x) { std::printf("%s %a\n", label, x); }

template <typename Derived>
void put(const char* label, const Eigen::MatrixBase<Derived>& m) {
  std::printf("%s", label);
  for (Eigen::Index j = 0; j < m.cols(); ++j)
    for (Eigen::Index i = 0; i < m.rows(); ++i) std::printf(" %a", m(i, j));
  std::printf("\n");
}

template <int N>
typename VexoBaseXD<N>::JointVec randomVec(std::mt19937& rng, double range = 1.0) {
  std::uniform_real_distribution<double> u(-range, range);
  typename VexoBaseXD<N>::JointVec v;
  for (int i = 0; i < N; ++i) v(i) = u(rng);
  return v;
}

Twist randomTwist(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  return Twist(u(rng), u(rng), u(rng), u(rng), u(rng), u(rng));
}

// Kinematics, Jacobians and the fixed-base idyn family at one state.
template <int N>
void dumpModel(VexoBaseXD<N>& m, std::mt19937& rng) {
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  const Vector3D g(0.3, -0.7, -9.81);
  m.q() = randomVec<N>(rng);
  m.qdot() = randomVec<N>(rng);
  m.update(true);
  for (int k = 0; k <= N; ++k) put("T_pos", m.T(k));
  m.update(false);
  for (int k = 0; k <= N; ++k) {
    put("T", m.T(k));
    put("V", m.V(k));
  }
  m.updateJacobian(true);
  for (int k = 0; k <= N; ++k) put("J_pos", m.J(k));
  m.updateJacobian(false);
  m.qddot() = randomVec<N>(rng);
  for (int k = 0; k <= N; ++k) {
    put("J", m.J(k));
    put("Jdot", m.Jdot(k));
    put("Vdot", m.Vdot(k));
  }
  const JointVec qddot = randomVec<N>(rng), qr = randomVec<N>(rng), qrr = randomVec<N>(rng);
  m.idyn(m.qdot(), qddot, g);
  put("idyn_g", m.tau());
  m.idyn(m.qdot(), qddot);
  put("idyn", m.tau());
  m.idyn_passive(qr, qrr, g);
  put("idyn_passive_g", m.tau());
  m.idyn_passive(qr, qrr);
  put("idyn_passive", m.tau());
  m.idyn_gravity(g);
  put("idyn_gravity", m.tau());
  m.idyn_momentum(qddot);
  put("idyn_momentum", m.tau());

  JointMat M, C, C2;
  JointVec G;
  DynamicAnalysisXD<N>::JointDynamics(m, M, C, G, g);
  put("M", M);
  put("C", C);
  put("G", G);
  DynamicAnalysisXD<N>::CoriolisMatrix(m, C2);
  put("C_alone", C2);
}

// The floating-base overloads on a twin of the model with a FloatingJoint at its base.
template <int N>
void dumpFloating(VexoBaseXD<N>& source, std::mt19937& rng) {
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  FloatingBaseTwin<N> twin(source);
  VexoBaseXD<N>& m = twin.model();
  twin.baseJoint().Tadj() = randomPose(rng);
  twin.baseJoint().Vadj() = randomTwist(rng);
  m.q() = randomVec<N>(rng);
  m.qdot() = randomVec<N>(rng);
  m.update(false);
  const Vector3D g(0.3, -0.7, -9.81);
  const Twist V = randomTwist(rng), Vdot = randomTwist(rng);
  const JointVec qddot = randomVec<N>(rng), qr = randomVec<N>(rng), qrr = randomVec<N>(rng);
  m.idyn(V, Vdot, m.qdot(), qddot, g);
  put("f_idyn_g", m.tau());
  m.idyn(V, Vdot, m.qdot(), qddot);
  put("f_idyn", m.tau());
  m.idyn_passive(V, Vdot, qr, qrr, g);
  put("f_idyn_passive_g", m.tau());
  m.idyn_passive(V, Vdot, qr, qrr);
  put("f_idyn_passive", m.tau());
  m.idyn_momentum(Vdot, qddot);
  put("f_idyn_momentum", m.tau());
}

template <int N>
void dumpObserver(VexoBaseXD<N>& m, std::mt19937& rng) {
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  MomentumObserverXD<N> with, without;
  for (MomentumObserverXD<N>* o : {&with, &without}) {
    o->setPeriod(1e-3);
    o->setGain(JointVec::Constant(40.0) + randomVec<N>(rng, 5.0));
  }
  const Vector3D g(0.3, -0.7, -9.81);
  JointVec r;
  for (int step = 0; step < 20; ++step) {
    m.q() = randomVec<N>(rng);
    m.qdot() = randomVec<N>(rng);
    m.update(false);
    m.tau() = randomVec<N>(rng, 10.0);
    with.estimate(m, r, g);
    put("observer_g", r);
    without.estimate(m, r);
    put("observer", r);
  }
}

template <int N>
void dumpAll(const char* name, VexoBaseXD<N>& m, std::mt19937& rng) {
  std::printf("== %s\n", name);
  for (int s = 0; s < 3; ++s) dumpModel<N>(m, rng);
  // An external wrench on the tip.
  std::uniform_real_distribution<double> u(-1, 1);
  m.body(N).setExtWrench(Wrench(u(rng), u(rng), u(rng), u(rng), u(rng), u(rng)));
  dumpModel<N>(m, rng);
  dumpFloating<N>(m, rng);
  m.body(N).clearExtWrench();
  dumpObserver<N>(m, rng);
}

template <typename Ctrl, typename Pos, typename Vel, typename Force>
void dumpController(const char* name, std::mt19937& rng, Pos (*pose)(std::mt19937&),
                    Vel (*vel)(std::mt19937&), Force (*force)(std::mt19937&)) {
  for (int passive = 0; passive < 2; ++passive) {
    std::printf("== %s passive=%d\n", name, passive);
    Ctrl c;
    c.setPeriod(1e-3);
    typename Ctrl::TaskVec k;
    for (int i = 0; i < Ctrl::DIM; ++i) k(i) = 10 + i;
    c.setPosGain(k * 2.5);
    c.setVelGain(k);
    c.setIntGain(1.0);
    c.setInvL2sqr(k * 0.2);
    c.setForceGain(k * 0.05);
    c.setPassivityBased(passive == 1);
    typename Ctrl::TaskVec o[13];
    for (auto& y : o) y.setZero();
    for (int step = 0; step < 10; ++step) {
      const Pos x = pose(rng), xd = pose(rng);
      const Vel v = vel(rng), vd = vel(rng), ad = vel(rng);
      const Force f = force(rng), fd = force(rng);
      c.error(x, xd, o[0]);
      c.error(x, v, xd, vd, o[1], o[2]);
      c.refVelocity(x, xd, vd, o[3]);
      c.refVelocity(x, xd, vd, o[4], o[5]);
      c.refAcceleration(x, v, xd, vd, ad, o[6], o[7]);
      c.refAcceleration(x, v, xd, vd, ad, o[8], o[9], o[10], o[11]);
      for (const auto& y : o) put("out", y);
      c.refImpedanceAcceleration(x, v, xd, vd, ad, f, fd, o[0], o[1]);
      c.refImpedanceAcceleration(x, v, xd, vd, ad, f, fd, o[2], o[3], o[4], o[5], o[6]);
      Force fref;
      c.refComplianceForce(x, v, xd, vd, ad, f, fd, fref);
      put("fref", fref);
      c.refComplianceForce(x, v, xd, vd, ad, f, fd, fref, o[7], o[8], o[9]);
      put("fref", fref);
      for (const auto& y : o) put("out", y);
      put("ref", c.refForce());
      put("int_error", c.int_error());
      put("int_ef", c.int_ef());
      put("stiffness", c.stiffness());
      put("damping", c.damping());
    }
  }
}

Rotation randomRotation(std::mt19937& rng) { return randomPose(rng).R(); }
Vector3D random3(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1, 1);
  return Vector3D(u(rng), u(rng), u(rng));
}
HTransform randomTransform(std::mt19937& rng) { return randomPose(rng, 1.0); }
Wrench randomWrench(std::mt19937& rng) { return Wrench(randomTwist(rng)); }

template <int N>
void dumpUrdf(const std::string& dir, const char* file) {
  std::mt19937 rng(1234 + N);
  auto robot = ZorvikFoundation::URDF::loadRobot<N>(dir + "/" + file);
  dumpAll<N>(file, robot, rng);
}

template <int N>
void dumpMixed(unsigned seed) {
  for (bool tree : {false, true}) {
    MixedJointRobot<N> r(seed, tree);
    std::mt19937 rng(seed);
    dumpAll<N>(tree ? "mixed tree" : "mixed chain", r.model(), rng);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : ZORVIK_TEST_DATA_DIR "/robots";
  dumpUrdf<6>(dir, "ur5_robot.urdf");
  dumpUrdf<7>(dir, "panda_arm.urdf");
  dumpUrdf<14>(dir, "baxter_arms.urdf");
  dumpUrdf<16>(dir, "allegro_right_hand.urdf");
  dumpMixed<6>(61);
  dumpMixed<7>(71);
  dumpMixed<14>(141);
  dumpMixed<16>(161);
  std::mt19937 rng(99);
  dumpController<RotationController, Rotation, Vector3D, Vector3D>(
      "RotationController", rng, randomRotation, random3, random3);
  dumpController<HTransformController, HTransform, Twist, Wrench>(
      "HTransformController", rng, randomTransform, randomTwist, randomWrench);
  return 0;
}
