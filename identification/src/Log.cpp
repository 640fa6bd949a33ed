// Reading a CSV torque log, and the filter and differences that derive the missing rates.
#include "ZorvikIdentification/Log"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace ZorvikFoundation {
namespace Identification {

namespace {

std::string trimmed(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> out;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, ',')) out.push_back(trimmed(field));
  if (!line.empty() && line.back() == ',') out.push_back("");
  return out;
}

// Second-order Butterworth low-pass, direct form II transposed, from its steady state for the
// first input.
struct Biquad {
  double b0, b1, b2, a1, a2;
  explicit Biquad(double K) {
    // H(s) = 1 / (s^2 + sqrt(2) s + 1) at s = (z - 1) / (K (z + 1)), K = tan(pi fc / fs).
    const double norm = 1.0 / (1.0 + std::sqrt(2.0) * K + K * K);
    b0 = K * K * norm;
    b1 = 2.0 * b0;
    b2 = b0;
    a1 = 2.0 * (K * K - 1.0) * norm;
    a2 = (1.0 - std::sqrt(2.0) * K + K * K) * norm;
  }
  void run(std::vector<double>& x) const {
    if (x.empty()) return;
    // A constant input x0 gives y = x0 (unit gain at zero frequency): z2 = (b2 - a2) x0,
    // z1 = (b1 - a1) x0 + z2.
    double z2 = (b2 - a2) * x[0], z1 = (b1 - a1) * x[0] + z2;
    for (double& v : x) {
      const double y = b0 * v + z1;
      z1 = b1 * v - a1 * y + z2;
      z2 = b2 * v - a2 * y;
      v = y;
    }
  }
};

}  // namespace

Eigen::MatrixXd zeroPhaseLowPass(const Eigen::MatrixXd& x, double fs, double fc) {
  if (!(fc > 0 && fc < fs / 2))
    throw IdentificationError("low-pass filter: the cut-off " + std::to_string(fc) +
                              " Hz is not between 0 and half the sampling rate " +
                              std::to_string(fs / 2) + " Hz");
  const Biquad filter(std::tan(M_PI * fc / fs));
  const Eigen::Index S = x.rows();
  // About three periods of the cut-off at each end, at most the log's length less one.
  const Eigen::Index pad = std::min<Eigen::Index>(S - 1, static_cast<Eigen::Index>(3 * fs / fc));
  Eigen::MatrixXd y(S, x.cols());
  std::vector<double> v(S + 2 * pad);
  for (Eigen::Index c = 0; c < x.cols(); ++c) {
    // Point reflections over the end samples keep the value and the slope there continuous.
    for (Eigen::Index i = 0; i < pad; ++i) {
      v[i] = 2 * x(0, c) - x(pad - i, c);
      v[pad + S + i] = 2 * x(S - 1, c) - x(S - 2 - i, c);
    }
    for (Eigen::Index i = 0; i < S; ++i) v[pad + i] = x(i, c);
    filter.run(v);
    std::reverse(v.begin(), v.end());
    filter.run(v);
    std::reverse(v.begin(), v.end());
    for (Eigen::Index i = 0; i < S; ++i) y(i, c) = v[pad + i];
  }
  return y;
}

Eigen::MatrixXd centralDifference(const Eigen::MatrixXd& x, const Eigen::VectorXd& t) {
  const Eigen::Index S = x.rows();
  Eigen::MatrixXd d(S, x.cols());
  if (S < 2) return Eigen::MatrixXd::Zero(S, x.cols());
  if (S == 2) {
    d.row(0) = d.row(1) = (x.row(1) - x.row(0)) / (t(1) - t(0));
    return d;
  }
  // At the ends, the derivative of the parabola through the three end samples at the end one
  // (Lagrange's form differentiated): second order like the central differences.
  const auto end = [&](Eigen::Index a, Eigen::Index b, Eigen::Index c) {
    const double t0 = t(a), t1 = t(b), t2 = t(c);
    d.row(a) = x.row(a) * ((2 * t0 - t1 - t2) / ((t0 - t1) * (t0 - t2))) +
               x.row(b) * ((t0 - t2) / ((t1 - t0) * (t1 - t2))) +
               x.row(c) * ((t0 - t1) / ((t2 - t0) * (t2 - t1)));
  };
  end(0, 1, 2);
  end(S - 1, S - 2, S - 3);
  for (Eigen::Index i = 1; i + 1 < S; ++i) {
    // The derivative of the parabola through three samples at the middle one (uneven spacing).
    const double h0 = t(i) - t(i - 1), h1 = t(i + 1) - t(i);
    d.row(i) = (x.row(i + 1) - x.row(i)) * (h0 / (h1 * (h0 + h1))) +
               (x.row(i) - x.row(i - 1)) * (h1 / (h0 * (h0 + h1)));
  }
  return d;
}

JointLog JointLog::rows(int first, int count) const {
  JointLog out;
  out.joints = joints;
  out.t = t.segment(first, count);
  out.q = q.middleRows(first, count);
  out.qdot = qdot.middleRows(first, count);
  out.qddot = qddot.middleRows(first, count);
  out.tau = tau.middleRows(first, count);
  out.filterCutoffHz = filterCutoffHz;
  out.filterRateHz = filterRateHz;
  return out;
}

JointLog readLog(std::istream& in, const std::string& source, const std::vector<std::string>& joints,
                 const LogOptions& options) {
  std::string line;
  int lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (!trimmed(line).empty()) break;
  }
  if (trimmed(line).empty()) throw IdentificationError(source + ": empty log, no header row");
  const std::vector<std::string> header = fields(line);
  std::map<std::string, int> column;
  for (int c = 0; c < static_cast<int>(header.size()); ++c) column.emplace(header[c], c);
  const auto find = [&](const std::string& name, bool required) {
    const auto it = column.find(name);
    if (it == column.end()) {
      if (required)
        throw IdentificationError(source + ": the log has no column '" + name + "'");
      return -1;
    }
    return it->second;
  };
  const int n = static_cast<int>(joints.size());
  const int tColumn = find("t", true);
  std::vector<int> qCol(n), tauCol(n), qdotCol(n), qddotCol(n);
  bool allRates = true;
  for (int j = 0; j < n; ++j) {
    qCol[j] = find("q_" + joints[j], true);
    tauCol[j] = find("tau_" + joints[j], true);
    qdotCol[j] = find("qdot_" + joints[j], false);
    qddotCol[j] = find("qddot_" + joints[j], false);
    allRates = allRates && qdotCol[j] >= 0 && qddotCol[j] >= 0;
  }
  if (!allRates && options.cutoffHz <= 0)
    for (int j = 0; j < n; ++j)
      if (qdotCol[j] < 0 || qddotCol[j] < 0)
        throw IdentificationError(source + ": with no filter the log needs the column '" +
                                  (qdotCol[j] < 0 ? "qdot_" : "qddot_") + joints[j] + "'");

  // Only the columns read are parsed: the others may hold anything.
  std::vector<bool> used(header.size(), false);
  used[tColumn] = true;
  for (int j = 0; j < n; ++j)
    for (int c : {qCol[j], tauCol[j], qdotCol[j], qddotCol[j]})
      if (c >= 0) used[c] = true;

  std::vector<std::vector<double>> rows;
  std::vector<int> lineOf;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (trimmed(line).empty()) continue;
    const std::vector<std::string> f = fields(line);
    if (f.size() != header.size())
      throw IdentificationError(source + " line " + std::to_string(lineNumber) + ": " +
                                std::to_string(f.size()) + " fields, the header has " +
                                std::to_string(header.size()));
    std::vector<double> row(f.size());
    for (size_t c = 0; c < f.size(); ++c) {
      if (!used[c]) continue;
      char* end = nullptr;
      row[c] = std::strtod(f[c].c_str(), &end);
      if (f[c].empty() || *end != '\0' || std::isnan(row[c]))
        throw IdentificationError(source + " line " + std::to_string(lineNumber) + ", column '" +
                                  header[c] + "': " +
                                  (f[c].empty() ? std::string("empty") : "'" + f[c] + "'") +
                                  " is not a number");
    }
    if (!rows.empty() && !(row[tColumn] > rows.back()[tColumn]))
      throw IdentificationError(source + " line " + std::to_string(lineNumber) + ": time " +
                                f[tColumn] + " does not increase (previous sample at line " +
                                std::to_string(lineOf.back()) + ")");
    rows.push_back(std::move(row));
    lineOf.push_back(lineNumber);
  }
  const int S = static_cast<int>(rows.size());
  if (S < kMinimumSamples)
    throw IdentificationError(source + ": " + std::to_string(S) + " samples, at least " +
                              std::to_string(kMinimumSamples) + " needed");

  JointLog log;
  log.joints = joints;
  log.t.resize(S);
  log.q.resize(S, n);
  log.tau.resize(S, n);
  log.qdot.resize(S, n);
  log.qddot.resize(S, n);
  for (int s = 0; s < S; ++s) {
    log.t(s) = rows[s][tColumn];
    for (int j = 0; j < n; ++j) {
      log.q(s, j) = rows[s][qCol[j]];
      log.tau(s, j) = rows[s][tauCol[j]];
      log.qdot(s, j) = qdotCol[j] >= 0 ? rows[s][qdotCol[j]] : 0.0;
      log.qddot(s, j) = qddotCol[j] >= 0 ? rows[s][qddotCol[j]] : 0.0;
    }
  }
  if (allRates) return log;

  const double fs = (S - 1) / (log.t(S - 1) - log.t(0));
  const Eigen::MatrixXd qf = zeroPhaseLowPass(log.q, fs, options.cutoffHz);
  const Eigen::MatrixXd qdotDerived = centralDifference(qf, log.t);
  for (int j = 0; j < n; ++j)
    if (qdotCol[j] < 0) log.qdot.col(j) = qdotDerived.col(j);
  // Accelerations from the rates: a derived qdot is already smooth (it comes from the filtered q),
  // a given one is filtered first; both pass the filter once, like q and the torques.
  const Eigen::MatrixXd qdotFiltered = zeroPhaseLowPass(log.qdot, fs, options.cutoffHz);
  Eigen::MatrixXd rates = log.qdot;
  for (int j = 0; j < n; ++j)
    if (qdotCol[j] >= 0) rates.col(j) = qdotFiltered.col(j);
  const Eigen::MatrixXd qddotDerived = centralDifference(rates, log.t);
  for (int j = 0; j < n; ++j)
    if (qddotCol[j] < 0) log.qddot.col(j) = qddotDerived.col(j);
  log.tau = zeroPhaseLowPass(log.tau, fs, options.cutoffHz);
  log.filterCutoffHz = options.cutoffHz;
  log.filterRateHz = fs;
  // Near the ends the filtered values lean on the reflected extension, which continues the signal
  // only to first order: the torques there (filtered) and the positions (as logged) no longer
  // match. Two periods of the cut-off are about nine time constants of the filter's response
  // (e^-9 ~ 1e-4); they are dropped at each end.
  const int trim = static_cast<int>(std::ceil(2 * fs / options.cutoffHz));
  if (S - 2 * trim < kMinimumSamples)
    throw IdentificationError(source + ": " + std::to_string(S) +
                              " samples, too few to filter: the filter's " + std::to_string(trim) +
                              " samples at each end are dropped and at least " +
                              std::to_string(kMinimumSamples) + " must remain");
  return log.rows(trim, S - 2 * trim);
}

JointLog readLogFile(const std::string& path, const std::vector<std::string>& joints,
                     const LogOptions& options) {
  std::ifstream in(path);
  if (!in) throw IdentificationError(path + ": cannot open the log");
  return readLog(in, path, joints, options);
}

}  // namespace Identification
}  // namespace ZorvikFoundation
