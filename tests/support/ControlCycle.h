// One complete control cycle of a robot controller, as a real-time loop runs it: a random robot
// model with its own bodies and joints, two momentum observers and, per passivity mode, one
// rotation and one transform controller. Every output of every call is appended to a Record, a
// fixed buffer owned by the caller, so that a cycle allocates nothing of its own and two runs can
// be compared bit for bit (a real-time region against its reference, a thread against a
// single-threaded run).
//
// A cycle runs, in order: update(true), update(false), updateJacobian(false), the six fixed-base
// forms of the idyn family, DynamicAnalysisXD<N>::JointDynamics and MassMatrix, the inertial
// parameters read and written back, both regressors, both MomentumObserverXD<N>::estimate forms,
// the centroidal quantities and energies of CentroidalXD<N>, OperationalSpaceXD<N>::compute and
// torque (the last body's frame, all rows, and a middle body's position), and for each controller
// the long forms of refAcceleration, refImpedanceAcceleration and refComplianceForce.
#ifndef ZORVIK_TEST_CONTROL_CYCLE_H
#define ZORVIK_TEST_CONTROL_CYCLE_H

#include <Controller/HTransformController>
#include <Controller/RotationController>
#include <Vexo/CentroidalXD>
#include <Vexo/DynamicAnalysisXD>
#include <Vexo/MomentumObserverXD>
#include <Vexo/OperationalSpaceXD>

#include <cstddef>

#include "support/RandomLieGroup.h"
#include "support/RandomRobot.h"

namespace zorvik_test {

// Appends doubles to a caller-supplied buffer; never allocates. Writes past the capacity are
// counted but dropped, so overflow is detectable without branching out of the cycle.
class Record {
 public:
  Record(double* data, std::size_t capacity) : data_(data), capacity_(capacity), size_(0) {}

  void put(double x) {
    if (size_ < capacity_) data_[size_] = x;
    ++size_;
  }
  template <typename Derived>
  void put(const Eigen::MatrixBase<Derived>& m) {
    for (Eigen::Index j = 0; j < m.cols(); ++j)
      for (Eigen::Index i = 0; i < m.rows(); ++i) put(m(i, j));
  }

  void clear() { size_ = 0; }
  std::size_t size() const { return size_; }
  bool overflowed() const { return size_ > capacity_; }
  const double* data() const { return data_; }

 private:
  double* data_;
  std::size_t capacity_;
  std::size_t size_;
};

template <int N>
class ControlCycle {
 public:
  typedef VexoBaseXD<N> Model;
  typedef typename Model::JointVec JointVec;
  typedef typename Model::JointMat JointMat;

  // Odd seeds make a tree, even seeds a serial chain; all four one-coordinate joint kinds appear.
  explicit ControlCycle(unsigned seed) : robot_(seed, seed % 2 == 1, JointMix::AllOneDof) {
    std::mt19937& rng = robot_.rng();
    q0_ = randomMatrix<N>(rng);
    qdot0_ = randomMatrix<N>(rng);
    qddot_ = randomMatrix<N>(rng);
    qdot_r_ = randomMatrix<N>(rng);
    qddot_r_ = randomMatrix<N>(rng);
    tau_applied_ = randomMatrix<N>(rng, 10.0);
    const Eigen::Vector2d tilt = randomMatrix<2>(rng, 0.1);
    gacc_ = Vector3D(tilt.x(), tilt.y(), -9.81);
    robot_.body(N).setExtWrench(Wrench(randomMatrix<6>(rng)));

    for (MomentumObserverXD<N>& o : observer_) {
      o.setPeriod(1e-3);
      o.setGain(JointVec::Constant(50.0));
    }
    for (int mode = 0; mode < 2; ++mode) {
      configure(rot_[mode], mode == 1);
      configure(tf_[mode], mode == 1);
    }
    Rd_ = Vector3D(randomMatrix<3>(rng)).exp();
    wd_ = Vector3D(randomMatrix<3>(rng));
    wdotd_ = Vector3D(randomMatrix<3>(rng));
    n_ = Vector3D(randomMatrix<3>(rng));
    nd_ = Vector3D(randomMatrix<3>(rng));
    Td_ = randomPose(rng, 0.5);
    Vd_ = randomTwist(rng);
    Vdotd_ = randomTwist(rng);
    F_ = randomWrench(rng);
    Fd_ = randomWrench(rng);
    osc_.addTask(N, randomPose(rng, 0.5), VexoSDK::JacobianFrame::WorldAligned,
                 VexoSDK::TaskRows::All);
    osc_.addTask(N / 2, randomPose(rng, 0.5), VexoSDK::JacobianFrame::Spatial,
                 VexoSDK::TaskRows::Linear);
    aTask_ = randomMatrix<9>(rng);
  }

  Model& model() { return robot_.model(); }

  // Cycle k: the joint state moves along a straight line in k, so that every cycle differs.
  void step(int k, Record& out) {
    Model& m = robot_.model();
    const double s = 1e-2 * k;
    m.q() = q0_ + s * qdot0_;
    m.qdot() = qdot0_ + s * qddot_;

    m.update(true);
    out.put(m.T());
    m.update(false);
    out.put(m.T());
    out.put(m.V());
    m.updateJacobian(false);
    out.put(m.J(N));
    out.put(m.Jdot(N));

    m.idyn(m.qdot(), qddot_, gacc_);
    out.put(m.tau());
    m.idyn(m.qdot(), qddot_);
    out.put(m.tau());
    m.idyn_passive(qdot_r_, qddot_r_, gacc_);
    out.put(m.tau());
    m.idyn_passive(qdot_r_, qddot_r_);
    out.put(m.tau());
    m.idyn_gravity(gacc_);
    out.put(m.tau());
    m.idyn_momentum(qddot_);
    out.put(m.tau());

    DynamicAnalysisXD<N>::JointDynamics(m, M_, C_, G_, gacc_);
    out.put(M_);
    out.put(C_);
    out.put(G_);
    DynamicAnalysisXD<N>::MassMatrix(m, M_);
    out.put(M_);

    osc_.compute(m, gacc_);
    out.put(osc_.taskInertia());
    out.put(osc_.nullSpace());
    osc_.torque(aTask_, tau_applied_, tau_osc_);
    out.put(tau_osc_);

    DynamicAnalysisXD<N>::InertialParameters(m, pi_);
    out.put(pi_);
    DynamicAnalysisXD<N>::SetInertialParameters(m, pi_);
    DynamicAnalysisXD<N>::Regressor(m, qddot_, gacc_, Y_);
    out.put(Y_);
    DynamicAnalysisXD<N>::PassiveRegressor(m, qdot_r_, qddot_r_, gacc_, Y_);
    out.put(Y_);

    typedef CentroidalXD<N> Centroidal;
    Centroidal::centerOfMass(m, c_, Jc_);
    out.put(c_);
    out.put(Jc_);
    out.put(Centroidal::centerOfMassVelocity(m));
    out.put(Centroidal::comBiasAcceleration(m));
    out.put(Centroidal::centroidalMomentum(m));
    Centroidal::centroidalMatrix(m, A_);
    out.put(A_);
    out.put(Centroidal::momentumBias(m));
    out.put(Centroidal::centroidalInertia(m));
    out.put(Centroidal::kineticEnergy(m));
    out.put(Centroidal::potentialEnergy(m, gacc_));

    m.tau() = tau_applied_;
    observer_[0].estimate(m, tau_ext_, gacc_);
    out.put(tau_ext_);
    observer_[1].estimate(m, tau_ext_);
    out.put(tau_ext_);

    const Rotation R(m.T().R());
    const Vector3D w(m.V().w());
    const HTransform& T = m.T();
    const Twist& V = m.V();
    for (int mode = 0; mode < 2; ++mode) {
      RotationController& rc = rot_[mode];
      rc.refAcceleration(R, w, Rd_, wd_, wdotd_, v3_[0], v3_[1], v3_[2], v3_[3]);
      rc.refImpedanceAcceleration(R, w, Rd_, wd_, wdotd_, n_, nd_, v3_[4], v3_[5], v3_[6], v3_[7],
                                  v3_[8]);
      rc.refComplianceForce(R, w, Rd_, wd_, wdotd_, n_, nd_, v3_[9], v3_[10], v3_[11], v3_[12]);
      for (const auto& v : v3_) out.put(v);
      out.put(rc.refForce());
      out.put(rc.int_error());
      out.put(rc.int_ef());

      HTransformController& tc = tf_[mode];
      tc.refAcceleration(T, V, Td_, Vd_, Vdotd_, v6_[0], v6_[1], v6_[2], v6_[3]);
      tc.refImpedanceAcceleration(T, V, Td_, Vd_, Vdotd_, F_, Fd_, v6_[4], v6_[5], v6_[6], v6_[7],
                                  v6_[8]);
      tc.refComplianceForce(T, V, Td_, Vd_, Vdotd_, F_, Fd_, v6_[9], v6_[10], v6_[11], v6_[12]);
      for (const auto& v : v6_) out.put(v);
      out.put(tc.refForce());
      out.put(tc.stiffness());
      out.put(tc.damping());
    }
  }

 private:
  template <typename Ctrl>
  void configure(Ctrl& c, bool passive) {
    c.setPeriod(1e-3);
    c.setPosGain(25.0);
    c.setVelGain(10.0);
    c.setIntGain(1.0);
    c.setInvL2sqr(2.0);
    c.setForceGain(0.5);
    c.setPassivityBased(passive);
  }

  RandomRobot<N> robot_;
  MomentumObserverXD<N> observer_[2];
  RotationController rot_[2];
  HTransformController tf_[2];

  OperationalSpaceXD<N> osc_;
  typename OperationalSpaceXD<N>::TaskVector aTask_;
  JointVec q0_, qdot0_, qddot_, qdot_r_, qddot_r_, tau_applied_, G_, tau_ext_, tau_osc_;
  JointMat M_, C_;
  typename DynamicAnalysisXD<N>::ParamVec pi_;
  typename DynamicAnalysisXD<N>::RegressorMat Y_;
  Displacement c_;
  typename CentroidalXD<N>::ComJac Jc_;
  typename Model::JointJac A_;
  Vector3D gacc_;
  Rotation Rd_;
  Vector3D wd_, wdotd_, n_, nd_;
  HTransform Td_;
  Twist Vd_, Vdotd_;
  Wrench F_, Fd_;
  RotationController::TaskVec v3_[13];
  HTransformController::TaskVec v6_[13];

 public:
  ZORVIK_MAKE_ALIGNED_OPERATOR_NEW
};

}  // namespace zorvik_test

#endif
