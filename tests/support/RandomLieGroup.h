// Random samples of the Lie group types, drawn with the functions of Random.h: rotation vectors of
// a chosen angle, rotations uniform on SO(3), poses, twists, wrenches and matrices. RandomLieGroup
// bundles them with a 64-bit generator of a fixed seed for the Lie group tests.
#ifndef ZORVIK_TEST_RANDOM_LIE_GROUP_H
#define ZORVIK_TEST_RANDOM_LIE_GROUP_H

#include <LieGroup/HTransform>

#include <cstdint>

#include "support/Random.h"

namespace zorvik_test {

template <class Rng>
LieGroup::Twist randomTwist(Rng& rng, double scale = 1.0) {
  return LieGroup::Twist(randomMatrix<6>(rng, scale));
}

template <class Rng>
LieGroup::Wrench randomWrench(Rng& rng, double scale = 1.0) {
  return LieGroup::Wrench(randomMatrix<6>(rng, scale));
}

class RandomLieGroup {
 public:
  explicit RandomLieGroup(std::uint64_t seed) : gen_(seed) {}

  double uniform(double lo, double hi) { return zorvik_test::uniform(gen_, lo, hi); }
  // Components uniform in [-scale, scale].
  Eigen::Vector3d vector3(double scale = 1.0) { return randomMatrix<3>(gen_, scale); }
  Eigen::Vector3d unitVector() { return randomUnitVector(gen_); }
  // A rotation vector of length `angle` about a random axis.
  LieGroup::Vector3D rotationVector(double angle) {
    return LieGroup::Vector3D(angle * unitVector());
  }
  LieGroup::Rotation rotation() { return LieGroup::Rotation(randomRotation(gen_)); }
  // Uniform rotation, position components in [-reach, reach].
  LieGroup::HTransform pose(double reach = 1.0) {
    return LieGroup::HTransform(rotation(), vector3(reach));
  }
  LieGroup::Twist twist(double scale = 1.0) { return randomTwist(gen_, scale); }
  LieGroup::Wrench wrench(double scale = 1.0) { return randomWrench(gen_, scale); }
  // Exponential coordinates (eta, xi) with |xi| = angle and eta of components in [-reach, reach].
  LieGroup::Twist twistWithAngle(double angle, double reach = 1.0) {
    return LieGroup::Twist(vector3(reach), rotationVector(angle));
  }
  template <int Rows, int Cols>
  Eigen::Matrix<double, Rows, Cols> matrix(double scale = 1.0) {
    return randomMatrix<Rows, Cols>(gen_, scale);
  }

 private:
  std::mt19937_64 gen_;
};

}  // namespace zorvik_test

#endif
