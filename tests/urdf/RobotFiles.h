// The robot descriptions under tests/data/robots, as types for typed tests, with what their README
// states about them (size and joint order, depth-first from the root, siblings in file order).
#ifndef ZORVIK_TEST_URDF_ROBOT_FILES_H
#define ZORVIK_TEST_URDF_ROBOT_FILES_H

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <string>
#include <vector>

#include "support/Random.h"

namespace zorvik_test {

inline std::string robotPath(const std::string& file) {
  return std::string(ZORVIK_TEST_DATA_DIR) + "/robots/" + file;
}

struct Ur5 {
  static constexpr int N = 6;
  static std::string file() { return "ur5_robot.urdf"; }
  static std::vector<std::string> joints() {
    return {"shoulder_pan_joint", "shoulder_lift_joint", "elbow_joint",
            "wrist_1_joint",      "wrist_2_joint",       "wrist_3_joint"};
  }
};

struct PandaArm {
  static constexpr int N = 7;
  static std::string file() { return "panda_arm.urdf"; }
  static std::vector<std::string> joints() {
    return {"panda_joint1", "panda_joint2", "panda_joint3", "panda_joint4",
            "panda_joint5", "panda_joint6", "panda_joint7"};
  }
};

struct BaxterArms {
  static constexpr int N = 14;
  static std::string file() { return "baxter_arms.urdf"; }
  static std::vector<std::string> joints() {
    return {"right_s0", "right_s1", "right_e0", "right_e1", "right_w0", "right_w1", "right_w2",
            "left_s0",  "left_s1",  "left_e0",  "left_e1",  "left_w0",  "left_w1",  "left_w2"};
  }
};

struct AllegroHand {
  static constexpr int N = 16;
  static std::string file() { return "allegro_right_hand.urdf"; }
  static std::vector<std::string> joints() {
    std::vector<std::string> names;
    for (int i = 0; i < 16; ++i) names.push_back("joint_" + std::to_string(i) + ".0");
    return names;
  }
};

// A size the library is not built for, compiled here: the Panda arm on a two-axis gantry.
struct PandaOnGantry {
  static constexpr int N = 9;
  static std::string file() { return "panda_on_gantry.urdf"; }
  static std::vector<std::string> joints() {
    std::vector<std::string> names = {"gantry_x", "gantry_y"};
    for (const std::string& j : PandaArm::joints()) names.push_back(j);
    return names;
  }
};

typedef ::testing::Types<Ur5, PandaArm, BaxterArms, AllegroHand> RobotFiles;

// |a - b| / |b|, or |a - b| when b is zero: the error of a result relative to the size of the
// reference it is compared with.
template <typename A, typename B>
double relativeError(const Eigen::MatrixBase<A>& a, const Eigen::MatrixBase<B>& b) {
  const double scale = b.norm();
  return (a - b).norm() / (scale > 0 ? scale : 1);
}

}  // namespace zorvik_test

#endif
