"""Every bound function against the same call made from C++ (tests/python/reference): the module
must hand its arguments to the library and its results back without changing a bit."""

import numpy as np
import pytest

import zorvik
from conftest import G, hexline, random_pose, random_states, robot_path, run_reference


def assert_bits(expected, actual, what):
    expected = np.ravel(expected)
    actual = np.ravel(np.asarray(actual))
    assert expected.shape == actual.shape, what
    assert np.array_equal(expected.view(np.int64), actual.view(np.int64)), (
        f"{what}: {actual} != {expected}")


class Recorder:
    """The module's results by name, in the order the reference program prints them."""

    def __init__(self):
        self.results = {}

    def put(self, name, value):
        self.results.setdefault(name, []).append(np.ravel(np.asarray(value, dtype=float)))

    def compare(self, reference):
        assert set(self.results) == set(reference)
        for name, values in reference.items():
            assert len(values) == len(self.results[name]), name
            for i, (e, a) in enumerate(zip(values, self.results[name])):
                assert_bits(e, a, f"{name}[{i}]")


def record_kinematics(rec, robot, qddot):
    """Poses, twists, Jacobians and accelerations of every body and frame at the state in
    robot.q, robot.qdot (pose-only updates first, as the reference program does)."""
    n = robot.n
    robot.update(pos_only=True)
    for k in range(n + 1):
        rec.put("T_pos", robot.T(k))
    robot.update()
    robot.update_jacobian(pos_only=True)
    for k in range(n + 1):
        rec.put("J_pos", robot.J(k))
    robot.update_jacobian()
    robot.qddot = qddot
    for k in range(n + 1):
        for f in ("T", "V", "J", "Jdot", "Vdot"):
            rec.put(f, getattr(robot, f)(k))
    for link in robot.frame_names:
        rec.put("frame_pose", robot.frame_pose(link))
        rec.put("frame_twist", robot.frame_twist(link))
        rec.put("frame_acceleration", robot.frame_acceleration(link))
        for c in ("body", "world_aligned", "spatial"):
            rec.put("frame_jacobian_" + c, robot.frame_jacobian(link, c))
            rec.put("frame_jacobian_dot_" + c, robot.frame_jacobian_dot(link, c))


CASES = [
    ("panda_arm", {}, "panda_hand_tcp"),
    ("ur5_robot", {}, "tool0"),
    ("panda_on_gantry", {}, None),
    ("baxter_arms", {}, None),
    ("allegro_right_hand", {}, None),
]


@pytest.mark.parametrize("name,locked,ik_link", CASES, ids=[c[0] for c in CASES])
def test_robot_functions_match_library_bit_for_bit(tmp_path, name, locked, ik_link):
    robot = zorvik.load_urdf(robot_path(name), locked_joints=locked)
    n = robot.n
    rng = np.random.default_rng(11)
    states = random_states(rng, n, 3)
    args = ["robot", robot_path(name)] + (["ik", ik_link] if ik_link else [])
    reference = run_reference(tmp_path, args,
                              ["gravity " + hexline(G)] + ["state " + hexline(*s) for s in states])
    observer = zorvik.MomentumObserver(n, 1e-3, 50.0)
    rec = Recorder()
    for q, qdot, qddot, x in states:
        robot.q = q
        robot.qdot = qdot
        record_kinematics(rec, robot, qddot)
        rec.put("idyn", robot.idyn(qdot, qddot, G))
        rec.put("idyn_no_gravity", robot.idyn(qdot, qddot))
        rec.put("idyn_passive", robot.idyn_passive(x, qddot, G))
        rec.put("idyn_gravity", robot.idyn_gravity(G))
        rec.put("idyn_momentum", robot.idyn_momentum(qddot))
        rec.put("fdyn", robot.fdyn(x, G))
        rec.put("fdyn_no_gravity", robot.fdyn(x))
        M, C, Gq = robot.joint_dynamics(G)
        rec.put("M", M)
        rec.put("C", C)
        rec.put("G", Gq)
        rec.put("Minv", robot.mass_inverse())
        if zorvik.HAS_DERIVATIVES:
            for label, value in zip(("dtau_dq", "dtau_dqdot"), robot.idyn_derivatives(qddot, G)):
                rec.put(label, value)
            for label, value in zip(("dqddot_dq", "dqddot_dqdot", "fd_Minv"),
                                    robot.fdyn_derivatives(x, G)):
                rec.put(label, value)
        robot.tau = x
        rec.put("observer", observer.estimate(robot, G))
        if ik_link:
            target = robot.frame_pose(ik_link)
            q_ik, info = robot.inverse_kinematics(ik_link, target, q + 0.2)
            rec.put("ik_q", q_ik)
            rec.put("ik_converged", float(info["converged"]))
            rec.put("ik_iterations", float(info["iterations"]))
            # The defaults of both are the library's: the same count on an unreachable target.
            far = target.copy()
            far[:3, 3] += 2.0
            q_far, info = robot.inverse_kinematics(ik_link, far, q + 0.2)
            rec.put("ik_far_q", q_far)
            rec.put("ik_far_iterations", float(info["iterations"]))
    rec.compare(reference)


def test_floating_base_functions_match_library_bit_for_bit(tmp_path):
    robot = zorvik.load_urdf(robot_path("panda_arm"), floating_base=True)
    n = robot.n
    rng = np.random.default_rng(5)
    states = random_states(rng, n, 3)
    bases = [(random_pose(rng), rng.uniform(-1, 1, 6), rng.uniform(-1, 1, 6)) for _ in states]
    reference = run_reference(
        tmp_path, ["robot", robot_path("panda_arm"), "floating"],
        ["gravity " + hexline(G)] + ["state " + hexline(*s, *b) for s, b in zip(states, bases)])
    rec = Recorder()
    for (q, qdot, qddot, x), (T0, V0, A0) in zip(states, bases):
        robot.base_pose = T0
        robot.base_twist = V0
        robot.q = q
        robot.qdot = qdot
        record_kinematics(rec, robot, qddot)
        rec.put("idyn", robot.idyn(qdot, qddot, G, base_acc=A0))
        rec.put("idyn_passive", robot.idyn_passive(x, qddot, G, base_acc=A0))
        rec.put("idyn_momentum", robot.idyn_momentum(qddot, base_acc=A0))
        rec.put("fdyn", robot.fdyn(x, G))
        rec.put("base_acc", robot.base_acc)
    rec.compare(reference)


def test_lie_group_functions_match_library_bit_for_bit(tmp_path):
    rng = np.random.default_rng(3)
    cases = []
    for scale in (1.0, 1e-5, 3.0):    # generic, the small-angle branches, near a half turn
        w, u = rng.uniform(-1, 1, 3) * scale, rng.uniform(-1, 1, 3)
        lam = np.concatenate([rng.uniform(-1, 1, 3), rng.uniform(-1, 1, 3) * scale])
        cases.append((w, u, lam, rng.uniform(-1, 1, 6), zorvik.so3.exp(rng.uniform(-2, 2, 3)),
                      random_pose(rng), rng.uniform(-1, 1, 6), rng.uniform(-1, 1, 6)))
    reference = run_reference(tmp_path, ["lie"], [hexline(*c) for c in cases])
    rec = Recorder()
    for w, u, lam, lamdot, R, T, V, F in cases:
        for f in ("hat", "exp", "dexp", "dexp_inv"):
            rec.put("so3." + f, getattr(zorvik.so3, f)(w))
        rec.put("so3.log", zorvik.so3.log(R))
        rec.put("so3.ddt_dexp", zorvik.so3.ddt_dexp(w, u))
        rec.put("so3.ddt_dexp_inv", zorvik.so3.ddt_dexp_inv(w, u))
        for f in ("exp", "dexp", "dexp_inv"):
            rec.put("se3." + f, getattr(zorvik.se3, f)(lam))
        rec.put("se3.log", zorvik.se3.log(T))
        rec.put("se3.ddt_dexp", zorvik.se3.ddt_dexp(lam, lamdot))
        rec.put("se3.inverse", zorvik.se3.inverse(T))
        rec.put("se3.transform_twist", zorvik.se3.transform_twist(T, V))
        rec.put("se3.itransform_twist", zorvik.se3.itransform_twist(T, V))
        rec.put("se3.transform_wrench", zorvik.se3.transform_wrench(T, F))
        rec.put("se3.itransform_wrench", zorvik.se3.itransform_wrench(T, F))
    rec.compare(reference)


def test_controllers_match_library_bit_for_bit(tmp_path):
    rng = np.random.default_rng(8)
    steps = []
    for _ in range(5):
        rot = [zorvik.so3.exp(rng.uniform(-1, 1, 3)), rng.uniform(-1, 1, 3),
               zorvik.so3.exp(rng.uniform(-1, 1, 3))] + [rng.uniform(-1, 1, 3) for _ in range(4)]
        pose = [random_pose(rng), rng.uniform(-1, 1, 6), random_pose(rng)] + [
            rng.uniform(-1, 1, 6) for _ in range(4)]
        steps.append(rot + pose)
    reference = run_reference(tmp_path, ["controllers"], [hexline(*s) for s in steps])
    rec = Recorder()
    for name, cls, first in (("rotation", zorvik.RotationController, 0),
                             ("htransform", zorvik.HTransformController, 7)):
        for passive in (False, True):
            c = cls(period=1e-3, kp=25.0, kv=10.0, ki=1.0, inv_l2sqr=2.0, kf=0.5, kfi=0.1,
                    passivity_based=passive)
            p = name + (".passive." if passive else ".plain.")
            for s in steps:
                x, v, xd, vd, ad, f, fd = s[first:first + 7]
                rec.put(p + "error", c.error(x, xd))
                rec.put(p + "error_rate", c.error(x, v, xd, vd)[1])
                rec.put(p + "ref_velocity", c.ref_velocity(x, xd, vd)[0])
                rec.put(p + "ref_acceleration", c.ref_acceleration(x, v, xd, vd, ad)[1])
                vref, aref, _, _, ef = c.ref_impedance_acceleration(x, v, xd, vd, ad, f, fd)
                rec.put(p + "ref_impedance_velocity", vref)
                rec.put(p + "ref_impedance_acceleration", aref)
                rec.put(p + "force_error", ef)
                rec.put(p + "ref_compliance_force", c.ref_compliance_force(x, v, xd, vd, ad, f, fd)[0])
                for prop in ("ref_force", "int_error", "int_ef", "stiffness", "damping"):
                    rec.put(p + prop, getattr(c, prop))
    rec.compare(reference)
