#!/usr/bin/env bash
# The whole proof, as CI runs it. Installs what is missing, then, under a private Xvfb server:
#   asan      the suite built with AddressSanitizer and UndefinedBehaviorSanitizer (Debug) and run, the
#             long studies by their slices only;
#   studies   the long studies in full, in an optimized build with assertions and UndefinedBehaviorSanitizer
#             on;
#   tsan      the tests of shared state under ThreadSanitizer;
#   package   the Debian package built, checked and (as root) installed, run and removed;
#   fuzz      every fuzz target for a bounded time.
# Exits non-zero on the first failure; the closing line says how long each phase took.
#
#   scripts/test.sh --quick   the asan phase without the studies' slices, and nothing more
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"

quick=0
case "${1:-}" in
  "") ;;
  --quick) quick=1 ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac

# Phase times: each phase runs from its `phase` call to the next one; the line is printed on every exit.
phase_names=()
phase_seconds=()
phase_start=$SECONDS
phase() {
  if [ ${#phase_names[@]} -gt 0 ]; then phase_seconds+=($((SECONDS - phase_start))); fi
  phase_names+=("$1")
  phase_start=$SECONDS
}
report_phases() {
  local status=$? line="" i
  [ ${#phase_names[@]} -gt ${#phase_seconds[@]} ] && phase_seconds+=($((SECONDS - phase_start)))
  for i in "${!phase_names[@]}"; do line+="${line:+, }${phase_names[$i]} ${phase_seconds[$i]} s"; done
  echo "test phases: $line; total $SECONDS s$([ "$status" -ne 0 ] && echo " (failed)")"
}

phase packages
scripts/install-deps.sh

jobs=$(nproc)
# A private X server for the tests that need a display; stopped on every exit path.
display_num=$((90 + RANDOM % 100))
Xvfb ":$display_num" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
trap 'report_phases; kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X$display_num" ] && break
  sleep 0.1
done
export DISPLAY=":$display_num"

phase asan-build
build=${QUARNEL_TEST_BUILD:-build/test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DQUARNEL_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$jobs"

phase asan
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# A study's label ends in "study", its slice's in "study-slice" (tests/CMakeLists.txt).
if [ "$quick" -eq 1 ]; then
  ctest --test-dir "$build" --output-on-failure -j "$jobs" -LE study
  exit 0
fi
ctest --test-dir "$build" --output-on-failure -j "$jobs" -LE 'study$'

# The studies' every case, optimized: assertions stay on (no NDEBUG) and undefined behaviour still stops
# the run.
phase studies-build
study_build=${QUARNEL_STUDY_BUILD:-build/studies}
cmake -S . -B "$study_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARNEL_UBSAN=ON \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1" >/dev/null
cmake --build "$study_build" -j "$jobs" --target quarnel_study_tests
phase studies
ctest --test-dir "$study_build" --output-on-failure -j "$jobs" -L study

# The tests of code shared between threads run once more under ThreadSanitizer.
phase tsan-build
tsan_build=${QUARNEL_TSAN_BUILD:-build/tsan}
cmake -S . -B "$tsan_build" -DCMAKE_BUILD_TYPE=Debug -DQUARNEL_TSAN=ON >/dev/null
cmake --build "$tsan_build" -j "$jobs" --target quarnel_tsan_tests
phase tsan
TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1} \
  ctest --test-dir "$tsan_build" --output-on-failure -j "$jobs" -L tsan

# The Debian package: built, checked with lintian, and (as root) installed, run and removed.
phase package
scripts/package-test.sh

# Every fuzz target for a bounded time, in a clang build tree of its own.
phase fuzz
scripts/fuzz.sh
