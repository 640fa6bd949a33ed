#include "DemoOptions.h"

#include <cmath>
#include <cstdlib>

namespace zorvik_demo {

const char* usage() {
  return "Usage: zorvik_demo [options]\n"
         "Simulates a robot arm at a fixed rate under task-space impedance control while a\n"
         "momentum observer watches for contact, and prints a report.\n"
         "\n"
         "  --urdf FILE          robot description with 6, 7, 14 or 16 moving joints\n"
         "                       (default: the embedded Franka Panda)\n"
         "  --duration S         simulated time in seconds (default 5)\n"
         "  --rate HZ            control and simulation rate (default 1000)\n"
         "  --out DIR            directory for the CSV time series and plots\n"
         "                       (default zorvik_demo_out)\n"
         "  --no-plot            do not call gnuplot\n"
         "  --no-mismatch        simulate the plant with exactly the controller's model\n"
         "  --plant-solve        plant accelerations by solving M qddot = tau - C qdot - G\n"
         "                       instead of the forward-dynamics recursion\n"
         "  --control ROUTE      kinematic (default): task acceleration through a damped\n"
         "                       least-squares inverse of the Jacobian, posture in its null\n"
         "                       space, torques by idyn; osc: operational-space torques\n"
         "                       (OperationalSpaceXD), posture in the dynamically\n"
         "                       consistent null space\n"
         "  --contact START END  contact window in seconds (default 2 3)\n"
         "  --contact-force N    magnitude of the push on the last body (default 20)\n"
         "  --help               this text\n";
}

namespace {
bool toNumber(const char* text, double& value) {
  char* end = nullptr;
  value = std::strtod(text, &end);
  return end != text && *end == '\0' && std::isfinite(value);
}
}  // namespace

std::string parseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto needs = [&](int count) { return i + count < argc; };
    auto number = [&](const char* name, double& value, double min) -> std::string {
      if (!needs(1)) return std::string(name) + " needs a value";
      if (!toNumber(argv[++i], value)) return std::string(name) + ": not a number: " + argv[i];
      if (value < min) return std::string(name) + ": must be at least " + std::to_string(min);
      return "";
    };
    std::string error;
    if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else if (arg == "--urdf") {
      if (!needs(1)) return "--urdf needs a file";
      o.urdf = argv[++i];
    } else if (arg == "--out") {
      if (!needs(1)) return "--out needs a directory";
      o.out = argv[++i];
    } else if (arg == "--duration") {
      error = number("--duration", o.duration, 1e-3);
    } else if (arg == "--rate") {
      error = number("--rate", o.rate, 1.0);
    } else if (arg == "--contact-force") {
      error = number("--contact-force", o.contactForce, 0.0);
    } else if (arg == "--contact") {
      error = number("--contact", o.contactStart, 0.0);
      if (error.empty()) error = number("--contact", o.contactEnd, o.contactStart);
    } else if (arg == "--no-plot") {
      o.plot = false;
    } else if (arg == "--no-mismatch") {
      o.mismatch = false;
    } else if (arg == "--control") {
      if (!needs(1)) return "--control needs kinematic or osc";
      const std::string route = argv[++i];
      if (route != "kinematic" && route != "osc")
        return "--control: kinematic or osc, not " + route;
      o.osc = route == "osc";
    } else if (arg == "--plant-solve") {
      o.plantSolve = true;
    } else {
      return "unknown option: " + arg + " (see --help)";
    }
    if (!error.empty()) return error;
  }
  if (o.rate > 100000.0) return "--rate: at most 100000 Hz";
  if (o.duration * o.rate > 1e7) return "--duration: too many steps at this rate";
  return "";
}

}  // namespace zorvik_demo
