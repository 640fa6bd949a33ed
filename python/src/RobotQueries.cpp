// The robot's centre of mass, centroidal momentum and energies (<Vexo/CentroidalXD>), its bodies'
// mass properties, its joints' damping, friction and limits, external wrenches on its bodies, and
// joint-limit checks, as methods of zorvik.Robot.
//
// Mass properties are read from and written to the model's own Body objects through Body and
// Inertia's setters, so that the cached spatial inertia is rebuilt; a body is the lumped mass of
// the links merged into it (robot.body_names names its frame's link).
#include <pybind11/stl.h>

#include <array>
#include <cmath>
#include <string>

#include "Arrays.h"
#include "Bindings.h"
#include "LieTypes.h"
#include "PyRobot.h"

namespace zorvik_python {

namespace {

using namespace ZorvikFoundation;

py::array_t<double> vectorOf(const double* data, py::ssize_t n) {
  py::array_t<double> out = newArray({n});
  std::copy(data, data + n, out.mutable_data());
  return out;
}

// Columns of the Jacobians and the centroidal matrix: the joint rates, after the base twist's six
// on a floating base.
py::ssize_t rateColumns(PyRobot& r) { return r.n() + (r.model->floatingBase() ? 6 : 0); }

void requireFinite(const Array& a, const char* name) {
  for (py::ssize_t i = 0; i < a.size(); ++i)
    if (!std::isfinite(a.data()[i]))
      throw py::value_error("argument '" + std::string(name) + "' must be finite");
}

// A (3, 3) rotational inertia, checked finite and symmetric, in Inertia's storage order
// (Ixx, Iyy, Izz, Ixy, Iyz, Izx).
std::array<double, 6> storedInertia(py::handle inertia, const char* name) {
  const Array a = asArray(inertia, name, {3, 3});
  requireFinite(a, name);
  const double* d = a.data();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < i; ++j)
      if (std::abs(d[3 * i + j] - d[3 * j + i]) > 1e-12 * (1 + std::abs(d[3 * i + j])))
        throw py::value_error("argument '" + std::string(name) + "' must be symmetric");
  return {d[0], d[4], d[8], d[1], d[5], d[2]};
}

// Writes body k's mass properties to the model and its workers, kept as the body's edit. The edit
// holds the values, not an Inertia: its caches are filled only when used.
void keepInertia(PyRobot& r, int k, const Inertia& I) {
  std::array<double, 10> v = {I.m(), I.com()[0], I.com()[1], I.com()[2]};
  std::copy(I.inertia(), I.inertia() + 6, v.begin() + 4);
  r.edit(editKey("inertia", k), [k, v](RobotModel& model) {
    model.body(k).setInertia(Inertia(v[0], v.data() + 1, v.data() + 4));
  });
}

// A payload's body and its pose there. `body` is a body index (0..n), the load frame's pose given
// in the body's frame, or a link name, the pose given in the link's frame: a link merged into its
// body sits at the fixed offset T_body_link, so T_body_load = T_body_link T_link_load.
struct PayloadPlace {
  int k;
  HTransform T_body_load;
};

PayloadPlace payloadPlace(PyRobot& r, py::handle body, py::handle pose) {
  HTransform T_link_load;
  if (!pose.is_none()) {
    requireFinite(asArray(pose, "pose", {4, 4}), "pose");
    T_link_load = from<HTransform>(pose, "pose");
  }
  if (py::isinstance<py::str>(body)) {
    const std::string link = body.cast<std::string>();
    const RobotDescription& d = r.model->description();
    const int f = d.frameIndex(link);
    if (f < 0)
      throw py::value_error("argument 'body': robot '" + d.robotName() + "' has no link '" + link +
                            "' (robot.frame_names lists them)");
    const auto& frame = d.frames()[static_cast<std::size_t>(f)];
    return {frame.body, HTransform(frame.offset * T_link_load)};
  }
  if (!PyLong_Check(body.ptr()))
    throw py::type_error("argument 'body' must be a body index (int) or a link name (str)");
  return {bodyIndex(r, body.cast<int>(), "body"), T_link_load};
}

// The load's own mass properties: mass, centre of mass and inertia about it in the load frame.
Inertia payloadInertia(py::handle mass, py::handle com, py::handle inertia) {
  const double m = mass.cast<double>();
  if (!std::isfinite(m) || m < 0) throw py::value_error("argument 'mass' must be finite and >= 0");
  const Array c = asArray(com, "com", {3});
  requireFinite(c, "com");
  std::array<double, 6> I = {0, 0, 0, 0, 0, 0};
  if (!inertia.is_none()) I = storedInertia(inertia, "inertia");
  return Inertia(m, c.data(), I.data());
}

int limitKindOf(const std::string& kind) {
  if (kind == "position") return static_cast<int>(URDF::LimitKind::Position);
  if (kind == "velocity") return static_cast<int>(URDF::LimitKind::Velocity);
  if (kind == "effort") return static_cast<int>(URDF::LimitKind::Effort);
  throw py::value_error("argument 'kind' must be 'position', 'velocity' or 'effort', got '" +
                        kind + "'");
}

// The joint that owns coordinate i (joint k carries body k).
Joint& coordinateJoint(RobotModel& m, int i) {
  return m.joint(m.description().joints()[static_cast<std::size_t>(i)].body);
}

// The Coulomb friction coefficient of coordinate i: zero without a friction model.
double frictionOf(RobotModel& m, int i) {
  const auto* f = dynamic_cast<const URDF::CoulombFriction*>(coordinateJoint(m, i).friction());
  return f ? f->coefficient() : 0.0;
}

void setDampingOf(Joint& j, double d) {
  switch (j.type()) {
    case REVOLUTE: static_cast<RevoluteJoint&>(j).setDamping(d); return;
    case PRISMATIC: static_cast<PrismaticJoint&>(j).setDamping(d); return;
    default: throw py::type_error("a joint of this kind has no damping to set");
  }
}

// A body by index (a wrench in its own frame) or a link by name or frame index (a wrench in the
// link's frame): the body and the frame's pose in the body's frame.
struct WrenchTarget {
  int body;
  HTransform T_body_frame;
};

WrenchTarget wrenchTarget(PyRobot& r, py::handle target) {
  if (py::isinstance<py::str>(target)) {
    const auto& frame = r.model->description().frames()[static_cast<std::size_t>(frameOf(r, target))];
    return WrenchTarget{frame.body, frame.offset};
  }
  if (!PyLong_Check(target.ptr()))
    throw py::type_error("argument 'target' must be a body index (int) or a link name (str)");
  return WrenchTarget{bodyIndex(r, target.cast<int>(), "target"), HTransform()};
}

// The key of the edit of one parameter of body or coordinate i; a key is no prefix of another.
const char* const kRootNote =
    "root: the subtree of body root (root and its descendants); 0, the default, is the system: "
    "bodies 1..n on a fixed base, 0..n on a floating base.";

}  // namespace

void bindRobotIntrospection(py::module_& m) {
  auto robot = py::reinterpret_borrow<py::class_<PyRobot>>(m.attr("Robot"));

  // Centre of mass, momentum, energies.
  robot
      .def(
          "mass", [](PyRobot& r, int root) { return r.model->mass(bodyIndex(r, root, "root")); },
          py::arg("root") = 0, (std::string("Mass of the bodies counted, kg. ") + kRootNote).c_str())
      .def(
          "center_of_mass",
          [](PyRobot& r, int root) {
            requireUpdate(r, false, "robot.center_of_mass");
            py::array_t<double> c = newArray({3});
            r.model->centerOfMass(bodyIndex(r, root, "root"), c.mutable_data(), nullptr);
            return c;
          },
          py::arg("root") = 0,
          (std::string("Centre of mass (3,) in the reference frame, after update(). ") + kRootNote)
              .c_str())
      .def(
          "center_of_mass_jacobian",
          [](PyRobot& r, int root) {
            requireUpdate(r, false, "robot.center_of_mass_jacobian");
            double c[3];
            py::array_t<double> J = newArray({3, rateColumns(r)});
            r.model->centerOfMass(bodyIndex(r, root, "root"), c, J.mutable_data());
            return J;
          },
          py::arg("root") = 0,
          (std::string("Jacobian of the centre of mass in reference axes, cdot = Jc qdot: (3, n), "
                       "or (3, 6 + n) on a floating base, the base twist's (base frame, linear "
                       "first) columns first. Needs update() only (not update_jacobian()). ") +
           kRootNote)
              .c_str())
      .def(
          "center_of_mass_velocity",
          [](PyRobot& r, int root) {
            requireUpdate(r, true, "robot.center_of_mass_velocity");
            py::array_t<double> v = newArray({3});
            r.model->centerOfMassVelocity(bodyIndex(r, root, "root"), v.mutable_data());
            return v;
          },
          py::arg("root") = 0,
          (std::string("Velocity (3,) of the centre of mass from the bodies' twists. ") + kRootNote)
              .c_str())
      .def(
          "com_bias_acceleration",
          [](PyRobot& r, int root) {
            requireUpdate(r, true, "robot.com_bias_acceleration");
            py::array_t<double> a = newArray({3});
            r.model->comBiasAcceleration(bodyIndex(r, root, "root"), a.mutable_data());
            return a;
          },
          py::arg("root") = 0,
          (std::string("Jcdot qdot (3,): the centre of mass's acceleration at zero joint (and "
                       "base) accelerations, without gravity. ") +
           kRootNote)
              .c_str())
      .def(
          "centroidal_momentum",
          [](PyRobot& r) {
            requireUpdate(r, true, "robot.centroidal_momentum");
            py::array_t<double> h = newArray({6});
            r.model->centroidalMomentum(h.mutable_data());
            return h;
          },
          "h (6,): linear momentum, then angular momentum about the centre of mass, reference "
          "axes, from the bodies' twists.")
      .def(
          "centroidal_matrix",
          [](PyRobot& r) {
            requireUpdate(r, false, "robot.centroidal_matrix");
            py::array_t<double> A = newArray({6, rateColumns(r)});
            r.model->centroidalMatrix(A.mutable_data());
            return A;
          },
          "The centroidal momentum matrix A, h = A qdot: (6, n), or (6, 6 + n) on a floating base "
          "with the base twist's columns first.")
      .def(
          "momentum_bias",
          [](PyRobot& r) {
            requireUpdate(r, true, "robot.momentum_bias");
            py::array_t<double> a = newArray({6});
            r.model->momentumBias(a.mutable_data());
            return a;
          },
          "Adot qdot (6,): the centroidal momentum's rate at zero joint (and base) accelerations.")
      .def(
          "centroidal_inertia",
          [](PyRobot& r) {
            requireUpdate(r, false, "robot.centroidal_inertia");
            py::array_t<double> I = newArray({6, 6});
            r.model->centroidalInertia(I.mutable_data());
            return I;
          },
          "The system's composite inertia (6, 6) at its centre of mass, reference axes: "
          "[[m 1, 0], [0, Ic]].")
      .def(
          "kinetic_energy",
          [](PyRobot& r) {
            requireUpdate(r, true, "robot.kinetic_energy");
            return r.model->kineticEnergy();
          },
          "Kinetic energy of the system, J, from the bodies' twists (1/2 qdot^T M qdot on a fixed "
          "base).")
      .def(
          "potential_energy",
          [](PyRobot& r, py::handle gravity) {
            requireUpdate(r, false, "robot.potential_energy");
            const Array g = asArray(gravity, "gravity", {3});
            return r.model->potentialEnergy(g.data());
          },
          py::arg("gravity"),
          "Potential energy of the system in gravity (the gravitational acceleration (3,), "
          "pointing down, reference frame), J: -m gravity . c, zero with the centre of mass at the "
          "reference origin.");

  // Bodies' mass properties.
  robot
      .def(
          "body_mass", [](PyRobot& r, int k) { return r.model->body(bodyIndex(r, k)).mass(); },
          py::arg("k"), "Mass of body k (0..n), kg.")
      .def(
          "body_com",
          [](PyRobot& r, int k) { return vectorOf(r.model->body(bodyIndex(r, k)).com(), 3); },
          py::arg("k"), "Centre of mass (3,) of body k in its own frame, m.")
      .def(
          "body_inertia",
          [](PyRobot& r, int k) {
            const Eigen::Matrix3d I = r.model->body(bodyIndex(r, k)).getInertia().comInertia();
            py::array_t<double> out = newArray({3, 3});
            for (int i = 0; i < 3; ++i)
              for (int j = 0; j < 3; ++j) out.mutable_data()[3 * i + j] = I(i, j);
            return out;
          },
          py::arg("k"),
          "Rotational inertia (3, 3) of body k about its centre of mass, in its frame's axes, "
          "kg m^2.")
      .def(
          "set_body_mass_properties",
          [](PyRobot& r, int k, py::handle mass, py::handle com, py::handle inertia) {
            bodyIndex(r, k);
            Inertia next = r.model->body(k).getInertia();
            if (!mass.is_none()) {
              const double m = mass.cast<double>();
              if (!std::isfinite(m) || m < 0)
                throw py::value_error("argument 'mass' must be finite and >= 0");
              next.mass(m);
            }
            if (!com.is_none()) {
              const Array a = asArray(com, "com", {3});
              requireFinite(a, "com");
              next.com(a.data()[0], a.data()[1], a.data()[2]);
            }
            if (!inertia.is_none()) {
              const std::array<double, 6> I = storedInertia(inertia, "inertia");
              next.inertia(I[0], I[1], I[2], I[3], I[4], I[5]);
            }
            keepInertia(r, k, next);
          },
          py::arg("k"), py::arg("mass") = py::none(), py::arg("com") = py::none(),
          py::arg("inertia") = py::none(),
          "Sets body k's mass (kg), centre of mass (3,) in its frame and rotational inertia (3, 3) "
          "about the centre of mass in its frame's axes; what is None keeps its value. The "
          "dynamics use the new values from the next call on.");

  // Payloads: a rigid load attached to a body adds its ten inertial parameters, carried into the
  // body's frame (Inertia::addInertia with the load frame's pose); taking it off subtracts them, so
  // a load added and removed with the same arguments leaves the body as it was, to rounding.
  struct PayloadOp {
    const char* name;
    bool remove;
    const char* doc;
  };
  static const PayloadOp payloadOps[] = {
      {"add_payload", false,
       "Attaches a rigid load to a body: its mass properties become the lumped body and load (the "
       "dynamics use them from the next call on). "},
      {"remove_payload", true,
       "Takes off a load that add_payload attached, given with the same arguments: its inertial "
       "parameters are subtracted from the body's. Raises ValueError if the load outweighs the "
       "body. "},
  };
  for (const PayloadOp& op : payloadOps) {
    const bool remove = op.remove;
    robot.def(
        op.name,
        [remove](PyRobot& r, py::handle body, py::handle mass, py::handle com, py::handle inertia,
                 py::handle pose) {
          const PayloadPlace place = payloadPlace(r, body, pose);
          const Inertia load = payloadInertia(mass, com, inertia);
          Inertia next = r.model->body(place.k).getInertia();
          if (!remove) {
            next.addInertia(load, place.T_body_load);
          } else {
            // A load heavier than the body was never on it (what is left would be a negative
            // mass); a body left with a microgram's rounding (Inertia::hasZeroMass) is massless.
            const double left = next.m() - load.m();
            if (left < -1e-9 * (1 + next.m()))
              throw py::value_error("argument 'mass': the load's " + std::to_string(load.m()) +
                                    " kg exceeds body " + std::to_string(place.k) + "'s " +
                                    std::to_string(next.m()) + " kg");
            if (left <= 1e-9 * (1 + next.m()))
              next.set(0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
            else
              next.removeInertia(load, place.T_body_load);
          }
          keepInertia(r, place.k, next);
        },
        py::arg("body"), py::arg("mass"), py::arg("com") = std::array<double, 3>{0, 0, 0},
        py::arg("inertia") = py::none(), py::arg("pose") = py::none(),
        (std::string(op.doc) +
         "body: a body index (0..n), or a link name (the pose is then in that link's frame); mass "
         "(kg); com (3,): the load's centre of mass in its own frame; inertia (3, 3): its "
         "rotational inertia about that centre of mass in its frame's axes, kg m^2 (None: a point "
         "mass); pose (4, 4): the rigid pose of the load frame in the body's (or link's) frame "
         "(None: identity).")
            .c_str());
  }

  // Joints: damping, friction, limits, names.
  robot
      .def_property(
          "joint_damping",
          [](PyRobot& r) {
            py::array_t<double> d = newArray({r.n()});
            for (int i = 0; i < r.n(); ++i)
              d.mutable_data()[i] = coordinateJoint(*r.model, i).damping()[0];
            return d;
          },
          [](PyRobot& r, py::handle value) {
            const Array a = asArray(value, "joint_damping", {r.n()});
            requireFinite(a, "joint_damping");
            for (int i = 0; i < r.n(); ++i) {
              const double d = a.data()[i];
              r.edit(editKey("damping", i),
                     [i, d](RobotModel& model) { setDampingOf(coordinateJoint(model, i), d); });
            }
          },
          "Viscous damping (n,) of each coordinate, N m s/rad or N s/m (URDF <dynamics damping>). "
          "A parameter for the client: the dynamics functions leave damping out.")
      .def_property(
          "joint_friction",
          [](PyRobot& r) {
            py::array_t<double> f = newArray({r.n()});
            for (int i = 0; i < r.n(); ++i) f.mutable_data()[i] = frictionOf(*r.model, i);
            return f;
          },
          [](PyRobot& r, py::handle value) {
            const Array a = asArray(value, "joint_friction", {r.n()});
            for (int i = 0; i < r.n(); ++i)
              if (!(a.data()[i] >= 0) || !std::isfinite(a.data()[i]))
                throw py::value_error("argument 'joint_friction' must be finite and >= 0");
            for (int i = 0; i < r.n(); ++i) {
              std::unique_ptr<URDF::CoulombFriction>& shared = r.frictions[i];
              if (shared) {
                shared->setCoefficient(a.data()[i]);
                continue;
              }
              shared.reset(new URDF::CoulombFriction(a.data()[i]));
              URDF::CoulombFriction* f = shared.get();
              r.edit(editKey("friction", i),
                     [i, f](RobotModel& model) { coordinateJoint(model, i).setFriction(f); });
            }
          },
          "Coulomb friction coefficient (n,) of each coordinate, N m or N (URDF <dynamics "
          "friction>; 0 without friction). A parameter for the client: the dynamics functions "
          "leave friction out.");
  struct LimitPair {
    const char* name;
    int kind;
    const char* doc;
  };
  static const LimitPair limitPairs[] = {
      {"velocity_limits", 1, "(lower, upper): the velocity limits per coordinate, rad/s or m/s."},
      {"effort_limits", 2, "(lower, upper): the effort limits per coordinate, N m or N."},
  };
  for (const LimitPair& l : limitPairs) {
    const int kind = l.kind;
    robot.def_property_readonly(
        l.name,
        [kind](PyRobot& r) {
          py::array_t<double> lower = newArray({r.n()}), upper = newArray({r.n()});
          for (int i = 0; i < r.n(); ++i) {
            const JointLimit<1>& lim = r.model->limit(i);
            lower.mutable_data()[i] = (kind == 1 ? lim.velLower() : lim.actLower())(0);
            upper.mutable_data()[i] = (kind == 1 ? lim.velUpper() : lim.actUpper())(0);
          }
          return py::make_tuple(lower, upper);
        },
        l.doc);
  }
  robot
      .def(
          "check_limits",
          [](PyRobot& r, py::handle x, const std::string& kind) {
            const Array a = asArray(x, "x", {r.n()});
            std::vector<double> v(a.data(), a.data() + r.n());
            py::array_t<int> side(r.n());
            const int outside = r.model->limits(limitKindOf(kind), false, v.data(), side.mutable_data());
            return py::make_tuple(outside == 0, side);
          },
          py::arg("x"), py::arg("kind") = "position",
          "(within, side): whether every entry of x (n,) lies within its coordinate's limits of "
          "the kind ('position', 'velocity' or 'effort'), bounds included, and per coordinate -1 "
          "at or below the lower bound, +1 at or above the upper, 0 between (a NaN is outside, "
          "with side 0).")
      .def(
          "clamp_to_limits",
          [](PyRobot& r, py::handle x, const std::string& kind) {
            const Array a = asArray(x, "x", {r.n()});
            py::array_t<double> out = vectorOf(a.data(), r.n());
            py::array_t<int> side(r.n());
            const int outside =
                r.model->limits(limitKindOf(kind), true, out.mutable_data(), side.mutable_data());
            return py::make_tuple(out, side, outside);
          },
          py::arg("x"), py::arg("kind") = "position",
          "(clamped, side, outside): x (n,) with every entry outside its limits of the kind moved "
          "onto the nearer bound (a NaN stays), which coordinates are at a bound (as in "
          "check_limits) and how many were outside.");

  // External wrenches.
  robot
      .def(
          "set_external_wrench",
          [](PyRobot& r, py::handle target, py::handle wrench) {
            const WrenchTarget t = wrenchTarget(r, target);
            const Array a = asArray(wrench, "wrench", {6});
            requireFinite(a, "wrench");
            const Wrench F = Eigen::Map<const Vector6d>(a.data());
            const int k = t.body;
            const HTransform T = t.T_body_frame;
            r.edit(editKey("wrench", k),
                   [k, F, T](RobotModel& model) { model.body(k).setExtWrench(F, T); });
          },
          py::arg("target"), py::arg("wrench"),
          "Sets the external wrench (6,) (force, then moment about the frame's origin) acting on "
          "a body: target a body index (the wrench in the body's frame) or a link name (the "
          "wrench in that link's frame, on the body the link is merged into). It replaces the "
          "body's previous one. idyn, fdyn and the observer take it into account; M, C and g do "
          "not.")
      .def(
          "external_wrench",
          [](PyRobot& r, int k) {
            const Body& b = r.model->body(bodyIndex(r, k));
            py::array_t<double> out = newArray({6});
            const Wrench F = b.hasNonzeroWrench() ? b.Fext() : Wrench();
            std::copy(F.data(), F.data() + 6, out.mutable_data());
            return out;
          },
          py::arg("k"), "The external wrench (6,) on body k, in its own frame.")
      .def(
          "clear_external_wrench",
          [](PyRobot& r, py::handle target) {
            if (target.is_none()) {
              r.forget("wrench:");
              r.edit("", [](RobotModel& model) {
                for (int k = 0; k <= model.n(); ++k) model.body(k).clearExtWrench();
              });
              return;
            }
            const int k = wrenchTarget(r, target).body;
            r.forget(editKey("wrench", k));
            r.edit("", [k](RobotModel& model) { model.body(k).clearExtWrench(); });
          },
          py::arg("target") = py::none(),
          "Removes the external wrench from a body (index or link name), or from every body "
          "(no argument).");
}

}  // namespace zorvik_python
