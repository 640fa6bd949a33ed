"""robot.mass_matrix() and zorvik.OperationalSpace: the quantities against numpy's dense products
on the module's own M, Jacobians and inverse mass matrix, the closed loop through robot.fdyn, and
the errors of bad arguments."""

import numpy as np
import pytest

import zorvik
from conftest import G, robot_path


def panda_at(rng):
    robot = zorvik.load_urdf(robot_path("panda_arm"))
    robot.q[:] = rng.uniform(-1, 1, 7)
    robot.qdot[:] = rng.uniform(-1, 1, 7)
    robot.update()
    robot.update_jacobian()
    return robot


def test_mass_matrix_is_symmetric_and_inverts_mass_inverse():
    robot = panda_at(np.random.default_rng(1))
    M = robot.mass_matrix()
    assert np.array_equal(M, M.T)
    assert np.allclose(M @ robot.mass_inverse(), np.eye(7), atol=1e-10)
    assert np.allclose(M, robot.joint_dynamics(G)[0], rtol=0, atol=1e-12 * np.abs(M).max())


@pytest.mark.parametrize("convention", ["body", "world_aligned", "spatial"])
@pytest.mark.parametrize("rows", ["all", "linear", "angular"])
def test_quantities_match_dense_products_and_close_the_loop(convention, rows):
    rng = np.random.default_rng(2)
    robot = panda_at(rng)
    osc = zorvik.OperationalSpace(robot)
    assert osc.add_task("panda_hand", convention, rows) == 0
    osc.compute(G)
    m = osc.rows
    sel = {"all": slice(0, 6), "linear": slice(0, 3), "angular": slice(3, 6)}[rows]
    J = robot.frame_jacobian("panda_hand", convention)[sel]
    Jdot = robot.frame_jacobian_dot("panda_hand", convention)[sel]
    Minv = robot.mass_inverse()
    A = J @ Minv @ J.T
    assert osc.jacobian.shape == (m, 7)
    assert np.allclose(osc.jacobian, J, atol=1e-12)
    assert np.allclose(osc.inverse_inertia, A, rtol=1e-10, atol=1e-12 * np.abs(A).max())
    Lam = np.linalg.inv(A)
    assert not osc.damped and 0 < osc.conditioning <= 1
    assert np.allclose(osc.task_inertia, Lam, rtol=1e-8, atol=1e-9 * np.abs(Lam).max())
    Jbar = Minv @ J.T @ Lam
    assert np.allclose(osc.dynamically_consistent_inverse, Jbar, atol=1e-8 * np.abs(Jbar).max())
    assert np.allclose(osc.null_space, np.eye(7) - J.T @ Jbar.T, atol=1e-8)
    b = robot.idyn(robot.qdot, np.zeros(7), G)
    mu = Lam @ (J @ Minv @ b - Jdot @ robot.qdot)
    assert np.allclose(osc.task_bias, mu, atol=1e-8 * np.abs(mu).max())

    a = rng.uniform(-1, 1, m)
    tau = osc.torque(a, rng.uniform(-5, 5, 7))
    robot.fdyn(tau, G)
    assert np.allclose(J @ robot.qddot + Jdot @ robot.qdot, a, atol=1e-9)


def test_singular_state_is_damped_and_finite():
    robot = zorvik.load_urdf(robot_path("panda_arm"))
    robot.update()
    osc = zorvik.OperationalSpace(robot)
    osc.add_task("panda_hand")
    osc.singular_threshold = 1e-3
    osc.compute(G)
    assert osc.damped and osc.conditioning < 1e-3
    assert np.all(np.isfinite(osc.task_inertia))
    assert np.all(np.isfinite(osc.torque(np.ones(6))))


def test_bad_arguments_name_what_is_wrong():
    robot = panda_at(np.random.default_rng(3))
    osc = zorvik.OperationalSpace(robot)
    with pytest.raises(ValueError, match="compute"):
        osc.task_inertia
    with pytest.raises(ValueError, match="no link 'nose'"):
        osc.add_task("nose")
    with pytest.raises(ValueError, match="convention"):
        osc.add_task("panda_hand", "sideways")
    with pytest.raises(ValueError, match="rows"):
        osc.add_task("panda_hand", "body", "some")
    for _ in range(4):
        osc.add_task("panda_hand")
    with pytest.raises(ValueError, match="at most 4 tasks"):
        osc.add_task("panda_hand", rows="linear")
    osc.clear_tasks()
    osc.add_task("panda_hand")
    osc.compute(G)
    with pytest.raises(ValueError, match="a_task"):
        osc.torque(np.ones(5))
    with pytest.raises(ValueError, match="singular_threshold"):
        osc.singular_threshold = 0
    with pytest.raises(TypeError, match="robot"):
        zorvik.OperationalSpace("panda")
