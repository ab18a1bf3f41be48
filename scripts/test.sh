#!/usr/bin/env bash
# Builds and runs every test: the normal build, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, and bounded fuzzing runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-2}
gen=()
command -v ninja >/dev/null && gen=(-G Ninja)

run_suite() {  # build-dir, extra cmake arguments...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" "${gen[@]}" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600
}

echo "== build and tests"
run_suite "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
# The full fault sweep ran above; under the sanitizers (several times slower)
# it covers the shorter command lines, -g among them, and leaves out display-all.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
FAULT_SWEEP_ONLY="${FAULT_SWEEP_ONLY:--C -M,-b 0 -V,-w,-g}" \
  run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DCMPLXVIEW_SANITIZE=ON

if command -v clang++ >/dev/null; then
  echo "== bounded fuzzing runs"
  CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" "${gen[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMPLXVIEW_FUZZ=ON >/dev/null
  cmake --build "$root/build-fuzz" -j "$jobs" --target fuzzers
  ctest --test-dir "$root/build-fuzz" --output-on-failure -R fuzz
fi
