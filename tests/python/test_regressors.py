"""Inertial parameters, regressors and base parameters from Python: Y @ pi against the module's
own idyn and idyn_passive (the recursion from the mass properties), the parameters' round trip,
the base parameters against numpy's rank of stacked regressors, the wrench regressor against
Newton-Euler at the centre of mass worked out here, and bad arguments."""

import numpy as np
import pytest

import zorvik
from conftest import G, robot_path


def random_pi(rng, n):
    """Parameters of n boxes of positive mass, moments satisfying the triangle inequality."""
    pi = []
    for _ in range(n):
        m = rng.uniform(0.5, 2.5)
        c = rng.uniform(-0.1, 0.1, 3)
        d = rng.uniform(0.01, 0.03, 3)
        principal = m * np.array([d[1] + d[2], d[0] + d[2], d[0] + d[1]])
        R = zorvik.so3.exp(rng.uniform(-1, 1, 3))
        Icom = R @ np.diag(principal) @ R.T
        Io = Icom + m * (c @ c * np.eye(3) - np.outer(c, c))
        pi.append([m, *(m * c), Io[0, 0], Io[1, 1], Io[2, 2], Io[0, 1], Io[1, 2], Io[2, 0]])
    return np.concatenate(pi)


@pytest.mark.parametrize("name", ["panda_arm", "allegro_right_hand"])
def test_regressor_times_parameters_is_inverse_dynamics(name):
    robot = zorvik.load_urdf(robot_path(name))
    n = robot.n
    rng = np.random.default_rng(5)
    own = robot.inertial_parameters()
    assert own.shape == (10 * n,)
    for pi in (own, random_pi(rng, n), random_pi(rng, n)):
        robot.set_inertial_parameters(pi)
        np.testing.assert_allclose(robot.inertial_parameters(), pi, rtol=1e-14, atol=1e-15)
        robot.q = rng.uniform(-1, 1, n)
        robot.qdot = rng.uniform(-1, 1, n)
        robot.update()
        qddot, qdot_r, qddot_r = (rng.uniform(-2, 2, n) for _ in range(3))
        Y = robot.regressor(qddot, G)
        assert Y.shape == (n, 10 * n)
        tau = robot.idyn(robot.qdot, qddot, G)
        assert np.linalg.norm(Y @ pi - tau) <= 1e-12 * np.linalg.norm(tau)
        Yp = robot.passive_regressor(qdot_r, qddot_r, G)
        tau_p = robot.idyn_passive(qdot_r, qddot_r, G)
        assert np.linalg.norm(Yp @ pi - tau_p) <= 1e-12 * np.linalg.norm(tau_p)
        # No gravity: the regressor of idyn without it.
        Y0 = robot.regressor(qddot, None)
        tau0 = robot.idyn(robot.qdot, qddot, None)
        assert np.linalg.norm(Y0 @ pi - tau0) <= 1e-12 * np.linalg.norm(tau0)


def test_base_parameters_have_the_rank_of_stacked_regressors():
    robot = zorvik.load_urdf(robot_path("ur5_robot"))
    n = robot.n
    rng = np.random.default_rng(7)
    q0 = rng.uniform(-1, 1, n)
    robot.q = q0
    robot.qdot = np.zeros(n)
    robot.update()
    base = zorvik.base_parameters(robot, G)
    np.testing.assert_array_equal(robot.q, q0)
    rows = []
    for _ in range(60):
        robot.q = rng.uniform(-3, 3, n)
        robot.qdot = rng.uniform(-2, 2, n)
        robot.update()
        rows.append(robot.regressor(rng.uniform(-4, 4, n), G))
    W = np.vstack(rows)
    sigma = np.linalg.svd(W, compute_uv=False)
    rank = int(np.sum(sigma > 1e-9 * sigma[0]))
    assert base.count == rank
    assert base.kept_columns.shape == (rank,)
    assert np.all(np.diff(base.kept_columns) > 0)
    assert base.regrouping.shape == (rank, 10 * n)
    pi = random_pi(rng, n)
    beta = base.base_parameters(pi)
    np.testing.assert_allclose(base.base_regressor(W) @ beta, W @ pi, rtol=0,
                               atol=1e-9 * np.abs(W @ pi).max())
    np.testing.assert_allclose(beta, base.regrouping @ pi, rtol=1e-14, atol=1e-14)
    # The default gravity is (0, 0, -9.81).
    assert zorvik.base_parameters(robot).count == zorvik.base_parameters(robot, zorvik.GRAVITY).count


def test_wrench_regressor_is_newton_euler_at_the_centre_of_mass():
    rng = np.random.default_rng(9)
    pi = random_pi(rng, 1)
    m, c = pi[0], pi[1:4] / pi[0]
    Io = np.array([[pi[4], pi[7], pi[9]], [pi[7], pi[5], pi[8]], [pi[9], pi[8], pi[6]]])
    Icom = Io - m * (c @ c * np.eye(3) - np.outer(c, c))
    V, Vdot, g = rng.uniform(-1, 1, 6), rng.uniform(-2, 2, 6), np.array([0.5, -1.0, -9.81])
    v, w, wdot = V[:3], V[3:], Vdot[3:]
    a_c = Vdot[:3] - g + np.cross(w, v) + np.cross(wdot, c) + np.cross(w, np.cross(w, c))
    f = m * a_c
    expected = np.concatenate([f, np.cross(c, f) + Icom @ wdot + np.cross(w, Icom @ w)])
    Y = zorvik.wrench_regressor(V, Vdot, g)
    assert Y.shape == (6, 10)
    np.testing.assert_allclose(Y @ pi, expected, rtol=1e-12, atol=1e-12)


def test_bad_arguments_name_the_argument():
    robot = zorvik.load_urdf(robot_path("panda_arm"))
    n = robot.n
    robot.update()
    with pytest.raises(ValueError, match="'qddot'"):
        robot.regressor(np.zeros(n + 1), G)
    with pytest.raises(ValueError, match="'pi'"):
        robot.set_inertial_parameters(np.zeros(10 * n - 1))
    pi = robot.inertial_parameters()
    bad = pi.copy()
    bad[10] = -1.0
    with pytest.raises(ValueError, match="body 2"):
        robot.set_inertial_parameters(bad)
    bad = pi.copy()
    bad[3] = np.nan
    with pytest.raises(ValueError, match="not finite"):
        robot.set_inertial_parameters(bad)
    np.testing.assert_array_equal(robot.inertial_parameters(), pi)
    floating = zorvik.load_urdf(robot_path("panda_arm"), floating_base=True)
    with pytest.raises(ValueError, match="fixed base"):
        floating.regressor(np.zeros(n), G)
    with pytest.raises(ValueError, match="fixed base"):
        zorvik.base_parameters(floating)
