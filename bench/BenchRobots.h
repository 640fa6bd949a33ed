// The four robots the benchmarks time, the fixed joint states they are timed at, and the helpers
// every peer shares: each benchmark alternates between two nearby states A and B, so that a peer
// that skips work when its inputs did not change (DART's caches, its equality test in setPositions)
// does the full work on every iteration, like the others.
#ifndef ZORVIK_BENCH_ROBOTS_H
#define ZORVIK_BENCH_ROBOTS_H

#include <Eigen/Dense>
#include <cmath>
#include <string>
#include <vector>

namespace zorvik_bench {

struct RobotInfo {
  const char* name;  // short name used in the benchmark names
  const char* file;  // URDF file under the robots folder
  int n;             // joint coordinates
};

// UR5 (6), Panda arm with locked fingers (7), Baxter's two arms (14, a tree), Allegro hand (16, a
// tree of four fingers).
inline const std::vector<RobotInfo>& robots() {
  static const std::vector<RobotInfo> list = {{"ur5", "ur5_robot.urdf", 6},
                                              {"panda", "panda_arm.urdf", 7},
                                              {"baxter", "baxter_arms.urdf", 14},
                                              {"allegro", "allegro_right_hand.urdf", 16}};
  return list;
}

inline std::string robotPath(const RobotInfo& r) {
  return std::string(ZORVIK_BENCH_ROBOT_DIR) + "/" + r.file;
}

// Gravity along no axis, so that no term of any peer vanishes by symmetry.
inline Eigen::Vector3d gravity() { return Eigen::Vector3d(0.3, -0.2, -9.81); }

// A fixed, non-trivial state in model order (the URDF loader's depth-first joint order): every
// joint away from zero, every rate and acceleration non-zero. State B differs from A by a small
// offset, enough to defeat equality tests and no more, so both cost the same.
struct JointState {
  Eigen::VectorXd q, qdot, qddot;
};

inline JointState jointState(int n, int which) {
  JointState s;
  s.q.resize(n);
  s.qdot.resize(n);
  s.qddot.resize(n);
  for (int i = 0; i < n; ++i) {
    s.q(i) = 0.6 * std::sin(0.9 * i + 0.3) + 0.1 + 0.01 * which;
    s.qdot(i) = 0.8 * std::cos(1.1 * i + 0.2) + 0.05 + 0.01 * which;
    s.qddot(i) = 0.7 * std::sin(1.7 * i + 0.9) - 0.1 + 0.01 * which;
  }
  return s;
}

}  // namespace zorvik_bench

#endif
