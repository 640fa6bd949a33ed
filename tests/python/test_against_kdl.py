"""The Panda's joint torques, mass matrix and hand Jacobian against Orocos KDL's own Python
bindings (python3-pykdl from Debian), on a KDL chain built here from the same URDF: a second
implementation of the kinematics and dynamics, agreeing to rounding."""

import xml.etree.ElementTree as ET

import numpy as np
import pytest

import zorvik
from conftest import robot_path

kdl = pytest.importorskip("PyKDL")

TIP = "panda_hand_tcp"


def origin_frame(element):
    o = element.find("origin")
    xyz = [float(v) for v in (o.get("xyz", "0 0 0") if o is not None else "0 0 0").split()]
    rpy = [float(v) for v in (o.get("rpy", "0 0 0") if o is not None else "0 0 0").split()]
    return kdl.Frame(kdl.Rotation.RPY(*rpy), kdl.Vector(*xyz))


def link_inertia(link):
    """The link's mass properties as a KDL inertia about the link frame (URDF: about the centre
    of mass, in the inertial frame)."""
    inertial = link.find("inertial")
    if inertial is None:
        return kdl.RigidBodyInertia()
    i = {k: float(v) for k, v in inertial.find("inertia").attrib.items()}
    about_com = kdl.RigidBodyInertia(
        float(inertial.find("mass").get("value")), kdl.Vector(),
        kdl.RotationalInertia(i["ixx"], i["iyy"], i["izz"], i["ixy"], i["ixz"], i["iyz"]))
    return origin_frame(inertial) * about_com


def panda_chain():
    """KDL chain from the root to TIP; links hanging off the chain on fixed joints (the fingers)
    are added to the inertia of the segment they hang from, with KDL's own frame change."""
    root = ET.parse(robot_path("panda_arm")).getroot()
    links = {l.get("name"): l for l in root.findall("link")}
    joints = root.findall("joint")
    by_child = {j.find("child").get("link"): j for j in joints}
    path = [TIP]
    while path[-1] in by_child:
        path.append(by_child[path[-1]].find("parent").get("link"))
    path.reverse()

    def lumped(name):
        total = link_inertia(links[name])
        for j in joints:
            child = j.find("child").get("link")
            if j.find("parent").get("link") == name and child not in path:
                assert j.get("type") == "fixed"
                total = total + origin_frame(j) * lumped(child)
        return total

    chain = kdl.Chain()
    for child in path[1:]:
        j = by_child[child]
        f = origin_frame(j)
        if j.get("type") == "fixed":
            joint = kdl.Joint(j.get("name"), kdl.Joint.Fixed)
        else:
            axis = kdl.Vector(*[float(v) for v in j.find("axis").get("xyz").split()])
            joint = kdl.Joint(j.get("name"), f.p, f.M * axis, kdl.Joint.RotAxis)
        chain.addSegment(kdl.Segment(child, joint, f, lumped(child)))
    return chain


def jnt(values):
    a = kdl.JntArray(len(values))
    for i, v in enumerate(values):
        a[i] = v
    return a


def states(count):
    rng = np.random.default_rng(21)
    return [(rng.uniform(-2, 2, 7), rng.uniform(-2, 2, 7), rng.uniform(-5, 5, 7))
            for _ in range(count)]


@pytest.fixture(scope="module")
def chain():
    c = panda_chain()
    assert c.getNrOfJoints() == 7
    return c


def test_panda_torques_match_kdl(chain):
    robot = zorvik.load_urdf(robot_path("panda_arm"))
    solver = kdl.ChainIdSolver_RNE(chain, kdl.Vector(0, 0, -9.81))
    for q, qdot, qddot in states(10):
        robot.q, robot.qdot = q, qdot
        robot.update()
        tau = robot.idyn(qdot, qddot, zorvik.GRAVITY)
        expected = kdl.JntArray(7)
        wrenches = [kdl.Wrench() for _ in range(chain.getNrOfSegments())]
        assert solver.CartToJnt(jnt(q), jnt(qdot), jnt(qddot), wrenches, expected) >= 0
        expected = np.array([expected[i] for i in range(7)])
        np.testing.assert_allclose(tau, expected, rtol=1e-10, atol=1e-10 * np.abs(expected).max())


def test_panda_mass_matrix_matches_kdl(chain):
    robot = zorvik.load_urdf(robot_path("panda_arm"))
    dyn = kdl.ChainDynParam(chain, kdl.Vector(0, 0, -9.81))
    for q, qdot, _ in states(10):
        robot.q, robot.qdot = q, qdot
        robot.update()
        M, _, G = robot.joint_dynamics(zorvik.GRAVITY)
        expected = kdl.JntSpaceInertiaMatrix(7)
        dyn.JntToMass(jnt(q), expected)
        expected = np.array([[expected[i, j] for j in range(7)] for i in range(7)])
        np.testing.assert_allclose(M, expected, rtol=1e-10, atol=1e-12)
        gravity = kdl.JntArray(7)
        dyn.JntToGravity(jnt(q), gravity)
        np.testing.assert_allclose(G, [gravity[i] for i in range(7)], rtol=1e-10, atol=1e-10)


def test_panda_hand_jacobian_matches_kdl(chain):
    robot = zorvik.load_urdf(robot_path("panda_arm"))
    solver = kdl.ChainJntToJacSolver(chain)
    fk = kdl.ChainFkSolverPos_recursive(chain)
    for q, _, _ in states(10):
        robot.q = q
        robot.update(pos_only=True)
        robot.update_jacobian(pos_only=True)
        # KDL's Jacobian: the tip's origin velocity and angular velocity in the base axes.
        expected = kdl.Jacobian(7)
        solver.JntToJac(jnt(q), expected)
        expected = np.array([[expected[i, j] for j in range(7)] for i in range(6)])
        np.testing.assert_allclose(robot.frame_jacobian(TIP, "world_aligned"), expected,
                                   rtol=1e-10, atol=1e-12)
        pose = kdl.Frame()
        fk.JntToCart(jnt(q), pose)
        T = np.array([[pose[i, j] for j in range(4)] for i in range(3)] + [[0, 0, 0, 1]])
        np.testing.assert_allclose(robot.frame_pose(TIP), T, rtol=0, atol=1e-12)
