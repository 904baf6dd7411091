#!/usr/bin/env bash
# Sets up, builds and runs every test. With --sanitize, builds into build-asan/ with
# AddressSanitizer and UndefinedBehaviorSanitizer instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--sanitize" ]; then
  export BUILD_DIR=$root/build-asan CMAKE_ARGS="-DZEL_SANITIZE=ON -DZEL_BENCH=OFF" BUILD_TYPE=Debug
  export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
fi
"$root/scripts/build.sh"
ctest --test-dir "${BUILD_DIR:-$root/build}" --output-on-failure -j "$(nproc)" --timeout 300
