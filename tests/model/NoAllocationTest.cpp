// The real-time guarantees of the model: forward kinematics, the joints' operations and the
// bodies' dynamics allocate nothing.
#include <Vexo/VexoXD>

#include "support/AllocationCounter.h"
#include "support/JacobianWidths.h"
#include "support/RandomRobot.h"

namespace zorvik_test::model_no_allocation_test {

template <typename T>
class ForwardKinematicsAllocation : public ::testing::Test {};
TYPED_TEST_SUITE(ForwardKinematicsAllocation, JacobianWidths);

TYPED_TEST(ForwardKinematicsAllocation, UpdatesAllocateNothing) {
  constexpr int N = TypeParam::value;
  for (bool tree : {false, true}) {
    RandomRobot<N> robot(600 + N, tree, JointMix::AllOneDof);
    auto& model = robot.model();
    randomState<N>(model, robot.rng());
    EXPECT_NO_ALLOCATION(model.update(false));
    EXPECT_NO_ALLOCATION(model.update(true));
    model.qdot() = randomMatrix<N>(robot.rng());
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

}  // namespace zorvik_test::model_no_allocation_test
