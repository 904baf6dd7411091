#!/usr/bin/env bash
# Builds the project into build/ (or the folder given by BUILD_DIR), installing what is missing.
# Warnings are errors here (ZEL_WERROR); CMAKE_ARGS can add or override options.
# Usage: scripts/build.sh [TARGET]...   only these targets (e.g. zelkl-calc); default: all.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} -DZEL_WERROR=ON \
  ${CMAKE_ARGS:-} >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$build" -j "$(nproc)" "${targets[@]}"
