// zorvik_latency: the latency of one control cycle (bench/ControlCycle.h) over many consecutive
// cycles, for the Panda arm (N = 7) and the Allegro hand (N = 16): median, 99th, 99.9th and
// 99.99th percentiles and the maximum, and the median of each phase of the cycle.
//
// The joint state follows a smooth periodic trajectory (a table of 1000 states, looked up outside
// the timed region), so every cycle works on a new state as it would on a robot. Each cycle is
// timed with two reads of the monotonic clock; the clock's own cost is printed and not subtracted.
// The program runs at the default scheduling priority: on a shared machine the tail percentiles
// measure the scheduler and the other processes as much as the code.
//
// Usage: zorvik_latency [cycles]   (default 1000000)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BenchRobots.h"
#include "ControlCycle.h"

using namespace zorvik_bench;
typedef std::chrono::steady_clock Clock;

namespace {

inline long long nanos(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(b - a).count();
}

double percentile(const std::vector<long long>& sorted, double p) {
  const size_t i = std::min(sorted.size() - 1, static_cast<size_t>(p * (sorted.size() - 1) + 0.5));
  return static_cast<double>(sorted[i]);
}

template <int N>
void measure(const RobotInfo& info, long cycles) {
  typedef typename ControlCycle<N>::JointVec JointVec;
  typedef typename ControlCycle<N>::Robot Robot;
  Robot robot = ZorvikFoundation::URDF::loadRobot<N>(robotPath(info));
  ControlCycle<N> cycle(robot, gravity());

  // A periodic trajectory around state A: q = qA + 0.2 sin(phase_i + 2 pi t / T), qdot its rate.
  const int T = 1000;
  const JointState a = jointState(N, 0);
  std::vector<JointVec, Eigen::aligned_allocator<JointVec>> qs(T), qdots(T);
  for (int t = 0; t < T; ++t)
    for (int i = 0; i < N; ++i) {
      const double phase = 0.7 * i + 6.283185307179586 * t / T;
      qs[t](i) = a.q(i) + 0.2 * std::sin(phase);
      qdots[t](i) = 0.2 * 6.283185307179586 / (T * 1e-3) * std::cos(phase);
    }

  for (int t = 0; t < 20000; ++t) cycle.run(qs[t % T], qdots[t % T]);  // warm-up

  std::vector<long long> lat(cycles);
  for (long t = 0; t < cycles; ++t) {
    const JointVec& q = qs[t % T];
    const JointVec& qdot = qdots[t % T];
    const Clock::time_point t0 = Clock::now();
    cycle.run(q, qdot);
    const Clock::time_point t1 = Clock::now();
    lat[t] = nanos(t0, t1);
  }

  // The phases, timed separately on a tenth of the cycles.
  const long splitCycles = std::max(1L, cycles / 10);
  std::vector<long long> phase[5];
  for (auto& p : phase) p.resize(splitCycles);
  for (long t = 0; t < splitCycles; ++t) {
    const Clock::time_point t0 = Clock::now();
    cycle.kinematics(qs[t % T], qdots[t % T]);
    const Clock::time_point t1 = Clock::now();
    cycle.jacobians();
    const Clock::time_point t2 = Clock::now();
    cycle.controller();
    const Clock::time_point t3 = Clock::now();
    cycle.dynamics();
    const Clock::time_point t4 = Clock::now();
    cycle.observer();
    const Clock::time_point t5 = Clock::now();
    phase[0][t] = nanos(t0, t1);
    phase[1][t] = nanos(t1, t2);
    phase[2][t] = nanos(t2, t3);
    phase[3][t] = nanos(t3, t4);
    phase[4][t] = nanos(t4, t5);
  }

  std::vector<long long> clockCost(100000);
  for (auto& c : clockCost) {
    const Clock::time_point t0 = Clock::now();
    const Clock::time_point t1 = Clock::now();
    c = nanos(t0, t1);
  }

  std::sort(lat.begin(), lat.end());
  std::sort(clockCost.begin(), clockCost.end());
  double mean = 0;
  for (long long x : lat) mean += x;
  mean /= lat.size();
  std::printf("%-8s N=%-2d cycles=%ld  ns per cycle: median %.0f  mean %.0f  p99 %.0f  p99.9 %.0f  "
              "p99.99 %.0f  max %.0f  (clock read pair: %.0f)\n",
              info.name, N, cycles, percentile(lat, 0.5), mean, percentile(lat, 0.99),
              percentile(lat, 0.999), percentile(lat, 0.9999), static_cast<double>(lat.back()),
              percentile(clockCost, 0.5));
  const char* names[5] = {"update(false)", "updateJacobian(false)", "refImpedanceAcceleration",
                          "J^T map + idyn", "observer"};
  std::printf("%-8s N=%-2d phase medians (ns):", info.name, N);
  for (int p = 0; p < 5; ++p) {
    std::sort(phase[p].begin(), phase[p].end());
    std::printf("  %s %.0f", names[p], percentile(phase[p], 0.5));
  }
  std::printf("\n");
  // Keep the estimate alive.
  if (cycle.tauExt().hasNaN()) std::printf("(non-finite estimate)\n");
}

}  // namespace

int main(int argc, char** argv) {
  const long cycles = argc > 1 ? std::atol(argv[1]) : 1000000;
  if (cycles <= 0) {
    std::fprintf(stderr, "usage: %s [cycles]\n", argv[0]);
    return 2;
  }
  for (const RobotInfo& info : robots()) {
    if (info.n == 7) measure<7>(info, cycles);
    if (info.n == 16) measure<16>(info, cycles);
  }
  return 0;
}
