// RobotModel and ObserverModel over URDF::Robot<N> and MomentumObserverXD<N>: each operation is
// the library call of the same name, with the arrays copied between the interface's C-order
// buffers and the model's fixed-size Eigen objects. Included by the size units only; the module
// itself never sees a size.
//
// A robot of n < N coordinates is held padded (URDF::ModelFit::AtMost): the interface's buffers
// have the robot's own sizes (n, (6, n), (n, n), ...), its inputs enter the model with zeros in
// the padding coordinates, and only the robot's own block of each result leaves it.
#ifndef ZORVIK_PYTHON_ROBOTMODELIMPL_H_
#define ZORVIK_PYTHON_ROBOTMODELIMPL_H_

#include <Vexo/BaseParametersXD>
#include <Vexo/CentroidalXD>
#include <Vexo/DynamicAnalysisXD>
#include <Vexo/MomentumObserverXD>
#include <ZorvikURDF/Robot>

#include <type_traits>
#include <utility>

#include "RobotModel.h"

namespace zorvik_python {

namespace detail {

using namespace ZorvikFoundation;

// Row-major buffers to and from Eigen objects of any storage order.
template <typename Derived>
void store(const Eigen::MatrixBase<Derived>& m, double* out) {
  for (Eigen::Index i = 0; i < m.rows(); ++i)
    for (Eigen::Index j = 0; j < m.cols(); ++j) out[i * m.cols() + j] = m(i, j);
}
template <typename Derived>
void load(const double* in, Eigen::MatrixBase<Derived>& m) {
  for (Eigen::Index i = 0; i < m.rows(); ++i)
    for (Eigen::Index j = 0; j < m.cols(); ++j) m(i, j) = in[i * m.cols() + j];
}
template <typename Type>
Type loaded(const double* in) {
  Type m;
  load(in, m);
  return m;
}
// A vector of the model's size from the first n entries of in, zeros after them.
template <typename Vec>
Vec padded(const double* in, int n) {
  Vec x = Vec::Zero();
  x.head(n) = Eigen::Map<const Eigen::VectorXd>(in, n);
  return x;
}
// The top-left rows x cols block of m, row-major.
template <typename Derived>
void storeBlock(const Eigen::MatrixBase<Derived>& m, Eigen::Index rows, Eigen::Index cols,
                double* out) {
  store(m.topLeftCorner(rows, cols), out);
}

// Whether DynamicAnalysisXD<N> has the derivatives of the inverse and forward dynamics.
template <int N, typename = void>
struct HasDerivatives : std::false_type {};
template <int N>
struct HasDerivatives<
    N, std::void_t<decltype(VexoSDK::DynamicAnalysisXD<N>::IdynDerivatives(
                       std::declval<VexoSDK::VexoBaseXD<N>&>(),
                       std::declval<const typename VexoSDK::VexoBaseXD<N>::JointVec&>(),
                       std::declval<const Vector3D&>(),
                       std::declval<typename VexoSDK::VexoBaseXD<N>::JointMat&>(),
                       std::declval<typename VexoSDK::VexoBaseXD<N>::JointMat&>())),
                   decltype(VexoSDK::DynamicAnalysisXD<N>::FdynDerivatives(
                       std::declval<VexoSDK::VexoBaseXD<N>&>(),
                       std::declval<const typename VexoSDK::VexoBaseXD<N>::JointVec&>(),
                       std::declval<const Vector3D&>(),
                       std::declval<typename VexoSDK::VexoBaseXD<N>::JointMat&>(),
                       std::declval<typename VexoSDK::VexoBaseXD<N>::JointMat&>(),
                       std::declval<typename VexoSDK::VexoBaseXD<N>::JointMat&>()))>>
    : std::true_type {};

}  // namespace detail
}  // namespace zorvik_python

#include "OperationalSpaceImpl.h"

namespace zorvik_python {
namespace detail {

template <int N>
class RobotModelImpl final : public RobotModel {
 public:
  typedef URDF::Robot<N> Robot;
  typedef typename Robot::JointVec JointVec;
  typedef typename VexoSDK::VexoBaseXD<N>::JointMat JointMat;
  typedef typename Robot::JointJac JointJac;
  typedef VexoSDK::DynamicAnalysisXD<N> Dynamics;

  explicit RobotModelImpl(const RobotDescription& description)
      : _robot(description, URDF::ModelFit::AtMost), _n(_robot.coordinates()) {}

  Robot& robot() { return _robot; }

  int n() const override { return _n; }
  int modelSize() const override { return N; }
  const RobotDescription& description() const override { return _robot.description(); }
  std::unique_ptr<RobotModel> rebuild() const override {
    return std::unique_ptr<RobotModel>(new RobotModelImpl(_robot.description()));
  }

  double* q() override { return _robot.q().data(); }
  double* qdot() override { return _robot.qdot().data(); }
  double* qddot() override { return _robot.qddot().data(); }
  double* tau() override { return _robot.tau().data(); }

  // The base joint places the base body: its Tadj and Vadj are the base's pose and twist at the
  // next update.
  bool floatingBase() const override { return _robot.isFloating(); }
  void basePose(double* T) const override { store(_robot.joint(0).Tadj(), T); }
  void setBasePose(const double* T) override { load(T, _robot.joint(0).Tadj()); }
  void baseTwist(double* V) const override { store(_robot.joint(0).Vadj(), V); }
  void setBaseTwist(const double* V) override { load(V, _robot.joint(0).Vadj()); }
  void baseAcceleration(double* Vdot) const override { store(_robot.Vdot(), Vdot); }

  void update(bool posOnly) override { _robot.update(posOnly); }
  void updateJacobian(bool posOnly) override { _robot.updateJacobian(posOnly); }

  void pose(int k, double* T) const override { store(_robot.T(k), T); }
  void twist(int k, double* V) const override { store(_robot.V(k), V); }
  void jacobian(int k, double* J) const override { storeBlock(_robot.J(k), 6, _n, J); }
  void jacobianDot(int k, double* Jdot) const override { storeBlock(_robot.Jdot(k), 6, _n, Jdot); }
  void acceleration(int k, double* Vdot) const override { store(_robot.Vdot(k), Vdot); }

  void framePose(int f, double* T) const override { store(_robot.framePose(f), T); }
  void frameTwist(int f, double* V) const override { store(_robot.frameTwist(f), V); }
  void frameAcceleration(int f, double* Vdot) const override {
    store(_robot.frameAcceleration(f), Vdot);
  }
  void frameJacobian(int f, int convention, double* J) const override {
    JointJac Jf;
    _robot.frameJacobian(f, static_cast<VexoSDK::JacobianFrame>(convention), Jf);
    storeBlock(Jf, 6, _n, J);
  }
  void frameJacobianDot(int f, int convention, double* Jdot) const override {
    JointJac Jf;
    _robot.frameJacobianDot(f, static_cast<VexoSDK::JacobianFrame>(convention), Jf);
    storeBlock(Jf, 6, _n, Jdot);
  }

  void idyn(const double* qdot, const double* qddot, const double* gravity,
            const double* baseAcc) override {
    const JointVec v = in(qdot), a = in(qddot);
    if (baseAcc) {
      const Twist Vdot = Eigen::Map<const Vector6d>(baseAcc);
      if (gravity)
        _robot.idyn(_robot.V(0), Vdot, v, a, Vector3D(Eigen::Map<const Eigen::Vector3d>(gravity)));
      else
        _robot.idyn(_robot.V(0), Vdot, v, a);
    } else if (gravity) {
      _robot.idyn(v, a, Vector3D(Eigen::Map<const Eigen::Vector3d>(gravity)));
    } else {
      _robot.idyn(v, a);
    }
  }
  void idynPassive(const double* qdotRef, const double* qddotRef, const double* gravity,
                   const double* baseAcc) override {
    const JointVec v = in(qdotRef), a = in(qddotRef);
    if (baseAcc) {
      const Twist Vdot = Eigen::Map<const Vector6d>(baseAcc);
      if (gravity)
        _robot.idyn_passive(_robot.V(0), Vdot, v, a,
                            Vector3D(Eigen::Map<const Eigen::Vector3d>(gravity)));
      else
        _robot.idyn_passive(_robot.V(0), Vdot, v, a);
    } else if (gravity) {
      _robot.idyn_passive(v, a, Vector3D(Eigen::Map<const Eigen::Vector3d>(gravity)));
    } else {
      _robot.idyn_passive(v, a);
    }
  }
  void idynGravity(const double* gravity) override {
    _robot.idyn_gravity(Vector3D(Eigen::Map<const Eigen::Vector3d>(gravity)));
  }
  void idynMomentum(const double* qddot, const double* baseAcc) override {
    const JointVec a = in(qddot);
    if (baseAcc)
      _robot.idyn_momentum(Twist(Eigen::Map<const Vector6d>(baseAcc)), a);
    else
      _robot.idyn_momentum(a);
  }
  void fdyn(const double* tau, const double* gravity) override {
    const JointVec t = in(tau);
    if (_robot.isFloating()) {
      if (gravity)
        _robot.fdyn(_robot.V(0), _robot.Vdot(), t,
                    Vector3D(Eigen::Map<const Eigen::Vector3d>(gravity)));
      else
        _robot.fdyn(_robot.V(0), _robot.Vdot(), t);
    } else if (gravity) {
      _robot.fdyn(t, Vector3D(Eigen::Map<const Eigen::Vector3d>(gravity)));
    } else {
      _robot.fdyn(t);
    }
  }

  void jointDynamics(const double* gravity, double* M, double* C, double* G) override {
    JointMat m, c;
    JointVec g;
    Dynamics::JointDynamics(_robot, m, c, g, Vector3D(Eigen::Map<const Eigen::Vector3d>(gravity)));
    storeBlock(m, _n, _n, M);
    storeBlock(c, _n, _n, C);
    storeBlock(g, _n, 1, G);
  }
  void massMatrix(double* M) const override {
    JointMat m;
    Dynamics::MassMatrix(_robot, m);
    storeBlock(m, _n, _n, M);
  }
  void massInverse(double* Minv) override {
    JointMat m;
    Dynamics::MassInverse(_robot, m);
    storeBlock(m, _n, _n, Minv);
  }

  bool hasDerivatives() const override { return HasDerivatives<N>::value; }
  void idynDerivatives(const double* qddot, const double* gravity, double* dtau_dq,
                       double* dtau_dqdot) override {
    if constexpr (HasDerivatives<N>::value) {
      JointMat dq, dqdot;
      Dynamics::IdynDerivatives(_robot, in(qddot),
                                Vector3D(Eigen::Map<const Eigen::Vector3d>(gravity)), dq, dqdot);
      storeBlock(dq, _n, _n, dtau_dq);
      storeBlock(dqdot, _n, _n, dtau_dqdot);
    } else {
      (void)qddot, (void)gravity, (void)dtau_dq, (void)dtau_dqdot;
    }
  }
  void fdynDerivatives(const double* tau, const double* gravity, double* dqddot_dq,
                       double* dqddot_dqdot, double* Minv) override {
    if constexpr (HasDerivatives<N>::value) {
      JointMat dq, dqdot, minv;
      Dynamics::FdynDerivatives(_robot, in(tau),
                                Vector3D(Eigen::Map<const Eigen::Vector3d>(gravity)), dq, dqdot,
                                minv);
      storeBlock(dq, _n, _n, dqddot_dq);
      storeBlock(dqdot, _n, _n, dqddot_dqdot);
      storeBlock(minv, _n, _n, Minv);
    } else {
      (void)tau, (void)gravity, (void)dqddot_dq, (void)dqddot_dqdot, (void)Minv;
    }
  }

  void inertialParameters(double* pi) const override {
    typename Dynamics::ParamVec p;
    Dynamics::InertialParameters(_robot, p);
    storeBlock(p, 10 * _n, 1, pi);
  }
  // The padding bodies keep their (zero) parameters.
  void setInertialParameters(const double* pi) override {
    typename Dynamics::ParamVec p;
    Dynamics::InertialParameters(_robot, p);
    p.head(10 * _n) = Eigen::Map<const Eigen::VectorXd>(pi, 10 * _n);
    Dynamics::SetInertialParameters(_robot, p);
  }
  void regressor(const double* qddot, const double* gravity, double* Y) override {
    typename Dynamics::RegressorMat y;
    Dynamics::Regressor(_robot, in(qddot), loaded<Vector3D>(gravity), y);
    storeBlock(y, _n, 10 * _n, Y);
  }
  void passiveRegressor(const double* qdotRef, const double* qddotRef, const double* gravity,
                        double* Y) override {
    typename Dynamics::RegressorMat y;
    Dynamics::PassiveRegressor(_robot, in(qdotRef), in(qddotRef), loaded<Vector3D>(gravity), y);
    storeBlock(y, _n, 10 * _n, Y);
  }
  void baseParameters(const double* gravity, std::vector<int>& kept,
                      std::vector<double>& regrouping) override {
    const VexoSDK::BaseParametersXD<N> base(_robot, loaded<Vector3D>(gravity));
    // The padding bodies never move: no base parameter takes their columns.
    kept = base.keptColumns();
    regrouping.resize(static_cast<std::size_t>(base.count()) * 10 * _n);
    storeBlock(base.regrouping(), base.count(), 10 * _n, regrouping.data());
  }

  IkOutcome inverseKinematics(int f, const double* T_target, const double* qSeed,
                              const IkOptions& o, double* qOut) override {
    VexoSDK::InverseKinematicsXD<N> ik = _robot.inverseKinematics();
    ik.setTolerance(o.positionTolerance, o.rotationTolerance);
    ik.setMaxIterations(o.maxIterations);
    ik.setRestarts(o.restarts);
    ik.setWeights(o.positionWeight, o.rotationWeight);
    ik.setRandomSeed(o.seed);
    ik.setIterationBudget(o.iterationBudget);
    ik.setStopTest(o.stopTest, o.stopContext);
    JointVec out;
    const VexoSDK::IKResult r =
        ik.solve(_robot, _robot.frameBody(f), _robot.frameOffset(f),
                 loaded<HTransform>(T_target), in(qSeed), out);
    storeBlock(out, _n, 1, qOut);
    return IkOutcome{r.converged, r.iterations, r.positionError, r.rotationError, r.stopped};
  }

  std::unique_ptr<ObserverModel> makeObserver() const override;
  std::unique_ptr<OperationalSpaceModel> makeOperationalSpace() const override {
    return std::unique_ptr<OperationalSpaceModel>(new OperationalSpaceImpl<N>(_n));
  }

  Body& body(int k) override { return _robot.body(k); }
  Joint& joint(int k) override { return _robot.joint(k); }
  const JointLimit<1>& limit(int i) const override { return _robot.limit(i); }

  typedef VexoSDK::CentroidalXD<N> Centroidal;
  double mass(int root) const override { return Centroidal::mass(_robot, root); }
  void centerOfMass(int root, double* c, double* Jc) const override {
    Displacement com;
    typename Centroidal::ComJac J;
    if (!_robot.isFloating()) {
      Centroidal::centerOfMass(_robot, com, J, root);
      if (Jc) storeBlock(J, 3, _n, Jc);
    } else {
      typename Centroidal::BaseComJac Jb;
      Centroidal::centerOfMass(_robot, com, Jb, J, root);
      if (Jc) storeBlock((Eigen::Matrix<double, 3, 6 + N>() << Jb, J).finished(), 3, 6 + _n, Jc);
    }
    store(com, c);
  }
  void centerOfMassVelocity(int root, double* v) const override {
    store(Centroidal::centerOfMassVelocity(_robot, root), v);
  }
  void comBiasAcceleration(int root, double* a) const override {
    store(Centroidal::comBiasAcceleration(_robot, root), a);
  }
  void centroidalMomentum(double* h) const override { store(Centroidal::centroidalMomentum(_robot), h); }
  void centroidalMatrix(double* A) const override {
    JointJac Aq;
    if (!_robot.isFloating()) {
      Centroidal::centroidalMatrix(_robot, Aq);
      storeBlock(Aq, 6, _n, A);
    } else {
      Matrix6d Ab;
      Centroidal::centroidalMatrix(_robot, Ab, Aq);
      storeBlock((Eigen::Matrix<double, 6, 6 + N>() << Ab, Aq).finished(), 6, 6 + _n, A);
    }
  }
  void momentumBias(double* hdot) const override { store(Centroidal::momentumBias(_robot), hdot); }
  void centroidalInertia(double* I) const override {
    store(Centroidal::centroidalInertia(_robot), I);
  }
  double kineticEnergy() const override { return Centroidal::kineticEnergy(_robot); }
  double potentialEnergy(const double* gravity) const override {
    return Centroidal::potentialEnergy(_robot, Vector3D(Eigen::Map<const Eigen::Vector3d>(gravity)));
  }
  int limits(int kind, bool clamp, double* x, int* side) const override {
    JointVec v = in(x);
    typename Robot::LimitSides s;
    const URDF::LimitKind k = static_cast<URDF::LimitKind>(kind);
    const int result = clamp ? _robot.clampToLimits(k, v, s) : !_robot.withinLimits(k, v, s);
    for (int i = 0; i < _n; ++i) {
      x[i] = v(i);
      side[i] = s(i);
    }
    return result;
  }

  ZORVIK_MAKE_ALIGNED_OPERATOR_NEW

 private:
  JointVec in(const double* x) const { return padded<JointVec>(x, _n); }

  Robot _robot;
  int _n;
};

template <int N>
class ObserverModelImpl final : public ObserverModel {
 public:
  typedef typename VexoSDK::MomentumObserverXD<N>::JointVec JointVec;

  explicit ObserverModelImpl(int n) : _n(n) {}

  int n() const override { return _n; }
  int modelSize() const override { return N; }
  void setPeriod(double h) override { _observer.setPeriod(h); }
  void setGain(const double* L) override { _observer.setGain(padded<JointVec>(L, _n)); }
  void estimate(RobotModel& robot, const double* gravity, double* tauExt) override {
    URDF::Robot<N>& model = static_cast<RobotModelImpl<N>&>(robot).robot();
    JointVec r;
    if (gravity)
      _observer.estimate(model, r, Vector3D(Eigen::Map<const Eigen::Vector3d>(gravity)));
    else
      _observer.estimate(model, r);
    storeBlock(r, _n, 1, tauExt);
  }

  ZORVIK_MAKE_ALIGNED_OPERATOR_NEW

 private:
  VexoSDK::MomentumObserverXD<N> _observer;
  int _n;
};

template <int N>
std::unique_ptr<ObserverModel> RobotModelImpl<N>::makeObserver() const {
  return std::unique_ptr<ObserverModel>(new ObserverModelImpl<N>(_n));
}

}  // namespace detail

template <int N>
std::unique_ptr<RobotModel> makeRobotModel(const RobotDescription& description) {
  return std::unique_ptr<RobotModel>(new detail::RobotModelImpl<N>(description));
}

template <int N>
std::unique_ptr<ObserverModel> makeObserverModel(int n) {
  return std::unique_ptr<ObserverModel>(new detail::ObserverModelImpl<N>(n));
}

template <int N>
bool sizeHasDerivatives() {
  return detail::HasDerivatives<N>::value;
}

}  // namespace zorvik_python

// One size's factories, compiled in a size unit.
#define ZORVIK_PYTHON_SIZE(N)                                                              \
  template std::unique_ptr<zorvik_python::RobotModel> zorvik_python::makeRobotModel<N>(    \
      const zorvik_python::RobotDescription&);                                             \
  template std::unique_ptr<zorvik_python::ObserverModel> zorvik_python::makeObserverModel<N>(int); \
  template bool zorvik_python::sizeHasDerivatives<N>();

#endif  // ZORVIK_PYTHON_ROBOTMODELIMPL_H_
