// A model with an empty body slot, and a moved-from URDF::Robot (an empty model), in the debug
// build: every call stops with an assertion that says what is missing, instead of following a
// null pointer.
//
// A VexoBaseXD<N> has N + 1 body slots. A joint of d coordinates fills d of the N coordinate
// entries but only one slot, so a model with such joints must fill its surplus slots with bodies
// carried by joints without coordinates; built "base plus one body" it leaves slots empty.
#include <gtest/gtest.h>

#include <Vexo/DynamicAnalysisXD>
#include <ZorvikURDF/RobotLoader>

#include "urdf/RobotFiles.h"

#ifndef NDEBUG

namespace zorvik_test::empty_slot_death_test {

using namespace ZorvikFoundation;
using namespace ZorvikFoundation::VexoSDK;

const char kEmptySlotMessage[] = "needs all N \\+ 1 bodies";
const char kMovedFromMessage[] = "moved-from URDF::Robot";
const Vector3D kGravity(0, 0, -9.81);

class EmptySlotDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// A free joint (six coordinates) carrying the only body of a VexoBaseXD<6>: five slots stay empty.
TEST_F(EmptySlotDeathTest, AMultiCoordinateJointWithoutPaddingAsserts) {
  Body base, body;
  body.setInertia(Inertia(1.0, 0.1, 0, 0, 0.01, 0.02, 0.03, 0, 0, 0));
  RigidJoint fixed;
  FreeJoint free;
  VexoBaseXD<6> model;
  model.addBody(0, base);
  model.addJoint(0, fixed);
  model.addBody(1, body);
  model.connect(0, 1, free);
  VexoBaseXD<6>::JointVec tau = VexoBaseXD<6>::JointVec::Ones();
  VexoBaseXD<6>::JointMat Minv;
  EXPECT_DEATH(model.update(false), kEmptySlotMessage);
  EXPECT_DEATH(model.updateJacobian(false), kEmptySlotMessage);
  EXPECT_DEATH(model.idyn(tau, tau, kGravity), kEmptySlotMessage);
  EXPECT_DEATH(model.fdyn(tau, kGravity), kEmptySlotMessage);
  EXPECT_DEATH(DynamicAnalysisXD<6>::MassInverse(model, Minv), kEmptySlotMessage);
}

// Every call on a moved-from robot names it; the robot it was moved into works.
TEST_F(EmptySlotDeathTest, EveryCallOnAMovedFromRobotAsserts) {
  typedef URDF::Robot<7> Robot;
  Robot original = URDF::loadRobot<7>(robotPath("panda_arm.urdf"));
  Robot moved(std::move(original));
  moved.update(false);
  const Robot::JointVec x = Robot::JointVec::Ones();
  Robot::JointMat M, C, Minv;
  Robot::JointVec G;
  Robot::JointJac J;
  EXPECT_DEATH(original.update(false), kMovedFromMessage);
  EXPECT_DEATH(original.update(true), kMovedFromMessage);
  EXPECT_DEATH(original.updateVelocity(), kMovedFromMessage);
  EXPECT_DEATH(original.updateJacobian(false), kMovedFromMessage);
  EXPECT_DEATH(original.idyn(x, x, kGravity), kMovedFromMessage);
  EXPECT_DEATH(original.idyn_gravity(kGravity), kMovedFromMessage);
  EXPECT_DEATH(original.fdyn(x, kGravity), kMovedFromMessage);
  EXPECT_DEATH(DynamicAnalysisXD<7>::JointDynamics(original, M, C, G, kGravity), kMovedFromMessage);
  EXPECT_DEATH(DynamicAnalysisXD<7>::MassInverse(original, Minv), kMovedFromMessage);
  EXPECT_DEATH(original.framePose("panda_hand"), kMovedFromMessage);
  EXPECT_DEATH(original.frameJacobian(0, JacobianFrame::Body, J), kMovedFromMessage);
  EXPECT_DEATH(original.limit(0), kMovedFromMessage);
  EXPECT_DEATH(original.jointName(0), kMovedFromMessage);
  EXPECT_DEATH(original.inverseKinematics(), kMovedFromMessage);
  EXPECT_DEATH(original.T(7), kMovedFromMessage);
}

}  // namespace zorvik_test::empty_slot_death_test

#endif  // NDEBUG
