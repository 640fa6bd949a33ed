// The size-independent face of a URDF robot for the Python module. The module's binding code is
// written once against RobotModel and ObserverModel; RobotModelImpl.h implements them over
// URDF::Robot<N> and MomentumObserverXD<N>, instantiated once per supported N in a few thin
// translation units, so that adding a size costs the model's own code and nothing of pybind11.
//
// Every array crosses this interface as a pointer to doubles in C order (row-major), the layout of
// a contiguous numpy array: a vector of N, a (6, N) Jacobian, an (N, N) matrix, a (4, 4) pose. The
// implementations never check sizes or indices: the binding does, before the call.
#ifndef ZORVIK_PYTHON_ROBOTMODEL_H_
#define ZORVIK_PYTHON_ROBOTMODEL_H_

#include <AMBS/Body>
#include <AMBS/Joint>
#include <Vexo/InverseKinematicsXD>
#include <ZorvikURDF/RobotDescription>

#include <limits>
#include <memory>
#include <vector>

namespace zorvik_python {

using ZorvikFoundation::URDF::RobotDescription;

// Inverse-kinematics settings and result (see <Vexo/InverseKinematicsXD>), with the library's
// defaults.
struct IkOptions {
  typedef ZorvikFoundation::VexoSDK::IKDefaults Defaults;
  double positionTolerance = Defaults::positionTolerance;
  double rotationTolerance = Defaults::rotationTolerance;
  int maxIterations = Defaults::maxIterations;
  int restarts = Defaults::restarts;
  double positionWeight = Defaults::positionWeight;
  double rotationWeight = Defaults::rotationWeight;
  unsigned long long seed = Defaults::seed;
  int iterationBudget = std::numeric_limits<int>::max();
  ZorvikFoundation::VexoSDK::IKStopTest stopTest = nullptr;
  void* stopContext = nullptr;
};

struct IkOutcome {
  bool converged;
  int iterations;
  double positionError;
  double rotationError;
  bool stopped;
};

class ObserverModel;
class OperationalSpaceModel;

class RobotModel {
 public:
  virtual ~RobotModel() = default;

  // The robot's coordinates, and the compiled size of the model that holds it (n() or more: a
  // padded model, see RobotModelImpl.h).
  virtual int n() const = 0;
  virtual int modelSize() const = 0;
  virtual const RobotDescription& description() const = 0;
  // A new, independent model of the same description (for a batch worker).
  virtual std::unique_ptr<RobotModel> rebuild() const = 0;

  // The model's own state vectors (N doubles each), read and written in place.
  virtual double* q() = 0;
  virtual double* qdot() = 0;
  virtual double* qddot() = 0;
  virtual double* tau() = 0;

  // A floating base: the base joint's pose (4x4) and twist (6) are the client's to write, and the
  // base acceleration (6, base frame) is an input of the floating-base inverse dynamics and an
  // output of the floating-base forward dynamics.
  virtual bool floatingBase() const = 0;
  virtual void basePose(double* T) const = 0;
  virtual void setBasePose(const double* T) = 0;
  virtual void baseTwist(double* V) const = 0;
  virtual void setBaseTwist(const double* V) = 0;
  virtual void baseAcceleration(double* Vdot) const = 0;

  virtual void update(bool posOnly) = 0;
  virtual void updateJacobian(bool posOnly) = 0;

  // Body k (0 .. N): pose, twist, body Jacobian and its derivative, acceleration J qddot + Jdot qdot.
  virtual void pose(int k, double* T) const = 0;
  virtual void twist(int k, double* V) const = 0;
  virtual void jacobian(int k, double* J) const = 0;
  virtual void jacobianDot(int k, double* Jdot) const = 0;
  virtual void acceleration(int k, double* Vdot) const = 0;

  // Frame f of the description; convention 0 body, 1 world-aligned, 2 spatial.
  virtual void framePose(int f, double* T) const = 0;
  virtual void frameTwist(int f, double* V) const = 0;
  virtual void frameAcceleration(int f, double* Vdot) const = 0;
  virtual void frameJacobian(int f, int convention, double* J) const = 0;
  virtual void frameJacobianDot(int f, int convention, double* Jdot) const = 0;

  // The idyn family into tau(). gravity may be null (the overloads without gravity); a non-null
  // baseAcc selects the floating-base form, with the stored base twist.
  virtual void idyn(const double* qdot, const double* qddot, const double* gravity,
                    const double* baseAcc) = 0;
  virtual void idynPassive(const double* qdotRef, const double* qddotRef, const double* gravity,
                           const double* baseAcc) = 0;
  virtual void idynGravity(const double* gravity) = 0;
  virtual void idynMomentum(const double* qddot, const double* baseAcc) = 0;
  // Forward dynamics into qddot() (and, on a floating base, baseAcceleration()).
  virtual void fdyn(const double* tau, const double* gravity) = 0;

  // gravity as in idynGravity (never null here).
  virtual void jointDynamics(const double* gravity, double* M, double* C, double* G) = 0;
  virtual void massInverse(double* Minv) = 0;
  virtual void massMatrix(double* M) const = 0;

  // The derivatives of the inverse and forward dynamics, when the library provides them.
  virtual bool hasDerivatives() const = 0;
  virtual void idynDerivatives(const double* qddot, const double* gravity, double* dtau_dq,
                               double* dtau_dqdot) = 0;
  virtual void fdynDerivatives(const double* tau, const double* gravity, double* dqddot_dq,
                               double* dqddot_dqdot, double* Minv) = 0;

  // The bodies' inertial parameters (10 N, bodies 1..N), the regressors (N x 10 N, fixed base;
  // gravity never null) and the base parameters of <Vexo/BaseParametersXD>: the kept columns and
  // the regrouping matrix (count x 10 N, row-major).
  virtual void inertialParameters(double* pi) const = 0;
  virtual void setInertialParameters(const double* pi) = 0;
  virtual void regressor(const double* qddot, const double* gravity, double* Y) = 0;
  virtual void passiveRegressor(const double* qdotRef, const double* qddotRef,
                                const double* gravity, double* Y) = 0;
  virtual void baseParameters(const double* gravity, std::vector<int>& kept,
                              std::vector<double>& regrouping) = 0;

  // Coordinates qOut that put frame f at T_target, from qSeed, within the URDF position limits.
  virtual IkOutcome inverseKinematics(int f, const double* T_target, const double* qSeed,
                                      const IkOptions& options, double* qOut) = 0;

  virtual std::unique_ptr<ObserverModel> makeObserver() const = 0;
  // OperationalSpaceXD<n()>, without tasks.
  virtual std::unique_ptr<OperationalSpaceModel> makeOperationalSpace() const = 0;

  // The model's own bodies (0..n), joints (0..n) and the limits of coordinate i, for reading and
  // changing their parameters through their own setters (RobotQueries.cpp).
  virtual ZorvikFoundation::Body& body(int k) = 0;
  virtual ZorvikFoundation::Joint& joint(int k) = 0;
  virtual const ZorvikFoundation::JointLimit<1>& limit(int i) const = 0;

  // <Vexo/CentroidalXD>. root: the subtree (0: the system). The Jacobian and the centroidal
  // matrix are (3, n) and (6, n), or on a floating base (3, 6 + n) and (6, 6 + n) with the base
  // twist's columns first.
  virtual double mass(int root) const = 0;
  virtual void centerOfMass(int root, double* c, double* Jc) const = 0;
  virtual void centerOfMassVelocity(int root, double* v) const = 0;
  virtual void comBiasAcceleration(int root, double* a) const = 0;
  virtual void centroidalMomentum(double* h) const = 0;
  virtual void centroidalMatrix(double* A) const = 0;
  virtual void momentumBias(double* hdot) const = 0;
  virtual void centroidalInertia(double* I) const = 0;
  virtual double kineticEnergy() const = 0;
  virtual double potentialEnergy(const double* gravity) const = 0;
  // URDF::Robot::withinLimits (clamp false: x unchanged; returns 0 when within, else 1) or
  // clampToLimits (returns how many were outside); kind 0 position, 1 velocity, 2 effort.
  virtual int limits(int kind, bool clamp, double* x, int* side) const = 0;
};

// The generalized-momentum observer of one size.
class ObserverModel {
 public:
  virtual ~ObserverModel() = default;
  virtual int n() const = 0;
  virtual int modelSize() const = 0;
  virtual void setPeriod(double h) = 0;
  virtual void setGain(const double* L) = 0;
  // robot.n() == n() and robot.modelSize() == modelSize() (the binding sees to it); gravity may be
  // null.
  virtual void estimate(RobotModel& robot, const double* gravity, double* tauExt) = 0;
};

// Factories of one compiled size N, for robots of at most N coordinates (n for the observer),
// defined in the size units.
template <int N>
std::unique_ptr<RobotModel> makeRobotModel(const RobotDescription& description);
template <int N>
std::unique_ptr<ObserverModel> makeObserverModel(int n);
template <int N>
bool sizeHasDerivatives();

struct SizeEntry {
  int n;
  std::unique_ptr<RobotModel> (*robot)(const RobotDescription&);
  std::unique_ptr<ObserverModel> (*observer)(int n);
  bool (*derivatives)();
};

// The compiled sizes, in increasing order (generated with the module's size list). A robot takes
// the smallest that holds it.
const std::vector<SizeEntry>& compiledSizes();

}  // namespace zorvik_python

#endif  // ZORVIK_PYTHON_ROBOTMODEL_H_
