"""Centre of mass, centroidal momentum and energies from Python against the module's own dynamics
(the mass matrix, the gravity torques, the body Jacobians) and against differences of the centre
of mass along the motion; the bodies' mass properties, the joints' damping, friction and limits,
and external wrenches, read back and seen by the dynamics (single calls and batches)."""

import numpy as np
import pytest

import zorvik
from conftest import G, robot_path


@pytest.fixture
def panda():
    r = zorvik.load_urdf(robot_path("panda_arm"))
    rng = np.random.default_rng(30)
    r.q = rng.uniform(-1, 1, 7)
    r.qdot = rng.uniform(-1, 1, 7)
    r.update()
    return r


def com_at(r, q):
    r.q = q
    r.update()
    return r.center_of_mass()


def test_com_jacobian_is_the_derivative_of_the_com(panda):
    q, qdot = panda.q.copy(), panda.qdot.copy()
    J = panda.center_of_mass_jacobian()
    assert J.shape == (3, 7)
    h = 1e-6
    fd = (com_at(panda, q + h * qdot) - com_at(panda, q - h * qdot)) / (2 * h)
    np.testing.assert_allclose(J @ qdot, fd, atol=1e-8)
    panda.q, panda.qdot = q, qdot
    panda.update()
    np.testing.assert_allclose(panda.center_of_mass_velocity(), J @ qdot, atol=1e-12)
    # A subtree: the hand's body alone moves only with the joints on its path.
    np.testing.assert_allclose(panda.center_of_mass(7), panda.T(7)[:3, :3] @ panda.body_com(7) +
                               panda.T(7)[:3, 3], atol=1e-12)


def test_momentum_and_energies_match_the_dynamics(panda):
    M, C, g = panda.joint_dynamics(G)
    qdot = panda.qdot
    assert panda.kinetic_energy() == pytest.approx(0.5 * qdot @ M @ qdot, rel=1e-12)
    h = panda.centroidal_momentum()
    np.testing.assert_allclose(panda.centroidal_matrix() @ qdot, h, atol=1e-12)
    np.testing.assert_allclose(h[:3], panda.mass() * panda.center_of_mass_velocity(), atol=1e-12)
    # The gravity torques are the gradient of the potential energy.
    q = panda.q.copy()
    eps = 1e-6
    for i in range(7):
        dq = np.zeros(7)
        dq[i] = eps
        panda.q = q + dq
        panda.update()
        up = panda.potential_energy(G)
        panda.q = q - dq
        panda.update()
        down = panda.potential_energy(G)
        assert (up - down) / (2 * eps) == pytest.approx(g[i], abs=1e-7)
    Ig = panda.centroidal_inertia()
    assert Ig[0, 0] == pytest.approx(panda.mass())
    np.testing.assert_allclose(Ig, Ig.T, atol=1e-14)


def test_mass_properties_round_trip_and_reach_the_dynamics(panda):
    k = 4
    inertia = np.array([[0.02, 0.001, -0.002], [0.001, 0.03, 0.0005], [-0.002, 0.0005, 0.025]])
    panda.set_body_mass_properties(k, mass=2.5, com=[0.01, -0.02, 0.03], inertia=inertia)
    assert panda.body_mass(k) == 2.5
    np.testing.assert_array_equal(panda.body_com(k), [0.01, -0.02, 0.03])
    np.testing.assert_array_equal(panda.body_inertia(k), inertia)
    panda.set_body_mass_properties(k, mass=3.0)  # the rest kept
    np.testing.assert_array_equal(panda.body_inertia(k), inertia)
    # Scaling every body's mass and inertia scales M: the caches were rebuilt.
    M0 = panda.joint_dynamics(G)[0]
    for b in range(8):
        panda.set_body_mass_properties(b, mass=2 * panda.body_mass(b),
                                       inertia=2 * panda.body_inertia(b))
    panda.update()
    np.testing.assert_allclose(panda.joint_dynamics(G)[0], 2 * M0, rtol=1e-12, atol=1e-14)
    # A batch computes with the same parameters as a single call.
    Q, Qdot, Qddot = (np.random.default_rng(1).uniform(-1, 1, (3, 7)) for _ in range(3))
    batch = panda.batch_idyn(Q, Qdot, Qddot, G, threads=2)
    for i in range(3):
        panda.q, panda.qdot = Q[i], Qdot[i]
        panda.update()
        np.testing.assert_array_equal(batch[i], panda.idyn(Qdot[i], Qddot[i], G))


def test_damping_friction_and_limits_from_the_file(panda):
    np.testing.assert_allclose(panda.joint_damping, 0.003)
    np.testing.assert_array_equal(panda.joint_friction, 0.0)
    panda.joint_damping = np.arange(7.0)
    np.testing.assert_array_equal(panda.joint_damping, np.arange(7.0))
    panda.joint_friction = np.full(7, 0.5)
    np.testing.assert_array_equal(panda.joint_friction, 0.5)
    lower, upper = panda.velocity_limits
    assert upper[0] == 2.175 and lower[0] == -2.175
    lower, upper = panda.effort_limits
    assert upper[0] == 87.0 and upper[6] == 12.0

    x = np.zeros(7)
    x[0], x[1], x[3] = 3.0, -1.7628, -1.0  # joint 4's range is [-3.0718, -0.0698]
    within, side = panda.check_limits(x)
    assert not within
    np.testing.assert_array_equal(side, [1, -1, 0, 0, 0, 0, 0])
    clamped, side, outside = panda.clamp_to_limits(x)
    assert outside == 1 and clamped[0] == 2.8973 and x[0] == 3.0
    tau = np.full(7, -100.0)
    clamped, side, outside = panda.clamp_to_limits(tau, "effort")
    assert outside == 7
    np.testing.assert_array_equal(clamped, [-87, -87, -87, -87, -12, -12, -12])
    with pytest.raises(ValueError, match="'kind'"):
        panda.check_limits(x, "torque")


def test_external_wrench_enters_idyn_as_minus_jacobian_transpose(panda):
    panda.update_jacobian()
    qdot, qddot = panda.qdot.copy(), np.zeros(7)
    tau0 = panda.idyn(qdot, qddot, G).copy()
    F = np.array([1.0, -2.0, 3.0, 0.4, -0.5, 0.6])
    panda.set_external_wrench(5, F)
    np.testing.assert_array_equal(panda.external_wrench(5), F)
    np.testing.assert_allclose(panda.idyn(qdot, qddot, G), tau0 - panda.J(5).T @ F, atol=1e-12)
    panda.clear_external_wrench()
    np.testing.assert_array_equal(panda.external_wrench(5), np.zeros(6))
    np.testing.assert_allclose(panda.idyn(qdot, qddot, G), tau0, atol=1e-12)
    # By link name: the wrench in the link's frame.
    panda.set_external_wrench("panda_link7", F)
    Jf = panda.frame_jacobian("panda_link7", "body")
    np.testing.assert_allclose(panda.idyn(qdot, qddot, G), tau0 - Jf.T @ F, atol=1e-12)
    panda.clear_external_wrench("panda_link7")
    np.testing.assert_allclose(panda.idyn(qdot, qddot, G), tau0, atol=1e-12)


def test_floating_base_blocks():
    r = zorvik.load_urdf(robot_path("panda_arm"), floating_base=True)
    rng = np.random.default_rng(3)
    r.base_pose = zorvik.se3.exp(rng.uniform(-1, 1, 6))
    r.base_twist = rng.uniform(-1, 1, 6)
    r.qdot = rng.uniform(-1, 1, 7)
    r.update()
    rates = np.concatenate([r.base_twist, r.qdot])
    assert r.center_of_mass_jacobian().shape == (3, 13)
    np.testing.assert_allclose(r.center_of_mass_jacobian() @ rates, r.center_of_mass_velocity(),
                               atol=1e-12)
    np.testing.assert_allclose(r.centroidal_matrix() @ rates, r.centroidal_momentum(), atol=1e-12)


@pytest.mark.parametrize("call,error,message", [
    (lambda r: r.center_of_mass(8), IndexError, r"'root' must be a body index in 0..7"),
    (lambda r: r.body_mass(-1), IndexError, r"'k' must be a body index"),
    (lambda r: r.set_body_mass_properties(1, mass=-1.0), ValueError, r"'mass'"),
    (lambda r: r.set_body_mass_properties(1, inertia=np.eye(3) + np.triu(np.ones((3, 3)), 1)),
     ValueError, r"'inertia' must be symmetric"),
    (lambda r: r.set_body_mass_properties(1, com=[np.nan, 0, 0]), ValueError, r"'com'"),
    (lambda r: r.set_external_wrench("no_such_link", np.zeros(6)), ValueError, r"no link"),
    (lambda r: r.set_external_wrench(1, np.zeros(5)), ValueError, r"'wrench' must have shape"),
    (lambda r: r.potential_energy(np.zeros(2)), ValueError, r"'gravity' must have shape"),
    (lambda r: setattr(r, "joint_friction", -np.ones(7)), ValueError, r"'joint_friction'"),
])
def test_bad_arguments_are_named(panda, call, error, message):
    with pytest.raises(error, match=message):
        call(panda)
