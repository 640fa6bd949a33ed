#include "support/DartOracle.h"

#include <dart/dynamics/BodyNode.hpp>
#include <dart/dynamics/DegreeOfFreedom.hpp>
#include <dart/dynamics/Skeleton.hpp>
#include <dart/dynamics/Joint.hpp>
#include <dart/utils/urdf/DartLoader.hpp>

#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace zorvik_test {

namespace {

// The URDF text without its <visual> and <collision> elements.
std::string dynamicsOnlyUrdf(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  for (const std::string tag : {"visual", "collision"}) {
    for (;;) {
      const size_t begin = text.find("<" + tag);
      if (begin == std::string::npos) break;
      const size_t selfClose = text.find("/>", begin), open = text.find(">", begin);
      size_t end;
      if (selfClose != std::string::npos && selfClose + 1 == open) {
        end = open + 1;
      } else {
        const std::string close = "</" + tag + ">";
        end = text.find(close, begin);
        if (end == std::string::npos) throw std::runtime_error("unclosed <" + tag + "> in " + path);
        end += close.size();
      }
      text.erase(begin, end - begin);
    }
  }
  return text;
}

}  // namespace

DartRobot::DartRobot(const std::string& urdfPath, const std::vector<std::string>& jointNames,
                     const Eigen::Vector3d& gravity) {
  // DART warns on std::cerr about every massless link, and its loader's options print when they
  // are built; the links are massless on purpose.
  std::streambuf* cerr = std::cerr.rdbuf(nullptr);
  dart::utils::DartLoader::Options options(
      nullptr, dart::utils::DartLoader::RootJointType::FIXED,
      dart::dynamics::Inertia(0.0, Eigen::Vector3d::Zero(), Eigen::Matrix3d::Zero()));
  dart::utils::DartLoader loader(options);
  skel_ = loader.parseSkeletonString(dynamicsOnlyUrdf(urdfPath),
                                     dart::common::Uri::createFromPath(urdfPath));
  std::cerr.rdbuf(cerr);
  if (!skel_ || skel_->getNumDofs() != jointNames.size())
    throw std::runtime_error("DART could not load " + urdfPath + " with " +
                             std::to_string(jointNames.size()) + " degrees of freedom");
  skel_->setGravity(gravity);
  for (std::size_t i = 0; i < skel_->getNumDofs(); ++i) {
    dart::dynamics::DegreeOfFreedom* dof = skel_->getDof(i);
    dof->setDampingCoefficient(0);
    dof->setSpringStiffness(0);
    dof->setCoulombFriction(0);
  }
  for (const std::string& name : jointNames) {
    const dart::dynamics::Joint* joint = skel_->getJoint(name);
    if (!joint) throw std::runtime_error("DART skeleton has no joint " + name);
    perm_.push_back(static_cast<int>(joint->getIndexInSkeleton(0)));
  }
}

Eigen::VectorXd DartRobot::toDart(const Eigen::VectorXd& x) const {
  Eigen::VectorXd y(x.size());
  for (int i = 0; i < x.size(); ++i) y(perm_[i]) = x(i);
  return y;
}

Eigen::VectorXd DartRobot::fromDart(const Eigen::VectorXd& y) const {
  Eigen::VectorXd x(y.size());
  for (int i = 0; i < y.size(); ++i) x(i) = y(perm_[i]);
  return x;
}

Eigen::MatrixXd DartRobot::fromDart(const Eigen::MatrixXd& Y) const {
  Eigen::MatrixXd X(Y.rows(), Y.cols());
  for (int i = 0; i < Y.rows(); ++i)
    for (int j = 0; j < Y.cols(); ++j) X(i, j) = Y(perm_[i], perm_[j]);
  return X;
}

Eigen::VectorXd DartRobot::forwardDynamics(const Eigen::VectorXd& q, const Eigen::VectorXd& qdot,
                                           const Eigen::VectorXd& tau) {
  skel_->setPositions(toDart(q));
  skel_->setVelocities(toDart(qdot));
  skel_->setForces(toDart(tau));
  skel_->computeForwardDynamics();
  return fromDart(Eigen::VectorXd(skel_->getAccelerations()));
}

Eigen::MatrixXd DartRobot::inverseMass(const Eigen::VectorXd& q) {
  skel_->setPositions(toDart(q));
  return fromDart(Eigen::MatrixXd(skel_->getInvMassMatrix()));
}

DartRobot::MovingBodies DartRobot::movingBodies(const Eigen::VectorXd& q,
                                                const Eigen::VectorXd& qdot) {
  skel_->setPositions(toDart(q));
  skel_->setVelocities(toDart(qdot));
  MovingBodies r;
  r.mass = 0;
  r.kinetic = 0;
  Eigen::Vector3d h = Eigen::Vector3d::Zero(), l = Eigen::Vector3d::Zero();
  Eigen::MatrixXd J = Eigen::MatrixXd::Zero(3, skel_->getNumDofs());
  for (std::size_t b = 0; b < skel_->getNumBodyNodes(); ++b) {
    const dart::dynamics::BodyNode* body = skel_->getBodyNode(b);
    if (body->getNumDependentGenCoords() == 0) continue;
    const double m = body->getMass();
    r.mass += m;
    h += m * body->getCOM();
    l += m * body->getCOMLinearVelocity();
    J += m * skel_->getLinearJacobian(body, body->getLocalCOM());
    r.kinetic += body->computeKineticEnergy();
  }
  // -g . sum m c from DART's centres of mass (BodyNode's own potential takes the body origin for
  // the centre of mass).
  r.potential = -skel_->getGravity().dot(h);
  r.com = h / r.mass;
  r.comVelocity = l / r.mass;
  Eigen::MatrixXd Jmodel(3, J.cols());
  for (int i = 0; i < J.cols(); ++i) Jmodel.col(i) = J.col(perm_[i]);
  r.comJacobian = Jmodel / r.mass;
  // Angular momentum about the centre of mass: each body's spin, R Ic R^T w, plus the moment of its
  // linear momentum about the centre of mass.
  Eigen::Vector3d k = Eigen::Vector3d::Zero();
  for (std::size_t b = 0; b < skel_->getNumBodyNodes(); ++b) {
    const dart::dynamics::BodyNode* body = skel_->getBodyNode(b);
    if (body->getNumDependentGenCoords() == 0) continue;
    const Eigen::Matrix3d R = body->getWorldTransform().linear();
    const Eigen::Matrix3d Ic = R * body->getInertia().getMoment() * R.transpose();
    k += Ic * body->getAngularVelocity() +
         (body->getCOM() - r.com).cross(body->getMass() * body->getCOMLinearVelocity());
  }
  r.momentum << l, k;
  return r;
}

}  // namespace zorvik_test
