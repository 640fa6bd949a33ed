// The object layouts that clients compile against. A client built with one version of the headers
// must agree with the library on every size and member offset; a reordered member, a new member or
// a changed alignment would silently corrupt memory across the boundary. The expected numbers
// follow from the declaration order and the x86-64 rules: 8-byte pointers and doubles, and 16-byte
// alignment for every fixed-size Eigen matrix whose size is a multiple of 16 bytes (HTransform 128,
// Twist/Wrench 48, Matrix6d 288, a 6x7 Jacobian 336, Matrix<int, 8, 1> 32), 8-byte alignment for
// the others (a 7-vector of doubles, 56 bytes). The members whose offsets are not written out here
// are checked to follow their declaration order, and the extension points to occupy their
// virtual-table slots in order.
#include <AMBS/Subsys>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "support/ClientJoint.h"

namespace zorvik_test::layout_test {

using namespace ZorvikFoundation;
using internal::IndexSet;
using internal::Topology;

// Byte offset of a member of Owner, or of one of its bases, inside an object of class Class.
template <typename Class, typename Member, typename Owner>
std::ptrdiff_t offsetOf(Member Owner::*member) {
  alignas(Class) static unsigned char storage[sizeof(Class)];
  const Class* object = reinterpret_cast<const Class*>(storage);
  return reinterpret_cast<const unsigned char*>(&(object->*member)) - storage;
}

// Byte offset of a member inside an object of the class that declares it.
template <typename Member, typename Owner>
std::ptrdiff_t offsetOf(Member Owner::*member) {
  return offsetOf<Owner, Member, Owner>(member);
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

// Offsets strictly increasing: the members are laid out in the order listed.
::testing::AssertionResult increasing(const std::vector<std::ptrdiff_t>& offsets) {
  for (std::size_t i = 1; i < offsets.size(); ++i)
    if (offsets[i] <= offsets[i - 1])
      return ::testing::AssertionFailure() << "member " << i << " at offset " << offsets[i]
                                           << " does not follow member " << i - 1 << " at "
                                           << offsets[i - 1];
  return ::testing::AssertionSuccess();
}

// The virtual-table slot of a virtual member function. In the Itanium C++ ABI (GCC and Clang on
// Linux) a pointer to a virtual member function holds 1 + the byte offset of its slot in the
// table, followed by the this-adjustment; -1 is returned for a pointer to a non-virtual function.
template <typename Pmf>
std::ptrdiff_t vtableSlot(Pmf pmf) {
  static_assert(sizeof(Pmf) == 2 * sizeof(std::ptrdiff_t), "Itanium member function pointer");
  std::ptrdiff_t words[2];
  std::memcpy(words, &pmf, sizeof(words));
  if ((words[0] & 1) == 0) return -1;
  return (words[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

// The members that JointBase and the concrete joints add after Joint's.
struct MdhRevoluteProbe : MDHRevoluteJoint {
  static std::vector<std::ptrdiff_t> baseAndOwnMembers() {
    typedef MDHRevoluteJoint J;
    return {offsetOf<J>(&MdhRevoluteProbe::_fric),  offsetOf<J>(&MdhRevoluteProbe::_D),
            offsetOf<J>(&MdhRevoluteProbe::_K),     offsetOf<J>(&MdhRevoluteProbe::_q_neutral),
            offsetOf<J>(&MdhRevoluteProbe::_h),     offsetOf<J>(&MdhRevoluteProbe::_limit),
            offsetOf<J>(&MdhRevoluteProbe::_cal),   offsetOf<J>(&MdhRevoluteProbe::_sal),
            offsetOf<J>(&MdhRevoluteProbe::_theta0)};
  }
};

struct MdhPrismaticProbe : MDHPrismaticJoint {
  static std::vector<std::ptrdiff_t> ownMembers() {
    typedef MDHPrismaticJoint J;
    return {offsetOf<J>(&MdhPrismaticProbe::_limit), offsetOf<J>(&MdhPrismaticProbe::_cal),
            offsetOf<J>(&MdhPrismaticProbe::_sal), offsetOf<J>(&MdhPrismaticProbe::_d0)};
  }
};

// The spherical and the free joint declare the same members.
template <typename J>
struct RotationTermsProbe : J {
  static std::vector<std::ptrdiff_t> ownMembers() {
    return {offsetOf<J>(&RotationTermsProbe::_limit), offsetOf<J>(&RotationTermsProbe::_alpha),
            offsetOf<J>(&RotationTermsProbe::_beta), offsetOf<J>(&RotationTermsProbe::_theta_sqr)};
  }
};

struct LimitProbe : JointLimit<3> {
  static std::vector<std::ptrdiff_t> members() {
    typedef JointLimit<3> L;
    return {offsetOf<L>(&LimitProbe::_q_llimit),    offsetOf<L>(&LimitProbe::_q_ulimit),
            offsetOf<L>(&LimitProbe::_qdot_llimit), offsetOf<L>(&LimitProbe::_qdot_ulimit),
            offsetOf<L>(&LimitProbe::_tau_llimit),  offsetOf<L>(&LimitProbe::_tau_ulimit)};
  }
};

TEST(ObjectLayout, InertiaMembersInDeclaredOrder) {
  InertiaProbe::check();
  EXPECT_EQ(sizeof(Inertia), 672u);
  EXPECT_EQ(alignof(Inertia), 16u);
}

TEST(ObjectLayout, BodyMembersInDeclaredOrder) {
  BodyProbe::check();
  EXPECT_EQ(sizeof(Body), 928u);
}

// The extension points a derived body overrides, after the destructor's slots.
TEST(ObjectLayout, BodyExtensionPointsOccupyTheirSlotsInOrder) {
  const std::ptrdiff_t first = vtableSlot(&Body::inertia);
  ASSERT_GE(first, 0);
  EXPECT_EQ(vtableSlot(&Body::addedBias), first + 1);
  EXPECT_EQ(vtableSlot(&Body::updateExtWrench), first + 2);
  EXPECT_EQ(vtableSlot(&Body::updateCustomDynamics), first + 3);
}

TEST(ObjectLayout, JointMembersInDeclaredOrder) {
  JointProbe::check();
  EXPECT_EQ(sizeof(Joint), 944u);
  EXPECT_TRUE(increasing(MdhRevoluteProbe::baseAndOwnMembers()));
  EXPECT_TRUE(increasing(MdhPrismaticProbe::ownMembers()));
  EXPECT_TRUE(increasing(RotationTermsProbe<SphericalJoint>::ownMembers()));
  EXPECT_TRUE(increasing(RotationTermsProbe<FreeJoint>::ownMembers()));
  EXPECT_TRUE(increasing(LimitProbe::members()));
}

TEST(ObjectLayout, JointOperationsOccupyTheirVirtualSlotsInOrder) {
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

TEST(ObjectLayout, SubsystemMembersInDeclaredOrder) {
  SubsysProbe::check();
  EXPECT_EQ(sizeof(Subsys7), 5984u);
  EXPECT_TRUE(increasing({offsetOf(&Topology<5>::_pre), offsetOf(&Topology<5>::_suc),
                          offsetOf(&Topology<5>::_lambda)}));
  typedef IndexSet<5, 2> Set;
  EXPECT_TRUE(increasing({offsetOf(&Set::_set), offsetOf(&Set::_size)}));
}

}  // namespace zorvik_test::layout_test
