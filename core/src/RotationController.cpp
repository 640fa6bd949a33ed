// Compiled members of RotationController and the instantiation of its base: the laws of
// internal::ControlLaw on the SO(3) error geometry.
#include "Controller/RotationController"

#include "ControlLaw.h"

namespace ZorvikFoundation {

template class Controller<3, RotationController, LieGroup::Rotation, LieGroup::Vector3D,
                          LieGroup::Vector3D, LieGroup::Vector3D>;

namespace {
typedef internal::ControlLaw<internal::SO3Geometry> Law;
}

void RotationController::error(const Rotation& R, const Rotation& Rd, TaskVec& xi) const {
  Law::error(R, Rd, xi);
}

void RotationController::error(const Rotation& R, const Vector3D& w, const Rotation& Rd,
                               const Vector3D& wd, TaskVec& xi, TaskVec& xidot) const {
  Law::error(R, w, Rd, wd, xi, xidot);
}

void RotationController::refVelocity(const Rotation& R, const Rotation& Rd, const Vector3D& wd,
                                     TaskVec& wref) {
  Law::refVelocity(*this, R, Rd, wd, wref);
}

void RotationController::refVelocity(const Rotation& R, const Rotation& Rd, const Vector3D& wd,
                                     TaskVec& wref, TaskVec& xi) {
  Law::refVelocity(*this, R, Rd, wd, wref, xi);
}

void RotationController::refAcceleration(const Rotation& R, const Vector3D& w, const Rotation& Rd,
                                         const Vector3D& wd, const Vector3D& wdotd, TaskVec& wref,
                                         TaskVec& wdotref) {
  Law::refAcceleration(*this, R, w, Rd, wd, wdotd, wref, wdotref);
}

void RotationController::refAcceleration(const Rotation& R, const Vector3D& w, const Rotation& Rd,
                                         const Vector3D& wd, const Vector3D& wdotd, TaskVec& wref,
                                         TaskVec& wdotref, TaskVec& xi, TaskVec& xidot) {
  Law::refAcceleration(*this, R, w, Rd, wd, wdotd, wref, wdotref, xi, xidot);
}

void RotationController::refImpedanceAcceleration(const Rotation& R, const Vector3D& w,
                                                  const Rotation& Rd, const Vector3D& wd,
                                                  const Vector3D& wdotd, const Vector3D& n,
                                                  const Vector3D& nd, TaskVec& wref,
                                                  TaskVec& wdotref) {
  Law::refImpedanceAcceleration(*this, R, w, Rd, wd, wdotd, n, nd, wref, wdotref);
}

void RotationController::refImpedanceAcceleration(const Rotation& R, const Vector3D& w,
                                                  const Rotation& Rd, const Vector3D& wd,
                                                  const Vector3D& wdotd, const Vector3D& n,
                                                  const Vector3D& nd, TaskVec& wref,
                                                  TaskVec& wdotref, TaskVec& xi, TaskVec& xidot,
                                                  TaskVec& eta) {
  Law::refImpedanceAcceleration(*this, R, w, Rd, wd, wdotd, n, nd, wref, wdotref, xi, xidot, eta);
}

void RotationController::refComplianceForce(const Rotation& R, const Vector3D& w,
                                            const Rotation& Rd, const Vector3D& wd,
                                            const Vector3D& wdotd, const Vector3D& n,
                                            const Vector3D& nd, TaskVec& nref) {
  Law::refComplianceForce(*this, R, w, Rd, wd, wdotd, n, nd, nref);
}

void RotationController::refComplianceForce(const Rotation& R, const Vector3D& w,
                                            const Rotation& Rd, const Vector3D& wd,
                                            const Vector3D& wdotd, const Vector3D& n,
                                            const Vector3D& nd, TaskVec& nref, TaskVec& xi,
                                            TaskVec& xidot, TaskVec& eta) {
  Law::refComplianceForce(*this, R, w, Rd, wd, wdotd, n, nd, nref, xi, xidot, eta);
}

}  // namespace ZorvikFoundation
