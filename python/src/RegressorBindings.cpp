// The dynamics as linear functions of the inertial parameters, on numpy arrays: the bodies'
// parameters of a Robot, its regressors, its base parameters, and the 6 x 10 wrench regressor of
// one rigid body (a payload). The methods are added to zorvik.Robot, which bindRobot defines.
#include <AMBS/Inertia>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "Arrays.h"
#include "Bindings.h"
#include "LieTypes.h"
#include "PyRobot.h"

namespace zorvik_python {

namespace {

const double kGravity[3] = {0, 0, -9.81};

void requireFixedBase(PyRobot& r, const char* what) {
  if (r.model->floatingBase())
    throw py::value_error(std::string(what) +
                          " needs a fixed base (this robot was loaded with "
                          "floating_base=True)");
}

// gravity (3,), or zero for None.
std::vector<double> gravityOrZero(py::handle gravity) {
  if (gravity.is_none()) return {0, 0, 0};
  const Array g = asArray(gravity, "gravity", {3});
  return {g.data()[0], g.data()[1], g.data()[2]};
}

// Every body's ten parameters must be finite, with a positive mass, or a zero mass and a zero
// first moment (a massless body): anything else has no centre of mass the model can hold.
void checkParameters(const Array& pi, int n) {
  const double* p = pi.data();
  for (int k = 0; k < n; ++k) {
    const double* b = p + 10 * k;
    for (int i = 0; i < 10; ++i)
      if (!std::isfinite(b[i]))
        throw py::value_error("argument 'pi': entry " + std::to_string(10 * k + i) + " (body " +
                              std::to_string(k + 1) + ") is not finite");
    const bool massless = b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 0;
    if (!(b[0] > 0) && !massless)
      throw py::value_error("argument 'pi': body " + std::to_string(k + 1) + " has mass " +
                            std::to_string(b[0]) + " at entry " + std::to_string(10 * k) +
                            "; a body needs a positive mass, or zero mass and zero first moment");
  }
}

// The result of BaseParametersXD for a Python caller.
struct PyBaseParameters {
  int n;
  std::vector<int> kept;
  std::vector<double> regrouping;  // count x 10 n, row-major

  int count() const { return static_cast<int>(kept.size()); }
};

const char* const kParameterOrder =
    "Body k's ten parameters (k = 1..n) are entries 10 (k - 1) .. 10 k - 1: (m, m cx, m cy, m cz, "
    "Ixx, Iyy, Izz, Ixy, Iyz, Izx) about the body frame's origin in its axes, I = Icom - m [c]^2.";

}  // namespace

void bindRegressors(py::module_& m) {
  auto robot = py::reinterpret_borrow<py::class_<PyRobot>>(m.attr("Robot"));
  robot
      .def(
          "inertial_parameters",
          [](PyRobot& r) {
            py::array_t<double> pi = newArray({10 * r.n()});
            r.model->inertialParameters(pi.mutable_data());
            return pi;
          },
          (std::string("pi (10 n,): the inertial parameters of bodies 1..n. ") + kParameterOrder)
              .c_str())
      .def(
          "set_inertial_parameters",
          [](PyRobot& r, py::handle pi) {
            const Array p = asArray(pi, "pi", {10 * r.n()});
            checkParameters(p, r.n());
            r.model->setInertialParameters(p.data());
            // Kept as each body's edit, as set_body_mass_properties keeps its own, so that the
            // batches' workers and the later edits of single bodies see them in order.
            for (int k = 1; k <= r.n(); ++k) {
              const ZorvikFoundation::Inertia& now = r.model->body(k).getInertia();
              std::array<double, 10> v = {now.m(), now.com()[0], now.com()[1], now.com()[2]};
              std::copy(now.inertia(), now.inertia() + 6, v.begin() + 4);
              r.edit(editKey("inertia", k), [k, v](RobotModel& model) {
                model.body(k).setInertia(ZorvikFoundation::Inertia(v[0], v.data() + 1, v.data() + 4));
              });
            }
          },
          py::arg("pi"),
          "Writes pi (10 n,) into the bodies' mass properties (inertial_parameters gives it "
          "back). Raises ValueError for a non-finite entry, or a body whose mass is not positive "
          "(zero mass is accepted with zero first moment: a massless body).")
      .def(
          "regressor",
          [](PyRobot& r, py::handle qddot, py::handle gravity) {
            requireFixedBase(r, "regressor");
            requireUpdate(r, true, "robot.regressor");
            const Array a = asArray(qddot, "qddot", {r.n()});
            const std::vector<double> g = gravityOrZero(gravity);
            py::array_t<double> Y = newArray({r.n(), 10 * r.n()});
            r.model->regressor(a.data(), g.data(), Y.mutable_data());
            return Y;
          },
          py::arg("qddot"), py::arg("gravity"),
          "Y (n, 10 n) with Y @ pi = idyn(qdot, qddot, gravity) for every pi, at the state of "
          "the last update() (qdot = robot.qdot): the torques are linear in the inertial "
          "parameters. Bodies' external wrenches are not part of it. gravity (3,) or None.")
      .def(
          "passive_regressor",
          [](PyRobot& r, py::handle qdot_r, py::handle qddot_r, py::handle gravity) {
            requireFixedBase(r, "passive_regressor");
            requireUpdate(r, true, "robot.passive_regressor");
            const Array v = asArray(qdot_r, "qdot_r", {r.n()});
            const Array a = asArray(qddot_r, "qddot_r", {r.n()});
            const std::vector<double> g = gravityOrZero(gravity);
            py::array_t<double> Y = newArray({r.n(), 10 * r.n()});
            r.model->passiveRegressor(v.data(), a.data(), g.data(), Y.mutable_data());
            return Y;
          },
          py::arg("qdot_r"), py::arg("qddot_r"), py::arg("gravity"),
          "Y (n, 10 n) with Y @ pi = idyn_passive(qdot_r, qddot_r, gravity) = M qddot_r + "
          "C(q, qdot) qdot_r + g for every pi (the Slotine-Li adaptive law's regressor), at the "
          "state of the last update().");

  py::class_<PyBaseParameters>(m, "BaseParameters", R"doc(
The base inertial parameters of a robot (zorvik.base_parameters): the smallest set of combinations
beta = P pi of the bodies' parameters that the joint torques depend on. Y @ pi = Y_base @ beta with
Y_base = Y[:, kept_columns]; each beta_i is the parameter of column kept_columns[i] plus the
parameters regrouped into it (row i of P).
)doc")
      .def_property_readonly("count", &PyBaseParameters::count, "b, the number of base parameters.")
      .def_property_readonly(
          "kept_columns",
          [](PyBaseParameters& b) {
            py::array_t<int> kept(static_cast<py::ssize_t>(b.kept.size()));
            std::copy(b.kept.begin(), b.kept.end(), kept.mutable_data());
            return kept;
          },
          "(b,) the columns of pi kept, increasing.")
      .def_property_readonly(
          "regrouping",
          [](PyBaseParameters& b) {
            py::array_t<double> P = newArray({b.count(), 10 * b.n});
            std::copy(b.regrouping.begin(), b.regrouping.end(), P.mutable_data());
            return P;
          },
          "P (b, 10 n): beta = P @ pi.")
      .def(
          "base_parameters",
          [](PyBaseParameters& b, py::handle pi) {
            const Array p = asArray(pi, "pi", {10 * b.n});
            py::array_t<double> beta = newArray({b.count()});
            for (int i = 0; i < b.count(); ++i) {
              double s = 0;
              for (int j = 0; j < 10 * b.n; ++j)
                s += b.regrouping[static_cast<std::size_t>(i * 10 * b.n + j)] * p.data()[j];
              beta.mutable_data()[i] = s;
            }
            return beta;
          },
          py::arg("pi"), "beta (b,) = P @ pi.")
      .def(
          "base_regressor",
          [](PyBaseParameters& b, py::handle Y) {
            const Array y = asArray(Y, "Y", {-1, 10 * b.n});
            const py::ssize_t rows = y.shape(0);
            py::array_t<double> Yb = newArray({rows, b.count()});
            for (py::ssize_t r = 0; r < rows; ++r)
              for (int i = 0; i < b.count(); ++i)
                Yb.mutable_data()[r * b.count() + i] =
                    y.data()[r * 10 * b.n + b.kept[static_cast<std::size_t>(i)]];
            return Yb;
          },
          py::arg("Y"),
          "Y_base (K, b): the kept columns of Y (K, 10 n), stacked regressors included.");

  m.def(
      "base_parameters",
      [](PyRobot& r, py::handle gravity) {
        requireFixedBase(r, "base_parameters");
        std::vector<double> g(kGravity, kGravity + 3);
        if (!gravity.is_none()) {
          const Array a = asArray(gravity, "gravity", {3});
          g.assign(a.data(), a.data() + 3);
        }
        PyBaseParameters b;
        b.n = r.n();
        r.model->baseParameters(g.data(), b.kept, b.regrouping);
        return b;
      },
      py::arg("robot"), py::arg("gravity") = py::none(),
      "The base parameters of a robot (a BaseParameters), found from its regressors at 100 random "
      "states (fixed seed) by a QR factorisation with column pivoting, pivots below 1e-9 of the "
      "largest counting as zero. gravity (3,), (0, 0, -9.81) by default: it changes what is "
      "identifiable. The robot's q and qdot are restored and the model updated with them.");

  m.def(
      "wrench_regressor",
      [](py::handle V, py::handle Vdot, py::handle gravity) {
        const LieGroup::Twist v = from<LieGroup::Twist>(V, "V"),
                              a = from<LieGroup::Twist>(Vdot, "Vdot");
        const std::vector<double> g = gravityOrZero(gravity);
        return toArray(
            ZorvikFoundation::Inertia::wrenchRegressor(v, a, LieGroup::Vector3D(g[0], g[1], g[2])));
      },
      py::arg("V"), py::arg("Vdot"), py::arg("gravity") = py::none(),
      "Y (6, 10) with Y @ pi = the wrench (force, moment about the frame origin, in the frame) a "
      "rigid body with parameters pi needs to move with twist V and twist rate Vdot (its own "
      "frame) against gravity (3,) given in that frame (None: none). For a payload at a wrist "
      "force-torque sensor: measured wrench = Y @ pi_load, linear in the load's parameters.");
}

}  // namespace zorvik_python
