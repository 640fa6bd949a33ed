// Models of sizes the library is not built for, instantiated here from the headers alone: a
// pendulum (N = 1) and a planar two-link arm (N = 2) against their closed forms, and a 64-joint
// chain that runs every operation without allocating.
//
// Closed forms. Joints turn about the base's z axis (the first at the origin, the second at
// distance l1 along link 1's x axis); link i has mass m_i, its centre of mass at distance c_i along
// its own x axis and moment I_i about the z axis through it; gravity is (0, -g, 0). Then, with
// s2 = sin q2, and the angles measured from the x axis:
//   M11 = I1 + m1 c1^2 + I2 + m2 (l1^2 + c2^2 + 2 l1 c2 cos q2),   M12 = I2 + m2 (c2^2 + l1 c2 cos q2),
//   M22 = I2 + m2 c2^2,
//   C = [[h qdot2, h (qdot1 + qdot2)], [-h qdot1, 0]],  h = -m2 l1 c2 s2,
//   g = [(m1 c1 + m2 l1) g cos q1 + m2 c2 g cos(q1 + q2), m2 c2 g cos(q1 + q2)].
// For two coordinates C is the only factorisation of the velocity torques with dM/dt - 2 C
// skew-symmetric (a 2 x 2 skew matrix K with K qdot = 0 for every qdot is zero), so the library's
// C must be this one. The pendulum is link 1 alone.
#include <Vexo/DynamicAnalysisXD>
#include <Vexo/MomentumObserverXD>

#include <memory>
#include <random>
#include <vector>

#include "support/AllocationCounter.h"
#include "support/MatrixNear.h"
#include "support/RandomRobot.h"

namespace zorvik_test::any_size_test {

constexpr double kG = 9.81;
constexpr double kTol = 1e-12;

struct Link {
  double m, c, I, l;
};

// Planar links on revolute joints about z; the product-of-inertia terms and the x and y moments
// are there to show that only the z moment matters for motion in the plane.
template <int N>
struct PlanarArm {
  VexoBaseXD<N> model;
  RigidJoint base;
  std::vector<std::unique_ptr<Body>> bodies;
  std::vector<std::unique_ptr<RevoluteJoint>> joints;

  explicit PlanarArm(const Link (&links)[N]) {
    model.addJoint(0, base);
    bodies.emplace_back(new Body());
    model.addBody(0, *bodies.back());
    for (int k = 1; k <= N; ++k) {
      const Link& L = links[k - 1];
      bodies.emplace_back(new Body());
      bodies.back()->setInertia(Inertia(L.m, L.c, 0, 0, 0.07, 0.05, L.I, 0.001, 0.002, 0.003));
      model.addBody(k, *bodies.back());
      const double offset = k == 1 ? 0.0 : links[k - 2].l;
      joints.emplace_back(
          new RevoluteJoint(HTransform(Eigen::Matrix3d::Identity(), Eigen::Vector3d(offset, 0, 0)),
                            Vector3D(0, 0, 1)));
      model.connect(k - 1, k, *joints.back());
    }
  }
};

const Vector3D kGravity(0, -kG, 0);

TEST(AnySize, PendulumMatchesItsClosedForm) {
  const Link links[1] = {{1.3, 0.4, 0.05, 0.0}};
  PlanarArm<1> arm(links);
  VexoBaseXD<1>& m = arm.model;
  const double inertia = links[0].I + links[0].m * links[0].c * links[0].c;
  std::mt19937 rng(1);
  for (int s = 0; s < 5; ++s) {
    randomState<1>(m, rng, 3.0);
    const double q = m.q()(0), qddot = uniform(rng, -4, 4);
    const double gravity = links[0].m * links[0].c * kG * std::cos(q);
    VexoBaseXD<1>::JointVec a;
    a << qddot;
    m.idyn(m.qdot(), a, kGravity);
    EXPECT_NEAR(m.tau()(0), inertia * qddot + gravity, kTol);
    VexoBaseXD<1>::JointMat M, C, Minv;
    VexoBaseXD<1>::JointVec G;
    DynamicAnalysisXD<1>::JointDynamics(m, M, C, G, kGravity);
    EXPECT_NEAR(M(0, 0), inertia, kTol);
    EXPECT_NEAR(C(0, 0), 0.0, kTol);
    EXPECT_NEAR(G(0), gravity, kTol);
    DynamicAnalysisXD<1>::MassInverse(m, Minv);
    EXPECT_NEAR(Minv(0, 0), 1 / inertia, kTol);
    const VexoBaseXD<1>::JointVec tau = m.tau();
    m.fdyn(tau, kGravity);
    EXPECT_NEAR(m.qddot()(0), qddot, kTol);
  }
}

TEST(AnySize, PlanarTwoLinkArmMatchesItsClosedForm) {
  const Link links[2] = {{2.1, 0.35, 0.08, 0.7}, {1.4, 0.3, 0.04, 0.6}};
  PlanarArm<2> arm(links);
  VexoBaseXD<2>& m = arm.model;
  const Link &a = links[0], &b = links[1];
  std::mt19937 rng(2);
  for (int s = 0; s < 5; ++s) {
    randomState<2>(m, rng, 3.0);
    const double q1 = m.q()(0), q2 = m.q()(1), qd1 = m.qdot()(0), qd2 = m.qdot()(1);
    Eigen::Matrix2d M, C;
    M(0, 0) = a.I + a.m * a.c * a.c + b.I + b.m * (a.l * a.l + b.c * b.c + 2 * a.l * b.c * std::cos(q2));
    M(0, 1) = M(1, 0) = b.I + b.m * (b.c * b.c + a.l * b.c * std::cos(q2));
    M(1, 1) = b.I + b.m * b.c * b.c;
    const double h = -b.m * a.l * b.c * std::sin(q2);
    C << h * qd2, h * (qd1 + qd2), -h * qd1, 0;
    const Eigen::Vector2d G((a.m * a.c + b.m * a.l) * kG * std::cos(q1) + b.m * b.c * kG * std::cos(q1 + q2),
                            b.m * b.c * kG * std::cos(q1 + q2));
    VexoBaseXD<2>::JointMat Mm, Cm, Minv;
    VexoBaseXD<2>::JointVec Gm;
    DynamicAnalysisXD<2>::JointDynamics(m, Mm, Cm, Gm, kGravity);
    EXPECT_MATRIX_NEAR(Mm, M, kTol);
    EXPECT_MATRIX_NEAR(Cm, C, kTol);
    EXPECT_MATRIX_NEAR(Gm, G, kTol);
    DynamicAnalysisXD<2>::MassInverse(m, Minv);
    EXPECT_MATRIX_NEAR(Minv, M.inverse(), 1e-11);
    const Eigen::Vector2d qddot = randomMatrix<2>(rng, 3.0);
    m.idyn(m.qdot(), qddot, kGravity);
    EXPECT_MATRIX_NEAR(m.tau(), M * qddot + C * m.qdot() + G, 1e-11);
  }
}

// Every operation of a 64-joint chain of revolute and prismatic joints, without allocating. The
// model is on the heap: its Jacobians alone take 2 x 65 x 6 x 64 doubles (400 KB).
TEST(AnySize, SixtyFourJointsRunWithoutAllocating) {
  constexpr int N = 64;
  typedef VexoBaseXD<N>::JointVec JointVec;
  typedef VexoBaseXD<N>::JointMat JointMat;
  RandomRobot<N> r(64);
  VexoBaseXD<N>& m = r.model();
  randomState<N>(m, r.rng());
  const JointVec a = randomMatrix<N>(r.rng()), b = randomMatrix<N>(r.rng());
  std::unique_ptr<JointMat> M(new JointMat), C(new JointMat), Minv(new JointMat);
  JointVec G, residual;
  MomentumObserverXD<N> observer;
  observer.setPeriod(1e-3);
  observer.setGain(JointVec::Constant(50.0));
  EXPECT_NO_ALLOCATION(m.update(false));
  EXPECT_NO_ALLOCATION(m.updateVelocity());
  EXPECT_NO_ALLOCATION(m.updateJacobian(false));
  EXPECT_NO_ALLOCATION(m.idyn(a, b, kGravity));
  EXPECT_NO_ALLOCATION(m.idyn_passive(a, b, kGravity));
  EXPECT_NO_ALLOCATION(m.idyn_gravity(kGravity));
  EXPECT_NO_ALLOCATION(m.idyn_momentum(a));
  EXPECT_NO_ALLOCATION(m.fdyn(a, kGravity));
  EXPECT_NO_ALLOCATION(DynamicAnalysisXD<N>::JointDynamics(m, *M, *C, G, kGravity));
  EXPECT_NO_ALLOCATION(DynamicAnalysisXD<N>::MassInverse(m, *Minv));
  EXPECT_NO_ALLOCATION(observer.estimate(m, residual, kGravity));
  // And the results are those of a working model: the inverse of M, and fdyn inverting idyn.
  EXPECT_MATRIX_NEAR(*Minv * *M, JointMat::Identity(), 1e-9);
  m.idyn(m.qdot(), b, kGravity);
  m.fdyn(JointVec(m.tau()), kGravity);
  EXPECT_MATRIX_CLOSE(m.qddot(), b, 1e-9);
}

}  // namespace zorvik_test::any_size_test
