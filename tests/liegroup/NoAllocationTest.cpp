// Every operation of the Lie group types works on fixed-size storage: none of them may touch the
// heap, in either build. Each call is wrapped in an allocation scope of the test's counting
// allocator; results are kept observable so that the optimiser cannot drop the call.
#include <LieGroup/HTransform>

#include <gtest/gtest.h>

#include <vector>

#include "support/AllocationCounter.h"
#include "support/JacobianWidths.h"
#include "support/RandomLieGroup.h"

namespace no_allocation_test {

using namespace LieGroup;
using zorvik_test::doNotOptimize;
using zorvik_test::RandomLieGroup;

#define EXPECT_NO_ALLOCATION_OF(expr) \
  EXPECT_NO_ALLOCATION({              \
    auto&& value_ = (expr);           \
    doNotOptimize(value_);            \
  })

// The counter must see the heap, or every other test here would pass vacuously.
TEST(AllocationCounter, SeesHeapAllocations) {
  zorvik_test::AllocationScope scope;
  std::vector<double> v(16, 1.0);
  doNotOptimize(v);
  Eigen::MatrixXd m = Eigen::MatrixXd::Ones(8, 8);
  doNotOptimize(m);
#ifdef ZORVIK_TEST_NO_MALLOC_HOOK
  // Under the sanitizers, which own malloc, only operator new (the vector) is counted.
  EXPECT_GE(scope.count(), 1);
#else
  EXPECT_GE(scope.count(), 2);
#endif
}

TEST(NoAllocation, RotationOperations) {
  RandomLieGroup rnd(81);
  const Vector3D w = rnd.rotationVector(1.2), u(rnd.vector3());
  const Rotation R = rnd.rotation(), Rd = rnd.rotation();
  double alpha = 0, beta = 0, theta_sqr = 0;
  EXPECT_NO_ALLOCATION(w.compute_terms(&alpha, &beta, &theta_sqr));
  const double s = w.dot(u);
  EXPECT_NO_ALLOCATION_OF(w.exp(alpha, beta, theta_sqr));
  EXPECT_NO_ALLOCATION_OF(w.dexp(alpha, beta, theta_sqr));
  EXPECT_NO_ALLOCATION_OF(w.dexp_inv(alpha, beta, theta_sqr));
  EXPECT_NO_ALLOCATION_OF(w.ddt_dexp(alpha, beta, theta_sqr, s, u));
  EXPECT_NO_ALLOCATION_OF(w.ddt_dexp_inv(alpha, beta, theta_sqr, s, u));
  EXPECT_NO_ALLOCATION_OF(R.expCoord());
  EXPECT_NO_ALLOCATION_OF(R.icascade(Rd));
  EXPECT_NO_ALLOCATION_OF(R.irotate(u));
  EXPECT_NO_ALLOCATION_OF(internal::_ceil_expression(w(0), w(1), w(2)));
  EXPECT_NO_ALLOCATION_OF(internal::_ceil_sqr_expression(w(0), w(1), w(2)));
  EXPECT_NO_ALLOCATION_OF(internal::_common_expression_1(0.5, 0.25, w));
  EXPECT_NO_ALLOCATION_OF(internal::_common_expression_2(0.5, 0.25, 0.1, 0.2, w, u));
  EXPECT_NO_ALLOCATION_OF(internal::_common_expression_3(1, 2, 3, 4, 5, 6, 7, 8, 9, w, u, w, u));
  EXPECT_NO_ALLOCATION_OF(internal::_common_expression_4(0.5, 1.0 / 6, u, w, u));
}

TEST(NoAllocation, HTransformOperations) {
  RandomLieGroup rnd(82);
  const Rotation R = rnd.rotation();
  const Displacement r(rnd.vector3());
  const HTransform T = rnd.pose(), U = rnd.pose();
  const Twist V = rnd.twist();
  const Wrench F = rnd.wrench();
  EXPECT_NO_ALLOCATION_OF(HTransform(R, r));
  HTransform S;
  EXPECT_NO_ALLOCATION(S.set(R, r));
  EXPECT_NO_ALLOCATION_OF(T.cascade(U));
  EXPECT_NO_ALLOCATION_OF(T.icascade(U));
  EXPECT_NO_ALLOCATION_OF(T.transform(V));
  EXPECT_NO_ALLOCATION_OF(T.itransform(V));
  EXPECT_NO_ALLOCATION_OF(T.transform(F));
  EXPECT_NO_ALLOCATION_OF(T.itransform(F));
  EXPECT_NO_ALLOCATION_OF(T.expCoord());
}

TEST(NoAllocation, TwistAndWrenchOperations) {
  RandomLieGroup rnd(83);
  const Twist lambda = rnd.twistWithAngle(0.8), lambda_dot = rnd.twist(), U = rnd.twist();
  const Twist small = rnd.twistWithAngle(1e-4);
  const Wrench F = rnd.wrench();
  const Matrix6d M = rnd.matrix<6, 6>();
  EXPECT_NO_ALLOCATION_OF(Twist());
  EXPECT_NO_ALLOCATION_OF(Wrench());
  EXPECT_NO_ALLOCATION_OF(Twist(lambda.v(), lambda.w()));
  EXPECT_NO_ALLOCATION_OF(lambda.adjoint(U));
  EXPECT_NO_ALLOCATION_OF(lambda.coadjoint(F));
  EXPECT_NO_ALLOCATION_OF(U.upperBlockTriTransposedMult(M));
  EXPECT_NO_ALLOCATION_OF(F.upperBlockTriRelocatedMult(M));
  double alpha = 0, beta = 0, theta_sqr = 0;
  EXPECT_NO_ALLOCATION(lambda.compute_terms(&alpha, &beta, &theta_sqr));
  EXPECT_NO_ALLOCATION_OF(lambda.exp(alpha, beta, theta_sqr));
  EXPECT_NO_ALLOCATION_OF(lambda.dexp(alpha, beta, theta_sqr));
  EXPECT_NO_ALLOCATION_OF(lambda.dexp_inv(alpha, beta, theta_sqr));
  EXPECT_NO_ALLOCATION_OF(lambda.ddt_dexp(alpha, beta, theta_sqr, 0.1, 0.2, 0.3, 0.4, lambda_dot));
  // The small-angle branch of ddt_dexp.
  small.compute_terms(&alpha, &beta, &theta_sqr);
  EXPECT_NO_ALLOCATION_OF(small.ddt_dexp(alpha, beta, theta_sqr, 0.1, 0.2, 0.3, 0.4, lambda_dot));
}

template <typename W>
class NoAllocationJacobianTest : public ::testing::Test {};
TYPED_TEST_SUITE(NoAllocationJacobianTest, zorvik_test::JacobianWidths,
                 zorvik_test::JacobianWidthNames);

TYPED_TEST(NoAllocationJacobianTest, SixByNOperations) {
  constexpr int N = TypeParam::value;
  RandomLieGroup rnd(84 + N);
  const HTransform T = rnd.pose();
  const Twist V = rnd.twist();
  const Eigen::Matrix<double, 6, N> J = rnd.template matrix<6, N>();
  Eigen::Matrix<double, 6, N> res;
  EXPECT_NO_ALLOCATION(T.itransform(J, res));
  doNotOptimize(res);
  EXPECT_NO_ALLOCATION(V.adjoint(J, res));
  doNotOptimize(res);
  EXPECT_NO_ALLOCATION(
      internal::_cross(V(0), V(1), V(2), J.template bottomRows<3>(), res.template topRows<3>()));
  doNotOptimize(res);
}

}  // namespace no_allocation_test
