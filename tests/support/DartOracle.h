// DART (Debian's libdart 6.12) as an independent oracle: a skeleton loaded from a URDF file with
// dart::utils::DartLoader, root joint fixed, links without <inertial> massless (as in KDL and
// ours), joint damping, springs and friction switched off (ours and KDL leave them out too). The
// URDF's <visual> and <collision> elements are removed before parsing: their meshes are not shipped
// and play no part in the dynamics. Vectors and matrices go in and out in the model's joint order.
// Compiled once (DartOracle.cpp, target zorvik_test_dart), for the tests and the benchmarks.
#ifndef ZORVIK_TEST_DART_ORACLE_H
#define ZORVIK_TEST_DART_ORACLE_H

#include <Eigen/Core>
#include <memory>
#include <string>
#include <vector>

// DART's headers are heavy; the skeleton is only named here.
namespace dart::dynamics {
class Skeleton;
}

namespace zorvik_test {

class DartRobot {
 public:
  // jointNames: the model's coordinate order (one-coordinate joints).
  DartRobot(const std::string& urdfPath, const std::vector<std::string>& jointNames,
            const Eigen::Vector3d& gravity);

  // Model order to DART's degrees of freedom and back.
  Eigen::VectorXd toDart(const Eigen::VectorXd& x) const;
  Eigen::VectorXd fromDart(const Eigen::VectorXd& y) const;
  Eigen::MatrixXd fromDart(const Eigen::MatrixXd& Y) const;

  // Joint accelerations for torques tau at (q, qdot), and M(q)^-1, in model order.
  Eigen::VectorXd forwardDynamics(const Eigen::VectorXd& q, const Eigen::VectorXd& qdot,
                                  const Eigen::VectorXd& tau);
  Eigen::MatrixXd inverseMass(const Eigen::VectorXd& q);

  // The bodies that move with the coordinates (those fixed to the root link are left out, as the
  // model's base body is): their mass, centre of mass, its velocity and Jacobian (3 x n, world
  // axes, model order), their momentum (linear, then angular about the centre of mass, world axes)
  // and their kinetic and potential energies, all from DART's per-body kinematics at (q, qdot).
  struct MovingBodies {
    double mass;
    Eigen::Vector3d com, comVelocity;
    Eigen::MatrixXd comJacobian;
    Eigen::Matrix<double, 6, 1> momentum;
    double kinetic, potential;
  };
  MovingBodies movingBodies(const Eigen::VectorXd& q, const Eigen::VectorXd& qdot);

  dart::dynamics::Skeleton& skeleton() { return *skel_; }

 private:
  std::shared_ptr<dart::dynamics::Skeleton> skel_;
  std::vector<int> perm_;  // model coordinate i is DART's degree of freedom perm_[i]
};

}  // namespace zorvik_test

#endif
