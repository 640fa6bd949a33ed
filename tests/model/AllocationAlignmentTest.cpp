// The real-time guarantees of the model: forward kinematics, the joints' operations and the
// bodies' dynamics allocate nothing; heap-allocated bodies, mass properties, joints and robot
// models keep the 16-byte alignment of their fixed-size matrices through every form of new.
#include <Vexo/VexoXD>

#include <cstdint>
#include <limits>
#include <new>

#include "support/AllocationCounter.h"
#include "support/RandomRobot.h"

namespace {

using namespace ZorvikFoundation;
using namespace ZorvikFoundation::VexoSDK;
using LieGroup::HTransform;
using LieGroup::Twist;
using LieGroup::Vector3D;
using LieGroup::Wrench;

template <typename T>
class ForwardKinematicsAllocation : public ::testing::Test {};
template <int N>
struct Size {
  static constexpr int value = N;
};
typedef ::testing::Types<Size<6>, Size<7>, Size<14>, Size<16>> Sizes;
TYPED_TEST_SUITE(ForwardKinematicsAllocation, Sizes);

TYPED_TEST(ForwardKinematicsAllocation, UpdatesAllocateNothing) {
  constexpr int N = TypeParam::value;
  for (bool tree : {false, true}) {
    zorvik_test::RandomRobot<N> robot(600 + N, tree, zorvik_test::JointMix::AllOneDof);
    auto& model = robot.model();
    robot.randomState();
    EXPECT_NO_ALLOCATION(model.update(false));
    EXPECT_NO_ALLOCATION(model.update(true));
    model.qdot() = robot.randomVector();
    EXPECT_NO_ALLOCATION(model.updateVelocity());
  }
}

template <typename J>
void expectJointOperationsAllocateNothing(J& j) {
  const double q[6] = {0.3, -0.2, 0.5, 0.1, -0.4, 0.7}, qd[6] = {1, -1, 0.5, 0.2, 0.3, -0.6};
  double tau[6], EtME[36], ME[36];
  const Matrix6d M = Matrix6d::Identity();
  const Twist V(1, 2, 3, 4, 5, 6);
  const Wrench F(6, 5, 4, 3, 2, 1);
  EXPECT_NO_ALLOCATION(j.update(q));
  EXPECT_NO_ALLOCATION(j.update(q, qd));
  EXPECT_NO_ALLOCATION(j.updateVelocity(q, qd));
  EXPECT_NO_ALLOCATION(j.adjTwist(qd));
  EXPECT_NO_ALLOCATION(j.adjAcc(qd, q));
  EXPECT_NO_ALLOCATION(j.adjAcc(q));
  EXPECT_NO_ALLOCATION(j.biasAcc(V));
  EXPECT_NO_ALLOCATION(j.idyn(F, tau));
  EXPECT_NO_ALLOCATION(j.project(M, EtME, ME));
  EXPECT_NO_ALLOCATION(j.project(M, EtME));
}

TEST(JointAllocation, EveryJointOperationAllocatesNothing) {
  const HTransform frame(Vector3D(0.3, 0.2, -0.1).exp(), Eigen::Vector3d(0.1, 0.2, 0.3));
  const Vector3D axis(0.2, 0.4, 0.9);
  FloatingJoint floating(frame);
  RigidJoint rigid(frame);
  RevoluteJoint revolute(frame, axis);
  PrismaticJoint prismatic(frame, axis);
  MDHRevoluteJoint mdhRevolute(0.3, 0.1, 0.2, 0.4);
  MDHPrismaticJoint mdhPrismatic(0.3, 0.1, 0.2, 0.4);
  CylindricalJoint cylindrical(frame, axis);
  SphericalJoint spherical(frame);
  FreeJoint free(frame);
  expectJointOperationsAllocateNothing(floating);
  expectJointOperationsAllocateNothing(rigid);
  expectJointOperationsAllocateNothing(revolute);
  expectJointOperationsAllocateNothing(prismatic);
  expectJointOperationsAllocateNothing(mdhRevolute);
  expectJointOperationsAllocateNothing(mdhPrismatic);
  expectJointOperationsAllocateNothing(cylindrical);
  expectJointOperationsAllocateNothing(spherical);
  expectJointOperationsAllocateNothing(free);
}

TEST(BodyAllocation, DynamicsAndCachesAllocateNothing) {
  Body body(HTransform(), Twist(0.1, 0.2, 0.3, 0.4, 0.5, 0.6));
  body.setInertia(Inertia(2, 0.1, 0.2, 0.3, 0.5, 0.6, 0.7, 0.01, 0.02, 0.03));
  body.setExtWrench(Wrench(1, 2, 3, 4, 5, 6));
  const Twist Vdot(1, -1, 2, -2, 3, -3);
  Wrench F;
  EXPECT_NO_ALLOCATION(body.idyn(Vdot, F));
  EXPECT_NO_ALLOCATION(body.idyn_passive(Vdot, Vdot, F));
  Inertia I(1, 0.1, 0.1, 0.1, 0.2, 0.3, 0.4, 0, 0, 0);
  EXPECT_NO_ALLOCATION(I.addInertia(body.getInertia(), HTransform()));
  EXPECT_NO_ALLOCATION(I.bodyInertia());
  EXPECT_NO_ALLOCATION(I.bodyInvInertia());
}

// ---------------------------------------------------------------------------------------------
// Alignment through plain, array, nothrow and placement new, and the failure behaviour of the
// class allocation functions.

template <typename T, typename = void>
struct HasOwnAlignedOperators : std::false_type {};
template <typename T>
struct HasOwnAlignedOperators<T, typename T::zorvik_aligned_operator_new_marker_type> : std::true_type {};

bool aligned16(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % 16 == 0; }

template <typename T, typename... Args>
void expectAlignedThroughEveryNew(const char* name, Args... args) {
  SCOPED_TRACE(name);
  static_assert(HasOwnAlignedOperators<T>::value, "the class provides the aligned operators");
  // Odd-sized allocations in between, so that a block is not aligned merely by luck.
  void* pad = std::malloc(24);
  T* p = new T(args...);
  EXPECT_TRUE(aligned16(p));
  delete p;

  T* arr;
  if constexpr (sizeof...(Args) == 0) {
    arr = new T[3];
  } else {
    arr = new T[3]{T(args...), T(args...), T(args...)};
  }
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(aligned16(&arr[i])) << "element " << i;
  delete[] arr;

  T* pn = new (std::nothrow) T(args...);
  ASSERT_NE(pn, nullptr);
  EXPECT_TRUE(aligned16(pn));
  delete pn;
  T* an;
  if constexpr (sizeof...(Args) == 0) {
    an = new (std::nothrow) T[2];
  } else {
    an = new (std::nothrow) T[2]{T(args...), T(args...)};
  }
  ASSERT_NE(an, nullptr);
  EXPECT_TRUE(aligned16(&an[1]));
  delete[] an;
  std::free(pad);

  alignas(16) unsigned char buffer[sizeof(T)];
  T* placed = new (buffer) T(args...);
  EXPECT_EQ(static_cast<void*>(placed), static_cast<void*>(buffer));
  placed->~T();

  // A request that cannot be met: std::bad_alloc from the plain forms, null from the nothrow ones.
  const std::size_t huge = std::numeric_limits<std::size_t>::max() / 2;
  EXPECT_THROW(T::operator new(huge), std::bad_alloc);
  EXPECT_THROW(T::operator new[](huge), std::bad_alloc);
  EXPECT_EQ(T::operator new(huge, std::nothrow), nullptr);
  EXPECT_EQ(T::operator new[](huge, std::nothrow), nullptr);
}

TEST(Alignment, ModelObjectsAreAlignedThroughEveryFormOfNew) {
  const HTransform frame(Vector3D(0.3, 0.2, -0.1).exp(), Eigen::Vector3d(0.1, 0.2, 0.3));
  const Vector3D axis(0, 0, 1);
  expectAlignedThroughEveryNew<Inertia>("Inertia");
  expectAlignedThroughEveryNew<Body>("Body");
  expectAlignedThroughEveryNew<FloatingJoint>("FloatingJoint");
  expectAlignedThroughEveryNew<RigidJoint>("RigidJoint", frame);
  expectAlignedThroughEveryNew<RevoluteJoint>("RevoluteJoint", frame, axis);
  expectAlignedThroughEveryNew<PrismaticJoint>("PrismaticJoint", frame, axis);
  expectAlignedThroughEveryNew<MDHRevoluteJoint>("MDHRevoluteJoint", 0.1, 0.2, 0.3, 0.4);
  expectAlignedThroughEveryNew<MDHPrismaticJoint>("MDHPrismaticJoint", 0.1, 0.2, 0.3, 0.4);
  expectAlignedThroughEveryNew<CylindricalJoint>("CylindricalJoint", 0.1, 0.2);
  expectAlignedThroughEveryNew<SphericalJoint>("SphericalJoint", frame);
  expectAlignedThroughEveryNew<FreeJoint>("FreeJoint", frame);
  expectAlignedThroughEveryNew<VexoBaseXD<6>>("VexoBaseXD<6>");
  expectAlignedThroughEveryNew<VexoBaseXD<7>>("VexoBaseXD<7>");
  expectAlignedThroughEveryNew<VexoBaseXD<14>>("VexoBaseXD<14>");
  expectAlignedThroughEveryNew<VexoBaseXD<16>>("VexoBaseXD<16>");
}

}  // namespace
