"""The observer's response to a known external torque, and the Lie group matrices the module
assembles itself (the library never forms 6x6 adjoints) against their closed forms."""

import numpy as np

import zorvik
from conftest import G, random_pose, robot_path


def test_observer_follows_an_external_torque_on_a_held_robot():
    # The robot is held at rest while the applied torques exceed gravity by d: the momentum
    # stays zero, so the environment applies tau_ext = -d, and the implicit-Euler residual is
    # r_k = -d (1 - (1 + h L)^-k).
    robot = zorvik.load_urdf(robot_path("panda_arm"))
    robot.q = np.linspace(-0.5, 0.5, 7)
    robot.update()
    g = robot.idyn_gravity(G)
    d = np.linspace(1.0, 4.0, 7)
    h, L = 1e-3, np.linspace(20.0, 80.0, 7)
    observer = zorvik.MomentumObserver(7, h, L)
    for k in range(1, 201):
        robot.tau = g + d
        r = observer.estimate(robot, G)
        np.testing.assert_allclose(r, -d * (1 - (1 + h * L) ** -k), rtol=1e-9, atol=1e-12)
    assert np.array_equal(robot.tau, g + d)    # the applied torques are left in place


def test_so3_maps_match_their_closed_forms():
    theta = 0.7
    c, s = np.cos(theta), np.sin(theta)
    np.testing.assert_allclose(zorvik.so3.exp([0, 0, theta]),
                               [[c, -s, 0], [s, c, 0], [0, 0, 1]], atol=1e-15)
    w = np.array([0.3, -0.2, 0.9])
    np.testing.assert_allclose(zorvik.so3.log(zorvik.so3.exp(w)), w, atol=1e-14)
    np.testing.assert_allclose(zorvik.so3.hat(w) @ [1, 2, 3], np.cross(w, [1, 2, 3]), atol=1e-15)
    np.testing.assert_allclose(zorvik.so3.dexp(w) @ zorvik.so3.dexp_inv(w), np.eye(3), atol=1e-14)


def test_se3_adjoint_matrices_match_their_closed_forms():
    rng = np.random.default_rng(2)
    T = random_pose(rng)
    R, r = T[:3, :3], T[:3, 3]
    hat = zorvik.so3.hat
    Ad = zorvik.se3.Ad(T)
    np.testing.assert_allclose(Ad, np.block([[R, hat(r) @ R], [np.zeros((3, 3)), R]]), atol=1e-14)
    np.testing.assert_allclose(zorvik.se3.Ad_inv(T) @ Ad, np.eye(6), atol=1e-13)
    V = rng.uniform(-1, 1, 6)
    v, w = V[:3], V[3:]
    ad = zorvik.se3.ad(V)
    np.testing.assert_allclose(ad, np.block([[hat(w), hat(v)], [np.zeros((3, 3)), hat(w)]]),
                               atol=1e-15)
    np.testing.assert_allclose(zorvik.se3.coad(V), -ad.T, atol=1e-15)
    np.testing.assert_allclose(Ad @ V, zorvik.se3.transform_twist(T, V), atol=1e-14)
    # Power is frame-independent: F . V in B equals the transformed pair in A.
    F = rng.uniform(-1, 1, 6)
    assert np.isclose(zorvik.se3.transform_wrench(T, F) @ (Ad @ V), F @ V, rtol=1e-13)
    lam = rng.uniform(-1, 1, 6)
    np.testing.assert_allclose(zorvik.se3.log(zorvik.se3.exp(lam)), lam, atol=1e-13)
    np.testing.assert_allclose(zorvik.se3.exp(lam) @ zorvik.se3.inverse(zorvik.se3.exp(lam)),
                               np.eye(4), atol=1e-14)


def test_se3_dexp_derivative_matches_a_central_difference():
    rng = np.random.default_rng(6)
    lam, lamdot = rng.uniform(-1, 1, 6), rng.uniform(-1, 1, 6)
    h = 1e-6
    numeric = (zorvik.se3.dexp(lam + h * lamdot) - zorvik.se3.dexp(lam - h * lamdot)) / (2 * h)
    np.testing.assert_allclose(zorvik.se3.ddt_dexp(lam, lamdot), numeric, atol=1e-8)
