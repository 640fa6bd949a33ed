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



def skew(p):
    return np.array([[0, -p[2], p[1]], [p[2], 0, -p[0]], [-p[1], p[0], 0]])


def load_parameters(m, c, I, T):
    """The ten parameters of a load (mass m, centre of mass c and inertia I about it in its own
    frame) in a body frame where T is the load frame's pose: the centre of mass carried, the
    inertia rotated and moved to the body's origin by the parallel-axis theorem."""
    R, r = T[:3, :3], T[:3, 3]
    cb = R @ c + r
    Io = R @ I @ R.T + m * (cb @ cb * np.eye(3) - np.outer(cb, cb))
    return np.concatenate([[m], m * cb, [Io[0, 0], Io[1, 1], Io[2, 2], Io[0, 1], Io[1, 2],
                                         Io[2, 0]]])


def test_payload_adds_its_parameters_and_removing_it_restores_them(panda):
    k, m, c = 5, 1.3, np.array([0.02, -0.04, 0.07])
    I = np.array([[0.011, 0.002, -0.001], [0.002, 0.014, 0.003], [-0.001, 0.003, 0.009]])
    T = zorvik.se3.exp(np.array([0.05, -0.1, 0.2, 0.4, -0.7, 0.3]))
    pi0 = panda.inertial_parameters().copy()
    panda.add_payload(k, m, com=c, inertia=I, pose=T)
    expected = pi0.copy()
    expected[10 * (k - 1):10 * k] += load_parameters(m, c, I, T)
    np.testing.assert_allclose(panda.inertial_parameters(), expected, rtol=1e-13, atol=1e-14)
    panda.remove_payload(k, m, com=c, inertia=I, pose=T)
    np.testing.assert_allclose(panda.inertial_parameters(), pi0, rtol=1e-13, atol=1e-14)
    # By link name the pose is in the link's frame: the hand sits on body 7 at a fixed offset.
    assert panda.frame_body("panda_hand") == 7
    panda.add_payload("panda_hand", m, com=c, inertia=I, pose=T)
    expected = pi0.copy()
    expected[60:70] += load_parameters(m, c, I, panda.frame_offset("panda_hand") @ T)
    np.testing.assert_allclose(panda.inertial_parameters(), expected, rtol=1e-13, atol=1e-14)
    panda.remove_payload("panda_hand", m, com=c, inertia=I, pose=T)
    np.testing.assert_allclose(panda.inertial_parameters(), pi0, rtol=1e-13, atol=1e-14)


def test_point_payload_changes_idyn_as_the_lumped_body_does(panda):
    m, p = 0.8, np.array([0.03, -0.05, 0.12])  # on the last body, in its frame
    rng = np.random.default_rng(8)
    qdot, qddot = panda.qdot.copy(), rng.uniform(-1, 1, 7)  # idyn's velocity: the update's
    panda.update_jacobian()
    tau_g0 = panda.idyn_gravity(G).copy()
    J7, R7 = panda.J(7).copy(), panda.T(7)[:3, :3].copy()

    # The same body lumped by hand: mass-weighted centre of mass, each part's inertia carried to it.
    m7, c7, I7 = panda.body_mass(7), panda.body_com(7), panda.body_inertia(7)
    c = (m7 * c7 + m * p) / (m7 + m)
    d7, dp = c7 - c, p - c
    I = (I7 + m7 * (d7 @ d7 * np.eye(3) - np.outer(d7, d7)) +
         m * (dp @ dp * np.eye(3) - np.outer(dp, dp)))
    by_hand = zorvik.load_urdf(robot_path("panda_arm"))
    by_hand.set_body_mass_properties(7, mass=m7 + m, com=c, inertia=I)
    by_hand.q, by_hand.qdot = panda.q, panda.qdot
    by_hand.update()

    panda.batch_idyn(panda.q[None], qdot[None], qddot[None], G, threads=2)  # workers made before
    panda.add_payload(7, m, com=p)
    # Held still, the point needs the force -m g: its velocity in the reference frame is
    # R (v + w x p) = R [1, -[p]] J qdot, so the torques grow by J^T [1; [p]] R^T (-m g).
    tau_g = panda.idyn_gravity(G)
    np.testing.assert_allclose(tau_g - tau_g0, J7.T @ np.concatenate(
        [np.eye(3), skew(p)]) @ R7.T @ (-m * G), atol=1e-12)
    np.testing.assert_allclose(panda.idyn(qdot, qddot, G), by_hand.idyn(qdot, qddot, G),
                               rtol=1e-12, atol=1e-12)
    # The batch workers see the payload too.
    np.testing.assert_array_equal(panda.batch_idyn(panda.q[None], qdot[None], qddot[None], G,
                                                   threads=2)[0], panda.idyn(qdot, qddot, G))

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
    (lambda r: r.add_payload(7, -0.5), ValueError, r"'mass' must be finite and >= 0"),
    (lambda r: r.add_payload(7, np.nan), ValueError, r"'mass' must be finite"),
    (lambda r: r.add_payload(7, 1.0, com=[0, 0]), ValueError, r"'com' must have shape"),
    (lambda r: r.add_payload(7, 1.0, inertia=np.eye(2)), ValueError, r"'inertia' must have shape"),
    (lambda r: r.add_payload(7, 1.0, inertia=np.triu(np.ones((3, 3)))), ValueError,
     r"'inertia' must be symmetric"),
    (lambda r: r.add_payload(7, 1.0, pose=2 * np.eye(4)), ValueError, r"'pose' must be a rigid"),
    (lambda r: r.add_payload(7, 1.0, pose=np.diag([1.0, 1, 2, 1])), ValueError,
     r"'pose' must be a rotation"),
    (lambda r: r.add_payload(7, 1.0, pose=np.eye(3)), ValueError, r"'pose' must have shape"),
    (lambda r: r.add_payload("no_such_link", 1.0), ValueError, r"'body'.*no link"),
    (lambda r: r.add_payload(8, 1.0), IndexError, r"'body' must be a body index in 0..7"),
    (lambda r: r.remove_payload(7, 1e3), ValueError, r"'mass'.*exceeds body 7"),
])
def test_bad_arguments_are_named(panda, call, error, message):
    with pytest.raises(error, match=message):
        call(panda)
