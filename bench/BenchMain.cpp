// zorvik_bench: our library, Orocos KDL, DART and MuJoCo timed on the UR5, the Panda arm, Baxter's
// arms and the Allegro hand (see bench/README.md and scripts/bench.sh).
//
// Before timing, the peers' results at the benchmark state are compared with ours (RNEA torques,
// gravity torques, C qdot, mass matrix, forward dynamics, the inverse mass matrix where a peer has
// one), so that every row is known to compute the same thing; a disagreement ends the program with
// status 1 before anything is timed.
// Extra flags:
//   --zorvik_check_only        prints that comparison and exits (0 when every peer agrees)
//   --zorvik_peers=a,b,...     builds, checks and registers only these peers (ours, kdl, dart,
//                              mujoco; default all), so that scripts/bench.sh can time each peer
//                              in a process of its own
#include <benchmark/benchmark.h>

#include <ZorvikURDF/RobotLoader>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "BenchRegistry.h"

using namespace zorvik_bench;

namespace {

double relErr(const Eigen::MatrixXd& a, const Eigen::MatrixXd& b) {
  const double s = b.norm();
  return (a - b).norm() / (s > 0 ? s : 1);
}

// The relative error of one result, "-" where the peer does not compute it; false past the bound.
bool compare(const Eigen::MatrixXd& ours, const Eigen::MatrixXd& peer, double bound, char* text,
             size_t size) {
  if (peer.size() == 0) {
    std::snprintf(text, size, "-");
    return true;
  }
  const double e = relErr(peer, ours);
  std::snprintf(text, size, "%.1e", e);
  return e <= bound;
}

// Returns false when a peer disagrees with ours beyond rounding. KDL and DART hold the URDF's
// inertias as written and agree to 1e-13; MuJoCo's compiler rotates every inertia to its principal
// axes (an iterative eigen-decomposition: M is then off by up to 1e-8 relative on the Panda) and
// fuses the bodies on fixed joints, hence its looser bounds on M and on what is solved with it.
bool checkPeers(const RobotInfo& info, const std::vector<std::string>& names,
                const std::vector<std::string>& peers) {
  bool ok = true;
  const PeerResults ours = oursResults(info);
  for (const std::string& peer : peers) {
    if (peer == "ours") continue;
    PeerResults p;
    if (peer == "kdl") p = kdlResults(info, names);
    if (peer == "dart") p = dartResults(info, names);
    if (peer == "mujoco" && !mujocoResults(info, names, ours.rnea, p)) continue;
    const bool mujoco = peer == "mujoco";
    const double tight = 1e-8, mass = mujoco ? 1e-7 : 1e-8, solved = mujoco ? 1e-6 : 1e-8;
    char e[6][16];
    bool agree = compare(ours.rnea, p.rnea, tight, e[0], 16);
    agree = compare(ours.gravity, p.gravity, tight, e[1], 16) && agree;
    agree = compare(ours.coriolis, p.coriolis, tight, e[2], 16) && agree;
    agree = compare(ours.mass, p.mass, mass, e[3], 16) && agree;
    agree = compare(ours.fdyn, p.fdyn, solved, e[4], 16) && agree;
    agree = compare(ours.massInverse, p.massInverse, solved, e[5], 16) && agree;
    std::fprintf(stderr,
                 "[agreement] %-7s vs %-6s rel. error: rnea %s  gravity %s  C*qdot %s  M %s  "
                 "fdyn %s  Minv %s%s\n",
                 info.name, peer.c_str(), e[0], e[1], e[2], e[3], e[4], e[5],
                 agree ? "" : "  DISAGREES");
    ok = ok && agree;
  }
  return ok;
}

// Removes the flag "--<name>" or "--<name>=<value>" from argv; returns whether it was there.
bool takeFlag(int& argc, char** argv, const char* name, std::string* value) {
  const size_t len = std::strlen(name);
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strncmp(a, "--", 2) != 0 || std::strncmp(a + 2, name, len) != 0) continue;
    if (a[2 + len] != 0 && a[2 + len] != '=') continue;
    if (value && a[2 + len] == '=') *value = a + 3 + len;
    for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
    --argc;
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const bool checkOnly = takeFlag(argc, argv, "zorvik_check_only", nullptr);
  std::string peerList = "ours,kdl,dart,mujoco";
  takeFlag(argc, argv, "zorvik_peers", &peerList);
  std::vector<std::string> peers;
  for (size_t start = 0; start <= peerList.size();) {
    const size_t comma = std::min(peerList.find(',', start), peerList.size());
    const std::string peer = peerList.substr(start, comma - start);
    if (peer != "ours" && peer != "kdl" && peer != "dart" && peer != "mujoco") {
      std::fprintf(stderr, "zorvik_bench: unknown peer '%s' (ours, kdl, dart, mujoco)\n",
                   peer.c_str());
      return 2;
    }
    peers.push_back(peer);
    start = comma + 1;
  }
  const auto has = [&](const char* peer) {
    return std::find(peers.begin(), peers.end(), peer) != peers.end();
  };
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  // Each robot's joint names in model order, by which every peer maps its coordinates to ours.
  std::vector<std::vector<std::string>> names;
  for (const RobotInfo& info : robots()) {
    const auto description = ZorvikFoundation::URDF::RobotDescription::fromFile(robotPath(info));
    names.emplace_back();
    for (const auto& joint : description.joints()) names.back().push_back(joint.name);
  }
  bool agree = true;
  for (size_t r = 0; r < robots().size(); ++r)
    agree = checkPeers(robots()[r], names[r], peers) && agree;
  if (!agree) {
    std::fprintf(stderr, "[agreement] a peer disagrees with ours (see above): nothing timed\n");
    return 1;
  }
  if (checkOnly) return 0;
  for (size_t r = 0; r < robots().size(); ++r) {
    if (has("ours")) registerOurs(robots()[r]);
    if (has("kdl")) registerKdl(robots()[r], names[r]);
    if (has("dart")) registerDart(robots()[r], names[r]);
    if (has("mujoco")) registerMujoco(robots()[r], names[r]);
  }
  if (has("ours")) registerOursTask();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
