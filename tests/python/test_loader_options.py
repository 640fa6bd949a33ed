"""load_urdf's repair_inertia: an inertia tensor no rigid body has is refused, or, with the
option, replaced by the nearest consistent one and reported."""

import numpy as np
import pytest

import zorvik

# One link on a revolute joint about z, its centre of mass on the axis, with principal moments
# (-1, 2, 3) 1e-3 kg m^2 about x, y, z: a negative moment. The nearest moments with
# I_i + I_j >= I_k (which also makes them non-negative) are (0, 2.5, 2.5) 1e-3: the projection of
# (-1, 2, 3) on the edge of the cone where I_x = 0 and I_y = I_z, at distance sqrt(1.5) 1e-3; the
# projections on the faces alone leave the cone, and the other edges and the apex are farther.
URDF = """<?xml version="1.0"?>
<robot name="bad_inertia">
  <link name="base"/>
  <link name="wheel">
    <inertial>
      <origin xyz="0 0 0" rpy="0 0 0"/>
      <mass value="1.5"/>
      <inertia ixx="-0.001" ixy="0" ixz="0" iyy="0.002" iyz="0" izz="0.003"/>
    </inertial>
  </link>
  <joint name="spin" type="continuous">
    <parent link="base"/>
    <child link="wheel"/>
    <axis xyz="0 0 1"/>
  </joint>
</robot>
"""


def test_an_inconsistent_tensor_is_refused_without_the_option():
    with pytest.raises(zorvik.LoadError) as info:
        zorvik.Robot.from_string(URDF)
    assert "not positive semi-definite" in str(info.value)
    assert "repair_inertia" in str(info.value)   # the Python name of the option


def test_repair_inertia_takes_the_nearest_consistent_tensor_and_says_so(tmp_path):
    path = tmp_path / "bad_inertia.urdf"
    path.write_text(URDF)
    for robot in (zorvik.load_urdf(str(path), repair_inertia=True),
                  zorvik.Robot.from_string(URDF, repair_inertia=True)):
        repaired = [w for w in robot.warnings if "link 'wheel'" in w]
        assert len(repaired) == 1 and "repairInertia" in repaired[0]
        robot.q = np.zeros(1)
        robot.qdot = np.zeros(1)
        robot.update()
        M, _, _ = robot.joint_dynamics(zorvik.GRAVITY)
        assert M[0, 0] == pytest.approx(2.5e-3, rel=1e-12)
