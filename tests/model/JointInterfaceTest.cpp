// The joint interface apart from the motion contract: the binary layout clients compile against
// (member order, virtual-table slots, which destructor is virtual), the initial state of every
// joint, the client-maintained floating base joint, re-parameterising joints, and the services of
// JointBase, JointLimit and the friction hook.
#include <AMBS/Joint>

#include <type_traits>

#include "JointReference.h"
#include "LayoutProbe.h"

namespace {
class ClientJoint;
}

// A client's own one-coordinate joint, built on JointBase like the library's joints.
template <>
struct ZorvikFoundation::JointTraits<ClientJoint> {
  enum { DOF = 1 };
  static constexpr ZorvikFoundation::JOINTTYPE TYPE = ZorvikFoundation::CUSTOM;
};

namespace {

using namespace ZorvikFoundation;
using namespace model_test;
using LieGroup::Displacement;
using LieGroup::HTransform;
using LieGroup::Rotation;
using LieGroup::Twist;
using LieGroup::Vector3D;
using LieGroup::Wrench;

class ClientJoint : public JointBase<ClientJoint> {
 public:
  void update(const double*) override {}
  void update(const double*, const double*) override {}
  void updateVelocity(const double*, const double*) override {}
  // The first virtual operation a client adds comes after everything JointBase declares.
  virtual int clientOperation() { return 1; }
};

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

TEST(JointLayout, VirtualOperationsOccupyTheirSlotsInOrder) {
  typedef void (Joint::*Update1)(const double*);
  typedef void (Joint::*Update2)(const double*, const double*);
  typedef Twist (Joint::*AdjAcc2)(const double*, const double*) const;
  typedef Twist (Joint::*AdjAcc1)(const double*) const;
  typedef void (Joint::*Project3)(const Matrix6d&, double*, double*);
  typedef void (Joint::*Project2)(const Matrix6d&, double*);
  EXPECT_EQ(vtableSlot(static_cast<Update1>(&Joint::update)), 0);
  EXPECT_EQ(vtableSlot(static_cast<Update2>(&Joint::update)), 1);
  EXPECT_EQ(vtableSlot(&Joint::updateVelocity), 2);
  EXPECT_EQ(vtableSlot(&Joint::adjTwist), 3);
  EXPECT_EQ(vtableSlot(static_cast<AdjAcc2>(&Joint::adjAcc)), 4);
  EXPECT_EQ(vtableSlot(static_cast<AdjAcc1>(&Joint::adjAcc)), 5);
  EXPECT_EQ(vtableSlot(&Joint::biasAcc), 6);
  EXPECT_EQ(vtableSlot(static_cast<Project3>(&Joint::project)), 7);
  EXPECT_EQ(vtableSlot(static_cast<Project2>(&Joint::project)), 8);
  EXPECT_EQ(vtableSlot(&Joint::idyn), 9);
  EXPECT_EQ(vtableSlot(&Joint::stiffness), 10);
  EXPECT_EQ(vtableSlot(&Joint::damping), 11);
  EXPECT_EQ(vtableSlot(&Joint::neutralPos), 12);
  // JointBase's virtual destructor takes the two slots after the thirteen (complete and deleting
  // destructor), and JointBase adds no other virtual operation.
  EXPECT_EQ(vtableSlot(&ClientJoint::clientOperation), 15);

  // The friction model has a single operation.
  EXPECT_GE(vtableSlot(&JointFrictionAlgorithm::frictionTorque), 0);
}

struct JointProbe : MDHRevoluteJoint {
  JointProbe() : MDHRevoluteJoint(0.3, 0.1, 0.2, 0.4) {}
  std::vector<std::ptrdiff_t> jointMembers() const {
    return {offsetIn(*this, _type),  offsetIn(*this, _dof),   offsetIn(*this, _Toffset),
            offsetIn(*this, _offset), offsetIn(*this, _Tadj), offsetIn(*this, _Vadj),
            offsetIn(*this, _E),      offsetIn(*this, _Edot), offsetIn(*this, _kinematic),
            offsetIn(*this, _index),  offsetIn(*this, _motor), offsetIn(*this, _fric)};
  }
  std::vector<std::ptrdiff_t> baseAndOwnMembers() const {
    return {offsetIn(*this, _fric), offsetIn(*this, _D),     offsetIn(*this, _K),
            offsetIn(*this, _q_neutral), offsetIn(*this, _h), offsetIn(*this, _limit),
            offsetIn(*this, _cal), offsetIn(*this, _sal),   offsetIn(*this, _theta0)};
  }
};
struct PrismaticProbe : MDHPrismaticJoint {
  PrismaticProbe() : MDHPrismaticJoint(0.3, 0.1, 0.2, 0.4) {}
  std::vector<std::ptrdiff_t> ownMembers() const {
    return {offsetIn(*this, _limit), offsetIn(*this, _cal), offsetIn(*this, _sal), offsetIn(*this, _d0)};
  }
};
struct SphericalProbe : SphericalJoint {
  std::vector<std::ptrdiff_t> ownMembers() const {
    return {offsetIn(*this, _limit), offsetIn(*this, _alpha), offsetIn(*this, _beta),
            offsetIn(*this, _theta_sqr)};
  }
  double thetaSqr() const { return _theta_sqr; }
};
struct FreeProbe : FreeJoint {
  std::vector<std::ptrdiff_t> ownMembers() const {
    return {offsetIn(*this, _limit), offsetIn(*this, _alpha), offsetIn(*this, _beta),
            offsetIn(*this, _theta_sqr)};
  }
  double thetaSqr() const { return _theta_sqr; }
};
struct LimitProbe : JointLimit<3> {
  std::vector<std::ptrdiff_t> members() const {
    return {offsetIn(*this, _q_llimit),    offsetIn(*this, _q_ulimit),   offsetIn(*this, _qdot_llimit),
            offsetIn(*this, _qdot_ulimit), offsetIn(*this, _tau_llimit), offsetIn(*this, _tau_ulimit)};
  }
};

TEST(JointLayout, MembersAreLaidOutInDeclarationOrder) {
  const JointProbe mdh;
  EXPECT_TRUE(Increasing(mdh.jointMembers()));
  EXPECT_TRUE(Increasing(mdh.baseAndOwnMembers()));
  EXPECT_TRUE(Increasing(PrismaticProbe().ownMembers()));
  EXPECT_TRUE(Increasing(SphericalProbe().ownMembers()));
  EXPECT_TRUE(Increasing(FreeProbe().ownMembers()));
  EXPECT_TRUE(Increasing(LimitProbe().members()));
}

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
  EXPECT_TRUE(Close(a.Tadj(), T, 0));
  EXPECT_TRUE(Close(b.Tadj(), T, 0));
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
  EXPECT_TRUE(Close(j.Tadj(), revoluteReference(frame, axis).pose(&q), 1e-12));
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
    EXPECT_TRUE(Close(r.Tadj(), mdhRevoluteReference(-1.2, 0.35, -0.05, 0.9).pose(&q), 1e-12));
    EXPECT_TRUE(Close(p.Tadj(), mdhPrismaticReference(0.8, -0.15, 1.3, 0.22).pose(&q), 1e-12));
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
  EXPECT_TRUE(Close(j.addedTorque(q0 + dq, CylindricalJoint::JointVec::Zero()),
                    CylindricalJoint::JointVec(-2.0 * 0.2, -3.0 * -0.4), 1e-15));
  EXPECT_TRUE(Close(j.addedTorque(q0, v), CylindricalJoint::JointVec(-0.5 * 1.5, -0.5 * -2.0), 1e-15));
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
  void frictionTorque(const double* q, const double* qdot, const double* tau, double* friction) override {
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

}  // namespace
