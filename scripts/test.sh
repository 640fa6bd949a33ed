#!/usr/bin/env bash
# The whole test suite: installs what is missing, configures, builds both deliverables and every
# test (each test built once against the release and once against the debug library), runs ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
build=${ZORVIK_BUILD_DIR:-build}
cmake -G Ninja -S . -B "$build" -DZORVIK_BUILD_TESTS=ON -DZORVIK_BUILD_PYTHON=ON
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" -j "$(nproc)" --output-on-failure --timeout 900
