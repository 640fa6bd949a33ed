// zorvik_demo: a robot arm under task-space impedance control, with a momentum observer watching for
// contact, simulated at a fixed rate. Everything numerical comes from the library:
//   plant       forward dynamics of the plant's own model, qddot = fdyn(tau + tau_ext +
//               tau_friction) by the articulated-body recursion, semi-implicit Euler (--plant-solve:
//               M qddot = tau + ... - C qdot - G solved with M, C, G from JointDynamics instead);
//   controller  HTransformController impedance law on a frame of the hand tracking a figure eight,
//               mapped to joint accelerations through the frame's Jacobian and its derivative
//               (damped least squares, null-space posture) and to torques with idyn; or, with
//               --control osc, to torques by OperationalSpaceXD (the task acceleration exactly,
//               the posture torque in the dynamically consistent null space);
//   observer    MomentumObserverXD on the measured state and the torques commanded last period.
// By default the plant carries what the controller's model does not know (a payload in the hand
// and viscous joint friction), as a real arm does.
#include <Controller/HTransformController>
#include <Vexo/DynamicAnalysisXD>
#include <Vexo/MomentumObserverXD>
#include <Vexo/OperationalSpaceXD>
#include <ZorvikURDF/RobotLoader>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "DemoOptions.h"

extern const char* const zorvik_demo_panda_urdf;

namespace zorvik_demo {

using namespace ZorvikFoundation;
using LieGroup::HTransform;
using LieGroup::Rotation;
using LieGroup::Twist;
using LieGroup::Vector3D;
using LieGroup::Wrench;
namespace fs = std::filesystem;

const Vector3D kGravity(0, 0, -9.81);

// Figure eight (1:2 Lissajous curve) in the base frame's y-z plane around the start p0. The phase
// accelerates smoothly from rest over the first `ramp` seconds, so position, velocity and
// acceleration of the reference are continuous from t = 0.
struct FigureEight {
  Eigen::Vector3d p0;
  double a = 0.10, b = 0.06, omega = 2 * M_PI / 2.5, ramp = 1.0;

  void at(double t, Eigen::Vector3d& p, Eigen::Vector3d& pd, Eigen::Vector3d& pdd) const {
    double phi, phid, phidd;
    if (t < ramp) {
      const double x = t / ramp;
      phi = omega * ramp * (x * x * x - 0.5 * x * x * x * x);
      phid = omega * (3 * x * x - 2 * x * x * x);
      phidd = omega * (6 * x - 6 * x * x) / ramp;
    } else {
      phi = omega * (0.5 * ramp + t - ramp);
      phid = omega;
      phidd = 0;
    }
    const double s1 = std::sin(phi), c1 = std::cos(phi), s2 = std::sin(2 * phi), c2 = std::cos(2 * phi);
    p = p0 + Eigen::Vector3d(0, a * s1, b * s2);
    pd = Eigen::Vector3d(0, a * c1 * phid, 2 * b * c2 * phid);
    pdd = Eigen::Vector3d(0, a * (c1 * phidd - s1 * phid * phid),
                          2 * b * (c2 * phidd - 2 * s2 * phid * phid));
  }
};

struct Sample {
  double t, posErr, rotErr, residualNorm, trueNorm;
  bool contact, flagged;
  std::vector<double> residual, trueExt;
};

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5));
  return v[i];
}

double maxOf(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

double rms(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x * x;
  return v.empty() ? 0 : std::sqrt(s / v.size());
}

template <int N>
struct Demo {
  typedef URDF::Robot<N> Robot;
  typedef typename Robot::JointVec JointVec;
  typedef typename Robot::JointMat JointMat;
  typedef Eigen::Matrix<double, 6, N> FrameJac;

  const Options& opt;
  const URDF::RobotDescription& description;
  Robot ctrl, plant;
  int frame, body;
  JointVec qRest;

  Demo(const Options& o, const URDF::RobotDescription& d)
      : opt(o), description(d), ctrl(d), plant(d) {
    frame = handFrame();
    body = ctrl.frameBody(frame);
    // A finger with fewer than six joints cannot hold a full pose: track the position only.
    int chainJoints = 0;
    for (int k = body; k > 0; k = ctrl.parent(k)) chainJoints += ctrl.joint(k).dof();
    positionOnly = chainJoints < 6;
    qRest = restPosture();
    if (opt.mismatch) {
      // A tool 10 cm beyond the hand frame, unknown to the controller's model: 300 g, or 5 % of
      // the robot's mass for a small robot such as a hand.
      payload = std::min(0.3, 0.05 * totalMass());
      const Eigen::Vector3d c = plant.frameOffset(frame).cascade(
          HTransform(Eigen::Matrix3d::Identity(), Eigen::Vector3d(0, 0, 0.10))).r();
      const double I = payload * 3e-4;
      plant.body(body).addInertia(Inertia(payload, c(0), c(1), c(2), I, I, I, 0, 0, 0));
    }
  }

  double payload = 0;
  double viscous = 0;  // N m s/rad of the plant's joints
  bool positionOnly = false;

  double totalMass() const {
    double m = 0;
    for (int k = 0; k <= N; ++k) m += ctrl.body(k).mass();
    return m;
  }

  // The Panda's hand frame, or the frame of the last body's link for any other robot.
  int handFrame() const {
    const int hand = ctrl.frameIndex("panda_hand");
    if (hand >= 0) return hand;
    return ctrl.frameIndex(description.bodies()[N].link);
  }

  // The usual ready poses of the Panda and the UR5; elsewhere the middle of each joint's range,
  // bent a little so that the arm does not start stretched out in a singular configuration.
  JointVec restPosture() const {
    JointVec q;
    if (N == 7 && ctrl.frameIndex("panda_hand") >= 0) {
      q << 0, -M_PI / 4, 0, -3 * M_PI / 4, 0, M_PI / 2, M_PI / 4;
      return q;
    }
    if (N == 6 && description.robotName() == "ur5") {
      q << 0, -M_PI / 2, M_PI / 2, -M_PI / 2, -M_PI / 2, 0;
      return q;
    }
    for (int i = 0; i < N; ++i) {
      const auto& j = description.joints()[i];
      const bool bounded = std::isfinite(j.lower) && std::isfinite(j.upper) && j.upper > j.lower;
      const double mid = bounded ? 0.5 * (j.lower + j.upper) : 0.0;
      double qi = mid + ((i % 2) ? -0.4 : 0.4);
      if (bounded) qi = std::min(std::max(qi, j.lower), j.upper);
      q(i) = qi;
    }
    return q;
  }

  int run(std::ostream& report) {
    const double h = 1.0 / opt.rate;
    const long steps = std::lround(opt.duration * opt.rate);

    JointVec q = qRest, qdot = JointVec::Zero();
    ctrl.q() = q;
    ctrl.qdot() = qdot;
    ctrl.update(false);
    const HTransform T0 = ctrl.framePose(frame);
    // The figure eight spans 15 % of the hand's distance from the base, at most 10 cm across.
    FigureEight path;
    path.p0 = T0.r();
    path.a = std::min(0.10, 0.15 * path.p0.norm());
    path.b = 0.6 * path.a;
    const Eigen::Matrix3d R0 = T0.R();

    // Impedance law: stiffness 400 1/s^2 and critical damping on every axis of the error twist.
    HTransformController cartesian;
    cartesian.setPeriod(h);
    cartesian.setPosGain(400.0);
    cartesian.setVelGain(40.0);
    const double nullKp = 25.0, nullKv = 10.0, damping = 0.01;

    VexoSDK::MomentumObserverXD<N> observer;
    observer.setPeriod(h);
    observer.setGain(JointVec::Constant(100.0));
    // Contact is flagged when the residual's norm exceeds thresholdOn and released below
    // thresholdOff. The threshold is calibrated in the contact-free start of the run, as on a real
    // arm: 2.5 times the largest residual seen there, and at least 5 % of the gravity torques at the
    // rest posture, a scale of the robot's own torques.
    const double calibrationEnd = std::min(1.0, opt.contactStart);
    double calibrationPeak = 0, thresholdOn = 0, thresholdOff = 0;
    ctrl.idyn_gravity(kGravity);
    const double thresholdFloor = 0.05 * ctrl.tau().norm();
    viscous = opt.mismatch ? 0.5 * payload / 0.3 : 0.0;
    // The friction torque -D qdot is applied explicitly, which is stable while h D stays below the
    // smallest joint-space inertia 1 / lambda_max(M^-1); D is capped at the rest posture with the
    // bound lambda_max <= max row sum of |M^-1| and a margin of two (a robot with very light
    // joints, such as a hand, would otherwise be shaken apart by its own friction).
    {
      plant.q() = q;
      plant.update(true);
      JointMat Minv;
      VexoSDK::DynamicAnalysisXD<N>::MassInverse(plant, Minv);
      viscous = std::min(viscous, 1.0 / (h * Minv.cwiseAbs().rowwise().sum().maxCoeff()));
    }

    // The operational-space route: the hand frame's task in its own coordinates, the frame in
    // which the impedance law gives its reference acceleration.
    VexoSDK::OperationalSpaceXD<N> osc;
    osc.addTask(body, ctrl.frameOffset(frame), VexoSDK::JacobianFrame::Body,
                positionOnly ? VexoSDK::TaskRows::Linear : VexoSDK::TaskRows::All);

    JointVec tauApplied = JointVec::Zero(), residual, tauExt;
    JointMat M, C;
    JointVec G;
    FrameJac J, Jdot;
    bool flagged = false;
    std::vector<Sample> samples;
    samples.reserve(steps);
    std::vector<double> cycleMicros;
    cycleMicros.reserve(steps);

    for (long i = 0; i < steps; ++i) {
      const double t = i * h;
      const bool contact = t >= opt.contactStart && t < opt.contactEnd;

      // ---- controller side (timed): measured state in, torque command out -----------------------
      const auto start = std::chrono::steady_clock::now();
      ctrl.q() = q;
      ctrl.qdot() = qdot;
      ctrl.update(false);
      ctrl.updateJacobian(false);
      // Observer first: it needs the torques that acted during the last period.
      ctrl.tau() = tauApplied;
      observer.estimate(ctrl, residual, kGravity);

      const HTransform T = ctrl.framePose(frame);
      const Twist V = ctrl.frameTwist(frame);

      Eigen::Vector3d pd, pdd, pddd;
      path.at(t, pd, pdd, pddd);
      const HTransform Td(R0, pd);
      const Twist Vd(R0.transpose() * pdd, Eigen::Vector3d::Zero());
      const Twist Vdotd(R0.transpose() * pddd, Eigen::Vector3d::Zero());
      HTransformController::TaskVec Vref, Vdotref, lambda, lambdadot, gamma;
      cartesian.refImpedanceAcceleration(T, V, Td, Vd, Vdotd, Wrench(), Wrench(), Vref, Vdotref,
                                         lambda, lambdadot, gamma);

      const JointVec qddotPosture = -nullKp * (q - qRest) - nullKv * qdot;
      if (opt.osc) {
        // tau = J^T (Lambda a + mu) + P tau_posture: the frame accelerates as Vdotref, and the
        // posture's own inverse dynamics acts in the null space only.
        osc.compute(ctrl, kGravity);
        ctrl.idyn(qdot, qddotPosture, kGravity);
        const typename VexoSDK::OperationalSpaceXD<N>::TaskVector a =
            Vdotref.head(osc.rows());
        osc.torque(a, ctrl.tau(), tauApplied);
      } else {
        // The hand frame sits at a fixed offset on its body: J_frame = Ad(offset^-1) J_body.
        ctrl.frameOffset(frame).itransform(ctrl.J(body), J);
        ctrl.frameOffset(frame).itransform(ctrl.Jdot(body), Jdot);
        // qddot = J# (Vdotref - Jdot qdot) + (I - J# J) qddot_posture, J# = J^T (J J^T + d^2 I)^-1;
        // in position-only mode the angular rows of the task are weighted out.
        Eigen::Matrix<double, 6, 1> w = Eigen::Matrix<double, 6, 1>::Ones();
        if (positionOnly) w.tail<3>().setZero();
        const FrameJac Jw = w.asDiagonal() * J;
        const Eigen::Matrix<double, 6, 6> JJt = Jw * Jw.transpose() +
                                                damping * damping * Eigen::Matrix<double, 6, 6>::Identity();
        const Eigen::LDLT<Eigen::Matrix<double, 6, 6>> solver(JJt);
        const JointVec qddotTask = Jw.transpose() * solver.solve(w.asDiagonal() * (Vdotref - Jdot * qdot));
        const JointVec qddot = qddotTask + qddotPosture - Jw.transpose() * solver.solve(Jw * qddotPosture);
        ctrl.idyn(qdot, qddot, kGravity);
        tauApplied = ctrl.tau();
      }
      const auto stop = std::chrono::steady_clock::now();
      cycleMicros.push_back(std::chrono::duration<double, std::micro>(stop - start).count());

      // ---- plant: the real arm ------------------------------------------------------------------
      plant.q() = q;
      plant.qdot() = qdot;
      plant.update(false);
      plant.updateJacobian(true);
      tauExt.setZero();
      if (contact) {
        // A push along the base frame's -x axis on the last body's origin, in that body's frame.
        const Eigen::Vector3d f = plant.T(N).R().transpose() * Eigen::Vector3d(-opt.contactForce, 0, 0);
        tauExt = plant.J(N).transpose() * Wrench(f, Eigen::Vector3d::Zero());
      }
      const JointVec tauPlant = tauApplied + tauExt - viscous * qdot;
      JointVec qddotPlant;
      if (opt.plantSolve) {
        VexoSDK::DynamicAnalysisXD<N>::JointDynamics(plant, M, C, G, kGravity);
        qddotPlant = M.ldlt().solve(tauPlant - C * qdot - G);
      } else {
        plant.fdyn(tauPlant, kGravity);
        qddotPlant = plant.qddot();
      }
      qdot += h * qddotPlant;
      q += h * qdot;

      // ---- bookkeeping ---------------------------------------------------------------------------
      const double rnorm = residual.norm();
      if (t < calibrationEnd) {
        calibrationPeak = std::max(calibrationPeak, rnorm);
      } else {
        if (thresholdOn == 0) {
          thresholdOn = std::max(2.5 * calibrationPeak, thresholdFloor);
          thresholdOff = 0.6 * thresholdOn;
        }
        if (!flagged && rnorm > thresholdOn) flagged = true;
        if (flagged && rnorm < thresholdOff) flagged = false;
      }
      Sample s;
      s.t = t;
      s.posErr = (pd - Eigen::Vector3d(T.r())).norm();
      s.rotErr = positionOnly ? 0 : Rotation(Eigen::Matrix3d(T.R().transpose() * R0)).expCoord().norm();
      s.residualNorm = rnorm;
      s.trueNorm = tauExt.norm();
      s.contact = contact;
      s.flagged = flagged;
      s.residual.assign(residual.data(), residual.data() + N);
      s.trueExt.assign(tauExt.data(), tauExt.data() + N);
      samples.push_back(std::move(s));
      if (!q.allFinite()) {
        std::cerr << "zorvik_demo: the simulation diverged at t = " << t << " s\n";
        return 1;
      }
    }
    summarize(samples, cycleMicros, thresholdOn, report);
    return 0;
  }

  void summarize(const std::vector<Sample>& samples, const std::vector<double>& micros,
                 double threshold, std::ostream& out) const {
    std::vector<double> pos, rot, posFree, rotFree, errIn, errOut;
    double detectAt = -1, releaseAt = -1;
    int falseAlarms = 0;
    bool prev = false;
    for (const Sample& s : samples) {
      pos.push_back(s.posErr);
      rot.push_back(s.rotErr);
      if (!s.contact) {
        posFree.push_back(s.posErr);
        rotFree.push_back(s.rotErr);
      }
      double e = 0;
      for (int i = 0; i < N; ++i) e += std::pow(s.residual[i] - s.trueExt[i], 2);
      (s.contact ? errIn : errOut).push_back(std::sqrt(e));
      if (s.flagged && !prev) {
        if (s.t >= opt.contactStart && s.t < opt.contactEnd && detectAt < 0)
          detectAt = s.t;
        else
          ++falseAlarms;
      }
      if (!s.flagged && prev && detectAt >= 0 && releaseAt < 0 && s.t >= opt.contactEnd) releaseAt = s.t;
      prev = s.flagged;
    }
    const bool hadContact = opt.contactStart < samples.back().t;
    char line[256];
    out << "ZorvikCore demo: " << description.robotName() << " (" << N << " joints), "
        << samples.size() << " steps at " << opt.rate << " Hz\n";
    if (positionOnly) out << "the target body has fewer than 6 joints: position tracking only\n";
    out << (opt.osc ? "control: operational space (OperationalSpaceXD::torque, posture in the "
                      "dynamically consistent null space)\n"
                    : "control: kinematic (damped least-squares task acceleration, posture in "
                      "the Jacobian's null space, idyn)\n");
    if (opt.mismatch) {
      std::snprintf(line, sizeof line,
                    "plant differs from the model: unmodelled %.3f kg payload, %.2f N m s/rad "
                    "viscous friction per joint\n",
                    payload, viscous);
      out << line;
    } else {
      out << "plant identical to the controller's model\n";
    }
    const double deg = 180 / M_PI;
    std::snprintf(line, sizeof line,
                  "tracking position error:    RMS %.2f mm, max %.2f mm (outside contact: RMS "
                  "%.2f mm, max %.2f mm)\n",
                  1e3 * rms(pos), 1e3 * maxOf(pos), 1e3 * rms(posFree), 1e3 * maxOf(posFree));
    out << line;
    std::snprintf(line, sizeof line,
                  "tracking orientation error: RMS %.3f deg, max %.3f deg (outside contact: RMS "
                  "%.3f deg, max %.3f deg)\n",
                  deg * rms(rot), deg * maxOf(rot), deg * rms(rotFree), deg * maxOf(rotFree));
    out << line;
    std::snprintf(line, sizeof line,
                  "observer error |r - tau_ext|: RMS %.3f N m during contact, %.3f N m outside "
                  "(the model mismatch's bias)\n",
                  rms(errIn), rms(errOut));
    out << line;
    if (!hadContact) {
      out << "contact: none in the simulated window\n";
    } else if (detectAt < 0) {
      out << "contact: NOT detected\n";
    } else {
      std::snprintf(line, sizeof line, "contact detected at t = %.3f s (%.0f ms after onset)", detectAt,
                    1e3 * (detectAt - opt.contactStart));
      out << line;
      if (releaseAt >= 0) {
        std::snprintf(line, sizeof line, ", released at t = %.3f s (%.0f ms after release)\n",
                      releaseAt, 1e3 * (releaseAt - opt.contactEnd));
        out << line;
      } else {
        out << ", not released before the end\n";
      }
    }
    std::snprintf(line, sizeof line, "false alarms: %d (threshold %.3f N m on |r|)\n", falseAlarms,
                  threshold);
    out << line;
    std::snprintf(line, sizeof line,
                  "controller cycle (FK, Jacobians, observer, controller, %s): median %.1f us, "
                  "p99 %.1f us, max %.1f us\n",
                  opt.osc ? "operational space" : "damped least squares, idyn",
                  percentile(micros, 0.5), percentile(micros, 0.99),
                  *std::max_element(micros.begin(), micros.end()));
    out << line;

    // Machine-readable summary and time series.
    fs::create_directories(opt.out);
    std::ofstream summary(opt.out + "/summary.txt");
    summary << "joints=" << N << "\nsteps=" << samples.size() << "\npos_rms=" << rms(pos)
            << "\npos_max=" << maxOf(pos) << "\nrot_rms=" << rms(rot) << "\nrot_max=" << maxOf(rot)
            << "\npos_free_max=" << maxOf(posFree) << "\nrot_free_max=" << maxOf(rotFree)
            << "\nthreshold=" << threshold << "\nobs_err_contact="
            << rms(errIn) << "\nobs_err_free=" << rms(errOut) << "\ndetect_delay="
            << (detectAt < 0 ? -1 : detectAt - opt.contactStart) << "\nrelease_delay="
            << (releaseAt < 0 ? -1 : releaseAt - opt.contactEnd) << "\nfalse_alarms=" << falseAlarms
            << "\ncycle_median_us=" << percentile(micros, 0.5) << "\n";
    writeSeries(samples);
  }

  void writeSeries(const std::vector<Sample>& samples) const {
    const std::string path = opt.out + "/timeseries.csv";
    std::ofstream csv(path + ".tmp");
    csv << "t,pos_err,rot_err,contact,flagged";
    for (int i = 0; i < N; ++i) csv << ",r" << i + 1 << ",tau_ext" << i + 1;
    csv << "\n";
    for (const Sample& s : samples) {
      csv << s.t << "," << s.posErr << "," << s.rotErr << "," << s.contact << "," << s.flagged;
      for (int i = 0; i < N; ++i) csv << "," << s.residual[i] << "," << s.trueExt[i];
      csv << "\n";
    }
    csv.close();
    fs::rename(path + ".tmp", path);
  }
};

// Plots with gnuplot, when it is installed: residual against the true external torque per joint,
// and the tracking error.
void plot(const Options& opt, int joints) {
  if (std::system("command -v gnuplot > /dev/null 2>&1") != 0) {
    std::cout << "plots: gnuplot not found; install it (apt-get install gnuplot-nox) and rerun, or "
                 "plot " << opt.out << "/timeseries.csv yourself\n";
    return;
  }
  const std::string script = opt.out + "/plots.gp";
  std::ofstream gp(script);
  const int cols = joints <= 7 ? 1 : 2, rows = (joints + cols - 1) / cols;
  gp << "set datafile separator ','\nset key autotitle columnhead\n"
     << "set terminal pngcairo size " << 900 * cols << "," << 170 * rows << " font 'sans,9'\n"
     << "set output '" << opt.out << "/observer.png'\n"
     << "set multiplot layout " << rows << "," << cols << " title 'Momentum observer: residual r (estimate) and true external torque [N m]'\n"
     << "set lmargin 10\n";
  for (int i = 0; i < joints; ++i) {
    gp << "set ylabel 'joint " << i + 1 << "'\n";
    gp << "plot '" << opt.out << "/timeseries.csv' using 1:" << 7 + 2 * i
       << " with lines lw 1.5 title 'true', '' using 1:" << 6 + 2 * i << " with lines lw 1 title 'r'\n";
  }
  gp << "unset multiplot\nset terminal pngcairo size 900,400 font 'sans,9'\n"
     << "set output '" << opt.out << "/tracking.png'\nset multiplot layout 2,1 title 'Tracking error of the hand'\n"
     << "set ylabel 'position [mm]'\nplot '" << opt.out << "/timeseries.csv' using 1:($2*1000) with lines title 'position'\n"
     << "set ylabel 'orientation [deg]'\nset xlabel 't [s]'\nplot '' using 1:($3*180/pi) with lines title 'orientation'\n"
     << "unset multiplot\n";
  gp.close();
  if (std::system(("gnuplot '" + script + "'").c_str()) == 0)
    std::cout << "plots: " << opt.out << "/observer.png, " << opt.out << "/tracking.png\n";
  else
    std::cout << "plots: gnuplot failed on " << script << "\n";
}

int main(int argc, char** argv) {
  Options opt;
  const std::string error = parseOptions(argc, argv, opt);
  if (!error.empty()) {
    std::cerr << "zorvik_demo: " << error << "\n";
    return 2;
  }
  if (opt.help) {
    std::cout << usage();
    return 0;
  }
  try {
    const URDF::RobotDescription description =
        opt.urdf.empty() ? URDF::RobotDescription::fromString(zorvik_demo_panda_urdf, "panda_arm.urdf (embedded)")
                         : URDF::RobotDescription::fromFile(opt.urdf);
    description.checkModelSize(description.modelSize());
    std::ostringstream report;
    const int status = URDF::withRobot(description, [&](auto& robot) {
      constexpr int N = std::decay_t<decltype(robot)>::JOINT_DOF;
      Demo<N> demo(opt, description);
      return demo.run(report);
    });
    std::cout << report.str();
    if (status == 0 && opt.plot) plot(opt, description.modelSize());
    return status;
  } catch (const URDF::LoadError& e) {
    std::cerr << "zorvik_demo: " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "zorvik_demo: " << e.what() << "\n";
    return 2;
  }
}

}  // namespace zorvik_demo

int main(int argc, char** argv) { return zorvik_demo::main(argc, argv); }
