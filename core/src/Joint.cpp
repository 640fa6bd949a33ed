// The library's joints compiled once: the members of JointBase for each of them (declared
// `extern template` in AMBS/Joint, so that clients do not compile them again) and their updates.
#include "AMBS/Joint"
#include "AMBS/internal/LibraryJoints.h"

namespace ZorvikFoundation {

template class JointBase<FloatingJoint>;

void FloatingJoint::update(const double*) {}

void FloatingJoint::updateVelocity(const double*, const double*) {}

template class JointBase<RigidJoint>;

void RigidJoint::update(const double*) {
  _Tadj = _Toffset;
}

void RigidJoint::updateVelocity(const double*, const double*) {}

template class JointBase<RevoluteJoint>;

void RevoluteJoint::update(const double* q) {
  internal::revolutePose(_Toffset, _E.col(0).data() + 3, q[0], _Tadj);
}

void RevoluteJoint::updateVelocity(const double*, const double* qdot) {
  _Vadj = _E.col(0) * qdot[0];
}

template class JointBase<PrismaticJoint>;

void PrismaticJoint::update(const double* q) {
  internal::prismaticPose(_Toffset, _E.col(0).data(), q[0], _Tadj);
}

void PrismaticJoint::updateVelocity(const double*, const double* qdot) {
  _Vadj = _E.col(0) * qdot[0];
}

template class JointBase<MDHRevoluteJoint>;

void MDHRevoluteJoint::update(const double* q) {
  double s, c;
  ::sincos(_theta0 + q[0], &s, &c);
  const auto R0 = _Toffset.R().col(0), R1 = _Toffset.R().col(1);
  _Tadj.R().col(0) = c * R0 + s * R1;
  _Tadj.R().col(1) = c * R1 - s * R0;
  _Tadj.R().col(2) = _Toffset.R().col(2);
  _Tadj.r() = _Toffset.r();
}

void MDHRevoluteJoint::updateVelocity(const double*, const double* qdot) {
  _Vadj.setZero();
  _Vadj(5) = qdot[0];
}

template class JointBase<MDHPrismaticJoint>;

void MDHPrismaticJoint::update(const double* q) {
  _Tadj.R() = _Toffset.R();
  _Tadj.r() = _Toffset.r() + (_d0 + q[0]) * _Toffset.R().col(2);
}

void MDHPrismaticJoint::updateVelocity(const double*, const double* qdot) {
  _Vadj.setZero();
  _Vadj(2) = qdot[0];
}

template class JointBase<CylindricalJoint>;

void CylindricalJoint::update(const double* q) {
  const Eigen::Vector3d a = axis();
  _Tadj.R().noalias() = _Toffset.R() * internal::axisRotation(a, q[0]);
  _Tadj.r() = _Toffset.r();
  _Tadj.r().noalias() += _Toffset.R() * (q[1] * a);
}

void CylindricalJoint::updateVelocity(const double*, const double* qdot) {
  _Vadj = _E.col(0) * qdot[0] + _E.col(1) * qdot[1];
}

template class JointBase<SphericalJoint>;

void SphericalJoint::update(const double* q) {
  const Vector3D xi(q[0], q[1], q[2]);
  xi.compute_terms(&_alpha, &_beta, &_theta_sqr);
  _Tadj.R().noalias() = _Toffset.R() * xi.exp(_alpha, _beta, _theta_sqr);
  _Tadj.r() = _Toffset.r();
  _E.block<3, 3>(3, 0) = xi.dexp(_alpha, _beta, _theta_sqr).transpose();
}

void SphericalJoint::updateVelocity(const double* q, const double* qdot) {
  const Vector3D xi(q[0], q[1], q[2]), xidot(qdot[0], qdot[1], qdot[2]);
  _Vadj.v().setZero();
  _Vadj.w().noalias() = _E.block<3, 3>(3, 0) * xidot;
  _Edot.block<3, 3>(3, 0) =
      xi.ddt_dexp(_alpha, _beta, _theta_sqr, xi.dot(xidot), xidot).transpose();
}

template class JointBase<FreeJoint>;

void FreeJoint::update(const double* q) {
  const Vector3D xi(q[3], q[4], q[5]);
  xi.compute_terms(&_alpha, &_beta, &_theta_sqr);
  const Eigen::Matrix3d R = xi.exp(_alpha, _beta, _theta_sqr);
  _Tadj.R().noalias() = _Toffset.R() * R;
  _Tadj.r() = _Toffset.r();
  _Tadj.r().noalias() += _Toffset.R() * Eigen::Vector3d(q[0], q[1], q[2]);
  _E.block<3, 3>(0, 0) = R.transpose();
  _E.block<3, 3>(3, 3) = xi.dexp(_alpha, _beta, _theta_sqr).transpose();
}

void FreeJoint::updateVelocity(const double* q, const double* qdot) {
  const Vector3D xi(q[3], q[4], q[5]), xidot(qdot[3], qdot[4], qdot[5]);
  _Vadj = _E.leftCols<6>() * Eigen::Map<const Vector6d>(qdot);
  const Vector3D w(_Vadj.w());
  _Edot.block<3, 3>(0, 0).noalias() = -w.ceil() * _E.block<3, 3>(0, 0);
  _Edot.block<3, 3>(3, 3) =
      xi.ddt_dexp(_alpha, _beta, _theta_sqr, xi.dot(xidot), xidot).transpose();
}

}  // namespace ZorvikFoundation
