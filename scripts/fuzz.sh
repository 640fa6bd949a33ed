#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer, separate
# build directory) and runs each for the given number of seconds (default 600):
#   scripts/fuzz.sh [seconds] [target...]        targets: liegroup_controller urdf
# Each run starts from the committed seeds (fuzz/corpus/<target>, fuzz/regressions/<target>, and
# for the loader the bundled robots) and keeps what it learns in build-fuzz/corpus/<target>.
# A failing input is written to build-fuzz/artifacts/<target>/; once the bug is fixed, copy it to
# fuzz/regressions/<target>/ so that the test suite replays it from then on (tests/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(liegroup_controller urdf)

scripts/install-deps.sh check
build=${ZORVIK_FUZZ_BUILD_DIR:-build-fuzz}
CXX=clang++ cmake -G Ninja -S . -B "$build" -DZORVIK_FUZZ=ON -DZORVIK_SANITIZE=address,undefined \
  -DZORVIK_BUILD_TESTS=OFF -DZORVIK_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for t in "${targets[@]}"; do
  seeds=(fuzz/corpus/"$t" fuzz/regressions/"$t")
  [ "$t" = urdf ] && seeds+=(tests/data/robots)
  mkdir -p "$build/corpus/$t" "$build/artifacts/$t"
  echo "== fuzz_$t for ${seconds}s"
  if ! "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
       -print_final_stats=1 -artifact_prefix="$build/artifacts/$t/" \
       "$build/corpus/$t" "${seeds[@]}" 2> "$build/fuzz_$t.log"; then
    status=1
    tail -n 60 "$build/fuzz_$t.log"
    echo "fuzz_$t FAILED; inputs in $build/artifacts/$t/" >&2
  else
    grep -E '^stat::(number_of_executed_units|new_units_added)|^Done' "$build/fuzz_$t.log" || true
    echo "fuzz_$t: no finding"
  fi
done
exit $status
