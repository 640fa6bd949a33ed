// Misuse that the debug deliverable catches. This file is compiled like a debug client (without
// NDEBUG, against the debug library): the library's own assertions and the header code's
// assertions (the topology constructor, Eigen's alignment and size checks) are all active. A
// release client compiles these checks out, so there is nothing to test in that configuration.
//
// In a build with UndefinedBehaviorSanitizer (ZORVIK_TEST_UBSAN), constructing an object at a
// misaligned address is reported by the sanitizer before Eigen's assertion can run; either report
// ends the process, and the test accepts either message there.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include <Controller/HTransformController>
#include <Vexo/DynamicAnalysisXD>

#include "support/RandomRobot.h"

#ifndef NDEBUG

namespace {

using namespace zorvik_test;

const char kBaseJointMessage[] = "The base body should not have any joint, even the free joint\\.";
// The assertion in the header, with the documented message.
const char kTopologyMessage[] =
    "AMBS/Subsys:[0-9]+: .*Assertion `false && \"Invalid topology mode: Use 0 or 1\\.\\.\\.\"' "
    "failed";
#ifdef ZORVIK_TEST_UBSAN
const char kAlignmentMessage[] = "this assertion is explained here|misaligned address";
#else
const char kAlignmentMessage[] = "this assertion is explained here";
#endif
const char kResizeMessage[] = "DenseBase::resize\\(\\) does not actually allow one to resize";
const char kInvalidSizeMessage[] = "Invalid sizes when resizing a matrix or array";

class DebugChecksDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

  typedef RandomRobot<7>::JointVec JointVec;
  JointVec qdot = JointVec::Constant(0.1), qddot = JointVec::Constant(0.2);
  Twist V, Vdot;
  Vector3D g = Vector3D(0, 0, -9.81);
};

// ---- The floating-base inverse dynamics on a model whose base has a (rigid) joint
// ----------------

TEST_F(DebugChecksDeathTest, FloatingBaseIdynOnFixedBaseModelAsserts) {
  RandomRobot<7> robot(3);
  randomState<7>(robot.model(), robot.rng());
  EXPECT_DEATH(robot.model().idyn(V, Vdot, qdot, qddot, g), kBaseJointMessage);
  EXPECT_DEATH(robot.model().idyn(V, Vdot, qdot, qddot), kBaseJointMessage);
}

TEST_F(DebugChecksDeathTest, FloatingBasePassiveIdynOnFixedBaseModelAsserts) {
  RandomRobot<7> robot(3);
  randomState<7>(robot.model(), robot.rng());
  EXPECT_DEATH(robot.model().idyn_passive(V, Vdot, qdot, qddot, g), kBaseJointMessage);
  EXPECT_DEATH(robot.model().idyn_passive(V, Vdot, qdot, qddot), kBaseJointMessage);
}

TEST_F(DebugChecksDeathTest, FloatingBaseMomentumOnFixedBaseModelAsserts) {
  RandomRobot<7> robot(3);
  randomState<7>(robot.model(), robot.rng());
  EXPECT_DEATH(robot.model().idyn_momentum(Vdot, qddot), kBaseJointMessage);
}

// The control: the same calls pass once the base joint is a floating one, so the deaths above come
// from the base-joint check and not from anything else about the model.
TEST_F(DebugChecksDeathTest, FloatingBaseIdynOnFloatingModelPasses) {
  RandomRobot<7> robot(3);
  FloatingJoint floating;
  robot.model().addJoint(0, floating);
  randomState<7>(robot.model(), robot.rng());
  robot.model().idyn(V, Vdot, qdot, qddot, g);
  robot.model().idyn(V, Vdot, qdot, qddot);
  robot.model().idyn_passive(V, Vdot, qdot, qddot, g);
  robot.model().idyn_passive(V, Vdot, qdot, qddot);
  robot.model().idyn_momentum(Vdot, qddot);
  EXPECT_TRUE(robot.model().tau().allFinite());
}

// ---- The topology constructor ------------------------------------------------------------------

TEST_F(DebugChecksDeathTest, InvalidTopologyModeAsserts) {
  typedef ZorvikFoundation::internal::Topology<8> Topology;
  for (int mode : {1, 2, -2})
    EXPECT_DEATH(Topology t(static_cast<Topology::TOPOLOGY_MODE>(mode)), kTopologyMessage) << mode;
  // Both valid modes construct.
  Topology serial(Topology::SERIAL_CHAIN), empty(Topology::UNINITIALIZED);
  EXPECT_EQ(serial._pre[7], 6);
  EXPECT_EQ(empty._pre[7], -1);
}

// ---- Heap objects placed without the aligned operators -----------------------------------------

// Storage for one T starting 8 bytes past a 16-byte boundary: what a client gets by placing an
// object into a buffer of its own instead of using the class's operator new.
template <typename T>
struct MisalignedStorage {
  MisalignedStorage() : raw(new unsigned char[sizeof(T) + 32]) {}
  void* address() const {
    const std::uintptr_t p = reinterpret_cast<std::uintptr_t>(raw.get());
    return reinterpret_cast<void*>(((p + 15) & ~std::uintptr_t(15)) + 8);
  }
  std::unique_ptr<unsigned char[]> raw;
};

TEST_F(DebugChecksDeathTest, MisalignedBodyAsserts) {
  MisalignedStorage<Body> storage;
  EXPECT_DEATH(::new (storage.address()) Body(), kAlignmentMessage);
}

TEST_F(DebugChecksDeathTest, MisalignedModelAsserts) {
  MisalignedStorage<VexoBaseXD<6>> storage;
  EXPECT_DEATH(::new (storage.address()) VexoBaseXD<6>(), kAlignmentMessage);
}

TEST_F(DebugChecksDeathTest, MisalignedControllerAsserts) {
  MisalignedStorage<HTransformController> storage;
  EXPECT_DEATH(::new (storage.address()) HTransformController(), kAlignmentMessage);
}

// The control: the class's own operator new and a 16-byte aligned placement both construct.
TEST_F(DebugChecksDeathTest, AlignedBodyConstructs) {
  std::unique_ptr<Body> heap(new Body());
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&heap->T()) % 16, 0u);
  alignas(16) unsigned char buffer[sizeof(Body)];
  Body* placed = ::new (buffer) Body();
  EXPECT_TRUE(placed->T().isIdentity(0));
  placed->~Body();
}

// ---- Eigen's size checks behind the templated constructors -------------------------------------

// HTransform(rot, disp) and set(rot, disp) reject dynamic-size arguments at compile time (static
// size assertions); the converting constructors take any expression and check its size at run time.
TEST_F(DebugChecksDeathTest, PosesFromWrongSizedDynamicMatricesAssert) {
  const Eigen::MatrixXd three = Eigen::MatrixXd::Identity(3, 3),
                        four = Eigen::MatrixXd::Identity(4, 4);
  EXPECT_DEATH(HTransform T(three), kInvalidSizeMessage);
  EXPECT_DEATH(Rotation R(four), kInvalidSizeMessage);
  EXPECT_DEATH(HTransform T; T = three, kInvalidSizeMessage);
  // The control: the right sizes construct.
  EXPECT_TRUE(HTransform(four).isIdentity(0));
  EXPECT_TRUE(Rotation(three).isIdentity(0));
}

TEST_F(DebugChecksDeathTest, TwistAndWrenchFromWrongSizedDynamicVectorsAssert) {
  const Eigen::VectorXd three = Eigen::VectorXd::Ones(3), four = Eigen::VectorXd::Ones(4);
  const Eigen::VectorXd five = Eigen::VectorXd::Ones(5), six = Eigen::VectorXd::Ones(6);
  EXPECT_DEATH(Twist V(three, four), kResizeMessage);
  EXPECT_DEATH(Wrench F(four, three), kResizeMessage);
  EXPECT_DEATH(Twist V(five), kInvalidSizeMessage);
  EXPECT_DEATH(Wrench F(five), kInvalidSizeMessage);
  EXPECT_DEATH(Vector3D w(four), kInvalidSizeMessage);
  // The control: the right sizes construct.
  EXPECT_EQ(Twist(three, three)(5), 1.0);
  EXPECT_EQ(Twist(six)(5), 1.0);
}

// ---- Dynamics derivatives through a client joint whose motion subspace depends on q ---------

// Derived from the library's spherical joint, hence taken as a client's: its E varies with q and
// the joint contract gives no second derivatives of it.
class DerivedBallJoint : public SphericalJoint {};

TEST_F(DebugChecksDeathTest, DerivativesThroughAClientJointWithVaryingMotionSubspaceAssert) {
  RandomRobot<7> robot(3, false, JointMix::Revolute);
  RigidJoint rigid3, rigid5;
  DerivedBallJoint ball;
  // Coordinates 1 + 1 + 0 + 3 + 0 + 1 + 1 = 7.
  robot.model().addJoint(3, rigid3);
  robot.model().addJoint(4, ball);
  robot.model().addJoint(5, rigid5);
  randomState<7>(robot.model(), robot.rng());
  VexoBaseXD<7>::JointMat a, b, c;
  const char message[] = "A client joint's motion subspace E depends on its coordinates";
  EXPECT_DEATH(DynamicAnalysisXD<7>::IdynDerivatives(robot.model(), qddot, g, a, b), message);
  EXPECT_DEATH(DynamicAnalysisXD<7>::FdynDerivatives(robot.model(), qddot, g, a, b, c), message);
}

// ---- Inertial parameters without a positive mass ----------------------------------------------

TEST_F(DebugChecksDeathTest, ParametersWithoutPositiveMassAssert) {
  RandomRobot<7> robot(3);
  DynamicAnalysisXD<7>::ParamVec pi;
  DynamicAnalysisXD<7>::InertialParameters(robot.model(), pi);
  const char message[] = "Inertial parameters need a positive mass";
  DynamicAnalysisXD<7>::ParamVec negative = pi;
  negative(20) = -0.1;  // body 3's mass
  EXPECT_DEATH(DynamicAnalysisXD<7>::SetInertialParameters(robot.model(), negative), message);
  DynamicAnalysisXD<7>::ParamVec firstMomentWithoutMass = pi;
  firstMomentWithoutMass(20) = 0;
  EXPECT_DEATH(DynamicAnalysisXD<7>::SetInertialParameters(robot.model(), firstMomentWithoutMass),
               message);
}

}  // namespace

#endif  // NDEBUG
