// Every joint class of the library, and a client's joint of two coordinates, as the only moving
// joint of a model of its own size N: the base, the body the joint carries, and N - 1 body slots
// that a joint of N coordinates leaves over, filled by RigidPadding with massless bodies fixed to
// the base.
//
// Oracle. With the base fixed, the body's twist is the joint's V = E qdot (its own frame), so the
// joint-space mass matrix is M = E^T I E, I the body's spatial inertia at its frame, written out
// here from the mass m, the centre of mass c and the inertia Ic about it:
//   I = [[m 1, -m [c]], [m [c], Ic - m [c]^2]]   (twists (v, w), wrenches (f, n)).
// The forward dynamics must invert the inverse dynamics, MassInverse must invert that M, and the
// padding bodies must sit still at the base's pose.
#include <Vexo/DynamicAnalysisXD>

#include "support/MatrixNear.h"
#include "support/RandomRobot.h"
#include "support/SpatialAlgebra.h"

namespace zorvik_test::joint_class_models_test {

constexpr double kTol = 1e-11;

// A client's joint: translation by q0 and q1 along the x and y axes of its joint frame (E
// constant, Edot zero).
class PlanarTranslation;

}  // namespace zorvik_test::joint_class_models_test

template <>
struct ZorvikFoundation::JointTraits<zorvik_test::joint_class_models_test::PlanarTranslation>
    : ZorvikFoundation::JointKind<ZorvikFoundation::CUSTOM, 2> {};

namespace zorvik_test::joint_class_models_test {

class PlanarTranslation : public JointBase<PlanarTranslation> {
 public:
  using JointBase::update;
  explicit PlanarTranslation(const HTransform& origin) : JointBase(origin) {
    _E(0, 0) = 1;
    _E(1, 1) = 1;
  }
  void update(const double* q) override {
    _Tadj = _Toffset.cascade(HTransform(Eigen::Matrix3d::Identity(), Eigen::Vector3d(q[0], q[1], 0)));
  }
  void updateVelocity(const double*, const double* qdot) override { _Vadj = adjTwist(qdot); }
};

Mat6 spatialInertia(double m, const Eigen::Vector3d& c, const Eigen::Matrix3d& Ic) {
  Mat6 I;
  I << m * Eigen::Matrix3d::Identity(), -m * skew(c), m * skew(c), Ic - m * skew(c) * skew(c);
  return I;
}

template <int N, typename J>
void expectModelOfItsOwnSize(J& joint, unsigned seed) {
  typedef typename VexoBaseXD<N>::JointVec JointVec;
  typedef typename VexoBaseXD<N>::JointMat JointMat;
  std::mt19937 rng(seed);
  const double m = 1.7;
  const Eigen::Vector3d c(0.05, -0.03, 0.08);
  Eigen::Matrix3d Ic;
  Ic << 0.04, 0.002, -0.001, 0.002, 0.05, 0.003, -0.001, 0.003, 0.03;
  Body base, body;
  body.setInertia(Inertia(m, c(0), c(1), c(2), Ic(0, 0), Ic(1, 1), Ic(2, 2), Ic(0, 1), Ic(1, 2),
                          Ic(0, 2)));
  RigidJoint fixed(randomPose(rng));
  VexoBaseXD<N> model;
  model.addBody(0, base);
  model.addJoint(0, fixed);
  model.addBody(1, body);
  model.connect(0, 1, joint);
  RigidPadding<N> padding;
  EXPECT_EQ(padding.fill(model), N - 1);
  EXPECT_EQ(padding.fill(model), 0) << "a filled slot was filled again";
  EXPECT_EQ(&model.body(1), &body);

  randomState<N>(model, rng, 0.8);
  const Vector3D g(0, 0, -9.81);
  const Mat6 I = spatialInertia(m, c, Ic);
  const Eigen::Matrix<double, 6, N> E = joint.E().template leftCols<N>();
  const JointMat expectedM = E.transpose() * I * E;
  JointMat M, C, Minv;
  JointVec G;
  DynamicAnalysisXD<N>::JointDynamics(model, M, C, G, g);
  EXPECT_MATRIX_NEAR(M, expectedM, kTol);
  DynamicAnalysisXD<N>::MassInverse(model, Minv);
  EXPECT_MATRIX_NEAR(Minv * expectedM, JointMat::Identity(), kTol);

  const JointVec qddot = randomMatrix<N>(rng, 2.0);
  model.idyn(model.qdot(), qddot, g);
  model.fdyn(JointVec(model.tau()), g);
  EXPECT_MATRIX_NEAR(model.qddot(), qddot, kTol);
  for (int k = 2; k <= N; ++k) EXPECT_MATRIX_EQ(model.T(k), model.T(0)) << "padding body " << k;
}

TEST(JointClassModels, EachJointClassAloneInAModelOfItsOwnSize) {
  std::mt19937 rng(5);
  RevoluteJoint revolute(randomPose(rng), randomAxis(rng));
  PrismaticJoint prismatic(randomPose(rng), randomAxis(rng));
  MDHRevoluteJoint mdhRevolute(0.3, 0.1, 0.2, -0.4);
  MDHPrismaticJoint mdhPrismatic(-0.5, 0.1, 0.7, 0.05);
  CylindricalJoint cylindrical(randomPose(rng), randomAxis(rng));
  PlanarTranslation client(randomPose(rng));
  SphericalJoint spherical(randomPose(rng));
  FreeJoint free(randomPose(rng));
  expectModelOfItsOwnSize<1>(revolute, 1);
  expectModelOfItsOwnSize<1>(prismatic, 2);
  expectModelOfItsOwnSize<1>(mdhRevolute, 3);
  expectModelOfItsOwnSize<1>(mdhPrismatic, 4);
  expectModelOfItsOwnSize<2>(cylindrical, 5);
  expectModelOfItsOwnSize<2>(client, 6);
  expectModelOfItsOwnSize<3>(spherical, 7);
  expectModelOfItsOwnSize<6>(free, 8);
}

}  // namespace zorvik_test::joint_class_models_test
