#!/usr/bin/env bash
# The main job: installs what is missing, builds the release library and the demo, runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh demo
build=${ZORVIK_BUILD_DIR:-build}
cmake -G Ninja -S . -B "$build" -DZORVIK_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc)" --target zorvik_demo
"$build"/examples/zorvik_demo "$@"
