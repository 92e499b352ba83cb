#!/usr/bin/env bash
# Installs what is missing, builds the whole suite with AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs it under a private Xvfb server. Exits non-zero on any failure.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
scripts/install-deps.sh

jobs=$(nproc)
build=${QUARNEL_TEST_BUILD:-build/test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DQUARNEL_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$jobs"

# A private X server for the tests that need a display; stopped on every exit path.
display_num=$((90 + RANDOM % 100))
Xvfb ":$display_num" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X$display_num" ] && break
  sleep 0.1
done
export DISPLAY=":$display_num"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build" --output-on-failure -j "$jobs"

# The tests of code shared between threads run once more under ThreadSanitizer.
tsan_build=${QUARNEL_TSAN_BUILD:-build/tsan}
cmake -S . -B "$tsan_build" -DCMAKE_BUILD_TYPE=Debug -DQUARNEL_TSAN=ON >/dev/null
cmake --build "$tsan_build" -j "$jobs" --target quarnel_tsan_tests
TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1} \
  ctest --test-dir "$tsan_build" --output-on-failure -j "$jobs" -L tsan

# The Debian package: built, checked with lintian, and (as root) installed, run and removed.
scripts/package-test.sh

# Every fuzz target for a bounded time, in a clang build tree of its own.
scripts/fuzz.sh
