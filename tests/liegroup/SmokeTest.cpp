#include <LieGroup/HTransform>
#include <gtest/gtest.h>
#include "support/AllocationCounter.h"
using namespace LieGroup;
TEST(Smoke, ExpLogRoundTrip) {
  Twist l(0.1, 0.2, 0.3, 0.4, -0.5, 0.6);
  HTransform T = l.exp();
  Twist l2 = T.expCoord();
  EXPECT_LT((l - l2).norm(), 1e-12);
  double a, b, t;
  l.compute_terms(&a, &b, &t);
  EXPECT_LT((l.dexp(a, b, t) * l.dexp_inv(a, b, t) - Matrix6d::Identity()).norm(), 1e-12);
  Eigen::Matrix<double, 6, 7> J = Eigen::Matrix<double, 6, 7>::Random(), R;
  EXPECT_NO_ALLOCATION(T.itransform(J, R));
  l.adjoint(J, R);
}
