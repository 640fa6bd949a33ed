#!/usr/bin/env bash
# The benchmarks in one command: installs what is missing (Google Benchmark, KDL, DART with its URDF
# loader, MuJoCo), configures a build with the benchmarks on, builds only the benchmark programs,
# checks that every peer agrees with ours, times each peer's rows in processes of their own (raw
# JSON kept), prints the tables, then runs the latency program and the inverse kinematics.
#
# Each repetition starts one zorvik_bench process per peer (--zorvik_peers), in an order rotated
# from one repetition to the next, all pinned to the same CPU: every library runs in a process that
# holds only its own fixtures and rows, with the same placement and the same share of whatever
# else the machine does over the session; report.py takes the median of the repetitions.
#
#   scripts/bench.sh                 everything (about 5 minutes on an idle 2-core machine)
#   BENCH_REPS=9 scripts/bench.sh    more repetitions (default 5)
#   BENCH_FILTER=panda scripts/bench.sh   only the benchmarks whose name matches (regex)
#   BENCH_PEERS="ours kdl"           only these peers (default: ours kdl dart mujoco)
#   BENCH_CPU=0                      the CPU every process is pinned to (default: the last one;
#                                    BENCH_CPU=none to leave the scheduler free)
#   BENCH_NICE=15                    run the timed processes at this niceness (default 0)
#   BENCH_MIN_TIME=0.1               Google Benchmark's --benchmark_min_time per row and process
#   BENCH_LATENCY=0 scripts/bench.sh      skip the latency program; BENCH_CYCLES=N to change its
#                                         cycle count (default 1000000)
#   BENCH_IK=0 scripts/bench.sh           skip the inverse-kinematics table; BENCH_IK_TARGETS=N to
#                                         change its target count (default 10000)
#
# Output: $build/bench/runs/<repetition>-<peer>.json (raw, one file a process),
#         $build/bench/report.txt (tables), $build/bench/latency.txt, $build/bench/ik.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh bench
build=${ZORVIK_BUILD_DIR:-build}
cmake -G Ninja -S . -B "$build" -DZORVIK_BUILD_BENCH=ON > /dev/null
cmake --build "$build" -j "$(nproc)" --target zorvik_bench zorvik_latency zorvik_ik_bench

out="$build/bench"
echo "load: $(uptime)"
"$build"/bench/zorvik_bench --zorvik_check_only

peers=(${BENCH_PEERS:-ours kdl dart mujoco})
cpu=${BENCH_CPU:-$(($(nproc) - 1))}
run=(nice -n "${BENCH_NICE:-0}")
if [ "$cpu" != none ]; then run+=(taskset -c "$cpu"); fi
rm -rf "$out/runs"
mkdir -p "$out/runs"
reps=${BENCH_REPS:-5}
for ((rep = 0; rep < reps; ++rep)); do
  for ((i = 0; i < ${#peers[@]}; ++i)); do
    peer=${peers[$(((i + rep) % ${#peers[@]}))]}
    "${run[@]}" "$build"/bench/zorvik_bench --zorvik_peers="$peer" \
      --benchmark_enable_random_interleaving=true \
      --benchmark_min_time="${BENCH_MIN_TIME:-0.1}" \
      --benchmark_filter="${BENCH_FILTER:-.}" \
      --benchmark_out="$out/runs/$rep-$peer.json" --benchmark_out_format=json \
      > "$out/console-$peer.txt" 2>&1
  done
done
/usr/bin/python3 bench/report.py "$out"/runs/*.json | tee "$out/report.txt"

if [ "${BENCH_LATENCY:-1}" != 0 ]; then
  echo
  echo "== Control-cycle latency (zorvik_latency ${BENCH_CYCLES:-1000000} cycles; on a shared machine the tail measures the scheduler as much as the code) =="
  "$build"/bench/zorvik_latency "${BENCH_CYCLES:-1000000}" | tee "$out/latency.txt"
fi

if [ "${BENCH_IK:-1}" != 0 ]; then
  echo
  echo "== Inverse kinematics (zorvik_ik_bench ${BENCH_IK_TARGETS:-10000} targets per robot) =="
  "$build"/bench/zorvik_ik_bench "${BENCH_IK_TARGETS:-10000}" | tee "$out/ik.txt"
fi
