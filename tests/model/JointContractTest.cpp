// The joint contract, checked on every concrete joint class with non-trivial joint frames, axes
// and Denavit-Hartenberg parameters, at zero, tiny and ordinary coordinates:
//   - Tadj(q) equals the joint's geometry written out in the test (JointReference.h);
//   - Vadj = E qdot, equal to the body velocity obtained by differentiating Tadj along qdot;
//   - Edot is the derivative of E along the motion;
//   - idyn writes exactly dof() generalized forces, each the power of the wrench on the child's
//     twist per unit rate of that coordinate (so tau . qdot = F . Vadj);
//   - adjAcc and biasAcc make the child acceleration Ad(Tadj^-1) Vdot_parent + adjAcc + biasAcc(V)
//     the derivative of the child twist Ad(Tadj^-1) V_parent + Vadj;
//   - the reference-rate queries change nothing, updateVelocity keeps the pose.
#include <AMBS/Joint>

#include <array>
#include <memory>
#include <vector>

#include "JointReference.h"
#include "support/RandomRobot.h"

namespace zorvik_test::joint_contract_test {

// A joint frame and an axis with no special direction; the axis is deliberately not of unit
// length, the joints normalise it.
Mat4 tiltedFrame() { return homogeneous(expSO3(Vec3(0.3, -0.7, 0.4)), Vec3(0.12, -0.05, 0.31)); }
Vec3 tiltedAxis() { return Vec3(0.4, -1.1, 0.7); }

struct FloatingCase {
  typedef FloatingJoint Type;
  static constexpr JOINTTYPE kind = FLOATING;
  static Type* make() { return new FloatingJoint(HTransform(tiltedFrame())); }
  static JointReference reference() { return fixedReference(tiltedFrame()); }
};
struct RigidCase {
  typedef RigidJoint Type;
  static constexpr JOINTTYPE kind = RIGID;
  static Type* make() { return new RigidJoint(HTransform(tiltedFrame())); }
  static JointReference reference() { return fixedReference(tiltedFrame()); }
};
struct RevoluteUrdfCase {
  typedef RevoluteJoint Type;
  static constexpr JOINTTYPE kind = REVOLUTE;
  static Type* make() {
    return new RevoluteJoint(HTransform(tiltedFrame()), Vector3D(tiltedAxis()));
  }
  static JointReference reference() { return revoluteReference(tiltedFrame(), tiltedAxis()); }
};
struct RevoluteOffsetCase {
  typedef RevoluteJoint Type;
  static constexpr JOINTTYPE kind = REVOLUTE;
  static Type* make() { return new RevoluteJoint(0.8); }
  static JointReference reference() { return revoluteReference(rotZ(0.8), Vec3::UnitZ()); }
};
struct PrismaticUrdfCase {
  typedef PrismaticJoint Type;
  static constexpr JOINTTYPE kind = PRISMATIC;
  static Type* make() {
    return new PrismaticJoint(HTransform(tiltedFrame()), Vector3D(tiltedAxis()));
  }
  static JointReference reference() { return prismaticReference(tiltedFrame(), tiltedAxis()); }
};
struct PrismaticOffsetCase {
  typedef PrismaticJoint Type;
  static constexpr JOINTTYPE kind = PRISMATIC;
  static Type* make() { return new PrismaticJoint(0.25); }
  static JointReference reference() { return prismaticReference(transZ(0.25), Vec3::UnitZ()); }
};
struct MdhRevoluteCase {
  typedef MDHRevoluteJoint Type;
  static constexpr JOINTTYPE kind = MDH_REVOLUTE;
  // (alpha, a, d, theta0)
  static Type* make() { return new MDHRevoluteJoint(-0.6, 0.2, 0.15, 0.4); }
  static JointReference reference() { return mdhRevoluteReference(-0.6, 0.2, 0.15, 0.4); }
};
struct MdhPrismaticCase {
  typedef MDHPrismaticJoint Type;
  static constexpr JOINTTYPE kind = MDH_PRISMATIC;
  // (alpha, a, theta, d0)
  static Type* make() { return new MDHPrismaticJoint(1.1, -0.3, 0.5, 0.1); }
  static JointReference reference() { return mdhPrismaticReference(1.1, -0.3, 0.5, 0.1); }
};
struct CylindricalUrdfCase {
  typedef CylindricalJoint Type;
  static constexpr JOINTTYPE kind = CYLINDRICAL;
  static Type* make() {
    return new CylindricalJoint(HTransform(tiltedFrame()), Vector3D(tiltedAxis()));
  }
  static JointReference reference() { return cylindricalReference(tiltedFrame(), tiltedAxis()); }
};
struct CylindricalOffsetCase {
  typedef CylindricalJoint Type;
  static constexpr JOINTTYPE kind = CYLINDRICAL;
  // (theta0, d0): Rz(theta0 + q0) Tz(d0 + q1)
  static Type* make() { return new CylindricalJoint(-0.5, 0.3); }
  static JointReference reference() {
    return cylindricalReference(rotZ(-0.5) * transZ(0.3), Vec3::UnitZ());
  }
};
struct SphericalCase {
  typedef SphericalJoint Type;
  static constexpr JOINTTYPE kind = SPHERICAL;
  static Type* make() { return new SphericalJoint(HTransform(tiltedFrame())); }
  static JointReference reference() { return sphericalReference(tiltedFrame()); }
};
struct FreeCase {
  typedef FreeJoint Type;
  static constexpr JOINTTYPE kind = FREE;
  static Type* make() { return new FreeJoint(HTransform(tiltedFrame())); }
  static JointReference reference() { return freeReference(tiltedFrame()); }
};

typedef std::array<double, 6> Coords;

// Finite differences below use h = 1e-3 with a fourth-order stencil: truncation and rounding
// errors stay near 1e-12, far below the size of any missed term or sign.
constexpr double kStep = 1e-3;
constexpr double kFdTol = 1e-9;
constexpr double kExactTol = 1e-12;
// Checks that involve Edot of the spherical and free joints get more room: their rotational block
// is the time derivative of the SO(3) dexp, whose closed form switches to its limit only at exactly
// zero rotation. Around |xi| = 1e-8 the coefficient (1 - sin t / t) / t^2 has lost most of its
// digits to cancellation, which leaves absolute errors of up to about 4e-9 per unit rate squared.
constexpr double kRateTol = 1e-8;

template <typename Case>
class JointContract : public ::testing::Test {
 protected:
  typedef typename Case::Type JointType;

  JointContract() : joint(Case::make()), ref(Case::reference()), dof(ref.dof), rng(20240611) {}

  // A state of the joint's coordinates: positions at one scale, rates and accelerations ordinary.
  struct State {
    Coords q, qdot, qddot;
  };
  // Zero coordinates, tiny ones (where the rotation of the spherical and free joints passes
  // through its small-angle regime) and ordinary ones.
  std::vector<State> states() {
    std::vector<State> res;
    for (double scale : {0.0, 1e-9, 1e-7, 1e-5, 1e-3, 1.5, 1.5, 1.5, 1.5}) {
      State s;
      for (int i = 0; i < 6; ++i) {
        s.q[i] = scale * uniform(rng, -1, 1);
        s.qdot[i] = uniform(rng, -1, 1);
        s.qddot[i] = uniform(rng, -1, 1);
      }
      res.push_back(s);
    }
    return res;
  }

  Eigen::MatrixXd subspace() const { return joint->E().leftCols(dof); }
  Eigen::MatrixXd subspaceRate() const { return joint->Edot().leftCols(dof); }
  Eigen::VectorXd vec(const Coords& c) const {
    return Eigen::Map<const Eigen::VectorXd>(c.data(), dof);
  }
  // q + t v, coordinate by coordinate.
  Coords along(const Coords& q, const Coords& v, double t) const {
    Coords r;
    for (int i = 0; i < 6; ++i) r[i] = q[i] + t * v[i];
    return r;
  }

  std::unique_ptr<JointType> joint;
  JointReference ref;
  int dof;
  std::mt19937 rng;
};

typedef ::testing::Types<FloatingCase, RigidCase, RevoluteUrdfCase, RevoluteOffsetCase,
                         PrismaticUrdfCase, PrismaticOffsetCase, MdhRevoluteCase, MdhPrismaticCase,
                         CylindricalUrdfCase, CylindricalOffsetCase, SphericalCase, FreeCase>
    AllJoints;
TYPED_TEST_SUITE(JointContract, AllJoints);

TYPED_TEST(JointContract, StartsAtRestInThePoseOfZeroCoordinates) {
  const Coords zero{};
  ASSERT_EQ(this->joint->type(), TypeParam::kind);
  ASSERT_EQ(this->joint->dof(), this->ref.dof);
  EXPECT_MATRIX_CLOSE(this->joint->Tadj(), this->ref.pose(zero.data()), kExactTol);
  EXPECT_TRUE(this->joint->Vadj().isZero(0));
  EXPECT_TRUE(this->joint->Edot().isZero(0));
  EXPECT_EQ(this->joint->friction(), nullptr);
  EXPECT_EQ(this->joint->flexibleJoint(), nullptr);
  // The motion subspace a fresh joint holds is already the one of zero coordinates.
  const Matrix6d E0 = this->joint->E();
  this->joint->update(zero.data(), zero.data());
  EXPECT_MATRIX_CLOSE(E0, this->joint->E(), 0);
}

TYPED_TEST(JointContract, RelativePoseMatchesTheJointGeometry) {
  auto& j = *this->joint;
  for (const auto& s : this->states()) {
    j.update(s.q.data(), s.qdot.data());
    EXPECT_MATRIX_CLOSE(j.Tadj(), this->ref.pose(s.q.data()), kExactTol);
    const Matrix6d E = j.E();
    // The position-only update gives the same pose and subspace, whatever came before it.
    const Coords other = this->along(s.q, s.qdot, 0.5);
    j.update(other.data(), s.qdot.data());
    j.update(s.q.data());
    EXPECT_MATRIX_CLOSE(j.Tadj(), this->ref.pose(s.q.data()), kExactTol);
    EXPECT_MATRIX_CLOSE(j.E(), E, kExactTol);
  }
}

TYPED_TEST(JointContract, RelativeTwistIsSubspaceTimesRateAndMatchesTheJointGeometry) {
  auto& j = *this->joint;
  const int dof = this->dof;
  for (const auto& s : this->states()) {
    j.update(s.q.data(), s.qdot.data());
    const Vec6 EtimesRate = this->subspace() * this->vec(s.qdot);
    EXPECT_MATRIX_CLOSE(j.Vadj(), EtimesRate, 1e-14);
    EXPECT_MATRIX_CLOSE(j.Vadj(), this->ref.twist(s.q.data(), s.qdot.data()), kExactTol);
    // Only the first dof() columns carry the joint's axes.
    EXPECT_TRUE(j.E().rightCols(6 - dof).isZero(0));
    EXPECT_TRUE(j.Edot().rightCols(6 - dof).isZero(0));
  }
}

TYPED_TEST(JointContract, RelativeTwistIsTheDerivativeOfTheRelativePose) {
  auto& j = *this->joint;
  for (const auto& s : this->states()) {
    const Vec6 fd = bodyTwistByFiniteDifference(
        [&](double t) -> Mat4 {
          const Coords qt = this->along(s.q, s.qdot, t);
          j.update(qt.data());
          return j.Tadj();
        },
        kStep);
    j.update(s.q.data(), s.qdot.data());
    EXPECT_MATRIX_CLOSE(j.Vadj(), fd, kFdTol) << "q scale " << s.q[0];
  }
}

TYPED_TEST(JointContract, SubspaceRateIsTheDerivativeOfTheSubspace) {
  auto& j = *this->joint;
  for (const auto& s : this->states()) {
    const Eigen::MatrixXd fd = centralDifference(
        [&](double t) -> Eigen::MatrixXd {
          const Coords qt = this->along(s.q, s.qdot, t);
          j.update(qt.data(), s.qdot.data());
          return this->subspace();
        },
        kStep);
    j.update(s.q.data(), s.qdot.data());
    EXPECT_MATRIX_CLOSE(this->subspaceRate(), fd, kRateTol) << "q scale " << s.q[0];
  }
}

TYPED_TEST(JointContract, VelocityUpdateKeepsThePoseAndEqualsAFullUpdate) {
  auto& j = *this->joint;
  std::unique_ptr<typename TypeParam::Type> fresh(TypeParam::make());
  for (const auto& s : this->states()) {
    j.update(s.q.data(), s.qdot.data());
    const HTransform T = j.Tadj();
    const Matrix6d E = j.E();
    j.updateVelocity(s.q.data(), s.qddot.data());  // a new rate
    EXPECT_TRUE(j.Tadj() == T);
    EXPECT_TRUE(j.E() == E);
    fresh->update(s.q.data(), s.qddot.data());
    EXPECT_MATRIX_CLOSE(j.Vadj(), fresh->Vadj(), 1e-14);
    EXPECT_MATRIX_CLOSE(j.Edot(), fresh->Edot(), 1e-14);
  }
}

TYPED_TEST(JointContract, ReferenceRateQueriesLeaveTheJointUntouched) {
  auto& j = *this->joint;
  for (const auto& s : this->states()) {
    j.update(s.q.data(), s.qdot.data());
    const HTransform T = j.Tadj();
    const Twist V = j.Vadj();
    const Matrix6d E = j.E(), Edot = j.Edot();
    const Twist ref = j.adjTwist(s.qddot.data());
    const Twist acc = j.adjAcc(s.qddot.data());
    j.adjAcc(s.qddot.data(), s.qdot.data());
    j.biasAcc(Twist(1, 2, 3, 4, 5, 6));
    EXPECT_TRUE(j.Tadj() == T);
    EXPECT_TRUE(j.Vadj() == V);
    EXPECT_TRUE(j.E() == E);
    EXPECT_TRUE(j.Edot() == Edot);
    // The relative twist the joint would have at the reference rate, and E qddot.
    EXPECT_MATRIX_CLOSE(ref, this->ref.twist(s.q.data(), s.qddot.data()), kExactTol);
    EXPECT_MATRIX_CLOSE(acc, this->ref.twist(s.q.data(), s.qddot.data()), kExactTol);
  }
}

TYPED_TEST(JointContract, GeneralizedForcesAreThePowerOfTheWrenchPerUnitRate) {
  auto& j = *this->joint;
  const int dof = this->dof;
  constexpr double kSentinel = -7.25e11;
  for (const auto& s : this->states()) {
    j.update(s.q.data(), s.qdot.data());
    const Wrench F(randomMatrix<6>(this->rng, 3.0));
    double tau[8];
    std::fill(tau, tau + 8, kSentinel);
    j.idyn(F, tau + 1);
    // Exactly dof() values, at the slice the joint was given.
    EXPECT_EQ(tau[0], kSentinel);
    for (int i = dof + 1; i < 8; ++i) EXPECT_EQ(tau[i], kSentinel) << "entry " << i - 1;
    double power = 0;
    for (int i = 0; i < dof; ++i) {
      Coords unit{};
      unit[i] = 1;
      const Vec6 perUnitRate = this->ref.twist(s.q.data(), unit.data());
      EXPECT_NEAR(tau[i + 1], F.dot(perUnitRate), 1e-12 * (1 + std::abs(tau[i + 1])));
      power += tau[i + 1] * s.qdot[i];
    }
    // Power balance: the joint forces do on the coordinates the work the wrench does on the child.
    EXPECT_NEAR(power, F.dot(j.Vadj()), 1e-12 * (1 + F.norm() * j.Vadj().norm()));
  }
}

TYPED_TEST(JointContract, AccelerationTermsAddUpToTheDerivativeOfTheChildTwist) {
  auto& j = *this->joint;
  for (const auto& s : this->states()) {
    // The parent body moves with twist Vp + t Vpdot (in its own frame), the coordinates with
    // q + t qdot + t^2/2 qddot.
    const Vec6 Vp = randomMatrix<6>(this->rng), Vpdot = randomMatrix<6>(this->rng);
    auto childTwist = [&](double t) -> Vec6 {
      Coords qt, qdt;
      for (int i = 0; i < 6; ++i) {
        qt[i] = s.q[i] + t * s.qdot[i] + 0.5 * t * t * s.qddot[i];
        qdt[i] = s.qdot[i] + t * s.qddot[i];
      }
      j.update(qt.data(), qdt.data());
      // V_child = Ad(Tadj^-1) V_parent + Vadj
      return adjoint(inversePose(j.Tadj())) * (Vp + t * Vpdot) + Vec6(j.Vadj());
    };
    const Vec6 fd = centralDifference(childTwist, kStep);
    const Vec6 Vc = childTwist(0);
    const Vec6 sum = adjoint(inversePose(j.Tadj())) * Vpdot +
                     Vec6(j.adjAcc(s.qdot.data(), s.qddot.data())) + Vec6(j.biasAcc(Twist(Vc)));
    EXPECT_MATRIX_CLOSE(sum, fd, kRateTol) << "q scale " << s.q[0];
  }
}

}  // namespace zorvik_test::joint_contract_test
