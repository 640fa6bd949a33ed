"""ZorvikCore from Python: rigid-body kinematics and dynamics of robot manipulators on numpy arrays.

    import numpy as np
    import zorvik

    robot = zorvik.load_urdf("panda_arm.urdf")      # a Robot of whatever size the file has
    robot.q = np.full(robot.n, 0.3)
    robot.qdot = np.zeros(robot.n)
    robot.update()                                  # poses and twists
    tau = robot.idyn(robot.qdot, np.zeros(robot.n), zorvik.GRAVITY)
    M, C, G = robot.joint_dynamics(zorvik.GRAVITY)

Conventions: float64 arrays; joint-space vectors (n,), matrices (n, n), Jacobians (6, n) with the
linear rows first, twists (v, w) and wrenches (f, n) as (6,), poses (4, 4). A body's twist,
acceleration and Jacobian are in the body's own frame; poses are in the base's reference frame.
Units: SI (m, rad, kg, s, N, N m).
"""

import numpy as _np

# Loading the library sets flush-to-zero and denormals-are-zero on this thread (see the README's
# floating point mode); numpy's limits are read before, so that it describes float64 as it is.
_np.finfo(_np.float64)
_np.finfo(_np.float32)

from ._zorvik import (  # noqa: F401
    HAS_DERIVATIVES,
    SUPPORTED_SIZES,
    COMPILED_SIZES,
    BaseParameters,
    HTransformController,
    LoadError,
    MomentumObserver,
    OperationalSpace,
    Robot,
    RotationController,
    base_parameters,
    load_urdf,
    se3,
    so3,
    wrench_regressor,
)
from ._zorvik import _default_threads  # noqa: F401  (the batches' thread rule, for the tests)

#: Standard gravity in a reference frame whose z axis points up (m/s^2).
GRAVITY = _np.array([0.0, 0.0, -9.81])
GRAVITY.setflags(write=False)

__all__ = [
    "GRAVITY",
    "HAS_DERIVATIVES",
    "SUPPORTED_SIZES",
    "COMPILED_SIZES",
    "HTransformController",
    "LoadError",
    "MomentumObserver",
    "Robot",
    "RotationController",
    "load_urdf",
    "se3",
    "so3",
]
