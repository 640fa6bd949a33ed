// Reproducible random samples: each test owns a generator with a fixed seed (std::mt19937 or
// std::mt19937_64), so that a failure reproduces exactly, and draws from it with these functions.
#ifndef ZORVIK_TEST_RANDOM_H
#define ZORVIK_TEST_RANDOM_H

#include <Eigen/Geometry>

#include <random>

namespace zorvik_test {

template <class Rng>
double uniform(Rng& rng, double lo, double hi) {
  return std::uniform_real_distribution<double>(lo, hi)(rng);
}

// Standard normal. (A fresh distribution per draw: no value is cached between draws.)
template <class Rng>
double gaussian(Rng& rng) {
  return std::normal_distribution<double>(0.0, 1.0)(rng);
}

// Entries uniform in [-scale, scale], drawn column by column.
template <int Rows, int Cols = 1, class Rng>
Eigen::Matrix<double, Rows, Cols> randomMatrix(Rng& rng, double scale = 1.0) {
  Eigen::Matrix<double, Rows, Cols> m;
  for (int j = 0; j < Cols; ++j)
    for (int i = 0; i < Rows; ++i) m(i, j) = uniform(rng, -scale, scale);
  return m;
}

// Uniform on the unit sphere (a normalised Gaussian vector).
template <class Rng>
Eigen::Vector3d randomUnitVector(Rng& rng) {
  Eigen::Vector3d u;
  do {
    for (int i = 0; i < 3; ++i) u(i) = gaussian(rng);
  } while (u.norm() < 1e-3);
  return u.normalized();
}

// Uniform on SO(3): a normalised Gaussian 4-vector is a uniform unit quaternion. The matrix comes
// from Eigen's quaternion conversion, not from the library.
template <class Rng>
Eigen::Matrix3d randomRotation(Rng& rng) {
  Eigen::Quaterniond q;
  for (int i = 0; i < 4; ++i) q.coeffs()(i) = gaussian(rng);
  return q.normalized().toRotationMatrix();
}

// The rotation by `angle` about a random axis, through Eigen's AngleAxis.
template <class Rng>
Eigen::Matrix3d randomRotation(Rng& rng, double angle) {
  return Eigen::AngleAxisd(angle, randomUnitVector(rng)).toRotationMatrix();
}

}  // namespace zorvik_test

#endif
