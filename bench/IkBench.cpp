// zorvik_ik_bench: the inverse-kinematics solver on random reachable targets of the UR5 and the
// Panda: for each robot, targets are the tip poses of coordinates drawn uniformly within the URDF
// limits, seeds are drawn the same way, and every solve is timed (steady clock, one thread). Prints
// the solve rate and the distribution of the time per solve, then the time of unreachable targets
// (one per hundred reachable ones), which run every start the defaults allow.
//
//   zorvik_ik_bench [targets per robot, default 10000]
#include <Vexo/InverseKinematicsXD>
#include <ZorvikURDF/RobotLoader>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "BenchRobots.h"

using namespace ZorvikFoundation;

namespace {

template <int N>
void run(const std::string& name, const std::string& path, const std::string& tipLink, int count) {
  URDF::Robot<N> robot = URDF::loadRobot<N>(path);
  const VexoSDK::InverseKinematicsXD<N> ik = robot.inverseKinematics();
  const int tip = robot.frameIndex(tipLink);
  const int body = robot.frameBody(tip);
  const HTransform offset = robot.frameOffset(tip);
  std::mt19937 rng(2024);
  auto draw = [&]() {
    typename URDF::Robot<N>::JointVec q;
    for (int i = 0; i < N; ++i)
      q(i) = std::uniform_real_distribution<double>(ik.lower()(i), ik.upper()(i))(rng);
    return q;
  };
  // count solves, each of a target drawn by targetAt(the tip pose at random coordinates) from a
  // random seed, timed; the times sorted, the number converged and the iterations summed.
  std::vector<double> micros;
  int converged;
  long iterations;
  auto solveMany = [&](int solves, auto targetAt) {
    micros.clear();
    converged = 0;
    iterations = 0;
    for (int s = 0; s < solves; ++s) {
      robot.q() = draw();
      robot.update(true);
      const HTransform target = targetAt(robot.framePose(tip));
      const typename URDF::Robot<N>::JointVec seed = draw();
      typename URDF::Robot<N>::JointVec q;
      const auto start = std::chrono::steady_clock::now();
      const VexoSDK::IKResult r = ik.solve(robot, body, offset, target, seed, q);
      const auto stop = std::chrono::steady_clock::now();
      micros.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
      converged += r.converged;
      iterations += r.iterations;
    }
    std::sort(micros.begin(), micros.end());
  };
  auto at = [&](double p) { return micros[std::min(micros.size() - 1, size_t(p * micros.size()))]; };

  solveMany(count, [](const HTransform& T) { return T; });
  std::printf("%-6s %6d targets  solved %6.2f %%  median %7.1f us  p90 %7.1f us  p99 %8.1f us  "
              "max %8.1f us  mean iterations %.1f\n",
              name.c_str(), count, 100.0 * converged / count, at(0.5), at(0.9), at(0.99),
              micros.back(), double(iterations) / count);

  // Unreachable: the tip 3 m from the base, far beyond either arm's reach, so that every start
  // runs to its stall: what the defaults let one hopeless solve cost.
  const int unreachable = std::max(1, count / 100);
  solveMany(unreachable, [](HTransform T) {
    T.r() = Eigen::Vector3d(3.0, 0.5, 0.4);
    return T;
  });
  std::printf("%-6s %6d unreachable targets  median %7.1f us  max %8.1f us  mean iterations %.1f\n",
              name.c_str(), unreachable, at(0.5), micros.back(), double(iterations) / unreachable);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  const std::string dir = ZORVIK_BENCH_ROBOT_DIR;
  std::printf("Inverse kinematics, random reachable targets and random seeds within the limits, "
              "tolerances 1e-6 m and 1e-6 rad on the pose\n");
  run<6>("ur5", dir + "/ur5_robot.urdf", "tool0", count);
  run<7>("panda", dir + "/panda_arm.urdf", "panda_hand", count);
  return 0;
}
