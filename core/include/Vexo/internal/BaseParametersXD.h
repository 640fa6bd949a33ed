// The members of BaseParametersXD<N>: the stacked regressors at random states and their
// rank-revealing QR factorisation. Included by <Vexo/BaseParametersXD>.
#ifndef VEXO_INTERNAL_BASEPARAMETERSXD_
#define VEXO_INTERNAL_BASEPARAMETERSXD_

#include <Eigen/QR>
#include <algorithm>
#include <cmath>
#include <random>

namespace ZorvikFoundation {
namespace VexoSDK {

template <int N>
BaseParametersXD<N>::BaseParametersXD(Model& model) {
  _compute(model, Vector3D(0, 0, -9.81));
}

template <int N>
BaseParametersXD<N>::BaseParametersXD(Model& model, const Vector3D& gacc) {
  _compute(model, gacc);
}

template <int N>
void BaseParametersXD<N>::_compute(Model& model, const Vector3D& gacc) {
  typedef typename Model::JointVec JointVec;
  // Coordinates beyond the joints' own (a padded model's) stay at zero and add no rows: the
  // states, and so the kept columns, are those of a model of the joints' own size.
  int owned = 0;
  for (int k = 1; k <= N; ++k) owned += model.joint(k).dof();
  // Uniform in [-a, a], from the generator's 32-bit outputs alone (the standard distributions may
  // differ between standard libraries; mt19937's sequence does not).
  std::mt19937 rng(kSeed);
  const auto random = [&rng, owned](double a) {
    JointVec x = JointVec::Zero();
    for (int i = 0; i < owned; ++i) x(i) = a * (2 * ((rng() + 0.5) / 4294967296.0) - 1);
    return x;
  };
  const JointVec q = model.q(), qdot = model.qdot();
  Eigen::MatrixXd W(kStates * owned, static_cast<int>(NUM_PARAMETERS));
  RegressorMat Y;
  for (int s = 0; s < kStates; ++s) {
    model.q() = random(3.141592653589793);
    model.qdot() = random(2);
    model.update(false);
    DynamicAnalysisXD<N>::Regressor(model, random(5), gacc, Y);
    W.middleRows(s * owned, owned) = Y.topRows(owned);
  }
  model.q() = q;
  model.qdot() = qdot;
  model.update(false);

  Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(W);
  qr.setThreshold(kTolerance);
  const int b = static_cast<int>(qr.rank());
  const auto& pivots = qr.colsPermutation().indices();
  // W's pivoted columns: the first b independent, every other one = (the first b) K.
  const Eigen::MatrixXd R = qr.matrixQR().topRows(b).template triangularView<Eigen::Upper>();
  const Eigen::MatrixXd K = R.leftCols(b).template triangularView<Eigen::Upper>().solve(
      R.rightCols(NUM_PARAMETERS - b));

  _kept.assign(pivots.data(), pivots.data() + b);
  std::sort(_kept.begin(), _kept.end());
  _P = Eigen::MatrixXd::Zero(b, NUM_PARAMETERS);
  for (int i = 0; i < b; ++i) {
    const int row = static_cast<int>(std::lower_bound(_kept.begin(), _kept.end(), pivots(i)) -
                                     _kept.begin());
    _P(row, pivots(i)) = 1;
    for (int j = b; j < NUM_PARAMETERS; ++j) _P(row, pivots(j)) = K(i, j - b);
  }
}

template <int N>
void BaseParametersXD<N>::baseParameters(const ParamVec& pi, BaseParamVec& beta) const {
  beta.resize(count());
  for (int i = 0; i < count(); ++i) beta(i) = _P.row(i).dot(pi.transpose());
}

template <int N>
void BaseParametersXD<N>::baseRegressor(const RegressorMat& Y, BaseRegressorMat& Y_base) const {
  Y_base.resize(N, count());
  for (int i = 0; i < count(); ++i) Y_base.col(i) = Y.col(_kept[static_cast<std::size_t>(i)]);
}

}  // namespace VexoSDK
}  // namespace ZorvikFoundation

#endif  // VEXO_INTERNAL_BASEPARAMETERSXD_
