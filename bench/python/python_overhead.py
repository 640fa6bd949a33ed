#!/usr/bin/python3
"""What the Python module costs over the C++ calls, on the Panda (N = 7):

  - one robot.idyn(qdot, qddot, g) call from Python against the same call in a C++ loop
    (zorvik._zorvik._time_idyn, the module's own interface without Python in between);
  - batch_idyn per state on one thread against update() + idyn from C++ per state, and the
    throughput of two threads over one.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/python_overhead.py [--states K]

Each figure is the best of several repetitions (the least disturbed by other work on the
machine); the load average is printed with them.
"""

import argparse
import os
import time
import timeit

import numpy as np

import zorvik
from zorvik import _zorvik

HERE = os.path.dirname(os.path.abspath(__file__))
PANDA = os.path.join(HERE, "..", "..", "tests", "data", "robots", "panda_arm.urdf")


def best(f, repeat):
    return min(f() for _ in range(repeat))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--states", type=int, default=50_000)
    parser.add_argument("--calls", type=int, default=200_000)
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()

    robot = zorvik.load_urdf(PANDA)
    rng = np.random.default_rng(1)
    robot.q, robot.qdot = rng.uniform(-1, 1, 7), rng.uniform(-1, 1, 7)
    robot.update()
    qdot, qddot, g = robot.qdot.copy(), rng.uniform(-1, 1, 7), np.array(zorvik.GRAVITY)

    call = best(lambda: timeit.timeit(lambda: robot.idyn(qdot, qddot, g), number=args.calls),
                args.repeat) / args.calls
    cpp = best(lambda: _zorvik._time_idyn(robot, qdot, qddot, g, args.calls), args.repeat)

    K = args.states
    Q, Qdot, Qddot = (rng.uniform(-1, 1, (K, 7)) for _ in range(3))

    def batch(threads):
        def run():
            start = time.perf_counter()
            robot.batch_idyn(Q, Qdot, Qddot, g, threads=threads)
            return time.perf_counter() - start
        return best(run, args.repeat) / K

    one, two = batch(1), batch(2)
    cpp_state = best(lambda: _zorvik._time_states_idyn(robot, Q, Qdot, Qddot, g), args.repeat)

    print(f"load average: {os.getloadavg()[0]:.2f} ({os.cpu_count()} cores)")
    print("Panda (N = 7)                                   time      ratio")
    print(f"robot.idyn(qdot, qddot, g) from Python      {call * 1e9:8.0f} ns")
    print(f"the same idyn call from C++                 {cpp * 1e9:8.0f} ns")
    print(f"Python overhead per call                    {(call - cpp) * 1e9:8.0f} ns")
    print(f"update() + idyn per state from C++          {cpp_state * 1e9:8.0f} ns")
    print(f"batch_idyn per state, 1 thread              {one * 1e9:8.0f} ns  {one / cpp_state:5.2f} x C++")
    print(f"batch_idyn per state, 2 threads             {two * 1e9:8.0f} ns  {one / two:5.2f} x the throughput of 1 thread")


if __name__ == "__main__":
    main()
