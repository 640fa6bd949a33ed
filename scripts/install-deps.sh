#!/usr/bin/env bash
# Installs, on Debian 12 as root, what one job needs and is not there yet; does nothing when
# everything is installed.
#
#   scripts/install-deps.sh demo    the library, the URDF loader and the demo (gnuplot for its plot)
#   scripts/install-deps.sh python  the demo set and what the Python module is built with
#                                   (Debian's python3-dev, pybind11 and numpy, matplotlib for the
#                                   examples' plots)
#   scripts/install-deps.sh test    the above, GoogleTest and the test oracles (Orocos KDL with
#                                   kdl_parser and its Python bindings, DART with its URDF loader),
#                                   pytest
#   scripts/install-deps.sh bench   the test set, Google Benchmark and MuJoCo (a benchmark peer)
#   scripts/install-deps.sh check   the test set, clang with its sanitizer runtimes, valgrind
set -euo pipefail
job=${1:?usage: install-deps.sh demo|python|test|bench|check}
packages=(build-essential cmake ninja-build pkg-config binutils libeigen3-dev liburdfdom-dev
          libtinyxml2-dev gnuplot-nox)
tests=(libgtest-dev libgmock-dev liborocos-kdl-dev libkdl-parser-dev libdart-dev
       libdart-utils-urdf-dev)
# For Debian's /usr/bin/python3, which the module is built for.
python=(python3-dev python3-pybind11 pybind11-dev python3-numpy python3-matplotlib)
case "$job" in
  demo) ;;
  python) packages+=("${python[@]}") ;;
  test) packages+=("${tests[@]}" "${python[@]}" python3-pytest python3-pykdl) ;;
  bench) packages+=("${tests[@]}" libbenchmark-dev libmujoco-dev) ;;
  check) packages+=("${tests[@]}" clang libclang-rt-14-dev valgrind) ;;
  *) echo "install-deps.sh: unknown job '$job' (demo, python, test, bench or check)" >&2; exit 2 ;;
esac

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
