"""Bad input never reaches the library: wrong types, dtypes, shapes and indices raise TypeError,
ValueError or IndexError naming the argument and the expected shape; load errors carry the
file, line and element. And the state vectors behave as documented: views, assigned by copy."""

import numpy as np
import pytest

import zorvik
from conftest import robot_path


@pytest.fixture
def panda():
    r = zorvik.load_urdf(robot_path("panda_arm"))
    r.update()
    return r


Z7 = np.zeros(7)


@pytest.mark.parametrize("call,message", [
    (lambda r: r.idyn(np.zeros(6), Z7, zorvik.GRAVITY), r"'qdot' must have shape \(7,\), got \(6,\)"),
    (lambda r: r.idyn(Z7, np.zeros((7, 1)), None), r"'qddot' must have shape \(7,\), got \(7, 1\)"),
    (lambda r: r.idyn(Z7, Z7, np.zeros(4)), r"'gravity' must have shape \(3,\), got \(4,\)"),
    (lambda r: r.fdyn(np.zeros(8)), r"'tau' must have shape \(7,\)"),
    (lambda r: r.idyn(Z7, Z7, None, base_acc=np.zeros(6)), r"'base_acc' is for floating-base"),
    (lambda r: r.batch_idyn(np.zeros((5, 7)), np.zeros((4, 7)), np.zeros((5, 7)), zorvik.GRAVITY),
     r"'Qdot' must have shape \(5, 7\), got \(4, 7\)"),
    (lambda r: r.batch_fdyn(np.zeros((5, 6)), np.zeros((5, 7)), np.zeros((5, 7)), zorvik.GRAVITY),
     r"'Q' must have shape \(K, 7\), got \(5, 6\)"),
    (lambda r: r.batch_idyn(np.zeros((2, 7)), np.zeros((2, 7)), np.zeros((2, 7)), zorvik.GRAVITY,
                            threads=0), r"'threads' must be at least 1"),
    (lambda r: r.frame_jacobian("panda_hand", "hybrid"), r"'convention' must be 'body'"),
    (lambda r: r.frame_pose("no_such_link"), r"has no link 'no_such_link'"),
    (lambda r: setattr(r, "q", np.zeros(3)), r"'q' must have shape \(7,\), got \(3,\)"),
    (lambda r: r.inverse_kinematics("panda_hand", np.eye(3), Z7), r"'target' must have shape \(4, 4\)"),
    (lambda r: zorvik.MomentumObserver(6, 1e-3, 50.0).estimate(r), r"'robot' must have 6 joint"),
    (lambda r: zorvik.MomentumObserver(7, 1e-3, np.ones(6)), r"'gain' must have shape \(7,\)"),
    (lambda r: zorvik.MomentumObserver(zorvik.SUPPORTED_SIZES[-1] + 1, 1e-3, 1.0),
         r"'n' must be a supported size"),
        (lambda r: zorvik.MomentumObserver(0, 1e-3, 1.0), r"'n' must be a supported size"),
    (lambda r: zorvik.se3.exp(np.zeros(3)), r"'lam' must have shape \(6,\)"),
    (lambda r: zorvik.RotationController(kp=np.ones(6)), r"'kp' must have shape \(3,\)"),
])
def test_wrong_shapes_and_values_raise_value_error(panda, call, message):
    with pytest.raises(ValueError, match=message):
        call(panda)


@pytest.mark.parametrize("call,message", [
    (lambda r: r.idyn("abc", Z7), r"'qdot' must be a real array of shape \(7,\)"),
    (lambda r: r.idyn(Z7 + 1j, Z7), r"'qdot' must be a real array .* complex128"),
    (lambda r: r.idyn(None, Z7), r"'qdot' must be an array of shape \(7,\), got None"),
    (lambda r: r.fdyn(np.array(["a"] * 7)), r"'tau' must be a real array"),
    (lambda r: r.frame_pose(2.5), r"'frame' must be a link name"),
    (lambda r: r.batch_idyn(np.zeros((2, 7)), np.zeros((2, 7)), np.zeros((2, 7)), zorvik.GRAVITY,
                            threads="all"), r"'threads' must be an int"),
    (lambda r: zorvik.HTransformController().error(np.eye(4), object()), r"'Td' must be a real array"),
])
def test_wrong_types_raise_type_error(panda, call, message):
    with pytest.raises(TypeError, match=message):
        call(panda)


@pytest.mark.parametrize("call,message", [
    (lambda r: r.T(8), r"'k' must be a body index in 0..7, got 8"),
    (lambda r: r.J(-1), r"'k' must be a body index in 0..7, got -1"),
    (lambda r: r.frame_twist(1000), r"'frame' must be a frame index in 0..\d+, got 1000"),
    (lambda r: zorvik.RotationController().set_impedance_dir(3, 1.0), r"'axis' must be in 0..2"),
])
def test_indices_out_of_range_raise_index_error(panda, call, message):
    with pytest.raises(IndexError, match=message):
        call(panda)


def test_fixed_base_operations_refuse_a_floating_base():
    r = zorvik.load_urdf(robot_path("panda_arm"), floating_base=True)
    r.update()
    for call in (lambda: r.joint_dynamics(zorvik.GRAVITY), r.mass_inverse,
                 lambda: zorvik.MomentumObserver(7, 1e-3, 1.0).estimate(r)):
        with pytest.raises(ValueError, match="needs a fixed base"):
            call()
    fixed = zorvik.load_urdf(robot_path("panda_arm"))
    with pytest.raises(ValueError, match="floating-base robots only"):
        fixed.base_pose = np.eye(4)


def test_real_arrays_of_other_dtypes_and_lists_are_converted(panda):
    q = np.linspace(-1, 1, 7)
    panda.q = q
    panda.update()
    expected = panda.idyn(q, q, zorvik.GRAVITY)
    assert np.array_equal(panda.idyn(list(q), q.astype(np.float64)[::-1][::-1], [0, 0, -9.81]), expected)
    assert np.array_equal(panda.idyn_momentum(np.arange(7)), panda.idyn_momentum(np.arange(7.0)))


def test_load_errors_carry_file_line_and_element(tmp_path):
    path = tmp_path / "broken.urdf"
    path.write_text('<robot name="r">\n<link name="a"/>\n<link name="b"/>\n'
                    '<joint name="j" type="revolute">\n<parent link="a"/>\n<child link="c"/>\n'
                    '<axis xyz="0 0 1"/>\n</joint>\n</robot>\n')
    with pytest.raises(zorvik.LoadError) as info:
        zorvik.load_urdf(path)
    e = info.value
    # The undefined child link is named on the line of the <child> element of joint 'j'.
    assert e.file == str(path) and e.line == 6
    assert "joint 'j'" in e.element and "<child" in e.element and "'c'" in e.problem
    assert str(e).startswith(f"{path}:6: ")
    with pytest.raises(zorvik.LoadError) as info:
        zorvik.load_urdf(tmp_path / "missing.urdf")
    assert info.value.file == str(tmp_path / "missing.urdf")
    with pytest.raises(zorvik.LoadError) as info:
        zorvik.Robot.from_string("<robot", source_name="inline")
    assert info.value.file == "inline"


def test_state_vectors_are_views_assigned_by_copy(panda):
    q = panda.q
    panda.q[2] = 0.5                       # writes the model's own coordinate
    assert q[2] == 0.5 and panda.q[2] == 0.5
    new = np.full(7, 0.25)
    panda.q = new                          # copies the values in
    new[0] = 9.0
    assert panda.q[0] == 0.25 and q[0] == 0.25   # an earlier view sees the model's values
    panda.update()
    tau = panda.idyn(Z7, Z7, zorvik.GRAVITY)
    assert np.array_equal(tau, panda.tau)  # the result is left in tau ...
    tau[0] += 1.0
    assert tau[0] != panda.tau[0]          # ... and returned as a new array


def test_views_keep_their_robot_alive():
    q = zorvik.load_urdf(robot_path("ur5_robot")).q
    q[:] = 1.0
    assert np.all(q == 1.0)


def _skewed(T, amount):
    T = np.array(T, dtype=float)
    T[0, 1] += amount
    return T


# Values of the right shape that cannot mean anything: each a ValueError naming the argument.
@pytest.mark.parametrize("call,message", [
    (lambda r: r.inverse_kinematics("panda_hand", _skewed(np.eye(4), 0.1), Z7),
     r"'target' must be a rotation"),
    (lambda r: r.inverse_kinematics("panda_hand", 2 * np.eye(4), Z7), r"'target' must be"),
    (lambda r: r.inverse_kinematics("panda_hand", np.diag([1.0, 1.0, -1.0, 1.0]), Z7),
     r"'target' must be a rotation .*det"),
    (lambda r: r.inverse_kinematics("panda_hand", np.vstack([np.eye(4)[:3], [0, 0, 1, 1]]), Z7),
     r"'target' must be a rigid transform with the last row \(0, 0, 0, 1\)"),
    (lambda r: r.inverse_kinematics("panda_hand", np.full((4, 4), np.nan), Z7), r"'target'"),
    (lambda r: r.inverse_kinematics("panda_hand", np.eye(4), Z7, position_tolerance=-1e-6),
     r"'position_tolerance' must be >= 0"),
    (lambda r: r.inverse_kinematics("panda_hand", np.eye(4), Z7, rotation_tolerance=np.nan),
     r"'rotation_tolerance' must be >= 0"),
    (lambda r: r.inverse_kinematics("panda_hand", np.eye(4), Z7, position_weight=np.nan),
     r"'position_weight' must be finite and >= 0"),
    (lambda r: r.inverse_kinematics("panda_hand", np.eye(4), Z7, rotation_weight=-1.0),
     r"'rotation_weight' must be finite and >= 0"),
    (lambda r: r.inverse_kinematics("panda_hand", np.eye(4), Z7, position_weight=0.0,
                                    rotation_weight=0.0), r"'position_weight' and 'rotation_weight'"),
    (lambda r: r.inverse_kinematics("panda_hand", np.eye(4), Z7, max_iterations=0),
     r"'max_iterations' must be at least 1"),
    (lambda r: r.inverse_kinematics("panda_hand", np.eye(4), Z7, restarts=-1),
     r"'restarts' must be at least 0"),
    (lambda r: zorvik.MomentumObserver(7, 0.0, 50.0), r"'period' must be a finite positive"),
    (lambda r: zorvik.MomentumObserver(7, -1.0, 50.0), r"'period' must be a finite positive"),
    (lambda r: zorvik.MomentumObserver(7, np.nan, 50.0), r"'period' must be a finite positive"),
    (lambda r: zorvik.MomentumObserver(7, 1e-3, np.nan), r"'gain' must be finite"),
    (lambda r: zorvik.MomentumObserver(7, 1e-3, np.r_[np.ones(6), -1.0]), r"'gain' must be >= 0"),
    (lambda r: zorvik.RotationController(kp=np.nan), r"'kp' must be finite"),
    (lambda r: zorvik.HTransformController(kv=[1, 1, 1, np.inf, 1, 1]), r"'kv' must be finite"),
    (lambda r: zorvik.HTransformController(period=-1e-3), r"'period' must be a finite non-negative"),
    (lambda r: zorvik.RotationController().set_period(np.nan), r"'period' must be a finite"),
    (lambda r: setattr(zorvik.RotationController(), "ki", np.nan), r"'ki' must be finite"),
    (lambda r: zorvik.so3.log(np.diag([1.0, 2.0, 3.0])), r"'R' must be a rotation"),
    (lambda r: zorvik.so3.log(-np.eye(3)), r"'R' must be a rotation .*det"),
    (lambda r: zorvik.se3.log(_skewed(np.eye(4), 0.01)), r"'T' must be a rotation"),
    (lambda r: zorvik.se3.Ad(np.vstack([np.eye(4)[:3], [1, 0, 0, 1]])), r"'T' must be a rigid"),
    (lambda r: zorvik.RotationController().error(np.eye(3), 3 * np.eye(3)), r"'Rd' must be a rotation"),
])
def test_impossible_values_raise_value_error(panda, call, message):
    with pytest.raises(ValueError, match=message):
        call(panda)


def test_rotations_from_float32_data_are_accepted():
    # A rotation that went through float32 is off by about 1e-7: still a rotation.
    R = zorvik.so3.exp([0.3, -1.2, 0.8]).astype(np.float32)
    np.testing.assert_allclose(zorvik.so3.log(R), [0.3, -1.2, 0.8], atol=1e-6)


def test_load_urdf_takes_str_bytes_and_path_like(tmp_path):
    import os
    import pathlib
    path = robot_path("ur5_robot")
    for form in (path, os.fsencode(path), pathlib.Path(path)):
        assert zorvik.load_urdf(form).n == 6
    with pytest.raises(zorvik.LoadError) as info:
        zorvik.load_urdf(os.fsencode(str(tmp_path / "missing.urdf")))
    assert info.value.file == str(tmp_path / "missing.urdf")     # not "b'...'"
    with pytest.raises(TypeError, match=r"'path' must be a str, bytes or os.PathLike, got int"):
        zorvik.load_urdf(3)


def test_loader_messages_name_the_python_options():
    xml = ('<robot name="m"><link name="a"/><link name="b"/><link name="c"/>'
           '<joint name="j1" type="revolute"><parent link="a"/><child link="b"/>'
           '<axis xyz="0 0 1"/><limit lower="-1" upper="1" effort="1" velocity="1"/></joint>'
           '<joint name="j2" type="revolute"><parent link="b"/><child link="c"/>'
           '<axis xyz="0 0 1"/><limit lower="-1" upper="1" effort="1" velocity="1"/>'
           '<mimic joint="j1"/></joint></robot>')
    with pytest.raises(zorvik.LoadError) as info:
        zorvik.Robot.from_string(xml)
    assert "locked_joints" in info.value.problem and "LoadOptions" not in str(info.value)
    with pytest.raises(zorvik.LoadError) as info:
        zorvik.Robot.from_string(xml, locked_joints={"nothing": 0.0})
    assert info.value.element == "locked_joints" and "LoadOptions" not in str(info.value)
