"""A robot held by a larger compiled model (padded) against the same robot in a model of its own
size: every bound call must return arrays of the robot's own shape with the exact model's numbers
to rounding. A wrong block (a padding column in a Jacobian, a (n, N) slice of the regrouping, a
padding gain or seed entry) shows as a shape or value difference here."""

import numpy as np
import pytest

import zorvik
from conftest import G, chain_urdf, random_pose, robot_path


def results(robot, rng_seed, ik_link):
    """Every robot-size result at two random states, by name, in call order."""
    rng = np.random.default_rng(rng_seed)
    n = robot.n
    out = []

    def put(name, value):
        out.append((name, np.asarray(value, dtype=float)))

    osc = None
    if not robot.floating_base:
        osc = zorvik.OperationalSpace(robot)
        osc.add_task(robot.frame_names[-1])
        osc.add_task(robot.frame_names[n // 2], rows="linear")
    observer = zorvik.MomentumObserver(n, 1e-3, np.linspace(20, 60, n))
    for _ in range(2):
        q, qdot, qddot, x = (rng.uniform(-1.2, 1.2, n) for _ in range(4))
        if robot.floating_base:
            robot.base_pose = random_pose(rng)
            robot.base_twist = rng.uniform(-1, 1, 6)
        robot.q, robot.qdot = q, qdot
        robot.update()
        robot.update_jacobian()
        robot.qddot = qddot
        for k in range(n + 1):
            for f in ("T", "V", "J", "Jdot", "Vdot"):
                put(f, getattr(robot, f)(k))
        for c in ("body", "world_aligned", "spatial"):
            put("frame_jacobian", robot.frame_jacobian(robot.frame_names[-1], c))
            put("frame_jacobian_dot", robot.frame_jacobian_dot(robot.frame_names[-1], c))
        put("idyn_gravity", robot.idyn_gravity(G))
        put("fdyn", robot.fdyn(x, G))
        put("center_of_mass_jacobian", robot.center_of_mass_jacobian())
        put("centroidal_matrix", robot.centroidal_matrix())
        put("centroidal_inertia", robot.centroidal_inertia())
        put("kinetic_energy", robot.kinetic_energy())
        if robot.floating_base:
            a0 = rng.uniform(-1, 1, 6)
            put("idyn", robot.idyn(qdot, qddot, G, base_acc=a0))
            put("idyn_passive", robot.idyn_passive(x, qddot, G, base_acc=a0))
            put("base_acc", robot.base_acc)
            continue
        put("idyn", robot.idyn(qdot, qddot, G))
        put("idyn_passive", robot.idyn_passive(x, qddot, G))
        put("idyn_momentum", robot.idyn_momentum(qddot))
        put("mass_inverse", robot.mass_inverse())
        put("mass_matrix", robot.mass_matrix())
        for name, value in zip("MCG", robot.joint_dynamics(G)):
            put(name, value)
        if zorvik.HAS_DERIVATIVES:
            for value in robot.idyn_derivatives(qddot, G) + robot.fdyn_derivatives(x, G):
                put("derivatives", value)
        put("regressor", robot.regressor(qddot, G))
        put("passive_regressor", robot.passive_regressor(x, qddot, G))
        robot.tau = x
        put("observer", observer.estimate(robot, G))
        osc.compute(G)
        for f in ("inverse_inertia", "task_inertia", "dynamically_consistent_inverse", "task_bias",
                  "null_space", "jacobian"):
            put("osc." + f, getattr(osc, f))
        put("osc.torque", osc.torque(rng.uniform(-1, 1, osc.rows), rng.uniform(-1, 1, n)))
        put("check_limits", robot.check_limits(3 * q)[1])
        put("clamp_to_limits", robot.clamp_to_limits(3 * q)[0])
    if not robot.floating_base:
        base = zorvik.base_parameters(robot, G)
        put("kept_columns", base.kept_columns)
        put("regrouping", base.regrouping)
        pi = robot.inertial_parameters()
        robot.set_inertial_parameters(pi * 1.1)
        put("inertial_parameters", robot.inertial_parameters())
        # A reachable pose from a seed 0.3 rad away (the C++ test follows the random restarts).
        target = robot.frame_pose(ik_link)
        q_ik, info = robot.inverse_kinematics(ik_link, target, robot.q + 0.3)
        put("ik_converged", info["converged"])
        put("ik_q", np.round(q_ik, 8))
    return out


def assert_same_results(exact, padded):
    assert [name for name, _ in exact] == [name for name, _ in padded]
    for (name, e), (_, p) in zip(exact, padded):
        assert e.shape == p.shape, name
        scale = max(1.0, float(np.max(np.abs(e), initial=0.0)))
        np.testing.assert_allclose(p, e, rtol=0, atol=1e-12 * scale, err_msg=name)


@pytest.mark.parametrize("name,ik_link", [("ur5_robot", "tool0"), ("panda_arm", "panda_hand_tcp"),
                                          ("b1-z1", "gripperMover")])
@pytest.mark.parametrize("floating", [False, True])
def test_every_call_of_a_padded_model_matches_the_smallest_one(name, ik_link, floating):
    """The UR5 and the Panda are held exactly by default (6, 7) and padded by every larger size;
    the B1 with its Z1 arm (19 coordinates) is padded by 32 and by 64."""
    first = zorvik.load_urdf(robot_path(name), floating_base=floating)
    assert first.model_size == min(s for s in zorvik.COMPILED_SIZES if s >= first.n)
    reference = results(first, 3, ik_link)
    for size in (s for s in zorvik.COMPILED_SIZES if s > first.model_size):
        padded = zorvik.load_urdf(robot_path(name), floating_base=floating, model_size=size)
        assert padded.n == first.n and padded.model_size == size
        assert_same_results(reference, results(padded, 3, ik_link))


def test_sizes_between_the_compiled_ones_take_the_next_larger_model():
    compiled = zorvik.COMPILED_SIZES
    assert zorvik.SUPPORTED_SIZES == tuple(range(1, compiled[-1] + 1)) and compiled[-1] >= 64
    for n in (1, 5, 8, compiled[-1]):
        robot = zorvik.Robot.from_string(chain_urdf(n, seed=n))
        assert robot.n == n and robot.model_size == min(s for s in compiled if s >= n)
        robot.update()
        assert robot.q.shape == (n,) and robot.mass_inverse().shape == (n, n)
    with pytest.raises(zorvik.LoadError, match="supports 1.."):
        zorvik.Robot.from_string(chain_urdf(compiled[-1] + 1, seed=1))
    with pytest.raises(ValueError, match="model_size"):
        zorvik.load_urdf(robot_path("panda_arm"), model_size=6)
    with pytest.raises(ValueError, match="model_size"):
        zorvik.load_urdf(robot_path("panda_arm"), model_size=15)
