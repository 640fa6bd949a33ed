// Compiled members of HTransformController and the instantiation of its base: the laws of
// internal::ControlLaw on the SE(3) error geometry.
#include "Controller/HTransformController"

#include "ControlLaw.h"

namespace ZorvikFoundation {

template class Controller<6, HTransformController, LieGroup::HTransform, LieGroup::Twist,
                          LieGroup::Twist, LieGroup::Wrench>;

namespace {
typedef internal::ControlLaw<internal::SE3Geometry> Law;
}

void HTransformController::error(const HTransform& T, const HTransform& Td,
                                 TaskVec& lambda) const {
  Law::error(T, Td, lambda);
}

void HTransformController::error(const HTransform& T, const Twist& V, const HTransform& Td,
                                 const Twist& Vd, TaskVec& lambda, TaskVec& lambdadot) const {
  Law::error(T, V, Td, Vd, lambda, lambdadot);
}

void HTransformController::refVelocity(const HTransform& T, const HTransform& Td, const Twist& Vd,
                                       TaskVec& Vref) {
  Law::refVelocity(*this, T, Td, Vd, Vref);
}

void HTransformController::refVelocity(const HTransform& T, const HTransform& Td, const Twist& Vd,
                                       TaskVec& Vref, TaskVec& lambda) {
  Law::refVelocity(*this, T, Td, Vd, Vref, lambda);
}

void HTransformController::refAcceleration(const HTransform& T, const Twist& V,
                                           const HTransform& Td, const Twist& Vd,
                                           const Twist& Vdotd, TaskVec& Vref, TaskVec& Vdotref) {
  Law::refAcceleration(*this, T, V, Td, Vd, Vdotd, Vref, Vdotref);
}

void HTransformController::refAcceleration(const HTransform& T, const Twist& V,
                                           const HTransform& Td, const Twist& Vd,
                                           const Twist& Vdotd, TaskVec& Vref, TaskVec& Vdotref,
                                           TaskVec& lambda, TaskVec& lambdadot) {
  Law::refAcceleration(*this, T, V, Td, Vd, Vdotd, Vref, Vdotref, lambda, lambdadot);
}

void HTransformController::refImpedanceAcceleration(const HTransform& T, const Twist& V,
                                                    const HTransform& Td, const Twist& Vd,
                                                    const Twist& Vdotd, const Wrench& F,
                                                    const Wrench& Fd, TaskVec& Vref,
                                                    TaskVec& Vdotref) {
  Law::refImpedanceAcceleration(*this, T, V, Td, Vd, Vdotd, F, Fd, Vref, Vdotref);
}

void HTransformController::refImpedanceAcceleration(const HTransform& T, const Twist& V,
                                                    const HTransform& Td, const Twist& Vd,
                                                    const Twist& Vdotd, const Wrench& F,
                                                    const Wrench& Fd, TaskVec& Vref,
                                                    TaskVec& Vdotref, TaskVec& lambda,
                                                    TaskVec& lambdadot, TaskVec& gamma) {
  Law::refImpedanceAcceleration(*this, T, V, Td, Vd, Vdotd, F, Fd, Vref, Vdotref, lambda,
                                lambdadot, gamma);
}

void HTransformController::refComplianceForce(const HTransform& T, const Twist& V,
                                              const HTransform& Td, const Twist& Vd,
                                              const Twist& Vdotd, const Wrench& F,
                                              const Wrench& Fd, TaskVec& Fref) {
  Law::refComplianceForce(*this, T, V, Td, Vd, Vdotd, F, Fd, Fref);
}

void HTransformController::refComplianceForce(const HTransform& T, const Twist& V,
                                              const HTransform& Td, const Twist& Vd,
                                              const Twist& Vdotd, const Wrench& F,
                                              const Wrench& Fd, TaskVec& Fref, TaskVec& lambda,
                                              TaskVec& lambdadot, TaskVec& gamma) {
  Law::refComplianceForce(*this, T, V, Td, Vd, Vdotd, F, Fd, Fref, lambda, lambdadot, gamma);
}

}  // namespace ZorvikFoundation
