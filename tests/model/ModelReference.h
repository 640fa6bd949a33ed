// Forward kinematics worked out independently of the robot model: body poses as products of the
// joints' transforms along the path from the base, body twists as the sum of every ancestor
// joint's relative twist carried into the body frame, and twists by finite differences of the
// model's own poses.
#ifndef ZORVIK_MODEL_MODEL_REFERENCE_H
#define ZORVIK_MODEL_MODEL_REFERENCE_H

#include <Vexo/VexoXD>

#include <vector>

#include "JointReference.h"

namespace zorvik_test {

// A robot as the tests see it: its joints' geometry, each body's parent and the coordinates each
// joint reads (joint after joint in index order, the base joint's own first).
struct KinematicReference {
  std::vector<JointReference> joints;  // joints[0] places the base body
  std::vector<int> parent;             // parent[0] = -1

  std::vector<int> offsets() const {
    std::vector<int> off(joints.size());
    int i = 0;
    for (std::size_t k = 0; k < joints.size(); ++k) {
      off[k] = i;
      i += joints[k].dof;
    }
    return off;
  }

  // T_k = T_parent(k) Tadj_k(q_k), T_0 = Tadj_0.
  std::vector<Mat4> poses(const double* q) const {
    const std::vector<int> off = offsets();
    std::vector<Mat4> T(joints.size());
    for (std::size_t k = 0; k < joints.size(); ++k) {
      const Mat4 rel = joints[k].pose(q + off[k]);
      T[k] = k == 0 ? rel : Mat4(T[parent[k]] * rel);
    }
    return T;
  }

  // V_k = sum over the joints i on the path from the base to body k (body k's own included) of
  // Ad(T_k^-1 T_i) Vadj_i: each joint's relative twist, given in its child's frame, carried into
  // body k's frame.
  std::vector<Vec6> twists(const double* q, const double* qdot) const {
    const std::vector<int> off = offsets();
    const std::vector<Mat4> T = poses(q);
    std::vector<Vec6> V(joints.size());
    for (std::size_t k = 0; k < joints.size(); ++k) {
      const Mat4 Tkinv = inversePose(T[k]);
      Vec6 sum = Vec6::Zero();
      for (int i = static_cast<int>(k); i >= 0; i = i == 0 ? -1 : parent[i])
        sum += adjoint(Tkinv * T[i]) * joints[i].twist(q + off[i], qdot + off[i]);
      V[k] = sum;
    }
    return V;
  }
};

// The test's model of a library joint whose parameters can be read back from it (the joints
// RandomRobot makes and the fixed base joints).
inline JointReference referenceOf(const ZorvikFoundation::Joint& j) {
  using namespace ZorvikFoundation;
  const Mat4 frame = j.jointFrame();
  switch (j.type()) {
    case RIGID:
      return fixedReference(frame);
    case REVOLUTE:
      return revoluteReference(frame, dynamic_cast<const RevoluteJoint&>(j).axis());
    case PRISMATIC:
      return prismaticReference(frame, dynamic_cast<const PrismaticJoint&>(j).axis());
    case MDH_REVOLUTE: {
      // The joint frame is the fixed part Rx(alpha) Tx(a) Tz(d); the motion Rz(theta0 + q).
      const double theta0 = dynamic_cast<const MDHRevoluteJoint&>(j).theta0();
      return {
          1, [=](const double* q) { return Mat4(frame * rotZ(theta0 + q[0])); },
          [](const double*, const double* qd) { return twistOf(Vec3::Zero(), Vec3(0, 0, qd[0])); }};
    }
    case MDH_PRISMATIC: {
      // The joint frame is Rx(alpha) Tx(a) Rz(theta); the motion Tz(d0 + q).
      const double d0 = dynamic_cast<const MDHPrismaticJoint&>(j).d0();
      return {
          1, [=](const double* q) { return Mat4(frame * transZ(d0 + q[0])); },
          [](const double*, const double* qd) { return twistOf(Vec3(0, 0, qd[0]), Vec3::Zero()); }};
    }
    default:
      ADD_FAILURE() << "no reference for joint type " << j.type();
      return fixedReference(Mat4::Identity());
  }
}

template <int N>
KinematicReference referenceOf(const ZorvikFoundation::VexoSDK::VexoBaseXD<N>& model) {
  KinematicReference ref;
  for (int k = 0; k <= N; ++k) {
    ref.joints.push_back(referenceOf(model.joint(k)));
    ref.parent.push_back(model.parent(k));
  }
  return ref;
}

// Body twists by differentiating the model's own poses along q + t qdot (fixed base), through
// positions-only updates. Leaves the model updated at q, qdot.
template <int N>
std::vector<Vec6> twistsByFiniteDifference(ZorvikFoundation::VexoSDK::VexoBaseXD<N>& model,
                                           double h = 1e-3) {
  typedef typename ZorvikFoundation::VexoSDK::VexoBaseXD<N>::JointVec JointVec;
  const JointVec q = model.q(), qdot = model.qdot();
  std::vector<Vec6> V;
  for (int k = 0; k <= N; ++k)
    V.push_back(bodyTwistByFiniteDifference(
        [&](double t) -> Mat4 {
          model.q() = q + t * qdot;
          model.update(true);
          return model.T(k);
        },
        h));
  model.q() = q;
  model.update(false);
  return V;
}

}  // namespace zorvik_test

#endif
