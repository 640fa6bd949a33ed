// zorvik-identify: identification from the command line.
//   zorvik-identify fit --urdf R.urdf --log log.csv [--cutoff HZ] [--no-friction] [--offset]
//                       [--unweighted]
// fits the base parameters and joint friction on the first 80 % of the log and prints them with
// their standard deviations, the regressor's condition number, and the torque RMS per joint on the
// last 20 %, held out from the fit. Bad arguments or files: a one-line error and exit status 2.
#include <ZorvikIdentification/Estimation>
#include <ZorvikURDF/RobotDescription>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

using namespace ZorvikFoundation;
namespace Id = ZorvikFoundation::Identification;

namespace {

const char* const kUsage =
    "usage: zorvik-identify fit --urdf R.urdf --log log.csv [options]\n"
    "\n"
    "Fits the robot's base inertial parameters and joint friction (viscous Fv, Coulomb Fc) to a\n"
    "joint torque log by weighted least squares, on the first 80 % of the log, and prints them\n"
    "with their standard deviations, the regressor's condition number and the torque RMS per\n"
    "joint on the last 20 % of the log.\n"
    "\n"
    "The log is CSV with a header row: t, q_<joint> and tau_<joint> for every moving joint,\n"
    "optionally qdot_<joint> and qddot_<joint> (derived by a zero-phase low-pass filter and\n"
    "central differences when missing; the torques are then filtered alike).\n"
    "\n"
    "options:\n"
    "  --cutoff HZ     low-pass cut-off for derived rates (default 10)\n"
    "  --no-friction   fit no friction\n"
    "  --offset        fit a constant torque offset per joint\n"
    "  --unweighted    ordinary least squares only (no per-joint weights)\n"
    "  --help          this text\n";

struct Usage {
  std::string message;
};

double number(const char* text, const std::string& option) {
  char* end = nullptr;
  const double x = std::strtod(text, &end);
  if (*end != '\0' || !std::isfinite(x))
    throw Usage{option + " takes a number, not '" + text + "'"};
  return x;
}

int fit(const std::string& urdf, const std::string& logPath, const Id::LogOptions& logOptions,
        const Id::FitOptions& options) {
  const URDF::RobotDescription d = URDF::RobotDescription::fromFile(urdf);
  std::vector<std::string> joints;
  for (const URDF::MovingJointData& j : d.joints()) joints.push_back(j.name);
  const Id::JointLog log = Id::readLogFile(logPath, joints, logOptions);
  const int S = log.samples(), fitted = S * 4 / 5;
  if (S - fitted < 1) throw Id::IdentificationError(logPath + ": too few samples to hold out 20 %");
  const auto start = std::chrono::steady_clock::now();
  const Id::FitResult r = Id::fitBaseParameters(d, log.rows(0, fitted), options);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const Id::JointLog held = log.rows(fitted, S - fitted);
  const Eigen::MatrixXd residual = Id::predictTorques(d, r, held, options) - held.tau;

  std::printf("robot %s: %d joints, %d samples fitted, %d held out (%.3f s fit)\n",
              d.robotName().c_str(), d.dof(), fitted, S - fitted, seconds);
  std::printf("condition number of the stacked regressor: %.4g\n\n", r.conditionNumber);
  std::printf("%-32s %14s %12s\n", "base parameter", "value", "std");
  for (size_t i = 0; i < r.baseNames.size(); ++i)
    std::printf("%-32s %14.6g %12.3g\n", r.baseNames[i].c_str(), r.base(i), r.baseStd(i));
  std::printf("\n%-24s %11s %10s %11s %10s %11s %10s %10s %13s\n", "joint", "Fv", "std", "Fc",
              "std", "offset", "std", "fit RMS", "held-out RMS");
  for (int j = 0; j < d.dof(); ++j)
    std::printf("%-24s %11.5g %10.3g %11.5g %10.3g %11.5g %10.3g %10.4g %13.4g\n",
                joints[j].c_str(), r.friction.viscous(j), r.frictionStd.viscous(j),
                r.friction.coulomb(j), r.frictionStd.coulomb(j), r.friction.offset(j),
                r.frictionStd.offset(j), r.residualRms(j),
                std::sqrt(residual.col(j).squaredNorm() / residual.rows()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc >= 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (argc < 2) throw Usage{"missing command (fit)"};
    if (std::strcmp(argv[1], "fit")) throw Usage{std::string("unknown command '") + argv[1] + "'"};
    std::string urdf, log;
    Id::LogOptions logOptions;
    Id::FitOptions options;
    for (int a = 2; a < argc; ++a) {
      const std::string arg = argv[a];
      const auto value = [&]() -> const char* {
        if (a + 1 >= argc) throw Usage{arg + " needs a value"};
        return argv[++a];
      };
      if (arg == "--help" || arg == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
      } else if (arg == "--urdf") {
        urdf = value();
      } else if (arg == "--log") {
        log = value();
      } else if (arg == "--cutoff") {
        logOptions.cutoffHz = number(value(), arg);
      } else if (arg == "--no-friction") {
        options.friction = false;
      } else if (arg == "--offset") {
        options.offset = true;
      } else if (arg == "--unweighted") {
        options.weighted = false;
      } else {
        throw Usage{"unknown option '" + arg + "'"};
      }
    }
    if (urdf.empty()) throw Usage{"fit needs --urdf"};
    if (log.empty()) throw Usage{"fit needs --log"};
    return fit(urdf, log, logOptions, options);
  } catch (const Usage& u) {
    std::fprintf(stderr, "zorvik-identify: %s (see --help)\n", u.message.c_str());
  } catch (const std::exception& e) {
    // Load and identification errors name the file and the element; keep them on one line.
    std::string message = e.what();
    for (char& c : message)
      if (c == '\n') c = ' ';
    std::fprintf(stderr, "zorvik-identify: %s\n", message.c_str());
  }
  return 2;
}
