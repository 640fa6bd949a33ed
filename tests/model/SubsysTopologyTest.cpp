// Connectivity and the subsystem container: the topology modes (an invalid one: all-zero arrays in
// a release client; the debug assertion is a death test in tests/death), connecting bodies
// parents-first, the empty state of a new subsystem, the floating base test, index sets and the
// kinematic-joint bookkeeping.
#include <AMBS/Subsys>

#include "ModelTestSupport.h"
#include "support/RandomRobot.h"

namespace zorvik_test::subsys_topology_test {

using internal::IndexSet;
using internal::Topology;

// Read access to the protected members of any subsystem through pointers to members formed in a
// derived class, so that subsystems built in the ordinary way can be inspected.
template <int NB, int NJ, int DOF>
struct Peek : SubsysBase<NB, NJ, DOF> {
  typedef SubsysBase<NB, NJ, DOF> S;
  static Body* body(const S& s, int k) { return (s.*(&Peek::_bodies))[k]; }
  static Joint* joint(const S& s, int k) { return (s.*(&Peek::_joints))[k]; }
  static const Topology<NB>& topology(const S& s) { return s.*(&Peek::_topology); }
  static const IndexSet<NB, 2>& kinematicSet(const S& s) { return s.*(&Peek::_kinJointIndex); }
};

template <int NB>
void expectUnconnected(const Topology<NB>& t) {
  for (int k = 0; k < NB; ++k) {
    EXPECT_EQ(t._pre[k], -1) << k;
    EXPECT_EQ(t._suc[k], 0) << k;
    EXPECT_EQ(t._lambda[k], -1) << k;
  }
}

TEST(Topology, SerialChainConnectsEachBodyToThePreviousOne) {
  const Topology<17> t(Topology<17>::SERIAL_CHAIN);
  EXPECT_EQ(t._pre[16], 15);
  EXPECT_EQ(t._suc[16], 16);
  EXPECT_EQ(t._lambda[16], 15);
  for (int k = 0; k < 17; ++k) {
    EXPECT_EQ(t._pre[k], k - 1);
    EXPECT_EQ(t._suc[k], k);
    EXPECT_EQ(t._lambda[k], k - 1);
  }
  EXPECT_TRUE(t.isValid());
  const Topology<7> seven(Topology<7>::SERIAL_CHAIN);
  const int pre[7] = {-1, 0, 1, 2, 3, 4, 5}, suc[7] = {0, 1, 2, 3, 4, 5, 6};
  for (int k = 0; k < 7; ++k) {
    EXPECT_EQ(seven._pre[k], pre[k]);
    EXPECT_EQ(seven._suc[k], suc[k]);
    EXPECT_EQ(seven._lambda[k], pre[k]);
  }
}

TEST(Topology, UninitializedHasNoConnection) {
  expectUnconnected(Topology<7>(Topology<7>::UNINITIALIZED));
  expectUnconnected(Topology<7>());
  EXPECT_FALSE(Topology<7>().isValid());
  EXPECT_EQ(static_cast<int>(Topology<7>::UNINITIALIZED), -1);
  EXPECT_EQ(static_cast<int>(Topology<7>::SERIAL_CHAIN), 0);
}

#ifdef NDEBUG
// A release client compiles the assertion out and gets all-zero arrays for an invalid mode.
TEST(Topology, InvalidModeGivesAllZeroArraysInAReleaseClient) {
  for (int mode : {1, 2, -2}) {
    const Topology<7> t(static_cast<Topology<7>::TOPOLOGY_MODE>(mode));
    for (int k = 0; k < 7; ++k) {
      EXPECT_EQ(t._pre[k], 0);
      EXPECT_EQ(t._suc[k], 0);
      EXPECT_EQ(t._lambda[k], 0);
    }
  }
}
#endif

TEST(Topology, ConnectAcceptsOnlyParentsNumberedBeforeTheirChildren) {
  Topology<5> t;
  EXPECT_TRUE(t.connect(0, 1));
  EXPECT_TRUE(t.connect(0, 2));  // a branch
  EXPECT_TRUE(t.connect(2, 3));
  EXPECT_EQ(t._pre[3], 2);
  EXPECT_EQ(t._suc[3], 3);
  EXPECT_EQ(t._lambda[3], 2);
  EXPECT_EQ(t._pre[2], 0);
  EXPECT_FALSE(t.isValid()) << "body 4 has no parent yet";

  const Topology<5> before(t);
  EXPECT_FALSE(t.connect(4, 4));   // a body is not its own parent
  EXPECT_FALSE(t.connect(4, 3));   // parent numbered after the child
  EXPECT_FALSE(t.connect(-1, 4));  // no such parent
  EXPECT_FALSE(t.connect(0, 5));   // no such child
  EXPECT_FALSE(t.connect(0, 0));   // the base has no parent
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(t._pre[k], before._pre[k]);
    EXPECT_EQ(t._suc[k], before._suc[k]);
    EXPECT_EQ(t._lambda[k], before._lambda[k]);
  }

  EXPECT_TRUE(t.connect(1, 4));
  EXPECT_TRUE(t.isValid());
  EXPECT_EQ(t.predecessor(4), 1);
  EXPECT_EQ(t.successor(4), 4);
  EXPECT_EQ(t.predecessor(0), -1);
  EXPECT_EQ(t.predecessor(5), -1);
  EXPECT_EQ(t.successor(-1), -1);
  const Topology<5> copy(t);
  for (int k = 0; k < 5; ++k) EXPECT_EQ(copy._pre[k], t._pre[k]);
}

TEST(Subsys, NewSubsystemIsEmptyAndUnconnected) {
  typedef Peek<8, 7, 7> P;
  const SubsysBase<8, 7, 7> s;
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(P::body(s, k), nullptr);
    EXPECT_EQ(P::joint(s, k), nullptr);
    EXPECT_EQ(s.parent(k), -1);
    EXPECT_FALSE(s.hasParent(k));
  }
  expectUnconnected(P::topology(s));
  EXPECT_TRUE(P::kinematicSet(s)._set.isZero());
  EXPECT_EQ(P::kinematicSet(s)._size, 0u);
  EXPECT_TRUE(s.q().isZero(0));
  EXPECT_TRUE(s.qdot().isZero(0));
  EXPECT_TRUE(s.qddot().isZero(0));
  EXPECT_TRUE(s.tau().isZero(0));
  EXPECT_TRUE(s.F().isZero(0));
  EXPECT_TRUE(s.Vdot().isZero(0));
  EXPECT_EQ(s.kinematicJointSize(), 0u);
  EXPECT_TRUE(s.isFloating());
}

TEST(Subsys, ConnectRegistersTheJointAndTheParent) {
  typedef Peek<5, 4, 4> P;
  SubsysBase<5, 4, 4> s;
  Body bodies[5];
  RevoluteJoint j1, j2, j3, j4;
  for (int k = 0; k < 5; ++k) EXPECT_TRUE(s.addBody(k, bodies[k]));
  EXPECT_FALSE(s.addBody(5, bodies[0]));
  EXPECT_FALSE(s.addBody(-1, bodies[0]));
  EXPECT_FALSE(s.addJoint(5, j1));

  EXPECT_TRUE(s.connect(0, 1, j1));
  EXPECT_TRUE(s.connect(1, 2, j2));
  EXPECT_FALSE(s.connect(3, 2, j3)) << "parent numbered after the child";
  EXPECT_FALSE(s.connect(2, 5, j3)) << "no such body";
  EXPECT_EQ(P::joint(s, 3), nullptr) << "a rejected connection registers nothing";
  const HTransform frame(homogeneous(expSO3(Vec3(0.1, 0.2, 0.3)), Vec3(0.4, 0.5, 0.6)));
  EXPECT_TRUE(s.connect(1, 3, j3, frame));
  EXPECT_TRUE(j3.jointFrame() == frame);
  EXPECT_TRUE(s.connect(0, 4, j4));

  EXPECT_EQ(&s.joint(1), &j1);
  EXPECT_EQ(&s.joint(3), &j3);
  EXPECT_EQ(s.parent(3), 1);
  EXPECT_EQ(s.parent(4), 0);
  EXPECT_TRUE(s.hasParent(2));
  EXPECT_FALSE(s.hasParent(0));
  const Topology<5>& t = P::topology(s);
  EXPECT_EQ(t._suc[3], 3);
  EXPECT_EQ(t._lambda[3], 1);
  EXPECT_TRUE(t.isValid());

  EXPECT_EQ(&s.base(), &bodies[0]);
  EXPECT_EQ(&s.body(2), &bodies[2]);
  // Without an index: the last body.
  EXPECT_EQ(&s.T(), &bodies[4].T());
  EXPECT_EQ(&s.V(), &bodies[4].V());
  EXPECT_EQ(&s.T(2), &bodies[2].T());

  for (auto& b : bodies) b.setExtWrench(Wrench(1, 2, 3, 4, 5, 6));
  s.clearAllBodyWrenches();
  for (auto& b : bodies) {
    EXPECT_FALSE(b.hasNonzeroWrench());
    EXPECT_TRUE(b.Fext().isZero(0));
  }
}

TEST(Subsys, FloatingMeansNoBaseJointOrAFloatingOne) {
  SubsysBase<3, 2, 2> s;
  EXPECT_TRUE(s.isFloating());
  FloatingJoint floating;
  RigidJoint rigid;
  FreeJoint free;
  RevoluteJoint revolute;
  s.addJoint(0, floating);
  EXPECT_TRUE(s.isFloating());
  s.addJoint(0, rigid);
  EXPECT_FALSE(s.isFloating());
  s.addJoint(0, free);
  EXPECT_FALSE(s.isFloating()) << "a free joint is a joint with coordinates, not a floating base";
  s.addJoint(0, revolute);
  EXPECT_FALSE(s.isFloating());
}

TEST(IndexSet, CountsTheIndicesOfNonZeroKinds) {
  typedef IndexSet<6, 3> Set;
  Set s;
  EXPECT_EQ(s.size(), 0u);
  EXPECT_TRUE(s._set.isZero());
  s.addIndex(2, 1);
  s.addIndex(2, 1);  // already of that kind
  s.addIndex(4, 2);
  EXPECT_EQ(s.size(), 2u);
  EXPECT_TRUE(s.belong(2, 1));
  EXPECT_TRUE(s.belong(4, 2));
  EXPECT_TRUE(s.belong(0, 0));
  EXPECT_FALSE(s.belong(2, 0));
  EXPECT_FALSE(s.belong(6, 0)) << "out of range";
  s.addIndex(4, 1);  // another non-zero kind: still counted once
  EXPECT_EQ(s.size(), 2u);
  s.addIndex(7, 1);   // out of range: ignored
  s.addIndex(1, 3);   // no such kind: ignored
  EXPECT_EQ(s.size(), 2u);

  Set::IndexVecType kind0, others;
  s.partitionIndexVector(kind0, others);
  ASSERT_EQ(kind0.size(), 4);
  ASSERT_EQ(others.size(), 2);
  EXPECT_EQ(kind0(0), 0);
  EXPECT_EQ(kind0(1), 1);
  EXPECT_EQ(kind0(2), 3);
  EXPECT_EQ(kind0(3), 5);
  EXPECT_EQ(others(0), 2);
  EXPECT_EQ(others(1), 4);

  s.removeIndex(2);
  EXPECT_EQ(s.size(), 1u);
  EXPECT_TRUE(s.belong(2, 0));
  s.addAll(1);
  EXPECT_EQ(s.size(), 6u);
  s.addAll(0);
  EXPECT_EQ(s.size(), 0u);
  s.addIndex(3, 2);
  s.reset();
  EXPECT_EQ(s.size(), 0u);
  EXPECT_TRUE(s._set.isZero());
}

// Base joint without coordinates (or none at all), then joints of 1, 2, 3 and 1 coordinates laid
// out joint after joint: joint 1 at entry 0, joint 2 at 1-2, joint 3 at 3-5, joint 4 at 6.
class KinematicJoints : public ::testing::TestWithParam<bool> {
 protected:
  KinematicJoints() : cylindrical(0.0, 0.0) {
    if (GetParam()) s.addJoint(0, base);
    s.connect(0, 1, revolute);
    s.connect(1, 2, cylindrical);
    s.connect(2, 3, spherical);
    s.connect(3, 4, prismatic);
  }
  SubsysBase<5, 4, 8> s;
  RigidJoint base;
  RevoluteJoint revolute;
  CylindricalJoint cylindrical;
  SphericalJoint spherical;
  PrismaticJoint prismatic;
};

TEST_P(KinematicJoints, FillInCopiesTheCoordinatesOfKinematicJointsOnly) {
  s.setKinematicJoint(2, true);
  s.setKinematicJoint(4, true);
  EXPECT_TRUE(s.isKinematicJoint(2));
  EXPECT_FALSE(s.isKinematicJoint(3));
  EXPECT_EQ(s.kinematicJointSize(), 2u);
  EXPECT_TRUE(cylindrical.kinematic());
  typedef SubsysBase<5, 4, 8>::JointVec Vec;
  Vec in, out = Vec::Zero();
  in << 1, 2, 3, 4, 5, 6, 7, 8;
  s.fillInKinematicJointVector(out, in);
  Vec expected;
  expected << 0, 2, 3, 0, 0, 0, 7, 0;
  EXPECT_TRUE(out == expected) << out.transpose();

  s.setKinematicJoint(2, false);
  EXPECT_EQ(s.kinematicJointSize(), 1u);
  EXPECT_FALSE(cylindrical.kinematic());
}

TEST_P(KinematicJoints, ConfigureRebuildsTheSetFromTheJointsFlags) {
  spherical.setKinematic(true);
  s._configureJointIndex();
  EXPECT_TRUE(s.isKinematicJoint(3));
  EXPECT_EQ(s.kinematicJointSize(), 1u);
  EXPECT_EQ(revolute.index(), 1);
  EXPECT_EQ(prismatic.index(), 4);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutBaseJoint, KinematicJoints, ::testing::Bool());

}  // namespace zorvik_test::subsys_topology_test
