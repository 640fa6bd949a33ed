"""What the module refuses to compute from: a state no update has seen (q or qdot written since,
a pose-only update where twists enter), Jacobians no update_jacobian has computed; and the
inverse kinematics, which leaves the robot as it was, runs without the GIL, stops on a budget and
on Ctrl-C."""

import math
import signal
import threading
import time

import numpy as np
import pytest

import zorvik
from conftest import G, robot_path

Z7 = np.zeros(7)
HAND = "panda_hand"


@pytest.fixture
def panda():
    return zorvik.load_urdf(robot_path("panda_arm"))


def updated(robot, q=None, qdot=None, pos_only=False):
    robot.q = np.linspace(-0.4, 0.6, robot.n) if q is None else q
    robot.qdot = np.linspace(0.3, -0.2, robot.n) if qdot is None else qdot
    robot.update(pos_only=pos_only)
    return robot


def flat(result):
    parts = result if isinstance(result, tuple) else (result,)
    return np.concatenate([np.ravel(p) for p in parts])


# Every result that reads the state of the last update, and whether twists enter it.
POSES = [
    ("T", lambda r: r.T(3)),
    ("frame_pose", lambda r: r.frame_pose(HAND)),
    ("idyn_gravity", lambda r: r.idyn_gravity(G)),
    ("idyn_momentum", lambda r: r.idyn_momentum(Z7)),
    ("mass_inverse", lambda r: r.mass_inverse()),
]
TWISTS = [
    ("V", lambda r: r.V(3)),
    ("frame_twist", lambda r: r.frame_twist(HAND)),
    ("idyn", lambda r: r.idyn(r.qdot, Z7, G)),
    ("idyn_passive", lambda r: r.idyn_passive(Z7, Z7, G)),
    ("fdyn", lambda r: r.fdyn(Z7, G)),
    ("joint_dynamics", lambda r: r.joint_dynamics(G)),
    ("estimate", lambda r: zorvik.MomentumObserver(7, 1e-3, 50.0).estimate(r, G)),
] + ([("idyn_derivatives", lambda r: r.idyn_derivatives(Z7, G)),
      ("fdyn_derivatives", lambda r: r.fdyn_derivatives(Z7, G))] if zorvik.HAS_DERIVATIVES else [])


@pytest.mark.parametrize("name,call", POSES + TWISTS, ids=[c[0] for c in POSES + TWISTS])
def test_a_state_written_after_the_update_is_refused_naming_update(panda, name, call):
    with pytest.raises(RuntimeError, match=r"never updated.*robot\.update\(\)"):
        call(panda)
    expected = flat(call(updated(panda)))
    saved = panda.q[1]
    panda.q[1] = saved + 0.25              # through the view, as robot.q = ... does
    with pytest.raises(RuntimeError, match=r"robot\.q changed since the last update\(\)"):
        call(panda)
    panda.q[1] = saved                     # back to the state the update saw: accepted again
    assert np.array_equal(flat(call(panda)), expected)
    panda.qdot = panda.qdot + 1.0
    if (name, call) in TWISTS:
        with pytest.raises(RuntimeError, match=r"robot\.qdot changed.*robot\.update\(\)"):
            call(panda)
        updated(panda, qdot=panda.qdot, q=panda.q, pos_only=True)
        with pytest.raises(RuntimeError, match=r"pos_only=True.*robot\.update\(\)"):
            call(panda)
    else:
        call(panda)                        # no twist enters: qdot may change


def test_results_after_the_check_are_those_of_a_fresh_model(panda):
    # The results that only read poses are those of the pose-only update at the same q: the
    # twists the check lets go stale are really unused.
    fresh = updated(zorvik.load_urdf(robot_path("panda_arm")), pos_only=True)
    updated(panda, qdot=np.full(7, 3.0))
    for name, call in POSES:
        assert np.array_equal(flat(call(panda)), flat(call(fresh))), name


def test_jacobians_before_update_jacobian_are_refused_naming_it(panda):
    updated(panda)
    reads = [lambda: panda.J(7), lambda: panda.frame_jacobian(HAND, "spatial")]
    rate_reads = [lambda: panda.Jdot(7), lambda: panda.Vdot(7),
                  lambda: panda.frame_jacobian_dot(HAND, "body"),
                  lambda: panda.frame_acceleration(HAND)]
    for read in reads + rate_reads:
        with pytest.raises(RuntimeError, match=r"update_jacobian\("):
            read()
    panda.update_jacobian(pos_only=True)
    J = panda.J(7)
    # The body Jacobian times qdot is the body's twist (a check on real numbers, not memory).
    np.testing.assert_allclose(J @ panda.qdot, panda.V(7), atol=1e-14)
    for read in rate_reads:
        with pytest.raises(RuntimeError, match=r"update_jacobian\(\)"):
            read()
    panda.update_jacobian()
    for read in reads + rate_reads:
        assert np.all(np.isfinite(read()))
    panda.update()                         # a new update: the Jacobians are not its own
    with pytest.raises(RuntimeError, match=r"update_jacobian\("):
        panda.J(7)
    with pytest.raises(RuntimeError, match=r"robot\.update\(\)"):
        panda.qdot = panda.qdot + 1
        panda.update_jacobian()


def test_a_floating_base_moved_after_the_update_is_refused():
    robot = updated(zorvik.load_urdf(robot_path("panda_arm"), floating_base=True))
    robot.T(1)
    robot.base_pose = zorvik.se3.exp([0.1, 0.2, 0.3, 0.4, 0.5, 0.6])
    with pytest.raises(RuntimeError, match=r"base_pose was set.*robot\.update\(\)"):
        robot.T(1)
    robot.update()
    robot.base_twist = np.ones(6)
    robot.T(1)                             # poses do not depend on the twist
    with pytest.raises(RuntimeError, match=r"base_twist was set.*robot\.update\(\)"):
        robot.V(1)
    robot.update()
    np.testing.assert_allclose(robot.V(0), np.ones(6), atol=0)


def test_inverse_kinematics_leaves_the_robot_as_it_was(panda):
    updated(panda)
    panda.update_jacobian()
    before = (panda.q.copy(), panda.qdot.copy(), panda.T(7), panda.V(7), panda.J(7))
    target = panda.frame_pose(HAND)
    target[:3, 3] += [0.05, -0.03, 0.02]
    q, info = panda.inverse_kinematics(HAND, target, panda.q)
    assert info["converged"] and not info["stopped"]
    after = (panda.q, panda.qdot, panda.T(7), panda.V(7), panda.J(7))   # no update needed
    for b, a in zip(before, after):
        assert np.array_equal(a, b)
    # The answer is right: the hand's pose at q is the target.
    check = updated(zorvik.load_urdf(robot_path("panda_arm")), q=q, pos_only=True)
    np.testing.assert_allclose(check.frame_pose(HAND), target, atol=3e-6)


def test_inverse_kinematics_on_a_floating_base_solves_in_the_reference_frame():
    robot = zorvik.load_urdf(robot_path("panda_arm"), floating_base=True)
    robot.base_pose = zorvik.se3.exp([0.5, -0.2, 0.1, 0.0, 0.0, 1.2])
    q_true = np.linspace(-0.4, 0.6, 7) + [0, 0, 0, -1.5, 0, 1.5, 0]
    updated(robot, q=q_true, pos_only=True)
    target = robot.frame_pose(HAND)
    q, info = robot.inverse_kinematics(HAND, target, q_true + 0.1)
    assert info["converged"]
    updated(robot, q=q, pos_only=True)
    np.testing.assert_allclose(robot.frame_pose(HAND), target, atol=3e-6)


FAR = np.eye(4)
FAR[:3, 3] = [3.0, 0.5, 0.4]               # 3 m away: beyond the Panda's 0.86 m reach


def test_an_iteration_budget_bounds_the_solve_exactly(panda):
    q, info = panda.inverse_kinematics(HAND, FAR, Z7, iteration_budget=37)
    assert info["iterations"] == 37 and info["stopped"] and not info["converged"]
    # Deterministic: the same budget, the same answer, bit for bit.
    q2, info2 = panda.inverse_kinematics(HAND, FAR, Z7, iteration_budget=37)
    assert np.array_equal(q, q2) and info == info2
    # A budget the solve does not reach changes nothing.
    full = panda.inverse_kinematics(HAND, FAR, Z7)
    roomy = panda.inverse_kinematics(HAND, FAR, Z7, iteration_budget=10**9)
    assert np.array_equal(full[0], roomy[0]) and full[1] == roomy[1]
    assert not full[1]["stopped"]


def test_a_time_budget_ends_a_long_solve(panda):
    start = time.monotonic()
    q, info = panda.inverse_kinematics(HAND, FAR, Z7, restarts=10**7, time_budget=0.05)
    elapsed = time.monotonic() - start
    assert info["stopped"] and not info["converged"] and np.all(np.isfinite(q))
    # 10**7 restarts would take hours; the budget ends it (generous bound for a loaded machine).
    assert elapsed < 5.0
    assert info["position_error"] < 3.0    # the best iterate: nearer than the base's origin


def test_the_solve_releases_the_gil(panda):
    result = {}

    def solve():
        result["out"] = panda.inverse_kinematics(HAND, FAR, Z7, restarts=10**7, time_budget=0.6)

    worker = threading.Thread(target=solve)
    worker.start()
    # While the worker solves, this thread keeps running: with the GIL held for the whole
    # solve, its longest pause would be the 0.6 s of the solve.
    stamps = [time.monotonic()]
    while worker.is_alive():
        time.sleep(0.001)
        stamps.append(time.monotonic())
    worker.join()
    assert result["out"][1]["stopped"]
    assert len(stamps) > 20 and max(np.diff(stamps)) < 0.3


@pytest.mark.skipif(threading.current_thread() is not threading.main_thread(),
                    reason="signals reach the main thread only")
def test_ctrl_c_interrupts_a_long_solve(panda):
    timer = threading.Timer(0.2, lambda: signal.pthread_kill(threading.main_thread().ident,
                                                             signal.SIGINT))
    start = time.monotonic()
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            # The time budget only keeps a broken interruption from hanging the suite.
            panda.inverse_kinematics(HAND, FAR, Z7, restarts=10**7, time_budget=30.0)
    finally:
        timer.cancel()
    assert time.monotonic() - start < 10.0


@pytest.mark.parametrize("kwargs,error,message", [
    ({"iteration_budget": 0}, ValueError, r"'iteration_budget' must be at least 1"),
    ({"iteration_budget": 2.5}, TypeError, r"'iteration_budget' must be an int"),
    ({"time_budget": 0.0}, ValueError, r"'time_budget' must be a finite positive"),
    ({"time_budget": -1.0}, ValueError, r"'time_budget' must be a finite positive"),
    ({"time_budget": math.nan}, ValueError, r"'time_budget' must be a finite positive"),
    ({"time_budget": "1s"}, TypeError, r"'time_budget' must be a number"),
])
def test_impossible_budgets_are_refused(panda, kwargs, error, message):
    with pytest.raises(error, match=message):
        panda.inverse_kinematics(HAND, FAR, Z7, **kwargs)
