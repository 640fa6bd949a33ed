"""The examples on robots other than the Panda they were written for: any size, and joints locked
from the command line (each example's exit status checks what it prints)."""

import os
import subprocess
import sys

import pytest

from conftest import robot_path

EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "python")


def run(example, *args, cwd=None):
    return subprocess.run([sys.executable, os.path.join(EXAMPLES, example)] + list(args),
                          capture_output=True, text=True, cwd=cwd)


@pytest.mark.parametrize("args,n", [
    ([robot_path("allegro_right_hand")], 16),
    ([robot_path("baxter_arms")], 14),
    ([robot_path("panda_arm"), "--locked-joints", "panda_joint7=0.5,panda_joint1=-0.2"], 5),
])
def test_gravity_compensation_settles_any_robot(args, n):
    out = run("gravity_compensation.py", *args)
    assert out.returncode == 0, out.stdout + out.stderr
    assert f": {n} joints" in out.stdout


def test_contact_detection_takes_locked_joints(tmp_path):
    out = run("contact_detection.py", "--locked-joints", "panda_joint7=0.3", "--out",
              str(tmp_path), cwd=tmp_path)
    assert out.returncode == 0, out.stdout + out.stderr
    assert "push of 20 N on body 6" in out.stdout


def test_a_malformed_lock_is_a_usage_error():
    out = run("gravity_compensation.py", "--locked-joints", "panda_joint7")
    assert out.returncode == 2 and "NAME=VALUE" in out.stderr
