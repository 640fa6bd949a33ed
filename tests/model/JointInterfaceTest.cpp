// The joint interface apart from the motion contract and the binary layout (tests/abi): how joint
// kinds are numbered, which destructor is virtual, the initial state of every joint, the
// client-maintained floating base joint, re-parameterising joints, and the services of JointBase,
// JointLimit and the friction hook.
#include <AMBS/Joint>

#include <type_traits>

#include "JointReference.h"
#include "support/ClientJoint.h"
#include "support/RandomRobot.h"

namespace zorvik_test::joint_interface_test {

using LieGroup::Displacement;

static_assert(sizeof(JOINTTYPE) == 4, "JOINTTYPE is a 32-bit enumeration");
static_assert(CUSTOM == 0 && FLOATING == 1 && RIGID == 2 && FREE == 3 && REVOLUTE == 4 &&
                  PRISMATIC == 5 && CYLINDRICAL == 6 && SPHERICAL == 7 && MDH_REVOLUTE == 8 &&
                  MDH_PRISMATIC == 9 && NUM_SUPPORTED_JOINTS == 10,
              "joint kinds are numbered as clients store them");
// Joints are destroyed through their concrete type: Joint's destructor is public and not
// virtual, JointBase's is virtual.
static_assert(std::is_destructible<Joint>::value, "Joint has a public destructor");
static_assert(!std::has_virtual_destructor<Joint>::value, "Joint's destructor is not virtual");
static_assert(std::has_virtual_destructor<JointBase<RevoluteJoint>>::value,
              "JointBase's destructor is virtual");
static_assert(std::has_virtual_destructor<FreeJoint>::value, "concrete joints inherit it");

struct SphericalProbe : SphericalJoint {
  double thetaSqr() const { return _theta_sqr; }
};
struct FreeProbe : FreeJoint {
  double thetaSqr() const { return _theta_sqr; }
};

TEST(JointState, MdhJointsKeepTheCosineAndSineOfTheLinkTwist) {
  struct Probe : MDHRevoluteJoint {
    Probe() : MDHRevoluteJoint(0.7, 0.1, 0.2, -0.3) {}
    double cal() const { return _cal; }
    double sal() const { return _sal; }
  } p;
  EXPECT_DOUBLE_EQ(p.cal(), std::cos(0.7));
  EXPECT_DOUBLE_EQ(p.sal(), std::sin(0.7));
  EXPECT_EQ(p.theta0(), -0.3);
}

TEST(JointState, BallAndFreeJointsKeepTheSquaredAngleOfTheirCoordinates) {
  SphericalProbe s;
  const double xi[3] = {0.3, -0.4, 1.2};
  s.update(xi);
  EXPECT_DOUBLE_EQ(s.thetaSqr(), 0.09 + 0.16 + 1.44);
  FreeProbe f;
  const double q[6] = {5, 6, 7, 0.3, -0.4, 1.2};
  f.update(q);
  EXPECT_DOUBLE_EQ(f.thetaSqr(), 0.09 + 0.16 + 1.44);
}

// Every default-constructed joint can be used before its first update: identity pose, at rest,
// no joint frame, no friction or transmission model, no spring, damper or limit.
template <typename J>
void expectFreshDefault(const J& j) {
  EXPECT_TRUE(j.Tadj().isIdentity(0));
  EXPECT_TRUE(j.Vadj().isZero(0));
  EXPECT_TRUE(j.Edot().isZero(0));
  EXPECT_TRUE(j.jointFrame().isIdentity(0));
  EXPECT_FALSE(j.hasOffset());
  EXPECT_FALSE(j.kinematic());
  EXPECT_EQ(j.friction(), nullptr);
  EXPECT_EQ(j.flexibleJoint(), nullptr);
  for (int i = 0; i < j.dof(); ++i) {
    EXPECT_EQ(j.stiffness()[i], 0);
    EXPECT_EQ(j.damping()[i], 0);
    EXPECT_EQ(j.neutralPos()[i], 0);
    double q = -1e300;
    EXPECT_EQ(j.limit().isPosLimited(i, q), 0);
    EXPECT_EQ(j.limit().isActLimited(i, 1e300), 0);
  }
}

TEST(JointState, DefaultConstructedJointsStartAtIdentityAndRest) {
  expectFreshDefault(FloatingJoint());
  expectFreshDefault(RigidJoint());
  expectFreshDefault(RevoluteJoint());
  expectFreshDefault(PrismaticJoint());
  expectFreshDefault(SphericalJoint());
  expectFreshDefault(FreeJoint());
  expectFreshDefault(ClientJoint());
  EXPECT_TRUE(ClientJoint().E().isZero(0));
  EXPECT_TRUE(RigidJoint().E().isZero(0));
}

TEST(FloatingBaseJoint, KeepsThePoseAndTwistTheClientWrites) {
  std::mt19937 rng(7);
  FloatingJoint j;
  const HTransform T(randomPose(rng));
  const Twist V(randomMatrix<6>(rng));
  j.Tadj() = T;
  j.Vadj() = V;
  const double q[6] = {1, 2, 3, 4, 5, 6};
  j.update(q);
  j.update(q, q);
  j.updateVelocity(q, q);
  EXPECT_TRUE(j.Tadj() == T);
  EXPECT_TRUE(j.Vadj() == V);
  EXPECT_EQ(j.type(), FLOATING);
  EXPECT_EQ(j.dof(), 0);
}

TEST(JointFrames, RigidJointPlacesTheChildWhereItIsSet) {
  std::mt19937 rng(8);
  const Mat4 T = randomPose(rng);
  const Rotation R(Mat3(T.topLeftCorner<3, 3>()));
  const Displacement p(Vec3(T.topRightCorner<3, 1>()));
  RigidJoint a, b;
  a.set(R, p);
  b.setOrigin(R, p);
  a.update(nullptr);
  b.update(nullptr, nullptr);
  EXPECT_MATRIX_CLOSE(a.Tadj(), T, 0);
  EXPECT_MATRIX_CLOSE(b.Tadj(), T, 0);
  EXPECT_TRUE(a.hasOffset());
}

TEST(JointFrames, ANewJointFrameMovesTheWholeMotion) {
  std::mt19937 rng(9);
  const Mat4 frame = randomPose(rng);
  const Vec3 axis(0.2, 0.9, -0.4);
  RevoluteJoint j(HTransform(Mat4::Identity()), Vector3D(axis));
  EXPECT_FALSE(j.hasOffset());
  j.setJointFrame(HTransform(frame));
  EXPECT_TRUE(j.hasOffset());
  const double q = 0.83;
  j.update(&q);
  EXPECT_MATRIX_CLOSE(j.Tadj(), revoluteReference(frame, axis).pose(&q), 1e-12);
  j.setJointFrame(HTransform());
  EXPECT_FALSE(j.hasOffset());
}

TEST(JointFrames, MdhJointsCanBeReparameterised) {
  MDHRevoluteJoint r(0.1, 0.2, 0.3, 0.4);
  r.set(-1.2, 0.35, -0.05, 0.9);
  EXPECT_EQ(r.theta0(), 0.9);
  MDHPrismaticJoint p(0.1, 0.2, 0.3, 0.4);
  p.set(0.8, -0.15, 1.3, 0.22);
  EXPECT_EQ(p.d0(), 0.22);
  for (double q : {0.0, 0.7, -2.1}) {
    r.update(&q);
    p.update(&q);
    EXPECT_MATRIX_CLOSE(r.Tadj(), mdhRevoluteReference(-1.2, 0.35, -0.05, 0.9).pose(&q), 1e-12);
    EXPECT_MATRIX_CLOSE(p.Tadj(), mdhPrismaticReference(0.8, -0.15, 1.3, 0.22).pose(&q), 1e-12);
  }
}

TEST(JointBaseServices, SpringDamperParametersReachTheVirtualAccessors) {
  CylindricalJoint j(0.0, 0.0);
  const Joint& base = j;
  j.setDamping(0.5);
  j.setStiffness(CylindricalJoint::JointVec(2.0, 3.0));
  j.setNeutralPos(0.1);
  j.setPeriod(0.001);
  EXPECT_EQ(base.damping()[0], 0.5);
  EXPECT_EQ(base.damping()[1], 0.5);
  EXPECT_EQ(base.stiffness()[0], 2.0);
  EXPECT_EQ(base.stiffness()[1], 3.0);
  EXPECT_EQ(base.neutralPos()[0], 0.1);
  EXPECT_EQ(base.neutralPos()[1], 0.1);
  EXPECT_EQ(j.period(), 0.001);
  // The spring pulls back towards the neutral position, the damper opposes the rate.
  const CylindricalJoint::JointVec q0(0.1, 0.1), dq(0.2, -0.4), v(1.5, -2.0);
  EXPECT_MATRIX_CLOSE(j.addedTorque(q0 + dq, CylindricalJoint::JointVec::Zero()),
                    CylindricalJoint::JointVec(-2.0 * 0.2, -3.0 * -0.4), 1e-15);
  EXPECT_MATRIX_CLOSE(j.addedTorque(q0, v), CylindricalJoint::JointVec(-0.5 * 1.5, -0.5 * -2.0),
                      1e-15);
  EXPECT_TRUE(j.addedInertia().isZero(0));
}

TEST(JointBaseServices, LimitsReportTheSideAndClampPositions) {
  JointLimit<2> lim;
  typedef JointLimit<2>::JointVec Vec;
  lim.setPosLimitLower(Vec(-1.0, -2.0));
  lim.setPosLimitUpper(0, 1.0);
  lim.setPosLimitUpper(1, 0.5);
  double q = -1.5;
  EXPECT_EQ(lim.isPosLimited(0, q), -1);
  EXPECT_EQ(q, -1.0);
  q = 0.7;
  EXPECT_EQ(lim.isPosLimited(1, q), 1);
  EXPECT_EQ(q, 0.5);
  q = 0.7;
  EXPECT_EQ(lim.isPosLimited(0, q), 0);
  EXPECT_EQ(q, 0.7);
  EXPECT_EQ(lim.isPosLimited(q), 0);  // the single-coordinate form reads coordinate 0
  // Would q + dt qdot leave the range?
  EXPECT_EQ(lim.isPosVelLimited(0, 0.9, 1.0, 0.2), 1);
  EXPECT_EQ(lim.isPosVelLimited(0, 0.9, 1.0, 0.05), 0);
  EXPECT_EQ(lim.isPosVelLimited(1, -1.9, -1.0, 0.2), -1);
  lim.setVelLimitLower(-2.0);
  lim.setVelLimitUpper(2.0);
  EXPECT_EQ(lim.isVelLimited(1, 2.5), 1);
  EXPECT_EQ(lim.isVelLimited(1, -2.5), -1);
  EXPECT_EQ(lim.isVelLimited(0, 1.5), 0);
  lim.setActLimitUpper(Vec(10.0, 20.0));
  EXPECT_EQ(lim.isActLimited(0, 15.0), 1);
  EXPECT_EQ(lim.isActLimited(1, 15.0), 0);
  EXPECT_EQ(lim.isActLimited(1, -1e300), 0);  // no lower actuation limit was set
}

class ViscousCoulombFriction : public JointFrictionAlgorithm {
 public:
  void frictionTorque(const double* q, const double* qdot, const double* tau,
                      double* friction) override {
    for (int i = 0; i < 2; ++i) friction[i] = -0.3 * qdot[i] - 0.01 * tau[i] + q[i];
  }
};

TEST(JointBaseServices, FrictionComesFromTheModelOrIsZero) {
  CylindricalJoint j(0.0, 0.0);
  const double q[2] = {0.5, -0.25}, qdot[2] = {1.0, -2.0}, tau[2] = {10.0, 4.0};
  double f[3] = {7, 7, 7};
  j.frictionTorque(q, qdot, tau, f);
  EXPECT_EQ(f[0], 0);
  EXPECT_EQ(f[1], 0);
  EXPECT_EQ(f[2], 7);  // exactly dof() values
  ViscousCoulombFriction model;
  j.setFriction(&model);
  EXPECT_EQ(j.friction(), &model);
  j.frictionTorque(q, qdot, tau, f);
  EXPECT_DOUBLE_EQ(f[0], -0.3 * 1.0 - 0.1 + 0.5);
  EXPECT_DOUBLE_EQ(f[1], 0.6 - 0.04 - 0.25);
}

}  // namespace zorvik_test::joint_interface_test
