#!/usr/bin/env bash
# The main job: installs what is missing, builds the release library and the demo, runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${ZORVIK_BUILD_DIR:-build}
cmake -G Ninja -S . -B "$build"
cmake --build "$build" -j "$(nproc)" --target zorvik_demo
"$build"/examples/zorvik_demo "$@"
