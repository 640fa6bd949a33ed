"""Every supported size, checked on random chains through identities the dynamics must satisfy
(so that a size wired to the wrong model or a wrong layout cannot pass), and the batches against
single calls, bit for bit, whatever the number of threads."""

import os

import numpy as np
import pytest

import zorvik
from conftest import G, chain_urdf, robot_path


@pytest.mark.parametrize("n", zorvik.SUPPORTED_SIZES)
def test_every_size_satisfies_the_equations_of_motion(n):
    robot = zorvik.Robot.from_string(chain_urdf(n, seed=n, prismatic_every=3))
    assert robot.n == n and len(robot.joint_names) == n
    rng = np.random.default_rng(n)
    q, qdot, qddot = (rng.uniform(-1, 1, n) for _ in range(3))
    robot.q, robot.qdot = q, qdot
    robot.update()
    robot.update_jacobian()
    M, C, Gq = robot.joint_dynamics(G)
    tau = robot.idyn(qdot, qddot, G)
    np.testing.assert_allclose(tau, M @ qddot + C @ qdot + Gq, rtol=1e-10, atol=1e-10)
    np.testing.assert_allclose(robot.fdyn(tau, G), qddot, rtol=1e-8, atol=1e-8)
    np.testing.assert_allclose(robot.mass_inverse() @ M, np.eye(n), atol=1e-9)
    np.testing.assert_allclose(robot.J(n) @ qdot, robot.V(n), atol=1e-12)
    # The pose of the last body follows its twist: T(q + h qdot) = T(q) exp(h V) + O(h^2).
    h = 1e-6
    T0, V0 = robot.T(n), robot.V(n)
    robot.q = q + h * qdot
    robot.update(pos_only=True)
    np.testing.assert_allclose(robot.T(n), T0 @ zorvik.se3.exp(h * V0), atol=1e-10)


@pytest.fixture(scope="module")
def panda_batch():
    rng = np.random.default_rng(4)
    K = 37
    return [rng.uniform(-1, 1, (K, 7)) for _ in range(3)]


@pytest.mark.parametrize("threads", [1, 2, 3])
def test_batches_give_the_bits_of_single_calls(panda_batch, threads):
    robot = zorvik.load_urdf(robot_path("panda_arm"))
    Q, Qdot, X = panda_batch
    tau = robot.batch_idyn(Q, Qdot, X, G, threads=threads)
    qddot = robot.batch_fdyn(Q, Qdot, X, G, threads=threads)
    M, C, Gq = robot.batch_joint_dynamics(Q, Qdot, G, threads=threads)
    derivatives = (robot.batch_idyn_derivatives(Q, Qdot, X, G, threads=threads)
                   if zorvik.HAS_DERIVATIVES else None)
    assert tau.shape == (37, 7) and M.shape == (37, 7, 7) and Gq.shape == (37, 7)
    assert not np.any(robot.q)             # the robot's own state is not touched
    single = zorvik.load_urdf(robot_path("panda_arm"))
    for k in range(len(Q)):
        single.q, single.qdot = Q[k], Qdot[k]
        single.update()
        assert np.array_equal(tau[k], single.idyn(Qdot[k], X[k], G))
        assert np.array_equal(qddot[k], single.fdyn(X[k], G))
        Mk, Ck, Gk = single.joint_dynamics(G)
        assert np.array_equal(M[k], Mk) and np.array_equal(C[k], Ck) and np.array_equal(Gq[k], Gk)
        if derivatives is not None:
            dq, dqdot = single.idyn_derivatives(X[k], G)
            assert np.array_equal(derivatives[0][k], dq) and np.array_equal(derivatives[1][k], dqdot)


def test_empty_batches_return_empty_arrays():
    robot = zorvik.load_urdf(robot_path("ur5_robot"))
    empty = np.zeros((0, 6))
    assert robot.batch_idyn(empty, empty, empty, G).shape == (0, 6)
    assert robot.batch_joint_dynamics(empty, empty, G)[0].shape == (0, 6, 6)


def resident_kb():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def test_a_million_idyn_calls_leave_resident_memory_flat():
    robot = zorvik.load_urdf(robot_path("panda_arm"))
    robot.update()
    qdot, qddot = np.full(7, 0.1), np.full(7, 0.2)
    for _ in range(10_000):                # warm up the allocator's pools
        robot.idyn(qdot, qddot, zorvik.GRAVITY)
    before = resident_kb()
    for _ in range(1_000_000):
        robot.idyn(qdot, qddot, zorvik.GRAVITY)
    grown = resident_kb() - before
    # A leak of the 56-byte result alone would be 56 MB; allow 4 MB of allocator noise.
    assert grown < 4096, f"resident memory grew by {grown} kB"


def test_small_batches_stay_on_one_thread_by_default():
    # The documented rule: one thread per 2000 units of K * n * weight, within 1 .. cores.
    cores = os.cpu_count()
    assert zorvik._default_threads(10, 7, 1) == 1          # the K = 10 batch that took 99 us on 2
    assert zorvik._default_threads(571, 7, 1) == 1
    assert zorvik._default_threads(572, 7, 1) == min(2, cores)
    assert zorvik._default_threads(286, 7, 2) == min(2, cores)
    assert zorvik._default_threads(10**7, 16, 3) == cores
    assert zorvik._default_threads(0, 7, 1) == 1
