// Orocos KDL as a peer for tests: trees and chains from URDF files (kdl_parser), the mapping
// between a model's joint vector and KDL's joint arrays, and conversions of KDL's frames, twists,
// wrenches and Jacobians into the library's conventions. Header-only, compiled with the test code
// that uses it; link the CMake target zorvik_test_kdl (KdlBridge.cmake).
//
// KDL conventions, and ours:
//   - KDL::Frame F of a segment is its tip frame in the base frame, as our HTransform T.
//   - KDL::Twist is (vel, rot), linear first like ours, but a solver's twist of a segment is
//     expressed in the base frame with the reference point at the segment's tip origin: vel is the
//     velocity of the tip origin, rot the angular velocity, both with base-frame components. Our
//     body twist has body-frame components: V = (R^T vel, R^T rot).
//   - KDL::Wrench is (force, torque), force first like ours.
//   - ChainJntToJacSolver's Jacobian maps joint rates to that twist of the tip (base frame,
//     reference point at the tip), so the body Jacobian is J_body = diag(R^T, R^T) J_kdl.
//     A Jacobian whose reference point is the base origin instead (the spatial Jacobian, e.g.
//     J_kdl.changeRefPoint(-p)) has columns (v_s, w) with v_s = pdot - w x p; then
//     pdot = v_s - [p] w and J_body = [[R^T, -R^T [p]], [0, R^T]] J_spatial.
//   - KDL puts a link's mass properties on the segment that ends in the link's frame; kdl_parser
//     turns a fixed joint into a segment with a fixed joint (KDL::Joint::Fixed) and keeps mimic
//     joints as independent joints.
//   - ChainIdSolver_RNE(chain, g) and ChainDynParam(chain, g) take the gravitational acceleration
//     g (e.g. (0, 0, -9.81)) and return the torques that produce the motion against it, as our
//     idyn(qdot, qddot, g) does.
#ifndef ZORVIK_TEST_KDL_BRIDGE_H
#define ZORVIK_TEST_KDL_BRIDGE_H

#include <kdl/chain.hpp>
#include <kdl/frames.hpp>
#include <kdl/framevel.hpp>
#include <kdl/jacobian.hpp>
#include <kdl/jntarray.hpp>
#include <kdl/jntspaceinertiamatrix.hpp>
#include <kdl/tree.hpp>
#include <kdl_parser/kdl_parser.hpp>

#include <Eigen/Dense>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace zorvik_test {
namespace kdl {

typedef Eigen::Matrix<double, 6, 1> Vector6;
typedef Eigen::Matrix<double, 6, Eigen::Dynamic> Jacobian6;

// ---------------------------------------------------------------------------------------------
// Trees and chains

inline KDL::Tree treeFromUrdf(const std::string& file) {
  KDL::Tree tree;
  if (!kdl_parser::treeFromFile(file, tree))
    throw std::runtime_error("kdl_parser could not build a tree from " + file);
  return tree;
}

inline bool isMoving(const KDL::Joint& joint) { return joint.getType() != KDL::Joint::Fixed; }

inline const KDL::TreeElementType& treeElement(const KDL::Tree& tree, const std::string& segment) {
  const auto it = tree.getSegments().find(segment);
  if (it == tree.getSegments().end())
    throw std::runtime_error("the KDL tree has no segment " + segment);
  return it->second;
}

// Whether any joint of the subtree below `segment` (the segment's own joint excluded) moves.
inline bool subtreeMoves(const KDL::Tree& tree, const std::string& segment) {
  for (const auto& child : GetTreeElementChildren(treeElement(tree, segment))) {
    if (isMoving(GetTreeElementSegment(child->second).getJoint())) return true;
    if (subtreeMoves(tree, child->first)) return true;
  }
  return false;
}

// Mass properties of the (fixed) subtree that starts with `segment`, in the segment's tip frame:
// each child's lumped inertia is carried by the child's fixed pose relative to its parent.
inline KDL::RigidBodyInertia lumpedInertia(const KDL::Tree& tree, const std::string& segment) {
  const KDL::TreeElementType& element = treeElement(tree, segment);
  KDL::RigidBodyInertia I = GetTreeElementSegment(element).getInertia();
  for (const auto& child : GetTreeElementChildren(element))
    I = I + GetTreeElementSegment(child->second).pose(0) * lumpedInertia(tree, child->first);
  return I;
}

// The tips of the independent branches of a tree: for every moving joint with no moving joint
// below it, the segment it moves. A tree whose moving joints split below a moving joint has
// dependent branches; branchChain() refuses those.
inline std::vector<std::string> branchTips(const KDL::Tree& tree) {
  std::vector<std::string> tips;
  for (const auto& s : tree.getSegments())
    if (isMoving(GetTreeElementSegment(s.second).getJoint()) && !subtreeMoves(tree, s.first))
      tips.push_back(s.first);
  return tips;
}

// The chain from the tree's root to `tip`, with every fixed subtree that hangs off the chain after
// its first moving joint lumped into the segment it hangs from (a KDL chain has no side branches,
// so the chain alone would miss their mass). Subtrees that hang off the segments before the first
// moving joint belong to the fixed base and do not affect the chain's joints. Throws when a moving
// joint hangs off the chain: the chain's dynamics would then depend on it.
inline KDL::Chain branchChain(const KDL::Tree& tree, const std::string& tip) {
  KDL::Chain path;
  if (!tree.getChain(tree.getRootSegment()->first, tip, path))
    throw std::runtime_error("no KDL chain from the root to " + tip);
  std::set<std::string> onPath;
  for (const KDL::Segment& s : path.segments) onPath.insert(s.getName());

  KDL::Chain chain;
  bool moving = false;
  for (const KDL::Segment& s : path.segments) {
    moving = moving || isMoving(s.getJoint());
    KDL::RigidBodyInertia I = s.getInertia();
    if (moving) {
      for (const auto& child : GetTreeElementChildren(treeElement(tree, s.getName()))) {
        if (onPath.count(child->first)) continue;
        const KDL::Segment& c = GetTreeElementSegment(child->second);
        if (isMoving(c.getJoint()) || subtreeMoves(tree, child->first))
          throw std::runtime_error("the branch to " + tip + " is not independent: a moving joint "
                                   "hangs off its segment " + s.getName());
        I = I + c.pose(0) * lumpedInertia(tree, child->first);
      }
    }
    chain.addSegment(KDL::Segment(s.getName(), s.getJoint(), s.getFrameToTip(), I));
  }
  return chain;
}

// ---------------------------------------------------------------------------------------------
// Joint orderings. A model numbers its coordinates its own way (the URDF loader: depth-first);
// these maps give, for each joint of a KDL chain or tree, the model coordinate of the same name,
// or -1 when the model has no such coordinate (a locked joint).

inline std::vector<int> chainToModel(const KDL::Chain& chain,
                                     const std::vector<std::string>& modelJointNames) {
  std::vector<int> map;
  for (const KDL::Segment& s : chain.segments) {
    if (!isMoving(s.getJoint())) continue;
    int index = -1;
    for (size_t i = 0; i < modelJointNames.size(); ++i)
      if (modelJointNames[i] == s.getJoint().getName()) index = static_cast<int>(i);
    map.push_back(index);
  }
  return map;
}

inline std::vector<int> treeToModel(const KDL::Tree& tree,
                                    const std::vector<std::string>& modelJointNames) {
  std::vector<int> map(tree.getNrOfJoints(), -1);
  for (const auto& s : tree.getSegments()) {
    const KDL::Joint& joint = GetTreeElementSegment(s.second).getJoint();
    if (!isMoving(joint)) continue;
    for (size_t i = 0; i < modelJointNames.size(); ++i)
      if (modelJointNames[i] == joint.getName())
        map[GetTreeElementQNr(s.second)] = static_cast<int>(i);
  }
  return map;
}

// A model-ordered vector as a KDL joint array (entries without a model coordinate get `fill`).
inline KDL::JntArray toKdl(const Eigen::Ref<const Eigen::VectorXd>& x, const std::vector<int>& map,
                           double fill = 0) {
  KDL::JntArray a(static_cast<unsigned>(map.size()));
  for (size_t j = 0; j < map.size(); ++j) a(j) = map[j] >= 0 ? x(map[j]) : fill;
  return a;
}

// A KDL joint array scattered into a model-ordered vector of size n (other entries zero).
inline Eigen::VectorXd fromKdl(const KDL::JntArray& a, const std::vector<int>& map, int n) {
  Eigen::VectorXd x = Eigen::VectorXd::Zero(n);
  for (size_t j = 0; j < map.size(); ++j)
    if (map[j] >= 0) x(map[j]) = a(j);
  return x;
}

// A KDL joint-space matrix scattered into a model-ordered n x n matrix.
inline Eigen::MatrixXd fromKdl(const KDL::JntSpaceInertiaMatrix& M, const std::vector<int>& map,
                               int n) {
  Eigen::MatrixXd X = Eigen::MatrixXd::Zero(n, n);
  for (size_t i = 0; i < map.size(); ++i)
    for (size_t j = 0; j < map.size(); ++j)
      if (map[i] >= 0 && map[j] >= 0) X(map[i], map[j]) = M(i, j);
  return X;
}

// ---------------------------------------------------------------------------------------------
// Conversions

inline Eigen::Matrix3d toEigen(const KDL::Rotation& R) {
  Eigen::Matrix3d M;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) M(i, j) = R(i, j);
  return M;
}

inline Eigen::Vector3d toEigen(const KDL::Vector& v) {
  return Eigen::Vector3d(v.x(), v.y(), v.z());
}

// [[R, p], [0, 1]].
inline Eigen::Matrix4d toEigen(const KDL::Frame& F) {
  Eigen::Matrix4d T = Eigen::Matrix4d::Identity();
  T.topLeftCorner<3, 3>() = toEigen(F.M);
  T.topRightCorner<3, 1>() = toEigen(F.p);
  return T;
}

// (vel, rot), in the twist's own frame and reference point.
inline Vector6 toEigen(const KDL::Twist& t) {
  Vector6 v;
  v << toEigen(t.vel), toEigen(t.rot);
  return v;
}

// (force, torque).
inline Vector6 toEigen(const KDL::Wrench& w) {
  Vector6 v;
  v << toEigen(w.force), toEigen(w.torque);
  return v;
}

inline Jacobian6 toEigen(const KDL::Jacobian& J) { return J.data; }

inline Eigen::MatrixXd toEigen(const KDL::JntSpaceInertiaMatrix& M) { return M.data; }

// Body twist of a frame from its base-frame twist with reference point at the frame's origin
// (what KDL's velocity solvers return): V = (R^T vel, R^T rot).
inline Vector6 bodyTwist(const KDL::Frame& F, const KDL::Twist& t) {
  const Eigen::Matrix3d R = toEigen(F.M);
  Vector6 V;
  V << R.transpose() * toEigen(t.vel), R.transpose() * toEigen(t.rot);
  return V;
}

inline Vector6 bodyTwist(const KDL::FrameVel& F) { return bodyTwist(F.GetFrame(), F.GetTwist()); }

// Body Jacobian from KDL's Jacobian (base frame, reference point at the tip): diag(R^T, R^T) J.
inline Jacobian6 bodyJacobian(const KDL::Frame& F, const KDL::Jacobian& J) {
  const Eigen::Matrix3d R = toEigen(F.M);
  Jacobian6 Jb(6, J.columns());
  Jb.topRows<3>() = R.transpose() * J.data.topRows<3>();
  Jb.bottomRows<3>() = R.transpose() * J.data.bottomRows<3>();
  return Jb;
}

// Body Jacobian from a spatial Jacobian (base frame, reference point at the base origin):
// [[R^T, -R^T [p]], [0, R^T]] J.
inline Jacobian6 bodyJacobianFromSpatial(const KDL::Frame& F, const KDL::Jacobian& J) {
  const Eigen::Matrix3d R = toEigen(F.M);
  const Eigen::Vector3d p = toEigen(F.p);
  Eigen::Matrix3d P;
  P << 0, -p.z(), p.y(), p.z(), 0, -p.x(), -p.y(), p.x(), 0;
  Jacobian6 Jb(6, J.columns());
  Jb.topRows<3>() =
      R.transpose() * J.data.topRows<3>() - R.transpose() * P * J.data.bottomRows<3>();
  Jb.bottomRows<3>() = R.transpose() * J.data.bottomRows<3>();
  return Jb;
}

}  // namespace kdl
}  // namespace zorvik_test

#endif
