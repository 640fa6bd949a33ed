// Registration of the benchmarks of all peers in one binary, named <peer>/<op>/<robot> so that the
// report can pair the same operation on the same robot across peers.
#ifndef ZORVIK_BENCH_REGISTRY_H
#define ZORVIK_BENCH_REGISTRY_H

#include <benchmark/benchmark.h>

#include <functional>
#include <string>

#include "BenchRobots.h"

namespace zorvik_bench {

inline void addBenchmark(const std::string& peer, const std::string& op, const std::string& robot,
                         std::function<void(benchmark::State&)> fn) {
  const std::string name = peer + "/" + op + "/" + robot;
  benchmark::RegisterBenchmark(name.c_str(), [fn](benchmark::State& st) { fn(st); });
}

// Each peer registers its benchmarks for one robot; the joint names in model order let the peers
// map their own joint numbering to ours.
void registerOurs(const RobotInfo& info);
void registerOursTask();
void registerKdl(const RobotInfo& info, const std::vector<std::string>& names);
void registerDart(const RobotInfo& info, const std::vector<std::string>& names);

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

}  // namespace zorvik_bench

#endif
