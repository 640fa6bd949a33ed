// The recursions' two paths against each other. A model whose joints are all exactly of the
// library's classes and whose bodies are all plain Bodies runs the path specialised for them (the
// joint and body operations written out inline, M, C and G from subtree sums, the observer's terms
// in O(N)); its GeneralPathTwin, the same model built from derived classes, runs the general one
// (virtual calls, the column passes). Every output of every recursion must agree to 1e-13 of its
// size (M^-1, computed in another frame, to the rounding of inverting M): on the bundled robots
// (coordinate axes of either sign) and on random chains and trees of every joint kind, fixed and
// floating, with external wrenches on some bodies and a moving base.
#include <Vexo/DynamicAnalysisXD>
#include <Vexo/MomentumObserverXD>
#include <ZorvikURDF/RobotLoader>
#include <random>

#include "support/DynamicsRobots.h"
#include "support/Eigenvalues.h"
#include "support/GeneralPathTwin.h"
#include "support/MatrixNear.h"
#include "support/RandomLieGroup.h"
#include "urdf/RobotFiles.h"

namespace zorvik_test::library_path_test {

using namespace ZorvikFoundation;

const Vector3D kGravity(0.4, -0.3, -9.81);
constexpr double kTolerance = 1e-13;

// |a - b| <= 1e-13 max |b|, entry by entry.
#define EXPECT_SAME_VALUES(a, b)                                                    \
  EXPECT_MATRIX_NEAR(a, b, kTolerance * std::max(Eigen::MatrixXd(b).cwiseAbs().maxCoeff(), \
                                                 1e-300))

template <int N>
class PathPair {
 public:
  typedef VexoBaseXD<N> Model;
  typedef typename Model::JointVec JointVec;
  typedef typename Model::JointMat JointMat;

  // `library` must be complete (bodies, joints, external wrenches) before the pair is made.
  explicit PathPair(Model& library) : lib_(library), twin_(library), gen_(twin_.model()) {}

  // Both models at the state (q, qdot).
  void setState(const JointVec& q, const JointVec& qdot) {
    for (Model* m : {&lib_, &gen_}) {
      m->q() = q;
      m->qdot() = qdot;
      m->update(false);
    }
  }

  void expectSameKinematics() {
    for (int k = 0; k <= N; ++k) {
      EXPECT_SAME_VALUES(lib_.T(k), gen_.T(k)) << "pose of body " << k;
      EXPECT_SAME_VALUES(lib_.V(k), gen_.V(k)) << "twist of body " << k;
      EXPECT_SAME_VALUES(lib_.joint(k).Tadj(), gen_.joint(k).Tadj()) << "Tadj of joint " << k;
      EXPECT_SAME_VALUES(lib_.joint(k).Vadj(), gen_.joint(k).Vadj()) << "Vadj of joint " << k;
      EXPECT_SAME_VALUES(lib_.joint(k).E(), gen_.joint(k).E()) << "E of joint " << k;
      EXPECT_SAME_VALUES(lib_.joint(k).Edot(), gen_.joint(k).Edot()) << "Edot of joint " << k;
    }
  }

  void expectSameJacobians() {
    for (bool pos_only : {false, true}) {
      lib_.updateJacobian(pos_only);
      gen_.updateJacobian(pos_only);
      for (int k = 0; k <= N; ++k) {
        EXPECT_SAME_VALUES(lib_.J(k), gen_.J(k)) << "Jacobian of body " << k;
        if (!pos_only) {
          EXPECT_SAME_VALUES(lib_.Jdot(k), gen_.Jdot(k)) << "Jdot of body " << k;
        }
      }
    }
  }

  // M^-1: the library path runs the articulated-body recursion in the reference frame, the general
  // one in the bodies' frames, so the two round differently and agree to the rounding of inverting
  // M, about cond(M) eps |M^-1| (cond(M) reaches 1e4 on the random models); a fault in either is
  // of the size of M^-1 itself. Both exactly symmetric.
  void expectSameMassInverse() {
    JointMat lib, gen, M;
    DynamicAnalysisXD<N>::MassInverse(lib_, lib);
    DynamicAnalysisXD<N>::MassInverse(gen_, gen);
    DynamicAnalysisXD<N>::MassMatrix(gen_, M);
    const Eigen::VectorXd lambda = symmetricEigenvalues(M);
    const double cond = lambda(N - 1) / lambda(0);
    EXPECT_MATRIX_NEAR(lib, gen, std::max(kTolerance, 1e-15 * cond) * gen.cwiseAbs().maxCoeff())
        << "MassInverse, cond(M) = " << cond;
    EXPECT_MATRIX_EQ(lib, JointMat(lib.transpose()));
  }

  // The result of the same call on both models.
  template <typename Call>
  void expectSame(const char* what, Call call) {
    const Eigen::MatrixXd a = call(lib_), b = call(gen_);
    EXPECT_SAME_VALUES(a, b) << what;
  }

  void expectSameFixedBaseDynamics(std::mt19937& rng) {
    const JointVec qdr = randomMatrix<N>(rng), qddr = randomMatrix<N>(rng);
    const JointVec qdd = randomMatrix<N>(rng), x = randomMatrix<N>(rng);
    expectSame("idyn", [&](Model& m) { m.idyn(m.qdot(), qdd, kGravity); return m.tau(); });
    expectSame("idyn without gravity", [&](Model& m) { m.idyn(m.qdot(), qdd); return m.tau(); });
    expectSame("idyn_passive", [&](Model& m) {
      m.idyn_passive(qdr, qddr, kGravity);
      return m.tau();
    });
    expectSame("idyn_gravity", [&](Model& m) { m.idyn_gravity(kGravity); return m.tau(); });
    expectSame("idyn_momentum", [&](Model& m) { m.idyn_momentum(x); return m.tau(); });
    const JointVec tau = randomMatrix<N>(rng, 5.0);
    expectSame("fdyn", [&](Model& m) { m.fdyn(tau, kGravity); return m.qddot(); });
    expectSameMassInverse();
    JointMat M[2], C[2];
    JointVec G[2];
    DynamicAnalysisXD<N>::JointDynamics(lib_, M[0], C[0], G[0], kGravity);
    DynamicAnalysisXD<N>::JointDynamics(gen_, M[1], C[1], G[1], kGravity);
    EXPECT_SAME_VALUES(M[0], M[1]) << "mass matrix";
    EXPECT_SAME_VALUES(C[0], C[1]) << "Coriolis matrix";
    EXPECT_SAME_VALUES(G[0], G[1]) << "gravity torques";
    EXPECT_MATRIX_EQ(M[0], M[0].transpose()) << "the mass matrix is exactly symmetric";
  }

  void expectSameFloatingBaseDynamics(std::mt19937& rng) {
    const Twist V0 = randomTwist(rng), A0 = randomTwist(rng);
    const JointVec qdr = randomMatrix<N>(rng), qdd = randomMatrix<N>(rng);
    expectSame("floating idyn", [&](Model& m) {
      m.idyn(V0, A0, m.qdot(), qdd, kGravity);
      return m.tau();
    });
    expectSame("floating idyn_passive", [&](Model& m) {
      m.idyn_passive(V0, A0, qdr, qdd, kGravity);
      return m.tau();
    });
    expectSame("floating idyn_momentum", [&](Model& m) {
      m.idyn_momentum(A0, qdd);
      return m.tau();
    });
    const JointVec tau = randomMatrix<N>(rng, 5.0);
    expectSame("floating fdyn", [&](Model& m) {
      Twist a;
      m.fdyn(V0, a, tau, kGravity);
      Eigen::VectorXd res(N + 6);
      res << m.qddot(), a;
      return res;
    });
  }

  // Observers on both models over a few steps of a moving state, with and without gravity.
  void expectSameObserver(std::mt19937& rng) {
    MomentumObserverXD<N> observer[2];
    for (auto& o : observer) {
      o.setPeriod(1e-3);
      o.setGain(JointVec::Constant(40.0));
    }
    for (int step = 0; step < 3; ++step) {
      setState(randomMatrix<N>(rng), randomMatrix<N>(rng));
      JointVec tauExt[2];
      const JointVec tau = randomMatrix<N>(rng, 5.0);
      Model* models[2] = {&lib_, &gen_};
      for (int i = 0; i < 2; ++i) {
        models[i]->tau() = tau;
        if (step == 1)
          observer[i].estimate(*models[i], tauExt[i]);
        else
          observer[i].estimate(*models[i], tauExt[i], kGravity);
        EXPECT_MATRIX_EQ(models[i]->tau(), tau) << "the model's tau() comes back";
      }
      EXPECT_SAME_VALUES(tauExt[0], tauExt[1]) << "observer step " << step;
    }
  }

  Model& library() { return lib_; }
  Model& general() { return gen_; }

 private:
  Model& lib_;
  GeneralPathTwin<N> twin_;
  Model& gen_;
};

// Which path a model takes follows from what its joints and bodies are.
TEST(LibraryPath, SelectionSeesTheLibrarysClassesAndNothingDerivedFromThem) {
  URDF::Robot<7> robot = URDF::loadRobot<7>(robotPath(PandaArm::file()));
  GeneralPathTwin<7> twin(robot);
  for (int k = 0; k <= 7; ++k) {
    EXPECT_TRUE(internal::isLibraryJointClass(robot.joint(k))) << k;
    EXPECT_TRUE(internal::isPlainBody(robot.body(k))) << "a body the loader library made, " << k;
    EXPECT_FALSE(internal::isLibraryJointClass(twin.model().joint(k))) << k;
    EXPECT_FALSE(internal::isPlainBody(twin.model().body(k))) << k;
  }
  MixedJointRobot<7> mixed(3);
  for (int k = 0; k <= 7; ++k) {
    EXPECT_TRUE(internal::isLibraryJointClass(mixed.model().joint(k))) << k;
    EXPECT_TRUE(internal::isPlainBody(mixed.model().body(k))) << "a body made here, " << k;
  }
}

template <typename R>
class LibraryPathOnRobots : public ::testing::Test {};
TYPED_TEST_SUITE(LibraryPathOnRobots, RobotFiles);

TYPED_TEST(LibraryPathOnRobots, AgreesWithTheGeneralPathOnEveryRecursion) {
  constexpr int N = TypeParam::N;
  URDF::Robot<N> robot = URDF::loadRobot<N>(robotPath(TypeParam::file()));
  std::mt19937 rng(17 + N);
  for (int k = 2; k <= N; k += 3)
    robot.body(k).setExtWrench(randomWrench(rng, 9.81 * robot.body(k).mass()));
  PathPair<N> pair(robot);
  for (int s = 0; s < 2; ++s) {
    pair.setState(randomMatrix<N>(rng, 2.0), randomMatrix<N>(rng, 2.0));
    pair.expectSameKinematics();
    pair.expectSameJacobians();
    pair.expectSameFixedBaseDynamics(rng);
  }
  pair.expectSameObserver(rng);
}

template <typename T>
class LibraryPathOnRandomModels : public ::testing::Test {};
typedef ::testing::Types<std::integral_constant<int, 7>, std::integral_constant<int, 16>>
    RandomSizes;
TYPED_TEST_SUITE(LibraryPathOnRandomModels, RandomSizes);

// Chains and trees mixing every joint class (rigid, revolute, prismatic, both MDH joints,
// cylindrical, spherical, free): multi-coordinate joints, motion subspaces that depend on q.
TYPED_TEST(LibraryPathOnRandomModels, AgreesWithTheGeneralPathOnChainsAndTreesOfEveryJointKind) {
  constexpr int N = TypeParam::value;
  for (unsigned seed = 0; seed < 4; ++seed) {
    MixedJointRobot<N> robot(100 + seed, seed % 2 == 1);
    std::mt19937& rng = robot.rng();
    robot.body(N).setExtWrench(randomWrench(rng, 5.0));
    robot.body(N / 2).setExtWrench(randomWrench(rng, 5.0));
    PathPair<N> pair(robot.model());
    pair.setState(randomMatrix<N>(rng), randomMatrix<N>(rng));
    pair.expectSameKinematics();
    pair.expectSameJacobians();
    pair.expectSameFixedBaseDynamics(rng);
    pair.expectSameObserver(rng);
  }
}

// A floating base (FloatingJoint, the client's base twist) through the floating-base forms, and
// through the fixed-base forms as a base that moves.
TYPED_TEST(LibraryPathOnRandomModels, AgreesWithTheGeneralPathOnAFloatingAndAMovingBase) {
  constexpr int N = TypeParam::value;
  MixedJointRobot<N> source(200 + N, true);
  FloatingBaseTwin<N> floating(source.model());
  std::mt19937& rng = source.rng();
  floating.baseJoint().Tadj() = randomPose(rng);
  floating.baseJoint().Vadj() = randomTwist(rng);
  floating.model().body(1).setExtWrench(randomWrench(rng, 5.0));
  PathPair<N> pair(floating.model());
  pair.setState(randomMatrix<N>(rng), randomMatrix<N>(rng));
  pair.expectSameKinematics();
  pair.expectSameJacobians();
  pair.expectSameFloatingBaseDynamics(rng);
  pair.expectSameFixedBaseDynamics(rng);
  pair.expectSameObserver(rng);
}

}  // namespace zorvik_test::library_path_test
