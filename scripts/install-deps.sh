#!/usr/bin/env bash
# Installs, on Debian 12 as root, whatever the build, the tests, the demo and the benchmarks need
# and is not there yet. Does nothing when everything is installed.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config binutils
  libeigen3-dev libgtest-dev libgmock-dev
  liburdfdom-dev libtinyxml2-dev liborocos-kdl-dev libkdl-parser-dev
  gnuplot-nox
)
if [ "${ZORVIK_WITH_BENCH:-0}" = 1 ]; then packages+=(libbenchmark-dev libdart-dev); fi
if [ "${ZORVIK_WITH_CHECKS:-0}" = 1 ]; then packages+=(clang libclang-rt-14-dev valgrind); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
