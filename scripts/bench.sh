#!/usr/bin/env bash
# The benchmarks in one command: installs what is missing (Google Benchmark, KDL, DART with its URDF
# loader), configures a build with the benchmarks on, builds only the benchmark programs, runs
# zorvik_bench with repetitions (raw JSON kept), prints the tables, then runs the latency program.
#
#   scripts/bench.sh                 everything (about 5 minutes on an idle 2-core machine)
#   BENCH_REPS=9 scripts/bench.sh    more repetitions
#   BENCH_FILTER=panda scripts/bench.sh   only the benchmarks whose name matches (regex)
#   BENCH_LATENCY=0 scripts/bench.sh      skip the latency program; BENCH_CYCLES=N to change its
#                                         cycle count (default 1000000)
#   BENCH_IK=0 scripts/bench.sh           skip the inverse-kinematics table; BENCH_IK_TARGETS=N to
#                                         change its target count (default 10000)
#
# Output: $build/bench/results.json (raw), $build/bench/report.txt (tables),
#         $build/bench/latency.txt, $build/bench/ik.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh bench
build=${ZORVIK_BUILD_DIR:-build}
cmake -G Ninja -S . -B "$build" -DZORVIK_BUILD_BENCH=ON > /dev/null
cmake --build "$build" -j "$(nproc)" --target zorvik_bench zorvik_latency zorvik_ik_bench

out="$build/bench"
echo "load: $(uptime)"
"$build"/bench/zorvik_bench \
  --benchmark_repetitions="${BENCH_REPS:-5}" \
  --benchmark_report_aggregates_only=true \
  --benchmark_enable_random_interleaving=true \
  --benchmark_min_time="${BENCH_MIN_TIME:-0.1}" \
  --benchmark_filter="${BENCH_FILTER:-.}" \
  --benchmark_out="$out/results.json" --benchmark_out_format=json \
  > "$out/console.txt"
/usr/bin/python3 bench/report.py "$out/results.json" | tee "$out/report.txt"

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
