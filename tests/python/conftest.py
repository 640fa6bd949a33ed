"""Shared helpers of the Python module's tests: the bundled robots, random states, the C++
reference program and a URDF writer for chains of any length."""

import os
import subprocess

import numpy as np
import pytest

import zorvik

DATA = os.environ.get(
    "ZORVIK_TEST_DATA_DIR", os.path.join(os.path.dirname(__file__), "..", "data"))
ROBOTS = os.path.join(DATA, "robots")
REFERENCE = os.environ.get("ZORVIK_PYTHON_REFERENCE", "")

G = np.array([0.3, -0.7, -9.81])


def robot_path(name):
    return os.path.join(ROBOTS, name + ".urdf")


def random_states(rng, n, count):
    """Rows of q, qdot, qddot and a fourth joint vector (reference rates, torques)."""
    return [tuple(rng.uniform(-1, 1, n) for _ in range(4)) for _ in range(count)]


def random_pose(rng):
    return zorvik.se3.exp(rng.uniform(-1, 1, 6))


def hexline(*arrays):
    return " ".join(float(x).hex() for a in arrays for x in np.ravel(a))


def run_reference(tmp_path, args, lines):
    """Runs the C++ reference program on the given input lines; its results by name, in order."""
    if not REFERENCE:
        pytest.skip("ZORVIK_PYTHON_REFERENCE is not set (run the suite through ctest)")
    path = tmp_path / "input.txt"
    path.write_text("\n".join(lines) + "\n")
    out = subprocess.run([REFERENCE] + [str(a) for a in args[:1]] + [str(a) for a in args[1:2]]
                         + [str(path)] + [str(a) for a in args[2:]],
                         check=True, capture_output=True, text=True).stdout
    results = {}
    for line in out.splitlines():
        name, *values = line.split()
        results.setdefault(name, []).append(np.array([float.fromhex(v) for v in values]))
    return results


def chain_urdf(n, seed=0, prismatic_every=0):
    """A serial chain of n joints with random geometry and mass properties (every
    prismatic_every-th joint prismatic), as URDF text."""
    rng = np.random.default_rng(seed)
    links, joints = [], []
    for k in range(n + 1):
        m = rng.uniform(0.5, 2.0)
        d = rng.uniform(0.01, 0.1, 3)
        ixx, iyy, izz = d[1] + d[2], d[0] + d[2], d[0] + d[1]   # principal moments of a real body
        c = rng.uniform(-0.1, 0.1, 3)
        rpy = rng.uniform(-1, 1, 3)
        links.append(
            f'<link name="l{k}"><inertial><origin xyz="{c[0]} {c[1]} {c[2]}" '
            f'rpy="{rpy[0]} {rpy[1]} {rpy[2]}"/><mass value="{m}"/><inertia ixx="{ixx}" '
            f'iyy="{iyy}" izz="{izz}" ixy="0" ixz="0" iyz="0"/></inertial></link>')
        if k == 0:
            continue
        o = rng.uniform(-0.3, 0.3, 3)
        r = rng.uniform(-1, 1, 3)
        axis = rng.normal(size=3)
        axis /= np.linalg.norm(axis)
        kind = "prismatic" if prismatic_every and k % prismatic_every == 0 else "revolute"
        joints.append(
            f'<joint name="j{k}" type="{kind}"><parent link="l{k - 1}"/><child link="l{k}"/>'
            f'<origin xyz="{o[0]} {o[1]} {o[2]}" rpy="{r[0]} {r[1]} {r[2]}"/>'
            f'<axis xyz="{axis[0]:.17g} {axis[1]:.17g} {axis[2]:.17g}"/>'
            f'<limit lower="-3" upper="3" effort="100" velocity="10"/></joint>')
    return f'<robot name="chain{n}">' + "".join(links + joints) + "</robot>"
