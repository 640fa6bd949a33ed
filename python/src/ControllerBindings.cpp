// RotationController and HTransformController: one binding written over the controller type, the
// pose, velocity and force types coming from the controller (Rotation, Vector3D, Vector3D for
// SO(3); HTransform, Twist, Wrench for SE(3)). Each operation is bound in its long form, which
// returns every output; the short forms of the library return leading parts of the same outputs
// and change the state the same way.
#include <Controller/HTransformController>
#include <Controller/RotationController>

#include <deque>
#include <string>
#include <vector>

#include "Bindings.h"
#include "LieTypes.h"

namespace zorvik_python {

namespace {

using ZorvikFoundation::HTransformController;
using ZorvikFoundation::RotationController;

template <typename Ctrl>
void setGain(Ctrl& c, void (Ctrl::Base::*set)(const typename Ctrl::TaskVec&), py::handle value,
             const char* name) {
  const std::vector<double> g = asGain(value, name, Ctrl::DIM);
  (c.*set)(Eigen::Map<const typename Ctrl::TaskVec>(g.data()));
}

template <typename Ctrl>
void bindController(py::module_& m, const char* name, const char* doc, const char* x,
                    const char* v, const char* f) {
  typedef typename Ctrl::PosType Pos;
  typedef typename Ctrl::VelType Vel;
  typedef typename Ctrl::AccType Acc;
  typedef typename Ctrl::ForceType Force;
  typedef typename Ctrl::TaskVec TaskVec;
  typedef typename Ctrl::Base Base;
  const std::string xd = std::string(x) + "d", vd = std::string(v) + "d",
                    ad = std::string(v) + "dotd", fd = std::string(f) + "d";
  // The argument names stay alive in the strings above for the bound functions' messages.
  static std::deque<std::string> names;
  names.insert(names.end(), {x, v, xd, vd, ad, f, fd});
  const char* nx = names[names.size() - 7].c_str();
  const char* nv = names[names.size() - 6].c_str();
  const char* nxd = names[names.size() - 5].c_str();
  const char* nvd = names[names.size() - 4].c_str();
  const char* nad = names[names.size() - 3].c_str();
  const char* nf = names[names.size() - 2].c_str();
  const char* nfd = names[names.size() - 1].c_str();

  py::class_<Ctrl> c(m, name, doc);
  c.def(py::init([](double period, py::handle kp, py::handle kv, py::handle ki,
                    py::handle inv_l2sqr, py::handle kf, py::handle kfi, bool passivity_based) {
          Ctrl ctrl;
          ctrl.setPeriod(asPeriod(period, "period", true));
          setGain(ctrl, &Base::setPosGain, kp, "kp");
          setGain(ctrl, &Base::setVelGain, kv, "kv");
          setGain(ctrl, &Base::setIntGain, ki, "ki");
          setGain(ctrl, &Base::setInvL2sqr, inv_l2sqr, "inv_l2sqr");
          setGain(ctrl, &Base::setForceGain, kf, "kf");
          setGain(ctrl, &Base::setForceIntGain, kfi, "kfi");
          ctrl.setPassivityBased(passivity_based);
          return ctrl;
        }),
        py::arg("period") = 0.0, py::arg("kp") = 0.0, py::arg("kv") = 0.0, py::arg("ki") = 0.0,
        py::arg("inv_l2sqr") = 0.0, py::arg("kf") = 0.0, py::arg("kfi") = 0.0,
        py::arg("passivity_based") = false,
        "Gains are finite scalars (every axis) or one entry per task coordinate; period in s, "
        "finite and >= 0 (the step of the integrals). Poses must be rotations / rigid transforms "
        "(R^T R = I to 1e-6, det R > 0, last row (0, 0, 0, 1)); anything else is a ValueError.");

  struct Gain {
    const char* name;
    const TaskVec& (Base::*get)() const;
    void (Base::*set)(const TaskVec&);
    const char* doc;
  };
  static const Gain gains[] = {
      {"kp", &Base::kp, &Base::setPosGain, "Gain on the error (acceleration level) or its integral."},
      {"kv", &Base::kv, &Base::setVelGain, "Gain on the error rate (or the error, velocity level)."},
      {"ki", &Base::ki, &Base::setIntGain, "Integral gain: held and reported only."},
      {"inv_l2sqr", &Base::invL2sqr, &Base::setInvL2sqr,
       "Weights of the passivity-based correction in ref_force."},
      {"kf", &Base::kf, &Base::setForceGain, "Force gain of the impedance law."},
      {"kfi", &Base::kfi, &Base::setForceIntGain, "Force integral gain: held and reported only."},
  };
  for (const Gain& g : gains) {
    auto get = g.get;
    auto set = g.set;
    const char* gname = g.name;
    c.def_property(
        gname, [get](const Ctrl& self) { return toArray((self.*get)()); },
        [set, gname](Ctrl& self, py::handle value) { setGain(self, set, value, gname); }, g.doc);
  }
  c.def(
       "set_period", [](Ctrl& self, double h) { self.setPeriod(asPeriod(h, "period", true)); },
       py::arg("period"), "Control period in s (finite, >= 0): the step of the integrals.")
      .def_property(
          "passivity_based", [](const Ctrl& self) { return self.getPassivityBased(); },
          [](Ctrl& self, bool on) { self.setPassivityBased(on); },
          "Whether the passivity-based variant of the laws is on.")
      .def_property_readonly("int_error", [](const Ctrl& s) { return toArray(s.int_error()); },
                             "Integral of the error coordinates.")
      .def_property_readonly("int_ef", [](const Ctrl& s) { return toArray(s.int_ef()); },
                             "Integral of the force error in error coordinates.")
      .def_property_readonly("stiffness", [](const Ctrl& s) { return toArray(s.stiffness()); },
                             "Kp of the last ref_compliance_force.")
      .def_property_readonly("damping", [](const Ctrl& s) { return toArray(s.damping()); },
                             "Kv of the last ref_compliance_force.")
      .def_property_readonly("mass", [](const Ctrl& s) { return toArray(s.mass()); },
                             "Held and reported only (zero).")
      .def_property_readonly("ref_force", [](const Ctrl& s) { return toArray(s.refForce()); },
                             "The last reference force (see each operation).")
      .def(
          "reset_int_error", [](Ctrl& self) { self.resetIntError(); }, "Clears both integrals.")
      .def(
          "set_impedance_dir",
          [](Ctrl& self, int axis, double value) {
            if (axis < 0 || axis >= Ctrl::DIM)
              throw py::index_error("argument 'axis' must be in 0.." + std::to_string(Ctrl::DIM - 1) +
                                    ", got " + std::to_string(axis));
            self.setImpedanceDir(axis, value);
          },
          py::arg("axis"), py::arg("value"), "One entry of the impedance direction (held only).")
      .def(
          "error",
          [nx, nxd](const Ctrl& self, py::handle x, py::handle xd) {
            TaskVec e;
            self.error(from<Pos>(x, nx), from<Pos>(xd, nxd), e);
            return toArray(e);
          },
          py::arg(nx), py::arg(nxd), "The error coordinates log(x^-1 xd); no state changes.")
      .def(
          "error",
          [nx, nv, nxd, nvd](const Ctrl& self, py::handle x, py::handle v, py::handle xd,
                             py::handle vd) {
            TaskVec e, edot;
            self.error(from<Pos>(x, nx), from<Vel>(v, nv), from<Pos>(xd, nxd), from<Vel>(vd, nvd),
                       e, edot);
            return py::make_tuple(toArray(e), toArray(edot));
          },
          py::arg(nx), py::arg(nv), py::arg(nxd), py::arg(nvd),
          "(e, edot): the error coordinates and their rate; no state changes.")
      .def(
          "ref_velocity",
          [nx, nxd, nvd](Ctrl& self, py::handle x, py::handle xd, py::handle vd) {
            TaskVec vref, e;
            self.refVelocity(from<Pos>(x, nx), from<Pos>(xd, nxd), from<Vel>(vd, nvd), vref, e);
            return py::make_tuple(toArray(vref), toArray(e));
          },
          py::arg(nx), py::arg(nxd), py::arg(nvd),
          "(vref, e): the reference velocity in the measured frame for edot = -kv e - kp int(e); "
          "then int_error += period e.")
      .def(
          "ref_acceleration",
          [nx, nv, nxd, nvd, nad](Ctrl& self, py::handle x, py::handle v, py::handle xd,
                                  py::handle vd, py::handle a) {
            TaskVec vref, aref, e, edot;
            self.refAcceleration(from<Pos>(x, nx), from<Vel>(v, nv), from<Pos>(xd, nxd),
                                 from<Vel>(vd, nvd), from<Acc>(a, nad), vref, aref, e, edot);
            return py::make_tuple(toArray(vref), toArray(aref), toArray(e), toArray(edot));
          },
          py::arg(nx), py::arg(nv), py::arg(nxd), py::arg(nvd), py::arg(nad),
          "(vref, aref, e, edot): reference velocity and acceleration in the measured frame for "
          "eddot = -kv edot - kp e (passivity-based: aref = d/dt vref and ref_force set); then "
          "int_error += period e.")
      .def(
          "ref_impedance_acceleration",
          [nx, nv, nxd, nvd, nad, nf, nfd](Ctrl& self, py::handle x, py::handle v, py::handle xd,
                                           py::handle vd, py::handle a, py::handle f,
                                           py::handle fd) {
            TaskVec vref, aref, e, edot, ef;
            self.refImpedanceAcceleration(from<Pos>(x, nx), from<Vel>(v, nv), from<Pos>(xd, nxd),
                                          from<Vel>(vd, nvd), from<Acc>(a, nad),
                                          from<Force>(f, nf), from<Force>(fd, nfd), vref, aref, e,
                                          edot, ef);
            return py::make_tuple(toArray(vref), toArray(aref), toArray(e), toArray(edot),
                                  toArray(ef));
          },
          py::arg(nx), py::arg(nv), py::arg(nxd), py::arg(nvd), py::arg(nad), py::arg(nf),
          py::arg(nfd),
          "(vref, aref, e, edot, ef): the impedance law driven by the force error ef (error "
          "coordinates); ref_force = -f (plus the passivity-based correction); both integrals "
          "advance.")
      .def(
          "ref_compliance_force",
          [nx, nv, nxd, nvd, nad, nf, nfd](Ctrl& self, py::handle x, py::handle v, py::handle xd,
                                           py::handle vd, py::handle a, py::handle f,
                                           py::handle fd) {
            Force fref;
            TaskVec e, edot, ef;
            self.refComplianceForce(from<Pos>(x, nx), from<Vel>(v, nv), from<Pos>(xd, nxd),
                                    from<Vel>(vd, nvd), from<Acc>(a, nad), from<Force>(f, nf),
                                    from<Force>(fd, nfd), fref, e, edot, ef);
            return py::make_tuple(toArray(fref), toArray(e), toArray(edot), toArray(ef));
          },
          py::arg(nx), py::arg(nv), py::arg(nxd), py::arg(nvd), py::arg(nad), py::arg(nf),
          py::arg(nfd),
          "(fref, e, edot, ef): the compliance law's reference force in the measured frame; "
          "stiffness = Kp, damping = Kv, ref_force = fref - f.");
}

}  // namespace

void bindControllers(py::module_& m) {
  bindController<RotationController>(
      m, "RotationController",
      "Orientation controller on SO(3). Poses R, Rd (3, 3) in a common reference frame; angular "
      "velocities w, wd (3,) each in its own frame; desired angular acceleration wdotd in the "
      "frame of Rd; measured moment n in the frame of R, desired nd in the frame of Rd. Error "
      "coordinates xi = log(R^T Rd); outputs in the frame of R.",
      "R", "w", "n");
  bindController<HTransformController>(
      m, "HTransformController",
      "Pose controller on SE(3). Poses T, Td (4, 4) in a common reference frame; body twists V, "
      "Vd (6,) (v, w) each in its own frame; desired twist acceleration Vdotd in the frame of Td; "
      "measured wrench F in the frame of T, desired Fd in the frame of Td, (f, n). Error "
      "coordinates lambda = log(T^-1 Td) (translation first); outputs in the frame of T.",
      "T", "V", "F");
}

}  // namespace zorvik_python
