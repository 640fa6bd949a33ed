// Command line of the demo. Every problem is reported as one line and exit status 2 before anything
// is simulated or written.
#ifndef ZORVIK_DEMO_OPTIONS_H
#define ZORVIK_DEMO_OPTIONS_H

#include <string>

namespace zorvik_demo {

struct Options {
  std::string urdf;            // empty: the embedded Franka Panda
  double duration = 5.0;       // simulated seconds
  double rate = 1000.0;        // control and simulation rate, Hz
  std::string out = "zorvik_demo_out";
  bool plot = true;
  bool mismatch = true;        // plant differs from the controller's model (payload, friction)
  bool plantSolve = false;     // plant by a dense solve of the joint-space equation, not fdyn
  bool osc = false;            // torques by OperationalSpaceXD, not the kinematic route + idyn
  double contactStart = 2.0;   // s
  double contactEnd = 3.0;     // s
  double contactForce = 20.0;  // N
  bool help = false;
};

// Parses argv into `options`; returns an empty string on success, else the one-line error.
std::string parseOptions(int argc, char** argv, Options& options);

const char* usage();

}  // namespace zorvik_demo

#endif
