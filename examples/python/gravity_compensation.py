#!/usr/bin/python3
"""Gravity compensation of the Franka Panda, simulated with the library's forward dynamics.

The controller applies tau = g(q) + M(q) (Kp (q_hold - q) - Kd qdot): the gravity torques from
idyn_gravity plus a spring and damper shaped by the mass matrix (idyn_momentum gives M(q) x
without forming M), so that every joint settles like a critically damped unit mass whatever
its inertia; the plant is fdyn at 1 kHz with semi-implicit Euler. Started away from q_hold, the
arm settles on it and stays: gravity is fully compensated, so no steady error remains. Prints the
torques at the start and the error over time. Any robot of any size works (q_hold repeats the
Panda's posture, held within the joint limits); --locked-joints fixes joints at given positions.

    /usr/bin/python3 examples/python/gravity_compensation.py [path/to/robot.urdf]
        [--locked-joints NAME=VALUE[,NAME=VALUE...]]
"""

import argparse
import os
import sys

import numpy as np

import zorvik

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_URDF = os.path.join(HERE, "..", "..", "tests", "data", "robots", "panda_arm.urdf")


def locked_joints(text):
    """'name=value,name=value' as a dict of positions (rad or m)."""
    locked = {}
    for item in filter(None, text.split(",")):
        name, sep, value = item.partition("=")
        if not sep:
            raise argparse.ArgumentTypeError(f"'{item}' is not NAME=VALUE")
        locked[name.strip()] = float(value)
    return locked


def hold_posture(robot, posture):
    """The posture repeated over the robot's n coordinates, kept 0.1 inside the limits."""
    lower, upper = robot.position_limits
    q = np.resize(np.asarray(posture, dtype=float), robot.n)
    inside = np.isfinite(lower) & np.isfinite(upper) & (upper - lower > 0.2)
    q[inside] = np.clip(q[inside], lower[inside] + 0.1, upper[inside] - 0.1)
    return q


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("urdf", nargs="?", default=DEFAULT_URDF)
    parser.add_argument("--locked-joints", type=locked_joints, default={},
                        help="NAME=VALUE[,NAME=VALUE...]: joints fixed at these positions")
    args = parser.parse_args()
    robot = zorvik.load_urdf(args.urdf, locked_joints=args.locked_joints)
    n, h = robot.n, 1e-3
    q_hold = hold_posture(robot, [0.0, -0.6, 0.0, -2.2, 0.0, 1.6, 0.8])
    Kp, Kd = 100.0, 20.0                          # 10 rad/s, critically damped
    robot.q = q_hold + 0.2
    robot.qdot = np.zeros(n)
    print(f"{robot.name}: {n} joints {robot.joint_names}")
    for step in range(3001):
        robot.update()
        g = robot.idyn_gravity(zorvik.GRAVITY)
        tau = g + robot.idyn_momentum(Kp * (q_hold - robot.q) - Kd * robot.qdot)
        if step == 0:
            print("gravity torques at the start [N m]:", np.round(g, 3))
        if step % 500 == 0:
            print(f"t = {step * h:4.1f} s  |q - q_hold| = {np.linalg.norm(robot.q - q_hold):.2e} rad")
        qddot = robot.fdyn(tau, zorvik.GRAVITY)
        robot.qdot = robot.qdot + h * qddot
        robot.q = robot.q + h * robot.qdot
    error = np.linalg.norm(robot.q - q_hold)
    print(f"settled: |q - q_hold| = {error:.2e} rad")
    return 0 if error < 1e-3 else 1


if __name__ == "__main__":
    sys.exit(main())
