#!/usr/bin/env bash
# Sets up, builds and runs every test. With --sanitize, builds into build-asan/ with
# AddressSanitizer and UndefinedBehaviorSanitizer instead. With --tsan, builds only the
# threaded tests (embedded engine concurrency, calculation hold, management, workers) into
# build-tsan/ with ThreadSanitizer and runs them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--tsan" ]; then
  build=$root/build-tsan
  "$root/scripts/setup.sh"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_TSAN=ON -DZEL_BENCH=OFF \
    -DZEL_WERROR=ON >/dev/null
  tests=(db/embedded/concurrency_test management/management_calc_hold_test
         management/management_calculate_threads_test management/management_calculator_management_test)
  targets=()
  for t in "${tests[@]}"; do targets+=(--target "$(basename "$t")"); done
  cmake --build "$build" -j "$(nproc)" "${targets[@]}"
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
  for t in "${tests[@]}"; do
    echo "== $t (ThreadSanitizer)"
    "$build/$t"
  done
  exit 0
fi
if [ "${1:-}" = "--sanitize" ]; then
  export BUILD_DIR=$root/build-asan CMAKE_ARGS="-DZEL_SANITIZE=ON -DZEL_BENCH=OFF" BUILD_TYPE=Debug
  export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1
fi
"$root/scripts/build.sh"
ctest --test-dir "${BUILD_DIR:-$root/build}" --output-on-failure -j "$(nproc)" --timeout 300
