// Weighted least squares of base parameters, friction and payloads over a torque log.
#include "ZorvikIdentification/Estimation"

#include <Eigen/Dense>
#include <Vexo/BaseParametersXD>
#include <ZorvikURDF/RobotLoader>
#include <cmath>
#include <type_traits>

namespace ZorvikFoundation {
namespace Identification {

namespace {

using LieGroup::HTransform;

const char* const kParameterNames[10] = {"m",   "mcx", "mcy", "mcz", "Ixx",
                                         "Iyy", "Izz", "Ixy", "Iyz", "Izx"};

// The robot in the smallest prebuilt model that holds it, padded (URDF::withPaddedRobot), with
// the identification's own error beyond the largest.
template <typename F>
void withModel(const URDF::RobotDescription& description, F&& f) {
  const int n = description.modelSize();
  if (n > 16)
    throw IdentificationError(description.source() + ": " + std::to_string(n) +
                              " coordinates; identification handles robots of at most 16");
  URDF::withPaddedRobot(description, std::forward<F>(f));
}

void checkLog(const URDF::RobotDescription& description, const JointLog& log) {
  const int n = description.dof();
  if (n == 0)
    throw IdentificationError(description.source() + ": robot '" + description.robotName() +
                              "' has no moving joint to identify");
  bool same = static_cast<int>(log.joints.size()) == n && log.q.cols() == n &&
              log.tau.cols() == n && log.qdot.cols() == n && log.qddot.cols() == n;
  for (int j = 0; same && j < n; ++j) same = log.joints[j] == description.joints()[j].name;
  if (!same)
    throw IdentificationError("the log's joints are not the moving joints of '" +
                              description.robotName() +
                              "' in its order: read it with the robot's joint names");
}

// The robot's state at sample s (padding coordinates zero), updated for the regressor.
template <int N>
typename URDF::Robot<N>::JointVec setState(URDF::Robot<N>& robot, const JointLog& log, int s) {
  const int n = robot.coordinates();
  typename URDF::Robot<N>::JointVec qddot = URDF::Robot<N>::JointVec::Zero();
  robot.q().setZero();
  robot.qdot().setZero();
  robot.q().head(n) = log.q.row(s).transpose();
  robot.qdot().head(n) = log.qdot.row(s).transpose();
  qddot.head(n) = log.qddot.row(s).transpose();
  robot.update(false);
  return qddot;
}

// A fixed-size matrix seen as a dynamic one: the products below are then compiled once, not once
// per model size.
template <typename Mat>
Eigen::Map<const Eigen::MatrixXd> dynamic(const Mat& m) {
  return Eigen::Map<const Eigen::MatrixXd>(m.data(), m.rows(), m.cols());
}

struct Solution {
  Eigen::VectorXd x, std, r, sigma, rms;
  double condition = 0;
};

// x minimising |A x - y|, with A's columns scaled to unit norm; A is overwritten by the
// factorisation (in place: the stacked regressor of a long log is tens of MB). The standard
// deviations come from the residual variance s2 = |r|^2 / (m - p), r the residual.
Solution solveInPlace(Eigen::MatrixXd& A, const Eigen::VectorXd& y,
                      const std::vector<std::string>& names) {
  const Eigen::Index m = A.rows(), p = A.cols();
  const Eigen::VectorXd D = A.colwise().norm().transpose();
  const double largest = D.maxCoeff();
  for (Eigen::Index i = 0; i < p; ++i)
    if (!(D(i) > kColumnThreshold * largest))
      throw IdentificationError("the log does not excite parameter '" + names[i] +
                                "': its regressor column has norm " + std::to_string(D(i)) +
                                " against the largest column's " + std::to_string(largest));
  A.array().rowwise() *= D.cwiseInverse().transpose().array();
  const Eigen::HouseholderQR<Eigen::Ref<Eigen::MatrixXd>> qr(A);
  const Eigen::MatrixXd R = qr.matrixQR().topRows(p).triangularView<Eigen::Upper>();
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(R, Eigen::ComputeFullV);
  const Eigen::VectorXd sv = svd.singularValues();
  if (!(sv(p - 1) > kSingularThreshold * sv(0))) {
    Eigen::Index worst = 0;
    svd.matrixV().col(p - 1).cwiseAbs().maxCoeff(&worst);
    throw IdentificationError("the log does not excite parameter '" + names[worst] +
                              "' independently of the others: the scaled regressor's smallest "
                              "singular value is " +
                              std::to_string(sv(p - 1) / sv(0)) + " of its largest");
  }
  // A_scaled = Q R: x_scaled = R^-1 (Q^T y)_top, r = Q (0, (Q^T y)_bottom).
  Eigen::VectorXd qty = qr.householderQ().adjoint() * y;
  Solution out;
  out.x = R.triangularView<Eigen::Upper>().solve(qty.head(p)).cwiseQuotient(D);
  const double s2 = qty.tail(m - p).squaredNorm() / static_cast<double>(m - p);
  qty.head(p).setZero();
  out.r = qr.householderQ() * qty;
  // Cov(x_scaled) = s2 (R^T R)^-1 = s2 R^-1 R^-T; x = x_scaled / D.
  const Eigen::MatrixXd Rinv =
      R.triangularView<Eigen::Upper>().solve(Eigen::MatrixXd::Identity(p, p));
  out.std = (std::sqrt(s2) * Rinv.rowwise().norm()).cwiseQuotient(D);
  // The unscaled A = Q R diag(D): its singular values are those of R diag(D).
  const Eigen::VectorXd svA =
      Eigen::JacobiSVD<Eigen::MatrixXd>(Eigen::MatrixXd(R * D.asDiagonal())).singularValues();
  out.condition = svA(0) / svA(p - 1);
  return out;
}

// Per joint (rows sample-major, n per sample): sigma_j^2 = |r_j|^2 n / (S n - p) and the RMS.
void jointResiduals(const Eigen::VectorXd& r, int n, Eigen::Index p, Eigen::VectorXd& sigma,
                    Eigen::VectorXd& rms) {
  const Eigen::Index S = r.size() / n;
  const Eigen::Map<const Eigen::MatrixXd> perJoint(r.data(), n, S);
  const Eigen::VectorXd squares = perJoint.rowwise().squaredNorm();
  sigma = (squares * n / static_cast<double>(S * n - p)).cwiseSqrt();
  rms = (squares / static_cast<double>(S)).cwiseSqrt();
}

// Ordinary, then per-joint weighted least squares of W x = y (W is used up); the condition number
// is that of the unweighted W, the residual statistics those of the unweighted system.
Solution weightedLeastSquares(Eigen::MatrixXd& W, const Eigen::VectorXd& y, int n,
                              const std::vector<std::string>& names, bool weighted) {
  const Eigen::Index p = W.cols();
  Solution first;
  {
    Eigen::MatrixXd A = weighted ? Eigen::MatrixXd(W) : Eigen::MatrixXd();
    first = solveInPlace(weighted ? A : W, y, names);
  }
  jointResiduals(first.r, n, p, first.sigma, first.rms);
  if (!weighted) return first;
  // A floor far below any real noise keeps noiseless logs (residuals at rounding level) finite.
  const double floor = 1e-13 * std::sqrt(y.squaredNorm() / static_cast<double>(y.size())) + 1e-300;
  const Eigen::VectorXd w = first.sigma.cwiseMax(floor).cwiseInverse();
  const Eigen::VectorXd rowWeight = w.replicate(y.size() / n, 1);
  W.array().colwise() *= rowWeight.array();
  Solution second = solveInPlace(W, y.cwiseProduct(rowWeight), names);
  second.condition = first.condition;
  second.sigma = first.sigma;
  Eigen::VectorXd unused;
  jointResiduals(second.r.cwiseQuotient(rowWeight), n, p, unused, second.rms);
  return second;
}

// s(qdot) of every sample and joint, through the log's filter when it has passed one: the
// torques then hold the Coulomb steps smoothed by that filter, and the sign must be smoothed alike
// (the other columns are smooth functions of the filtered states, which the filter leaves as they
// are well below its cut-off).
Eigen::MatrixXd signs(const JointLog& log) {
  Eigen::MatrixXd s = log.qdot.unaryExpr([](double v) { return smoothedSign(v); });
  if (log.filterCutoffHz > 0) s = zeroPhaseLowPass(s, log.filterRateHz, log.filterCutoffHz);
  return s;
}

void checkEquations(const JointLog& log, int n, Eigen::Index p) {
  const Eigen::Index equations = static_cast<Eigen::Index>(log.samples()) * n;
  if (equations <= p)
    throw IdentificationError("the log has " + std::to_string(log.samples()) + " samples (" +
                              std::to_string(equations) + " torque equations), too few for " +
                              std::to_string(p) + " parameters");
}

// Friction torques of sample s with the signs above: Fv qdot + Fc s + o.
Eigen::RowVectorXd frictionRow(const JointFriction& f, const JointLog& log,
                               const Eigen::MatrixXd& sign, int s) {
  Eigen::RowVectorXd tau = log.qdot.row(s).cwiseProduct(f.viscous.transpose()) +
                           sign.row(s).cwiseProduct(f.coulomb.transpose());
  if (f.offset.size() == tau.size()) tau += f.offset.transpose();
  return tau;
}

template <int N>
FitResult fit(URDF::Robot<N>& robot, const JointLog& log, const FitOptions& options) {
  typedef VexoSDK::DynamicAnalysisXD<N> DA;
  typedef VexoSDK::BaseParametersXD<N> Base;
  const int n = robot.coordinates();
  const LieGroup::Vector3D g(options.gravity.x(), options.gravity.y(), options.gravity.z());
  const Base base(robot, g);
  const int b = base.count();
  const int nf = options.friction ? 2 * n : 0, no = options.offset ? n : 0;
  const int p = b + nf + no;
  checkEquations(log, n, p);

  FitResult result;
  for (int j = 0; j < n; ++j) result.joints.push_back(robot.jointName(j));
  const std::vector<URDF::BodyData>& bodies = robot.description().bodies();
  for (int i = 0; i < b; ++i) {
    const int c = base.keptColumns()[i];
    result.baseNames.push_back(bodies[c / 10 + 1].link + "." + kParameterNames[c % 10]);
  }
  std::vector<std::string> names = result.baseNames;
  std::vector<const char*> kinds;
  if (options.friction) kinds = {"Fv", "Fc"};
  if (options.offset) kinds.push_back("offset");
  for (const char* kind : kinds)
    for (int j = 0; j < n; ++j) names.push_back(result.joints[j] + "." + kind);

  const int S = log.samples();
  Eigen::MatrixXd W = Eigen::MatrixXd::Zero(static_cast<Eigen::Index>(S) * n, p);
  Eigen::VectorXd y(static_cast<Eigen::Index>(S) * n);
  typename DA::RegressorMat Y;
  const Eigen::MatrixXd sign = signs(log);
  for (int s = 0; s < S; ++s) {
    const typename URDF::Robot<N>::JointVec qddot = setState(robot, log, s);
    DA::Regressor(robot, qddot, g, Y);
    const Eigen::Index row = static_cast<Eigen::Index>(s) * n;
    // The base regressor: Y's kept columns (BaseParametersXD::baseRegressor).
    for (int i = 0; i < b; ++i) W.block(row, i, n, 1) = dynamic(Y).block(0, base.keptColumns()[i], n, 1);
    for (int j = 0; j < n; ++j) {
      if (options.friction) {
        W(row + j, b + j) = log.qdot(s, j);
        W(row + j, b + n + j) = sign(s, j);
      }
      if (options.offset) W(row + j, b + nf + j) = 1.0;
    }
    y.segment(row, n) = log.tau.row(s).transpose();
  }

  const Solution x = weightedLeastSquares(W, y, n, names, options.weighted);
  result.base = x.x.head(b);
  result.baseStd = x.std.head(b);
  const Eigen::VectorXd zero = Eigen::VectorXd::Zero(n);
  result.friction = {options.friction ? x.x.segment(b, n) : zero,
                     options.friction ? x.x.segment(b + n, n) : zero,
                     options.offset ? x.x.segment(b + nf, n) : zero};
  result.frictionStd = {options.friction ? x.std.segment(b, n) : zero,
                        options.friction ? x.std.segment(b + n, n) : zero,
                        options.offset ? x.std.segment(b + nf, n) : zero};
  result.conditionNumber = x.condition;
  result.jointSigma = x.sigma;
  result.residualRms = x.rms;
  result.samples = S;

  // pi = pi0 with each base parameter's correction on its kept column: P pi = beta.
  typename DA::ParamVec pi0;
  DA::InertialParameters(robot, pi0);
  typename Base::BaseParamVec beta0;
  base.baseParameters(pi0, beta0);
  typename DA::ParamVec pi = pi0;
  for (int i = 0; i < b; ++i) pi(base.keptColumns()[i]) += result.base(i) - beta0(i);
  result.parameters = pi.head(10 * n);
  return result;
}

template <int N>
Eigen::MatrixXd predict(URDF::Robot<N>& robot, const FitResult& fit, const JointLog& log,
                        const FitOptions& options) {
  typedef VexoSDK::DynamicAnalysisXD<N> DA;
  const int n = robot.coordinates();
  if (fit.parameters.size() != 10 * n || fit.friction.viscous.size() != n)
    throw IdentificationError("predictTorques: the fit is not one of this robot's");
  const LieGroup::Vector3D g(options.gravity.x(), options.gravity.y(), options.gravity.z());
  // Y pi is idyn with the parameters pi (DynamicAnalysisXD::Regressor), the model left untouched.
  typename DA::ParamVec pi;
  DA::InertialParameters(robot, pi);
  pi.head(10 * n) = fit.parameters;
  typename DA::RegressorMat Y;
  Eigen::MatrixXd tau(log.samples(), n);
  const Eigen::MatrixXd sign = signs(log);
  for (int s = 0; s < log.samples(); ++s) {
    const typename URDF::Robot<N>::JointVec qddot = setState(robot, log, s);
    DA::Regressor(robot, qddot, g, Y);
    tau.row(s) = (dynamic(Y).topRows(n) * dynamic(pi)).transpose() +
                 frictionRow(fit.friction, log, sign, s);
  }
  return tau;
}

// M (10 x 10) taking a load's parameters about the frame T_body_link (m, h = m c, Io about the
// link origin, link axes) to the same load's about the body frame: with R, p of T_body_link,
//   m' = m,   h' = R h + m p,   Io' = R Io R^T - [R h][p] - [p][R h] - m [p]^2,
// from Io = sum m_i [r_i]^T [r_i] and r' = R r + p.
Eigen::Matrix<double, 10, 10> linkToBody(const HTransform& T_body_link) {
  const Eigen::Matrix3d R = T_body_link.R();
  const Eigen::Vector3d p = T_body_link.r();
  const auto hat = [](const Eigen::Vector3d& v) {
    Eigen::Matrix3d H;
    H << 0, -v.z(), v.y(), v.z(), 0, -v.x(), -v.y(), v.x(), 0;
    return H;
  };
  Eigen::Matrix<double, 10, 10> M;
  for (int k = 0; k < 10; ++k) {
    Eigen::Matrix<double, 10, 1> e = Eigen::Matrix<double, 10, 1>::Unit(k);
    const double m = e(0);
    const Eigen::Vector3d h = e.segment<3>(1);
    Eigen::Matrix3d I;
    I << e(4), e(7), e(9), e(7), e(5), e(8), e(9), e(8), e(6);
    const Eigen::Vector3d Rh = R * h;
    const Eigen::Matrix3d Ib =
        R * I * R.transpose() - hat(Rh) * hat(p) - hat(p) * hat(Rh) - m * hat(p) * hat(p);
    M.col(k) << m, Rh + m * p, Ib(0, 0), Ib(1, 1), Ib(2, 2), Ib(0, 1), Ib(1, 2), Ib(2, 0);
  }
  return M;
}

template <int N>
PayloadResult payload(URDF::Robot<N>& robot, const JointLog& log, const std::string& link,
                      const FitOptions& options) {
  typedef VexoSDK::DynamicAnalysisXD<N> DA;
  const int n = robot.coordinates();
  const int f = robot.frameIndex(link);
  if (f < 0)
    throw IdentificationError("fitPayload: robot '" + robot.description().robotName() +
                              "' has no link '" + link + "'");
  const int body = robot.frameBody(f);
  if (body == 0)
    throw IdentificationError("fitPayload: link '" + link +
                              "' is fixed to the base: a payload there moves no joint");
  checkEquations(log, n, 10);
  const Eigen::Matrix<double, 10, 10> M = linkToBody(robot.frameOffset(f));
  const LieGroup::Vector3D g(options.gravity.x(), options.gravity.y(), options.gravity.z());
  typename DA::ParamVec pi0;
  DA::InertialParameters(robot, pi0);
  const JointFriction friction = jointFriction(robot);
  const Eigen::MatrixXd sign = signs(log);
  const int S = log.samples();
  Eigen::MatrixXd W(static_cast<Eigen::Index>(S) * n, 10);
  Eigen::VectorXd y(static_cast<Eigen::Index>(S) * n);
  typename DA::RegressorMat Y;
  for (int s = 0; s < S; ++s) {
    const typename URDF::Robot<N>::JointVec qddot = setState(robot, log, s);
    DA::Regressor(robot, qddot, g, Y);
    const Eigen::Index row = static_cast<Eigen::Index>(s) * n;
    W.middleRows(row, n) = dynamic(Y).block(0, 10 * (body - 1), n, 10) * M;
    y.segment(row, n) = log.tau.row(s).transpose() - dynamic(Y).topRows(n) * dynamic(pi0) -
                        frictionRow(friction, log, sign, s).transpose();
  }
  std::vector<std::string> names;
  for (const char* name : kParameterNames) names.push_back(link + " payload." + name);
  const Solution x = weightedLeastSquares(W, y, n, names, options.weighted);
  PayloadResult result;
  result.parameters = x.x;
  result.parametersStd = x.std;
  result.conditionNumber = x.condition;
  result.residualRms = x.rms;
  result.mass = x.x(0);
  if (!(result.mass > 0))
    throw IdentificationError("fitPayload: the payload's mass on '" + link + "' comes out " +
                              std::to_string(result.mass) + " kg, not positive");
  result.com = x.x.segment<3>(1) / result.mass;
  Eigen::Matrix3d Io;
  Io << x.x(4), x.x(7), x.x(9), x.x(7), x.x(5), x.x(8), x.x(9), x.x(8), x.x(6);
  // Io = Icom - m [c]^2 = Icom + m ([c]^T [c]) = Icom + m (|c|^2 1 - c c^T).
  const Eigen::Vector3d c = result.com;
  result.inertia =
      Io - result.mass * (c.squaredNorm() * Eigen::Matrix3d::Identity() - c * c.transpose());
  return result;
}

}  // namespace

FitResult fitBaseParameters(const URDF::RobotDescription& description, const JointLog& log,
                            const FitOptions& options) {
  checkLog(description, log);
  FitResult result;
  withModel(description, [&](auto& robot) { result = fit(robot, log, options); });
  return result;
}

Eigen::MatrixXd predictTorques(const URDF::RobotDescription& description, const FitResult& fit,
                               const JointLog& log, const FitOptions& options) {
  checkLog(description, log);
  Eigen::MatrixXd tau;
  withModel(description, [&](auto& robot) { tau = predict(robot, fit, log, options); });
  return tau;
}

PayloadResult fitPayload(const URDF::RobotDescription& description, const JointLog& log,
                         const std::string& link, const FitOptions& options) {
  checkLog(description, log);
  PayloadResult result;
  withModel(description,
                  [&](auto& robot) { result = payload(robot, log, link, options); });
  return result;
}

}  // namespace Identification
}  // namespace ZorvikFoundation
