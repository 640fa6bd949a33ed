#!/usr/bin/env bash
# The checking job, next to the test suite (scripts/test.sh): installs what is missing, then
#   1. builds and runs the whole test suite under AddressSanitizer + UndefinedBehaviorSanitizer
#      (build-asan; any report fails its test): every test once, as a client of the debug library
#      (its assertions on), everything unoptimised so that the instrumented build stays affordable,
#      each test executable in one process (an instrumented process takes half a second to start);
#   2. builds the concurrency test under ThreadSanitizer and runs it against the debug library
#      (build-tsan; a sanitizer build compiles both libraries unoptimised, so the release one
#      differs only by leaving the assertions out: the debug one runs every line it runs);
#   3. runs each libFuzzer target for a bounded time (scripts/fuzz.sh, ZORVIK_FUZZ_SECONDS, 60 s);
#   4. runs the demo under valgrind memcheck if the demo target exists (build): zero errors, no
#      definite or indirect leak.
# Build directories can be moved with ZORVIK_{ASAN,TSAN,FUZZ}_BUILD_DIR and ZORVIK_BUILD_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
start=$SECONDS
timings=()
phase() { timings+=("$(printf '%-28s %5ds' "$1" $((SECONDS - $2)))"); }

scripts/install-deps.sh check

# 1. AddressSanitizer + UndefinedBehaviorSanitizer over the whole suite.
t=$SECONDS
asan=${ZORVIK_ASAN_BUILD_DIR:-build-asan}
cmake -G Ninja -S . -B "$asan" -DZORVIK_SANITIZE=address,undefined -DZORVIK_TEST_VARIANTS=debug \
  -DZORVIK_TEST_PROCESS_PER_CASE=OFF -DZORVIK_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$asan" -j "$jobs"
# (allocator_may_return_null: the aligned-allocation tests ask for impossible sizes on purpose and
# expect std::bad_alloc or a null pointer, not the sanitizer's abort.)
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=0:allocator_may_return_null=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$asan" -j "$jobs" --output-on-failure --timeout 1800
phase "asan+ubsan suite" $t

# 2. ThreadSanitizer: independent models in concurrent threads.
t=$SECONDS
tsan=${ZORVIK_TSAN_BUILD_DIR:-build-tsan}
cmake -G Ninja -S . -B "$tsan" -DZORVIK_SANITIZE=thread -DZORVIK_TEST_VARIANTS=debug \
  -DZORVIK_BUILD_EXAMPLES=OFF -DZORVIK_BUILD_URDF=OFF >/dev/null
cmake --build "$tsan" -j "$jobs" --target threads_debug
TSAN_OPTIONS=halt_on_error=1:exitcode=66 "$tsan/tests/threads/threads_debug" \
  --gtest_filter='ConcurrentModels.*'
phase "tsan concurrency" $t

# 3. Bounded fuzzing.
t=$SECONDS
scripts/fuzz.sh "${ZORVIK_FUZZ_SECONDS:-60}"
phase "fuzzing" $t

# 4. Valgrind memcheck over a short run of the demo.
t=$SECONDS
build=${ZORVIK_BUILD_DIR:-build}
cmake -G Ninja -S . -B "$build" >/dev/null
# (grep reads all of ninja's output: with pipefail, an early exit of grep -q would fail the pipe.)
if ninja -C "$build" -t targets all 2>/dev/null | grep '^zorvik_demo:' >/dev/null; then
  cmake --build "$build" -j "$jobs" --target zorvik_demo
  out=$(mktemp -d)
  # Valgrind's CPU does not emulate flush-to-zero: the demo's numbers under it can differ in the
  # last bits from a native run, so only memcheck's verdict counts here.
  valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    "$build/examples/zorvik_demo" --duration "${ZORVIK_VALGRIND_DURATION:-1}" --no-plot --out "$out"
  rm -rf "$out"
  phase "valgrind demo" $t
else
  echo "valgrind: no zorvik_demo target yet, skipped"
fi

echo "== check.sh timings"
printf '%s\n' "${timings[@]}"
printf '%-28s %5ds\n' "total" $((SECONDS - start))
