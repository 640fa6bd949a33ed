// Every class of the library that provides the aligned allocation operators
// (ZORVIK_MAKE_ALIGNED_OPERATOR_NEW) belongs in AlignedTypes below; the aligned allocation test
// runs over the whole list. Add a class here when it gains the operators.
#ifndef ZORVIK_TEST_ALIGNED_TYPES_H
#define ZORVIK_TEST_ALIGNED_TYPES_H

#include <Controller/HTransformController>
#include <Controller/RotationController>
#include <Vexo/MomentumObserverXD>
#include <Vexo/VexoXD>
#include <ZorvikCommon>

#include <gtest/gtest.h>

namespace zorvik_test {

// Stand-ins until library classes carry the operators: a plain aggregate holding a fixed-size
// vectorisable matrix behind a member that shifts it, and a polymorphic one like the client
// extension points (Body, Joint), whose non-trivial destructor makes array new store an element
// count in front of the array.
struct AlignedProbe {
  char tag;
  ZorvikFoundation::Matrix6d m;
  ZORVIK_MAKE_ALIGNED_OPERATOR_NEW
};

struct AlignedPolymorphicProbe {
  virtual ~AlignedPolymorphicProbe() {}
  ZorvikFoundation::Vector6d v;
  double d = 0;
  ZORVIK_MAKE_ALIGNED_OPERATOR_NEW
};

using AlignedTypes = ::testing::Types<
    AlignedProbe, AlignedPolymorphicProbe, ZorvikFoundation::Inertia, ZorvikFoundation::Body,
    ZorvikFoundation::RevoluteJoint, ZorvikFoundation::FreeJoint,
    ZorvikFoundation::VexoSDK::VexoBaseXD<6>, ZorvikFoundation::VexoSDK::VexoBaseXD<7>,
    ZorvikFoundation::VexoSDK::VexoBaseXD<14>, ZorvikFoundation::VexoSDK::VexoBaseXD<16>,
    ZorvikFoundation::VexoSDK::MomentumObserverXD<6>, ZorvikFoundation::VexoSDK::MomentumObserverXD<7>,
    ZorvikFoundation::VexoSDK::MomentumObserverXD<14>, ZorvikFoundation::VexoSDK::MomentumObserverXD<16>,
    ZorvikFoundation::HTransformController>;

}  // namespace zorvik_test

#endif
