// The identification library against synthetic torque logs of the bundled robots.
//
// Logs are generated here from a "plant": the robot's URDF model with its inertial parameters
// perturbed, a payload fixed to a link and joint friction, moving along sums of sines with their
// closed-form rates and accelerations; the torques are the model's own idyn plus the friction
// written out below, optionally with Gaussian noise. The plant's parameters are the truth the fits
// must recover:
//   - noiseless logs: base parameters and friction to 1e-8 relative, and the full parameters the
//     fit returns give the plant's torques at states the log never visited (idyn, not the fit);
//   - a payload's mass and centre of mass (noiseless: 1e-8; 0.05 N m noise: 1 %, 2 mm);
//   - with noise: the residual and held-out RMS within 10 % of the noise, each joint's estimated
//     noise level, and the reported standard deviations against the scatter over 20 draws;
//   - friction through a written and reloaded URDF, and against the joints' CoulombFriction;
//   - the filter and differences on signals of known derivatives and spectrum;
//   - every class of bad input gives an IdentificationError whose message names the culprit;
//   - zorvik-identify as a user runs it: its held-out RMS, --help, and bad arguments.
#include <gtest/gtest.h>

#include <Eigen/Eigenvalues>
#include <Vexo/BaseParametersXD>
#include <ZorvikIdentification/Estimation>
#include <ZorvikURDF/RobotLoader>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>

#include "support/Process.h"
#include "support/Random.h"
#include "urdf/RobotFiles.h"
#include "urdf/UrdfText.h"

namespace zorvik_test::identification_test {

using namespace ZorvikFoundation;
namespace Id = ZorvikFoundation::Identification;

const Eigen::Vector3d kGravity(0, 0, -9.81);

// A measured figure for the test report.
std::string figure(double x) {
  std::ostringstream out;
  out.precision(3);
  out << x;
  return out.str();
}

double relative(const Eigen::MatrixXd& a, const Eigen::MatrixXd& b) {
  return (a - b).norm() / b.norm();
}

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The torque friction costs, written out: Fv qdot + Fc s(qdot), s the sign ramped linearly over
// |qdot| < 1e-3.
double frictionTorque(double fv, double fc, double v) {
  const double s = std::abs(v) >= 1e-3 ? (v > 0 ? 1.0 : -1.0) : v / 1e-3;
  return fv * v + fc * s;
}

// Per joint, q_j(t) = c_j + sum_k a_jk sin(k w t + phi_jk) with w = 2 pi 0.2 Hz, k = 1..5, and its
// exact derivatives.
struct Trajectory {
  Eigen::MatrixXd a, phi;
  Eigen::VectorXd c;
  static constexpr double kW = 2 * M_PI * 0.2;
  Trajectory(int n, std::mt19937& rng, double amplitude) : a(n, 5), phi(n, 5), c(n) {
    for (int j = 0; j < n; ++j) {
      c(j) = uniform(rng, -0.5, 0.5);
      for (int k = 0; k < 5; ++k) {
        a(j, k) = uniform(rng, 0.3, 1.0) * amplitude / (k + 1);
        phi(j, k) = uniform(rng, 0, 2 * M_PI);
      }
    }
  }
  void at(double t, Eigen::VectorXd& q, Eigen::VectorXd& qd, Eigen::VectorXd& qdd) const {
    const int n = static_cast<int>(c.size());
    q = c;
    qd = Eigen::VectorXd::Zero(n);
    qdd = Eigen::VectorXd::Zero(n);
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < 5; ++k) {
        const double w = (k + 1) * kW, x = w * t + phi(j, k);
        q(j) += a(j, k) * std::sin(x);
        qd(j) += a(j, k) * w * std::cos(x);
        qdd(j) -= a(j, k) * w * w * std::sin(x);
      }
  }
};

// A model with the robot's kinematics and true parameters: pi scaled entry by entry by 1 + 0.2 u,
// optionally a payload (mass properties in the frame of a link), and friction. N is a prebuilt
// size; the robot may have fewer coordinates n (padded).
template <int N>
struct Plant {
  URDF::Robot<N> robot;
  int n;
  Eigen::VectorXd fv, fc;
  Plant(const URDF::RobotDescription& d, std::mt19937& rng, bool perturb)
      : robot(d, URDF::ModelFit::AtMost), n(d.dof()), fv(n), fc(n) {
    typename VexoSDK::DynamicAnalysisXD<N>::ParamVec pi;
    VexoSDK::DynamicAnalysisXD<N>::InertialParameters(robot, pi);
    if (perturb) {
      for (int i = 0; i < 10 * n; ++i) pi(i) *= 1 + uniform(rng, -0.2, 0.2);
      VexoSDK::DynamicAnalysisXD<N>::SetInertialParameters(robot, pi);
    }
    for (int j = 0; j < n; ++j) {
      fv(j) = uniform(rng, 0.1, 1.0);
      fc(j) = uniform(rng, 0.2, 2.0);
    }
  }
  void addPayload(const std::string& link, const Inertia& load) {
    const int f = robot.frameIndex(link);
    robot.body(robot.frameBody(f)).addInertia(load, robot.frameOffset(f));
  }
  // idyn (without friction) at one state of the n coordinates.
  Eigen::VectorXd rigidTorques(const Eigen::VectorXd& q, const Eigen::VectorXd& qd,
                               const Eigen::VectorXd& qdd) {
    typedef typename URDF::Robot<N>::JointVec JointVec;
    JointVec a = JointVec::Zero();
    robot.q().setZero();
    robot.qdot().setZero();
    robot.q().head(n) = q;
    robot.qdot().head(n) = qd;
    a.head(n) = qdd;
    robot.update(false);
    robot.idyn(robot.qdot(), a, LieGroup::Vector3D(kGravity.x(), kGravity.y(), kGravity.z()));
    return robot.tau().head(n);
  }
  Eigen::VectorXd torques(const Eigen::VectorXd& q, const Eigen::VectorXd& qd,
                          const Eigen::VectorXd& qdd) {
    Eigen::VectorXd tau = rigidTorques(q, qd, qdd);
    for (int j = 0; j < n; ++j) tau(j) += frictionTorque(fv(j), fc(j), qd(j));
    return tau;
  }
};

// The log of the plant along the trajectory: S samples at `rate` Hz, torque noise sigma(j) on
// joint j (none when empty).
template <int N>
Id::JointLog makeLog(Plant<N>& plant, const Trajectory& traj, int S, double rate,
                     const Eigen::VectorXd& sigma, std::mt19937& rng) {
  const int n = plant.n;
  Id::JointLog log;
  for (int j = 0; j < n; ++j) log.joints.push_back(plant.robot.jointName(j));
  log.t.resize(S);
  log.q.resize(S, n);
  log.qdot.resize(S, n);
  log.qddot.resize(S, n);
  log.tau.resize(S, n);
  Eigen::VectorXd q, qd, qdd;
  for (int s = 0; s < S; ++s) {
    log.t(s) = s / rate;
    traj.at(log.t(s), q, qd, qdd);
    log.q.row(s) = q.transpose();
    log.qdot.row(s) = qd.transpose();
    log.qddot.row(s) = qdd.transpose();
    Eigen::VectorXd tau = plant.torques(q, qd, qdd);
    for (int j = 0; sigma.size() && j < n; ++j) tau(j) += sigma(j) * gaussian(rng);
    log.tau.row(s) = tau.transpose();
  }
  return log;
}

// The plant's base parameters (the truth of a fit), by the regrouping of its model.
template <int N>
Eigen::VectorXd trueBase(Plant<N>& plant) {
  typedef VexoSDK::DynamicAnalysisXD<N> DA;
  const VexoSDK::BaseParametersXD<N> base(plant.robot);
  typename DA::ParamVec pi;
  DA::InertialParameters(plant.robot, pi);
  typename VexoSDK::BaseParametersXD<N>::BaseParamVec beta;
  base.baseParameters(pi, beta);
  return beta;
}

// The log as CSV: columns shuffled, an extra column, 17 digits (or only t, q, tau).
std::string csv(const Id::JointLog& log, std::mt19937& rng, bool rates = true) {
  std::vector<std::pair<std::string, Eigen::VectorXd>> columns = {{"t", log.t},
                                                                  {"temperature", log.t * 0.0}};
  for (size_t j = 0; j < log.joints.size(); ++j) {
    columns.push_back({"q_" + log.joints[j], log.q.col(j)});
    columns.push_back({"tau_" + log.joints[j], log.tau.col(j)});
    if (rates) {
      columns.push_back({"qdot_" + log.joints[j], log.qdot.col(j)});
      columns.push_back({"qddot_" + log.joints[j], log.qddot.col(j)});
    }
  }
  std::shuffle(columns.begin(), columns.end(), rng);
  std::ostringstream out;
  out.precision(17);
  for (size_t c = 0; c < columns.size(); ++c) out << (c ? "," : "") << columns[c].first;
  out << "\n";
  for (int s = 0; s < log.samples(); ++s) {
    for (size_t c = 0; c < columns.size(); ++c) out << (c ? ", " : "") << columns[c].second(s);
    out << "\n";
  }
  return out.str();
}

template <typename R>
class NoiselessFit : public ::testing::Test {};
typedef ::testing::Types<Ur5, PandaArm> FitRobots;
TYPED_TEST_SUITE(NoiselessFit, FitRobots);

// Base parameters and friction of a perturbed plant carrying a payload, from a 10 s log at 200 Hz
// read back from CSV; then the fit's full parameters put into a fresh model give the plant's
// torques at random states.
TYPED_TEST(NoiselessFit, RecoversBaseParametersFrictionAndTorques) {
  constexpr int N = TypeParam::N;
  typedef VexoSDK::DynamicAnalysisXD<N> DA;
  std::mt19937 rng(100 + N);
  const auto d = URDF::RobotDescription::fromFile(robotPath(TypeParam::file()));
  Plant<N> plant(d, rng, true);
  plant.addPayload(d.joints().back().childLink, Inertia(0.8, 0.01, -0.02, 0.05, 2e-3, 3e-3, 1e-3,
                                                    1e-4, -2e-4, 3e-4));
  const Trajectory traj(N, rng, 0.6);
  const Id::JointLog generated = makeLog(plant, traj, 2000, 200.0, Eigen::VectorXd(), rng);
  std::istringstream text(csv(generated, rng));
  const Id::JointLog log = Id::readLog(text, "generated.csv", TypeParam::joints());
  EXPECT_EQ(log.q, generated.q);  // 17 digits read back exactly
  EXPECT_EQ(log.tau, generated.tau);

  const Id::FitResult fit = Id::fitBaseParameters(d, log);
  const Eigen::VectorXd beta = trueBase(plant);
  ASSERT_EQ(fit.base.size(), beta.size());
  EXPECT_LE(relative(fit.base, beta), 1e-8);
  EXPECT_LE(relative(fit.friction.viscous, plant.fv), 1e-8);
  EXPECT_LE(relative(fit.friction.coulomb, plant.fc), 1e-8);
  EXPECT_LT(fit.residualRms.maxCoeff(), 1e-8);
  ::testing::Test::RecordProperty("base_relative_error", figure(relative(fit.base, beta)));
  ::testing::Test::RecordProperty("condition_number", figure(fit.conditionNumber));

  // The condition number of the stacked regressor, stacked here from the model's regressor and the
  // friction columns: the square root of the ratio of the extreme eigenvalues of W^T W.
  {
    const int b = static_cast<int>(beta.size());
    Eigen::MatrixXd WtW = Eigen::MatrixXd::Zero(b + 2 * N, b + 2 * N);
    URDF::Robot<N> model(d);
    typename DA::RegressorMat Y;
    const VexoSDK::BaseParametersXD<N> modelBase(model);
    for (int s = 0; s < log.samples(); ++s) {
      model.q() = log.q.row(s).transpose();
      model.qdot() = log.qdot.row(s).transpose();
      model.update(false);
      DA::Regressor(model, log.qddot.row(s).transpose(),
                    LieGroup::Vector3D(kGravity.x(), kGravity.y(), kGravity.z()), Y);
      Eigen::MatrixXd Ws = Eigen::MatrixXd::Zero(N, b + 2 * N);
      for (int i = 0; i < b; ++i) Ws.col(i) = Y.col(modelBase.keptColumns()[i]);
      for (int j = 0; j < N; ++j) {
        Ws(j, b + j) = log.qdot(s, j);
        Ws(j, b + N + j) = frictionTorque(0, 1, log.qdot(s, j));
      }
      WtW += Ws.transpose() * Ws;
    }
    const Eigen::VectorXd lambda = Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd>(WtW).eigenvalues();
    EXPECT_NEAR(fit.conditionNumber, std::sqrt(lambda(lambda.size() - 1) / lambda(0)),
                1e-6 * fit.conditionNumber);
  }
  EXPECT_GT(fit.conditionNumber, 1.0);
  EXPECT_EQ(fit.baseNames.size(), beta.size());

  URDF::Robot<N> model(d);
  typename DA::ParamVec identified;
  DA::InertialParameters(model, identified);
  identified.head(10 * N) = fit.parameters;
  DA::SetInertialParameters(model, identified);
  const LieGroup::Vector3D g(kGravity.x(), kGravity.y(), kGravity.z());
  for (int s = 0; s < 5; ++s) {
    const Eigen::Matrix<double, N, 1> q = randomMatrix<N>(rng, 2.0), qd = randomMatrix<N>(rng, 2.0),
                                      qdd = randomMatrix<N>(rng, 4.0);
    model.q() = q;
    model.qdot() = qd;
    model.update(false);
    model.idyn(qd, qdd, g);
    plant.robot.q() = q;
    plant.robot.qdot() = qd;
    plant.robot.update(false);
    plant.robot.idyn(qd, qdd, g);
    EXPECT_LE(relative(model.tau(), plant.robot.tau()), 1e-8) << "state " << s;
  }
  // The fit's own prediction on the log equals the log.
  EXPECT_LE(relative(Id::predictTorques(d, fit, log), log.tau), 1e-9);
}

// Two of the Panda's joints locked: a 5-coordinate robot, fitted in the 6-coordinate model padded,
// with a torque offset per joint.
TEST(NoiselessFitPadded, RecoversAFiveJointRobotInTheSixJointModelWithOffsets) {
  std::mt19937 rng(7);
  URDF::LoadOptions locked;
  locked.lockedJoints = {{"panda_joint3", 0.3}, {"panda_joint7", -0.2}};
  const auto d = URDF::RobotDescription::fromFile(robotPath(PandaArm::file()), locked);
  ASSERT_EQ(d.dof(), 5);
  Plant<6> plant(d, rng, true);
  const Trajectory traj(5, rng, 0.6);
  Id::JointLog log = makeLog(plant, traj, 2000, 200.0, Eigen::VectorXd(), rng);
  // A constant torque offset per joint, fitted as such.
  const Eigen::VectorXd offset = (Eigen::VectorXd(5) << 0.3, -0.2, 0.5, 0.1, -0.4).finished();
  log.tau.rowwise() += offset.transpose();
  Id::FitOptions options;
  options.offset = true;
  const Id::FitResult fit = Id::fitBaseParameters(d, log, options);
  const Eigen::VectorXd beta = trueBase(plant);
  ASSERT_EQ(fit.base.size(), beta.size());
  EXPECT_LE(relative(fit.base, beta), 1e-8);
  EXPECT_LE(relative(fit.friction.viscous, plant.fv), 1e-8);
  EXPECT_LE(relative(fit.friction.coulomb, plant.fc), 1e-8);
  EXPECT_LE(relative(fit.friction.offset, offset), 1e-8);
  EXPECT_EQ(fit.parameters.size(), 50);
  EXPECT_LE(relative(Id::predictTorques(d, fit, log, options), log.tau), 1e-9);
}

// The Panda's URDF with friction on every joint, as the identification writes it.
std::string pandaWithFriction(const Eigen::VectorXd& fv, const Eigen::VectorXd& fc) {
  Id::JointFriction f{fv, fc, Eigen::VectorXd::Zero(7)};
  return Id::withJointDynamics(fileText(robotPath(PandaArm::file())), PandaArm::joints(), f);
}

// A payload on the hand's tool frame (a link merged into the last body at an offset), the rest of
// the robot known (its parameters and its URDF friction): mass, centre of mass (tool frame) and
// inertia from 3 s at 1 kHz, noiseless and with 0.05 N m of torque noise.
TEST(Payload, RecoveredOnAMergedLinkWithAndWithoutNoise) {
  std::mt19937 rng(21);
  Plant<7> plant(URDF::RobotDescription::fromFile(robotPath(PandaArm::file())), rng, false);
  const auto d = URDF::RobotDescription::fromString(pandaWithFriction(plant.fv, plant.fc), "panda");
  const std::string link = "panda_hand_tcp";
  ASSERT_GE(d.frameIndex(link), 0);
  const double m = 1.2;
  const Eigen::Vector3d c(0.02, -0.015, 0.04);
  Eigen::Matrix3d Icom;
  Icom << 4e-3, 2e-4, -1e-4, 2e-4, 5e-3, 3e-4, -1e-4, 3e-4, 3e-3;
  plant.addPayload(link, Inertia(m, c.x(), c.y(), c.z(), Icom(0, 0), Icom(1, 1), Icom(2, 2),
                                 Icom(0, 1), Icom(1, 2), Icom(0, 2)));
  const Trajectory traj(7, rng, 0.8);
  const Id::JointLog clean = makeLog(plant, traj, 3000, 1000.0, Eigen::VectorXd(), rng);
  const Id::PayloadResult exact = Id::fitPayload(d, clean, link);
  EXPECT_NEAR(exact.mass, m, 1e-8 * m);
  EXPECT_LE((exact.com - c).norm(), 1e-8 * c.norm());
  EXPECT_LE((exact.inertia - Icom).norm(), 1e-6 * Icom.norm());

  const Id::JointLog noisy = makeLog(plant, traj, 3000, 1000.0, Eigen::VectorXd::Constant(7, 0.05), rng);
  const Id::PayloadResult fit = Id::fitPayload(d, noisy, link);
  EXPECT_NEAR(fit.mass, m, 0.01 * m);
  EXPECT_LE((fit.com - c).norm(), 2e-3);
  ::testing::Test::RecordProperty("noisy_mass_error", figure(fit.mass - m));
  ::testing::Test::RecordProperty("noisy_com_error_mm", figure(1e3 * (fit.com - c).norm()));
  ::testing::Test::RecordProperty("exact_mass_relative_error", figure(std::abs(exact.mass - m) / m));
  EXPECT_NEAR(fit.mass, m, 4 * fit.parametersStd(0));
  for (int j = 0; j < 7; ++j) EXPECT_NEAR(fit.residualRms(j), 0.05, 0.005) << "joint " << j;
}

// Noise of a different level on each joint: the weights find the levels, the residuals and a
// held-out fifth of the log are at the noise level, the standard deviations the fit reports match
// the scatter of its estimates over 20 draws of the noise, and the weighted estimates are closer
// to the truth than the ordinary ones.
TEST(WeightedLeastSquares, NoiseLevelsAndStandardDeviationsMatchTheScatter) {
  std::mt19937 rng(31);
  const auto d = URDF::RobotDescription::fromFile(robotPath(PandaArm::file()));
  Plant<7> plant(d, rng, true);
  const Trajectory traj(7, rng, 0.7);
  const Eigen::VectorXd sigma = (Eigen::VectorXd(7) << 0.08, 0.1, 0.05, 0.07, 0.03, 0.02, 0.02).finished();
  const Eigen::VectorXd beta = trueBase(plant);
  const int S = 5000, draws = 20;
  const int b = static_cast<int>(beta.size());
  Eigen::VectorXd truth(b + 14);
  truth << beta, plant.fv, plant.fc;
  Eigen::MatrixXd estimates(draws, b + 14), reported(draws, b + 14);
  double olsError = 0, wlsError = 0;
  for (int k = 0; k < draws; ++k) {
    const Id::JointLog log = makeLog(plant, traj, S, 1000.0, sigma, rng);
    const Id::JointLog fitPart = log.rows(0, S * 4 / 5), heldOut = log.rows(S * 4 / 5, S / 5);
    const Id::FitResult fit = Id::fitBaseParameters(d, fitPart);
    estimates.row(k) << fit.base.transpose(), fit.friction.viscous.transpose(),
        fit.friction.coulomb.transpose();
    reported.row(k) << fit.baseStd.transpose(), fit.frictionStd.viscous.transpose(),
        fit.frictionStd.coulomb.transpose();
    if (k < 10) {
      // The weights pay: the ordinary fit of the same log is further from the truth, in the
      // parameters scaled by their standard deviations, summed over 10 draws.
      Id::FitOptions ordinary;
      ordinary.weighted = false;
      const Id::FitResult ols = Id::fitBaseParameters(d, fitPart, ordinary);
      Eigen::VectorXd x(b + 14);
      x << ols.base, ols.friction.viscous, ols.friction.coulomb;
      olsError += (x - truth).cwiseQuotient(reported.row(k).transpose()).squaredNorm();
      wlsError += (estimates.row(k).transpose() - truth)
                      .cwiseQuotient(reported.row(k).transpose())
                      .squaredNorm();
    }
    if (k < 3) {
      const Eigen::MatrixXd r = Id::predictTorques(d, fit, heldOut) - heldOut.tau;
      for (int j = 0; j < 7; ++j) {
        const double heldRms = std::sqrt(r.col(j).squaredNorm() / r.rows());
        EXPECT_NEAR(heldRms, sigma(j), 0.1 * sigma(j)) << "held out, joint " << j;
        EXPECT_NEAR(fit.residualRms(j), sigma(j), 0.1 * sigma(j)) << "joint " << j;
        EXPECT_NEAR(fit.jointSigma(j), sigma(j), 0.1 * sigma(j)) << "joint " << j;
      }
    }
  }
  // z = (estimate - truth) / reported std: unit variance if the standard deviations are right.
  double zz = 0;
  std::vector<double> ratios;
  for (int i = 0; i < b + 14; ++i) {
    const Eigen::VectorXd e = estimates.col(i).array() - truth(i);
    zz += (e.array() / reported.col(i).array()).square().sum();
    const double scatter = std::sqrt(e.squaredNorm() / draws);
    const double ratio = scatter / reported.col(i).mean();
    EXPECT_GT(ratio, 0.5) << "parameter " << i;
    EXPECT_LT(ratio, 1.8) << "parameter " << i;
    ratios.push_back(ratio);
  }
  const double zRms = std::sqrt(zz / (draws * (b + 14)));
  EXPECT_LT(wlsError, 0.8 * olsError);
  ::testing::Test::RecordProperty("ols_over_wls_error", figure(olsError / wlsError));
  std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
  EXPECT_GT(zRms, 0.8);
  EXPECT_LT(zRms, 1.25);
  EXPECT_GT(ratios[ratios.size() / 2], 0.8);
  EXPECT_LT(ratios[ratios.size() / 2], 1.25);
  ::testing::Test::RecordProperty("z_rms", figure(zRms));
  ::testing::Test::RecordProperty("median_ratio", figure(ratios[ratios.size() / 2]));
}

// Damping and friction written into the URDF come back as the same doubles, from the description,
// from the model's joints, and through frictionTorques; outside the sign's band these are the
// CoulombFriction's own torques (with the opposite sign: it returns the force on the joint) plus
// the damping's.
TEST(Friction, RoundTripsThroughTheUrdfAndMatchesCoulombFriction) {
  std::mt19937 rng(41);
  Eigen::VectorXd fv(7), fc(7);
  for (int j = 0; j < 7; ++j) {
    fv(j) = uniform(rng, 0, 1) / 3.0;  // no short decimal form
    fc(j) = uniform(rng, 0, 2) / 7.0;
  }
  fc(3) = 0;  // no CoulombFriction attached
  const std::string xml = pandaWithFriction(fv, fc);
  const auto d = URDF::RobotDescription::fromString(xml, "written");
  URDF::Robot<7> robot(d);
  const Id::JointFriction f = Id::jointFriction(robot);
  for (int j = 0; j < 7; ++j) {
    EXPECT_EQ(d.joints()[j].damping, fv(j));
    EXPECT_EQ(d.joints()[j].friction, fc(j));
    EXPECT_EQ(f.viscous(j), fv(j));
    EXPECT_EQ(f.coulomb(j), fc(j));
  }
  EXPECT_EQ(robot.joint(4).friction(), nullptr);
  // Written twice: the second replaces the first.
  const std::string again = Id::withJointDynamics(xml, PandaArm::joints(),
                                                  Id::JointFriction{2 * fv, 2 * fc, fv});
  EXPECT_EQ(URDF::RobotDescription::fromString(again, "again").joints()[2].damping, 2 * fv(2));

  for (const double scale : {-1.5, -0.01, 0.002, 0.8}) {
    Eigen::Matrix<double, 7, 1> qd = randomMatrix<7>(rng, 1.0);
    for (int j = 0; j < 7; ++j) qd(j) = scale * (1 + std::abs(qd(j)));
    const Eigen::Matrix<double, 7, 1> tau = Id::frictionTorques(robot, qd);
    for (int j = 0; j < 7; ++j) {
      double onJoint = 0;
      const double applied = 0;
      robot.joint(j + 1).frictionTorque(&robot.q()(j), &qd(j), &applied, &onJoint);
      EXPECT_NEAR(tau(j), robot.joint(j + 1).damping()[0] * qd(j) - onJoint, 1e-15)
          << "joint " << j << " at " << qd(j);
    }
  }
  // Inside the band the ramp: half the Coulomb torque at half the band.
  const Eigen::Matrix<double, 7, 1> half = Eigen::Matrix<double, 7, 1>::Constant(0.5e-3);
  const Eigen::Matrix<double, 7, 1> tau = Id::frictionTorques(robot, half);
  for (int j = 0; j < 7; ++j) EXPECT_NEAR(tau(j), fv(j) * 0.5e-3 + 0.5 * fc(j), 1e-15);
}

// A log without rates: q(t) = sin(w t) at 1 kHz, w = 2 pi 0.5 Hz, tau with a 60 Hz component. The
// derived rates are the closed forms (the filter's gain at 0.5 Hz is 1 - 3e-6), and the 60 Hz
// component is attenuated by the filter's |H|^2 = 1 / (1 + 6^4).
TEST(Log, DerivedRatesAndFilteredTorquesMatchClosedForms) {
  const double w = 2 * M_PI * 0.5;
  std::ostringstream text;
  text.precision(17);
  text << "tau_a,q_a,t\n";
  for (int s = 0; s < 4000; ++s) {
    const double t = s * 1e-3;
    text << std::cos(w * t) + 0.5 * std::sin(2 * M_PI * 60 * t) << "," << std::sin(w * t) << ","
         << t << "\n";
  }
  std::istringstream in(text.str());
  const Id::JointLog log = Id::readLog(in, "sine", {"a"});
  // Two periods of the 10 Hz cut-off dropped at each end.
  ASSERT_EQ(log.samples(), 4000 - 2 * 200);
  EXPECT_NEAR(log.t(0), 0.2, 1e-15);
  double qdErr = 0, qddErr = 0, tauErr = 0;
  for (int s = 0; s < log.samples(); ++s) {
    const double t = log.t(s);
    qdErr = std::max(qdErr, std::abs(log.qdot(s, 0) - w * std::cos(w * t)));
    qddErr = std::max(qddErr, std::abs(log.qddot(s, 0) + w * w * std::sin(w * t)));
    tauErr = std::max(tauErr, std::abs(log.tau(s, 0) - std::cos(w * t)));
  }
  EXPECT_LT(qdErr, 1e-4 * w);
  EXPECT_LT(qddErr, 1e-3 * w * w);
  EXPECT_LT(tauErr, 0.5 * 1.5 / (1 + std::pow(6.0, 4)));
  EXPECT_GT(tauErr, 0.5 * 0.5 / (1 + std::pow(6.0, 4)));
  // The derivatives at the ends of an unfiltered column: the three-point end formula is exact on a
  // parabola, on uneven times too.
  const Eigen::VectorXd t = (Eigen::VectorXd(4) << 0.0, 0.1, 0.25, 0.45).finished();
  const Eigen::MatrixXd parabola = (3 * t.array().square() - t.array() + 2).matrix();
  const Eigen::MatrixXd slope = Id::centralDifference(parabola, t);
  for (int s = 0; s < 4; ++s) EXPECT_NEAR(slope(s, 0), 6 * t(s) - 1, 1e-13) << "sample " << s;
  EXPECT_NEAR(log.q(10, 0), std::sin(w * log.t(10)), 1e-15);  // q itself is kept as logged
}

// A noiseless Panda log of t, q and tau only (1 kHz, 10 s; motion up to 1 Hz, where the 10 Hz
// filter's gain is 1 - 1e-4): the derived rates and filtered torques fit the model to well below
// the torques' scale (0.5 %: the steep Coulomb ramp near rest magnifies the derived rates' errors
// there), on the fitted part and on a held-out fifth, and friction comes out within 1 %. The
// ends, where a filtered log is not to be trusted, are dropped.
TEST(Log, FitFromDerivedRatesPredictsTheTorques) {
  std::mt19937 rng(61);
  const auto d = URDF::RobotDescription::fromFile(robotPath(PandaArm::file()));
  Plant<7> plant(d, rng, true);
  const Trajectory traj(7, rng, 0.7);
  const Id::JointLog generated = makeLog(plant, traj, 10000, 1000.0, Eigen::VectorXd(), rng);
  std::istringstream text(csv(generated, rng, false));
  const Id::JointLog log = Id::readLog(text, "derived.csv", PandaArm::joints());
  ASSERT_EQ(log.samples(), 10000 - 2 * 200);
  EXPECT_EQ(log.t(0), generated.t(200));
  const int S = log.samples(), fitted = S * 4 / 5;
  const Id::FitResult fit = Id::fitBaseParameters(d, log.rows(0, fitted));
  const Id::JointLog held = log.rows(fitted, S - fitted);
  const Eigen::MatrixXd r = Id::predictTorques(d, fit, held) - held.tau;
  for (int j = 0; j < 7; ++j) {
    const double scale = std::sqrt(held.tau.col(j).squaredNorm() / held.samples());
    EXPECT_LT(fit.residualRms(j), 5e-3 * scale) << "joint " << j;
    EXPECT_LT(std::sqrt(r.col(j).squaredNorm() / r.rows()), 5e-3 * scale) << "joint " << j;
  }
  EXPECT_LE(relative(fit.friction.viscous, plant.fv), 1e-2);
  EXPECT_LE(relative(fit.friction.coulomb, plant.fc), 1e-2);
}

template <typename F>
void expectError(F&& f, const std::vector<std::string>& parts) {
  try {
    f();
    ADD_FAILURE() << "no error; expected one naming " << parts.front();
  } catch (const Id::IdentificationError& e) {
    for (const std::string& part : parts)
      EXPECT_NE(std::string(e.what()).find(part), std::string::npos)
          << "message: " << e.what() << "\nmissing: " << part;
  }
}

Id::JointLog readText(const std::string& text, const std::vector<std::string>& joints) {
  std::istringstream in(text);
  return Id::readLog(in, "bad.csv", joints);
}

TEST(BadInput, EveryClassNamesItsCulprit) {
  const std::vector<std::string> ab = {"a", "b"};
  const std::string header = "t,q_a,tau_a,q_b,tau_b,qdot_a,qddot_a,qdot_b,qddot_b\n";
  const std::string row1 = "0,0,0,0,0,0,0,0,0\n", row2 = "0.1,0,0,0,0,0,0,0,0\n",
                    row3 = "0.2,0,0,0,0,0,0,0,0\n";
  // Columns the reader does not use may hold anything; the ones it uses must be numbers.
  const Id::JointLog extra =
      readText("note,t,q_a,tau_a,q_b,tau_b,qdot_a,qddot_a,qdot_b,qddot_b\n" + std::string("start,") +
                   row1 + "x," + row2 + "nan," + row3,
               ab);
  EXPECT_EQ(extra.samples(), 3);
  EXPECT_EQ(extra.t(2), 0.2);
  expectError([&] { readText("t,q_a,tau_a,q_b\n" + row1, ab); }, {"bad.csv", "'tau_b'"});
  expectError([&] { readText("q_a,tau_a,q_b,tau_b\n", ab); }, {"'t'"});
  expectError([&] { readText(header + row1 + row2 + "0.1,0,0,0,0,0,0,0,0\n", ab); },
              {"bad.csv line 4", "does not increase"});
  expectError([&] { readText(header + row1 + "0.1,0,0,0,nan,0,0,0,0\n" + row3, ab); },
              {"line 3", "'tau_b'", "nan"});
  expectError([&] { readText(header + row1 + "0.1,0,0,x1,0,0,0,0,0\n" + row3, ab); },
              {"line 3", "'q_b'", "x1"});
  expectError([&] { readText(header + row1 + "0.1,0,,0,0,0,0,0,0\n" + row3, ab); },
              {"line 3", "'tau_a'", "empty"});
  expectError([&] { readText(header + row1 + "0.1,0,0\n" + row3, ab); }, {"line 3", "3 fields"});
  expectError([&] { readText(header + row1 + row2, ab); }, {"2 samples", "at least 3"});
  expectError([&] { readText("", ab); }, {"empty"});
  expectError([&] { Id::readLogFile("/nonexistent/log.csv", ab); }, {"/nonexistent/log.csv"});
  Id::LogOptions unfiltered;
  unfiltered.cutoffHz = 0;
  std::istringstream noRates("t,q_a,tau_a,q_b,tau_b\n" + row1 + row2 + row3);
  expectError([&] { Id::readLog(noRates, "bad.csv", ab, unfiltered); }, {"'qdot_a'"});
  expectError([] { Id::zeroPhaseLowPass(Eigen::MatrixXd::Zero(10, 1), 100, 60); },
              {"cut-off", "60"});

  // Fits: too few samples, a joint that never moves, a log with no motion at all, a log of
  // another robot, payload links that are not there or do not move.
  std::mt19937 rng(51);
  const auto d = URDF::RobotDescription::fromFile(robotPath(PandaArm::file()));
  Plant<7> plant(d, rng, false);
  const Trajectory traj(7, rng, 0.5);
  const Id::JointLog log = makeLog(plant, traj, 400, 100.0, Eigen::VectorXd(), rng);
  expectError([&] { Id::fitBaseParameters(d, log.rows(0, 5)); }, {"5 samples", "parameters"});
  Id::JointLog still = log;
  still.q.col(6).setConstant(0.4);
  still.qdot.col(6).setZero();
  still.qddot.col(6).setZero();
  expectError([&] { Id::fitBaseParameters(d, still); }, {"does not excite", "panda_joint7.Fv"});
  Id::JointLog resting = log;
  resting.qdot.setZero();
  resting.qddot.setZero();
  Id::FitOptions noFriction;
  noFriction.friction = false;
  expectError([&] { Id::fitBaseParameters(d, resting, noFriction); },
              {"does not excite parameter 'panda_link"});
  const auto rigid = URDF::RobotDescription::fromString(urdfDocument(linkXml("only")), "rigid.urdf");
  expectError([&] { Id::fitBaseParameters(rigid, readText("t\n0\n1\n2\n", {})); },
              {"rigid.urdf", "no moving joint"});
  Id::JointLog renamed = log;
  renamed.joints[2] = "elbow";
  expectError([&] { Id::fitBaseParameters(d, renamed); }, {"joints"});
  expectError([&] { Id::fitPayload(d, log, "gripper"); }, {"'gripper'"});
  expectError([&] { Id::fitPayload(d, log, "panda_link0"); }, {"'panda_link0'", "base"});
  expectError([&] { Id::fitPayload(d, resting, "panda_link8"); }, {"does not excite", "payload"});

  // Writing friction: a joint the URDF does not have, a negative coefficient, text that is not XML.
  const std::string xml = fileText(robotPath(PandaArm::file()));
  const Id::JointFriction one{Eigen::VectorXd::Ones(1), Eigen::VectorXd::Ones(1),
                              Eigen::VectorXd::Zero(1)};
  expectError([&] { Id::withJointDynamics(xml, {"wrist"}, one); }, {"'wrist'"});
  const Id::JointFriction negative{-Eigen::VectorXd::Ones(1), Eigen::VectorXd::Ones(1),
                                   Eigen::VectorXd::Zero(1)};
  expectError([&] { Id::withJointDynamics(xml, {"panda_joint2"}, negative); },
              {"'panda_joint2'", "negative"});
  expectError([&] { Id::withJointDynamics("<robot><joint", {"panda_joint2"}, one); },
              {"does not parse"});
  expectError([&] { Id::withJointDynamics(xml, {"panda_joint2", "panda_joint3"}, one); },
              {"2 joints"});
}

// The command on a noisy Panda log (0.05 N m; 5 s at 1 kHz with rates): the held-out RMS it prints
// per joint is the noise level; --help; bad arguments and files give one line and status 2.
TEST(Command, FitsALogAndRefusesBadArguments) {
  std::mt19937 rng(71);
  const auto d = URDF::RobotDescription::fromFile(robotPath(PandaArm::file()));
  Plant<7> plant(d, rng, true);
  const Trajectory traj(7, rng, 0.7);
  const Id::JointLog log =
      makeLog(plant, traj, 5000, 1000.0, Eigen::VectorXd::Constant(7, 0.05), rng);
  TemporaryUrdf file(csv(log, rng), "identify_log");
  const std::string exe = ZORVIK_IDENTIFY, urdf = robotPath(PandaArm::file());
  const CommandResult fit = runCommand(exe + " fit --urdf " + urdf + " --log " + file.path());
  ASSERT_EQ(fit.status, 0) << fit.output;
  EXPECT_NE(fit.output.find("condition number"), std::string::npos);
  EXPECT_NE(fit.output.find("panda_link1.Izz"), std::string::npos);
  for (const std::string& joint : PandaArm::joints()) {
    const size_t at = fit.output.find("\n" + joint + " ");
    ASSERT_NE(at, std::string::npos) << joint;
    const std::string line = fit.output.substr(at + 1, fit.output.find('\n', at + 1) - at - 1);
    const double heldOut = std::stod(line.substr(line.find_last_of(' ') + 1));
    EXPECT_NEAR(heldOut, 0.05, 0.005) << line;
  }
  const CommandResult help = runCommand(exe + " --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("usage: zorvik-identify fit"), std::string::npos);
  for (const std::string& args :
       {std::string(""), std::string("excite"), "fit --urdf " + urdf,
        "fit --urdf " + urdf + " --log " + file.path() + " --cutoff abc",
        "fit --urdf " + urdf + " --log " + file.path() + " --bogus",
        "fit --urdf " + urdf + " --log /nonexistent.csv", std::string("fit --urdf /nonexistent.urdf --log x"),
        "fit --urdf " + urdf + " --log"}) {
    const CommandResult bad = runCommand(exe + " " + args + " 2>&1");
    EXPECT_EQ(bad.status, 2) << args;
    EXPECT_EQ(bad.output.rfind("zorvik-identify: ", 0), 0u) << args << ": " << bad.output;
    EXPECT_EQ(std::count(bad.output.begin(), bad.output.end(), '\n'), 1) << args << ": " << bad.output;
  }
}

}  // namespace zorvik_test::identification_test
