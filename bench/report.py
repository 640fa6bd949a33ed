#!/usr/bin/env python3
"""Prints the tables of zorvik_bench runs from their JSON output (Google Benchmark format).

Usage: report.py results.json [more.json ...]

scripts/bench.sh runs each peer's rows in processes of their own, one JSON file a process and a
repetition; this merges them. Every figure is the median, over all the repetitions of a row in all
the files, of the CPU time per call, in ns (CPU time rather than wall time, so that time the
process spends preempted on a shared machine is not counted). A file that holds only aggregates
(--benchmark_report_aggregates_only) contributes its median. Ratios are ours divided by the
peer's, measured in the same interleaved session. "allocs" is the heap allocations per call of a
row's timed loop (the largest over its repetitions).
"""
import json
import sys

ROBOTS = [("ur5", 6), ("panda", 7), ("baxter", 14), ("allegro", 16)]

OURS_OPS = [
    ("update_full", "update(false)", 1),
    ("update_pos", "update(true)", 1),
    ("update_velocity", "updateVelocity()", 1),
    ("jacobian_full", "updateJacobian(false)", 1),
    ("jacobian_pos", "updateJacobian(true)", 1),
    ("idyn", "idyn (gravity)", 1),
    ("idyn_passive", "idyn_passive (gravity)", 1),
    ("idyn_gravity", "idyn_gravity", 1),
    ("idyn_momentum", "idyn_momentum", 1),
    ("fdyn_only", "fdyn (gravity)", 1),
    ("mass_inverse_only", "MassInverse", 2),
    ("mass_matrix", "MassMatrix", 2),
    ("joint_dynamics", "JointDynamics", 2),
    ("osc_compute", "OperationalSpaceXD::compute", 2),
    ("osc_dense", "  dense route (MassMatrix, LLT)", 2),
    ("osc_articulated", "  products on MassInverse", 2),
    ("idyn_derivatives", "update(false)+IdynDerivatives", 2),
    ("fdyn_derivatives", "update(false)+FdynDerivatives", 2),
    ("idyn_finite_differences", "(N+1) x (update(false)+idyn)", 2),
    ("regressor", "update(false)+Regressor", 2),
    ("passive_regressor", "update(false)+PassiveRegressor", 2),
    ("observer", "MomentumObserverXD::estimate", 2),
    ("com_jacobian", "CentroidalXD::centerOfMass with Jc", 1),
    ("kinetic_energy", "CentroidalXD::kineticEnergy", 1),
    ("cycle", "control cycle", 2),
]

TASK_OPS = [
    ("rot_impedance", "RotationController::refImpedanceAcceleration"),
    ("rot_compliance", "RotationController::refComplianceForce"),
    ("htf_impedance", "HTransformController::refImpedanceAcceleration"),
    ("htf_compliance", "HTransformController::refComplianceForce"),
]

PEERS = [("kdl", "KDL"), ("dart", "DART"), ("mujoco", "MuJoCo")]

# (op, ours, kdl, dart, mujoco): the same work in each library, from the joint state.
PEER_OPS = [
    ("fk_pos", "update(true)", "FK pose: tips", "computeFK(pos)", "mj_kinematics"),
    ("fk_vel", "update(false)", "FK vel: ChainFkSolverVel", "computeFK(pos, vel)",
     "kinematics + comPos + comVel"),
    ("rnea", "update(false) + idyn", "RNE (tree/chain)", "computeInverseDynamics",
     "fk_vel + mj_rne"),
    ("gravity", "update(true) + idyn_gravity", "JntToGravity", "getGravityForces", "-"),
    ("coriolis", "update(false) + idyn_passive(qdot, 0)", "JntToCoriolis", "getCoriolisForces",
     "-"),
    ("mass", "update(true) + MassMatrix", "JntToMass", "getMassMatrix",
     "kinematics + comPos + crb + fullM"),
    ("dynamics", "update(false) + JointDynamics", "Mass + Coriolis + Gravity", "M + C qdot + g",
     "-"),
    ("fdyn", "update(false) + fdyn", "ChainFdSolver_RNE", "computeForwardDynamics",
     "fk_vel + crb + factorM + rne + solveM"),
    ("mass_inverse", "update(true) + MassInverse", "-", "getInvMassMatrix",
     "crb + factorM + solveM(I)"),
    ("jac_pos", "update(true) + updateJacobian(true)", "tips: pose + Jac", "tips: Jacobian", "-"),
    ("jac_full", "update(false) + updateJacobian(false)", "tips: pose + Jac + JacDot",
     "tips: Jac + SpatialDeriv", "-"),
]

# Targets on the ratio ours / KDL: (op, bound, robots it is stated for).
KDL_TARGETS = [
    ("rnea", 0.30, ["panda"]),
    ("gravity", 0.25, ["panda"]),
    ("jac_full", 0.50, ["ur5", "panda", "baxter", "allegro"]),
    ("dynamics", 0.50, ["ur5", "panda", "baxter", "allegro"]),
    # The round of the library path for the library's own joints and plain bodies.
    ("rnea", 0.40, ["ur5", "panda"]),
    ("gravity", 0.30, ["panda"]),
    ("dynamics", 0.60, ["ur5", "panda"]),
    ("fdyn", 0.40, ["panda"]),
]

# Bounds on the whole control cycle, ns: (robot, bound).
CYCLE_TARGETS = [("panda", 1200), ("allegro", 2400)]

# Targets on the ratio of one of our rows to another of the same run, ours or KDL's:
# (label, (peer, op), (peer, op), bound, robots).
CROSS_TARGETS = [
    ("update(false) + fdyn vs update(false) + idyn", ("ours", "fdyn"), ("ours", "rnea"), 2.2,
     ["ur5", "panda", "baxter", "allegro"]),
    ("update(true) + MassInverse vs KDL RNE", ("ours", "mass_inverse"), ("kdl", "rnea"), 0.9,
     ["panda"]),
    ("update(false) + IdynDerivatives vs KDL RNE", ("ours", "idyn_derivatives"), ("kdl", "rnea"),
     2.1, ["panda"]),
    ("update(false) + IdynDerivatives vs N + 1 differences of idyn",
     ("ours", "idyn_derivatives"), ("ours", "idyn_finite_differences"), 0.4,
     ["ur5", "panda", "baxter", "allegro"]),
    ("update(false) + FdynDerivatives vs KDL RNE", ("ours", "fdyn_derivatives"), ("kdl", "rnea"),
     2.7, ["panda"]),
    ("MassMatrix vs JointDynamics", ("ours", "mass_matrix"), ("ours", "joint_dynamics"), 0.6,
     ["ur5", "panda", "baxter", "allegro"]),
    ("MassInverse vs fdyn", ("ours", "mass_inverse_only"), ("ours", "fdyn_only"), 0.85,
     ["ur5", "panda", "baxter", "allegro"]),
    ("idyn_passive vs idyn", ("ours", "idyn_passive"), ("ours", "idyn"), 1.6,
     ["ur5", "panda", "baxter", "allegro"]),
    # Operational space: the Panda's hand (6 rows), the Allegro's fingertips (12 rows).
    ("OperationalSpaceXD::compute vs fdyn", ("ours", "osc_compute"), ("ours", "fdyn_only"), 2.5,
     ["panda"]),
    ("OperationalSpaceXD::compute vs dense route", ("ours", "osc_compute"), ("ours", "osc_dense"),
     0.7, ["panda"]),
    ("OperationalSpaceXD::compute vs dense route", ("ours", "osc_compute"), ("ours", "osc_dense"),
     0.6, ["allegro"]),
    ("update(false) + Regressor vs update(false) + idyn", ("ours", "regressor"), ("ours", "rnea"),
     3.0, ["panda", "allegro"]),
    ("centre of mass with its Jacobian vs updateJacobian(true)", ("ours", "com_jacobian"),
     ("ours", "jacobian_pos"), 1.2, ["panda"]),
    ("kinetic energy vs idyn", ("ours", "kinetic_energy"), ("ours", "idyn"), 0.3, ["panda"]),
]


def median(xs):
    xs = sorted(xs)
    m = len(xs) // 2
    return xs[m] if len(xs) % 2 else 0.5 * (xs[m - 1] + xs[m])


def load(paths):
    """Merges the files: (context of the first, {name: median ns}, {name: allocs per call},
    {name: number of samples})."""
    context, samples, allocs = None, {}, {}
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        if context is None:
            context = data.get("context", {})
        for b in data["benchmarks"]:
            if b.get("error_occurred"):
                continue
            if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
                continue
            scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
            name = b.get("run_name", b["name"])
            samples.setdefault(name, []).append(b["cpu_time"] * scale)
            if "allocs" in b:
                allocs[name] = max(allocs.get(name, 0.0), b["allocs"])
    times = dict((name, median(xs)) for name, xs in samples.items())
    counts = dict((name, len(xs)) for name, xs in samples.items())
    return context or {}, times, allocs, counts


def fmt(x, width=9):
    if x is None:
        return "-".rjust(width)
    if x >= 100:
        return ("%.0f" % x).rjust(width)
    return ("%.1f" % x).rjust(width)


def ratio(a, b, width=7):
    if a is None or b is None or b == 0:
        return "-".rjust(width)
    return ("%.2f" % (a / b)).rjust(width)


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    context, t, allocs, counts = load(sys.argv[1:])
    get = lambda peer, op, robot: t.get("%s/%s/%s" % (peer, op, robot))
    print("Run: %s, %s CPUs, load average %s at the start; %d file(s), %s repetitions a row" % (
        context.get("date", "?"), context.get("num_cpus", "?"),
        ", ".join("%.1f" % x for x in context.get("load_avg", [])), len(sys.argv) - 1,
        "-".join(str(x) for x in sorted(set([min(counts.values()), max(counts.values())])))
        if counts else "0"))
    print("Figures: median of the repetitions, CPU ns per call.\n")

    print("== Our operations, ns per call ==")
    print("%-30s" % "operation" + "".join("%12s" % ("%s(%d)" % r) for r in ROBOTS))
    for op, label, _ in OURS_OPS:
        print("%-30s" % label + "".join("   " + fmt(get("ours", op, r)) for r, _ in ROBOTS))
    for op, label in TASK_OPS:
        print("%-48s %s" % (label, fmt(get("ours", op, "task"))))

    print("\n== Against Orocos KDL, DART and MuJoCo (same work, same session) ==")
    print("%-38s %-8s %9s" % ("ours", "robot", "ours") +
          "".join(" %9s" % label for _, label in PEERS) +
          "".join(" %*s" % (len(label) + 5, "ours/" + label) for _, label in PEERS))
    for op, ours_label, _, _, _ in PEER_OPS:
        for r, _ in ROBOTS:
            o = get("ours", op, r)
            ps = [get(peer, op, r) for peer, _ in PEERS]
            print("%-38s %-8s %s" % (ours_label, r, fmt(o)) + "".join(" " + fmt(p) for p in ps) +
                  "".join(" " + ratio(o, p, len(label) + 5) for p, (_, label) in zip(ps, PEERS)))
    for i, (_, label) in enumerate(PEERS):
        print("  %s rows: " % label + "; ".join(
            "%s = %s" % (row[0], row[2 + i]) for row in PEER_OPS if row[2 + i] != "-"))

    for r, _ in ROBOTS:
        o, k, c = get("ours", "rnea", r), get("kdl", "rnea", r), get("kdl", "rnea_tool_chain", r)
        if o is not None and c is not None:
            print("  %s: KDL's RNE on the URDF's chain to the tool frame (fixed segments kept, no "
                  "lumping) %.0f ns, %.2f times its lumped chain; ours/that %.2f" % (
                      r, c, c / k if k else float("nan"), o / c))

    print("\n== Heap allocations per call (timed loop, largest over the repetitions) ==")
    peers = [("ours", "ours")] + PEERS
    print("%-14s %-8s" % ("row", "robot") + "".join(" %7s" % label for _, label in peers))
    for op, _, _, _, _ in PEER_OPS:
        for r, _ in ROBOTS:
            cells = [allocs.get("%s/%s/%s" % (peer, op, r)) for peer, _ in peers]
            if all(c is None for c in cells):
                continue
            print("%-14s %-8s" % (op, r) + "".join(
                " %7s" % ("-" if c is None else "%.3g" % c) for c in cells))
    ours_rows = [n for n in allocs if n.startswith("ours/")]
    busy = [n for n in ours_rows if allocs[n] > 0]
    print("  our %d rows (every operation above and the single-operation rows): %s" % (
        len(ours_rows), "none allocates" if not busy else "allocating: " + ", ".join(busy)))

    print("\n== Targets ==")
    for op, bound, rs in KDL_TARGETS:
        for r in rs:
            o, k = get("ours", op, r), get("kdl", op, r)
            if o is None or k is None:
                continue
            q = o / k
            print("%-40s %-8s ours/KDL %.2f  target <= %.2f  %s" % (
                dict((p[0], p[1]) for p in PEER_OPS)[op], r, q, bound,
                "met" if q <= bound else "NOT met"))
    for label, (pa, oa), (pb, ob), bound, rs in CROSS_TARGETS:
        for r in rs:
            a, b = get(pa, oa, r), get(pb, ob, r)
            if a is None or b is None:
                continue
            print("%-48s %-8s %.2f  target <= %.2f  %s" % (label, r, a / b, bound,
                                                         "met" if a / b <= bound else "NOT met"))
    for r, _ in ROBOTS:
        o, k, d = get("ours", "fdyn", r), get("kdl", "fdyn", r), get("dart", "fdyn", r)
        if None in (o, k, d):
            continue
        print("%-48s %-8s ours/KDL %.2f ours/DART %.2f  %s" % (
            "update(false) + fdyn faster than KDL and DART", r, o / k, o / d,
            "met" if o < k and o < d else "NOT met"))
    for peer, label in (("dart", "DART"), ("mujoco", "MuJoCo")):
        worst = None
        for op, ours_label, _, _, _ in PEER_OPS:
            for r, _ in ROBOTS:
                o, d = get("ours", op, r), get(peer, op, r)
                if o is not None and d is not None and (worst is None or o / d > worst[0]):
                    worst = (o / d, ours_label, r)
        if worst and peer == "dart":
            print("%-40s every ratio to %s < 1.0: worst %.2f (%s, %s)  %s" % (
                "all rows", label, worst[0], worst[1], worst[2],
                "met" if worst[0] < 1.0 else "NOT met"))
        elif worst:
            print("%-40s worst ratio to %s (no target): %.2f (%s, %s)" % (
                "all rows", label, worst[0], worst[1], worst[2]))

    print("\n== Cost versus N (ns/N and ns/N^2) ==")
    print("%-30s %-6s" % ("operation", "per") +
          "".join("%10s" % ("N=%d" % n) for _, n in ROBOTS) + "   t(16)/t(6)  expected")
    for op, label, order in OURS_OPS:
        ts = [get("ours", op, r) for r, _ in ROBOTS]
        if None in ts:
            continue
        for p in (1, 2):
            cells = "".join(" " + fmt(x / n ** p) for x, (_, n) in zip(ts, ROBOTS))
            tail = ""
            if p == 1:
                tail = "   %9.2f  %s" % (ts[3] / ts[0], "%.2f (N)" % (16 / 6) if order == 1
                                         else "%.2f (N^2)" % ((16 / 6) ** 2))
            print("%-30s %-6s%s%s" % (label if p == 1 else "", "ns/N" if p == 1 else "ns/N^2",
                                      cells, tail))

    print("\n== Control cycle: ns per cycle and its parts (single-operation rows) ==")
    for r, n in ROBOTS:
        if n not in (7, 16):
            continue
        parts = [("update(false)", get("ours", "update_full", r)),
                 ("updateJacobian(false)", get("ours", "jacobian_full", r)),
                 ("HTransformController", get("ours", "htf_impedance", "task")),
                 ("idyn", get("ours", "idyn", r)),
                 ("observer", get("ours", "observer", r))]
        cycle = get("ours", "cycle", r)
        if cycle is None or None in [x for _, x in parts]:
            continue
        s = sum(x for _, x in parts)
        print("%s (N=%d): cycle %.0f ns; parts %s; sum of parts %.0f ns" % (
            r, n, cycle, ", ".join("%s %.0f (%.0f%%)" % (l, x, 100 * x / s) for l, x in parts), s))
        for robot, bound in CYCLE_TARGETS:
            if robot == r:
                print("  target <= %d ns  %s" % (bound, "met" if cycle <= bound else "NOT met"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
