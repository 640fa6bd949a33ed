// Registration of the benchmarks of all peers in one binary, named <peer>/<op>/<robot> so that the
// report can pair the same operation on the same robot across peers. Every benchmark reports the
// heap allocations its timed loop made per call (counter "allocs", from the tests' allocation
// counter, which counts every malloc and operator new of the thread, the peers' libraries
// included).
#ifndef ZORVIK_BENCH_REGISTRY_H
#define ZORVIK_BENCH_REGISTRY_H

#include <benchmark/benchmark.h>

#include <functional>
#include <string>

#include "BenchRobots.h"
#include "support/AllocationCounter.h"

namespace zorvik_bench {

inline void addBenchmark(const std::string& peer, const std::string& op, const std::string& robot,
                         std::function<void(benchmark::State&)> fn) {
  const std::string name = peer + "/" + op + "/" + robot;
  benchmark::RegisterBenchmark(name.c_str(), [fn](benchmark::State& st) {
    // Set-up before the loop allocates nothing in any peer, so the count is the loop's.
    const long before = zorvik_test::allocationCount();
    fn(st);
    const long allocs = zorvik_test::allocationCount() - before;
    st.counters["allocs"] =
        benchmark::Counter(static_cast<double>(allocs), benchmark::Counter::kAvgIterations);
  });
}

// Each peer registers its benchmarks for one robot; the joint names in model order let the peers
// map their own joint numbering to ours.
void registerOurs(const RobotInfo& info);
void registerOursTask();
void registerKdl(const RobotInfo& info, const std::vector<std::string>& names);
void registerDart(const RobotInfo& info, const std::vector<std::string>& names);
// Registers nothing, with a message, when MuJoCo cannot load the robot.
void registerMujoco(const RobotInfo& info, const std::vector<std::string>& names);

// The peers' results at state A in model order, for the agreement check printed before the run:
// torques of the RNEA with gravity, gravity torques, C qdot, the mass matrix, the forward
// dynamics' accelerations for the RNEA's torques (state A's accelerations) and the inverse mass
// matrix (empty where a peer has none).
struct PeerResults {
  Eigen::VectorXd rnea, gravity, coriolis, fdyn;
  Eigen::MatrixXd mass, massInverse;
};
PeerResults oursResults(const RobotInfo& info);
PeerResults kdlResults(const RobotInfo& info, const std::vector<std::string>& names);
PeerResults dartResults(const RobotInfo& info, const std::vector<std::string>& names);
// MuJoCo computes no separate gravity torques or C qdot here (empty); its forward dynamics is
// solved for the torques tau (model order). False, with a message, when MuJoCo cannot load the
// robot.
bool mujocoResults(const RobotInfo& info, const std::vector<std::string>& names,
                   const Eigen::VectorXd& tau, PeerResults& r);

}  // namespace zorvik_bench

#endif
