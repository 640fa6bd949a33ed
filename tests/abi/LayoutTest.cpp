// The object layouts that clients compile against. A client built with one version of the headers
// must agree with the library on every size and member offset; a reordered member, a new member or
// a changed alignment would silently corrupt memory across the boundary. The expected numbers follow
// from the declaration order and the x86-64 rules: 8-byte pointers and doubles, and 16-byte
// alignment for every fixed-size Eigen matrix whose size is a multiple of 16 bytes (HTransform 128,
// Twist/Wrench 48, Matrix6d 288, a 6x7 Jacobian 336, Matrix<int, 8, 1> 32), 8-byte alignment for the
// others (a 7-vector of doubles, 56 bytes).
#include <AMBS/Subsys>
#include <gtest/gtest.h>

#include <cstddef>

using namespace ZorvikFoundation;

namespace {

template <typename Class, typename Member>
std::ptrdiff_t offsetOf(Member Class::*member) {
  alignas(Class) static unsigned char storage[sizeof(Class)];
  const Class* object = reinterpret_cast<const Class*>(storage);
  return reinterpret_cast<const unsigned char*>(&(object->*member)) - storage;
}

struct InertiaProbe : Inertia {
  static void check() {
    EXPECT_EQ(offsetOf(&InertiaProbe::_m), 0);
    EXPECT_EQ(offsetOf(&InertiaProbe::_com), 8);
    EXPECT_EQ(offsetOf(&InertiaProbe::_inertia), 32);
    EXPECT_EQ(offsetOf(&InertiaProbe::_bodyInertia), 80);
    EXPECT_EQ(offsetOf(&InertiaProbe::_bodyInvInertia), 368);
    EXPECT_EQ(offsetOf(&InertiaProbe::_updated_inertia), 656);
    EXPECT_EQ(offsetOf(&InertiaProbe::_updated_invInertia), 657);
  }
};

struct BodyProbe : Body {
  static void check() {
    // The virtual table pointer comes first.
    EXPECT_EQ(offsetOf(&BodyProbe::_HT), 16);
    EXPECT_EQ(offsetOf(&BodyProbe::_V), 144);
    EXPECT_EQ(offsetOf(&BodyProbe::_Fext), 192);
    EXPECT_EQ(offsetOf(&BodyProbe::_hasNonzeroWrench), 240);
    EXPECT_EQ(offsetOf(&BodyProbe::_inertia), 256);
  }
};

struct JointProbe : RevoluteJoint {
  static void check() {
    EXPECT_EQ(offsetOf<Joint>(&JointProbe::_type), 8);
    EXPECT_EQ(offsetOf<Joint>(&JointProbe::_dof), 12);
    EXPECT_EQ(offsetOf<Joint>(&JointProbe::_Toffset), 16);
    EXPECT_EQ(offsetOf<Joint>(&JointProbe::_offset), 144);
    EXPECT_EQ(offsetOf<Joint>(&JointProbe::_Tadj), 160);
    EXPECT_EQ(offsetOf<Joint>(&JointProbe::_Vadj), 288);
    EXPECT_EQ(offsetOf<Joint>(&JointProbe::_E), 336);
    EXPECT_EQ(offsetOf<Joint>(&JointProbe::_Edot), 624);
    EXPECT_EQ(offsetOf<Joint>(&JointProbe::_kinematic), 912);
    EXPECT_EQ(offsetOf<Joint>(&JointProbe::_index), 916);
    EXPECT_EQ(offsetOf<Joint>(&JointProbe::_motor), 920);
    EXPECT_EQ(offsetOf<Joint>(&JointProbe::_fric), 928);
  }
};

typedef SubsysBase<8, 7, 7> Subsys7;
struct SubsysProbe : Subsys7 {
  static void check() {
    EXPECT_EQ(offsetOf<Subsys7>(&SubsysProbe::_bodies), 0);
    EXPECT_EQ(offsetOf<Subsys7>(&SubsysProbe::_joints), 64);
    EXPECT_EQ(offsetOf<Subsys7>(&SubsysProbe::_J), 128);
    EXPECT_EQ(offsetOf<Subsys7>(&SubsysProbe::_Jdot), 128 + 8 * 336);
    EXPECT_EQ(offsetOf<Subsys7>(&SubsysProbe::_q), 5504);
    EXPECT_EQ(offsetOf<Subsys7>(&SubsysProbe::_qdot), 5560);
    EXPECT_EQ(offsetOf<Subsys7>(&SubsysProbe::_tau), 5616);
    EXPECT_EQ(offsetOf<Subsys7>(&SubsysProbe::_F), 5680);
    EXPECT_EQ(offsetOf<Subsys7>(&SubsysProbe::_qddot), 5728);
    EXPECT_EQ(offsetOf<Subsys7>(&SubsysProbe::_Vdot), 5792);
    EXPECT_EQ(offsetOf<Subsys7>(&SubsysProbe::_topology), 5840);
    EXPECT_EQ(offsetOf<Subsys7>(&SubsysProbe::_kinJointIndex), 5936);
  }
};

}  // namespace

TEST(ObjectLayout, InertiaMembersInDeclaredOrder) {
  InertiaProbe::check();
  EXPECT_EQ(sizeof(Inertia), 672u);
  EXPECT_EQ(alignof(Inertia), 16u);
}

TEST(ObjectLayout, BodyMembersInDeclaredOrder) {
  BodyProbe::check();
  EXPECT_EQ(sizeof(Body), 928u);
}

TEST(ObjectLayout, JointMembersInDeclaredOrder) {
  JointProbe::check();
  EXPECT_EQ(sizeof(Joint), 944u);
}

TEST(ObjectLayout, SubsystemMembersInDeclaredOrder) {
  SubsysProbe::check();
  EXPECT_EQ(sizeof(Subsys7), 5984u);
}
