// Reproducible random samples of the Lie group types: rotation vectors of a chosen angle, rotations
// drawn uniformly from SO(3), poses, twists, wrenches and matrices. Each test owns a generator with
// a fixed seed, so a failure reproduces exactly.
#ifndef ZORVIK_TEST_RANDOM_LIE_GROUP_H
#define ZORVIK_TEST_RANDOM_LIE_GROUP_H

#include <LieGroup/HTransform>

#include <cstdint>
#include <random>

namespace zorvik_test {

class RandomLieGroup {
 public:
  explicit RandomLieGroup(std::uint64_t seed) : gen_(seed) {}

  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(gen_);
  }
  double gaussian() { return std::normal_distribution<double>(0.0, 1.0)(gen_); }

  // Components uniform in [-scale, scale].
  Eigen::Vector3d vector3(double scale = 1.0) {
    return Eigen::Vector3d(uniform(-scale, scale), uniform(-scale, scale), uniform(-scale, scale));
  }

  // Uniform on the unit sphere (normalised Gaussian vector).
  Eigen::Vector3d unitVector() {
    Eigen::Vector3d u;
    do {
      u = Eigen::Vector3d(gaussian(), gaussian(), gaussian());
    } while (u.norm() < 1e-3);
    return u.normalized();
  }

  // A rotation vector of length `angle` about a random axis.
  LieGroup::Vector3D rotationVector(double angle) {
    return LieGroup::Vector3D(angle * unitVector());
  }

  // Uniform on SO(3): a normalised Gaussian 4-vector is a uniform unit quaternion. The matrix comes
  // from Eigen's quaternion conversion, not from the library.
  LieGroup::Rotation rotation() {
    Eigen::Quaterniond q(gaussian(), gaussian(), gaussian(), gaussian());
    q.normalize();
    return LieGroup::Rotation(q.toRotationMatrix());
  }

  // Uniform rotation, position components in [-reach, reach].
  LieGroup::HTransform pose(double reach = 1.0) {
    return LieGroup::HTransform(rotation(), vector3(reach));
  }

  LieGroup::Twist twist(double scale = 1.0) {
    return LieGroup::Twist(vector3(scale), vector3(scale));
  }
  LieGroup::Wrench wrench(double scale = 1.0) {
    return LieGroup::Wrench(vector3(scale), vector3(scale));
  }

  // Exponential coordinates (eta, xi) with |xi| = angle and eta of components in [-reach, reach].
  LieGroup::Twist twistWithAngle(double angle, double reach = 1.0) {
    return LieGroup::Twist(vector3(reach), rotationVector(angle));
  }

  template <int Rows, int Cols>
  Eigen::Matrix<double, Rows, Cols> matrix(double scale = 1.0) {
    Eigen::Matrix<double, Rows, Cols> m;
    for (int j = 0; j < Cols; ++j)
      for (int i = 0; i < Rows; ++i) m(i, j) = uniform(-scale, scale);
    return m;
  }

 private:
  std::mt19937_64 gen_;
};

}  // namespace zorvik_test

#endif
