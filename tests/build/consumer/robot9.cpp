// Client of an installed ZorvikCore with its URDF loader: a robot of a size the library is not
// built for (9 joints: a Panda arm on a two-axis gantry), compiled here from the installed headers
// and loaded from its URDF file. Forward dynamics must invert inverse dynamics and MassInverse
// must invert the mass matrix; exit status 0 when both hold.
#include <Vexo/DynamicAnalysisXD>
#include <ZorvikURDF/RobotLoader>

#include <cstdio>

using namespace ZorvikFoundation;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: robot9 robot.urdf\n");
    return 2;
  }
  URDF::Robot<9> robot = URDF::loadRobot<9>(argv[1]);
  typedef URDF::Robot<9>::JointVec JointVec;
  typedef URDF::Robot<9>::JointMat JointMat;
  const LieGroup::Vector3D g(0, 0, -9.81);
  robot.q() = JointVec::LinSpaced(-0.8, 0.9);
  robot.qdot() = JointVec::LinSpaced(0.5, -0.4);
  robot.update(false);
  const JointVec qddot = JointVec::LinSpaced(1.0, -2.0);
  robot.idyn(robot.qdot(), qddot, g);
  robot.fdyn(JointVec(robot.tau()), g);
  const double roundTrip = (robot.qddot() - qddot).norm() / qddot.norm();
  JointMat M, C, Minv;
  JointVec G;
  VexoSDK::DynamicAnalysisXD<9>::JointDynamics(robot, M, C, G, g);
  VexoSDK::DynamicAnalysisXD<9>::MassInverse(robot, Minv);
  const double inverse = (Minv * M - JointMat::Identity()).norm();
  std::printf("%s: %d joints, fdyn(idyn(qddot)) rel. error %.1e, |Minv M - I| %.1e\n",
              robot.description().robotName().c_str(), int(robot.JOINT_DOF), roundTrip, inverse);
  return roundTrip < 1e-10 && inverse < 1e-10 ? 0 : 1;
}
