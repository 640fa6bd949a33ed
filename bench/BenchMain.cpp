// zorvik_bench: our library, Orocos KDL and DART timed in one binary and one run, on the UR5, the
// Panda arm, Baxter's arms and the Allegro hand (see bench/README.md and scripts/bench.sh).
//
// Before timing, the peers' results at the benchmark state are compared with ours (RNEA torques,
// gravity torques, C qdot, mass matrix, forward dynamics, and DART's inverse mass matrix), so that
// every row is known to compute the same thing.
// Extra flag: --zorvik_check_only prints that comparison and exits.
#include <benchmark/benchmark.h>

#include <ZorvikURDF/RobotLoader>
#include <cstdio>
#include <cstring>

#include "BenchRegistry.h"

using namespace zorvik_bench;

namespace {

double relErr(const Eigen::MatrixXd& a, const Eigen::MatrixXd& b) {
  const double s = b.norm();
  return (a - b).norm() / (s > 0 ? s : 1);
}

// Returns false when a peer disagrees with ours beyond rounding.
bool checkPeers(const RobotInfo& info, const std::vector<std::string>& names) {
  const PeerResults ours = oursResults(info);
  bool ok = true;
  for (const char* peer : {"kdl", "dart"}) {
    const PeerResults p =
        std::strcmp(peer, "kdl") == 0 ? kdlResults(info, names) : dartResults(info, names);
    const bool hasInverse = p.massInverse.size() > 0;
    const double e[6] = {relErr(ours.rnea, p.rnea),         relErr(ours.gravity, p.gravity),
                         relErr(ours.coriolis, p.coriolis), relErr(ours.mass, p.mass),
                         relErr(ours.fdyn, p.fdyn),
                         hasInverse ? relErr(ours.massInverse, p.massInverse) : 0.0};
    char minv[16] = "-";
    if (hasInverse) std::snprintf(minv, sizeof minv, "%.1e", e[5]);
    std::fprintf(stderr,
                 "[agreement] %-7s vs %-4s  rel. error: rnea %.1e  gravity %.1e  C*qdot %.1e  "
                 "M %.1e  fdyn %.1e  Minv %s\n",
                 info.name, peer, e[0], e[1], e[2], e[3], e[4], minv);
    for (double x : e) ok = ok && x < 1e-8;
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  bool checkOnly = false;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--zorvik_check_only") == 0) {
      checkOnly = true;
      for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
      --argc;
      break;
    }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  bool agree = true;
  for (const RobotInfo& info : robots()) {
    std::vector<std::string> names;
    const auto description = ZorvikFoundation::URDF::RobotDescription::fromFile(robotPath(info));
    for (const auto& joint : description.joints()) names.push_back(joint.name);
    agree = checkPeers(info, names) && agree;
    if (checkOnly) continue;
    registerOurs(info);
    registerKdl(info, names);
    registerDart(info, names);
  }
  if (!agree) std::fprintf(stderr, "[agreement] a peer disagrees with ours: see above\n");
  if (checkOnly) return agree ? 0 : 1;
  registerOursTask();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return agree ? 0 : 1;
}
