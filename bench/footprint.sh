#!/usr/bin/env bash
# The program's footprint without a camera, under a private Xvfb: time until its window is up, then,
# idle, its resident memory, its share of one core and the shared libraries it has loaded.
# Usage: bench/footprint.sh [IDLE_SECONDS]   (default 20)
# QUARNEL_FOOTPRINT_PROGRAM names a program already built (another version, say) to measure instead.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
build=${QUARNEL_FOOTPRINT_BUILD:-build/release}
idle_seconds=${1:-20}

program=${QUARNEL_FOOTPRINT_PROGRAM:-}
if [ -z "$program" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUARNEL_TESTS=OFF -DQUARNEL_SANITIZE=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)" --target quarnel >/dev/null
  program="$build/app/quarnel"
fi

display=:$((100 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
quarnel_pid=""
cleanup() {
  [ -n "$quarnel_pid" ] && kill "$quarnel_pid" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do
  DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break
  sleep 0.05
done

now_ms() { date +%s%3N; }
start=$(now_ms)
DISPLAY=$display "$program" >/dev/null 2>&1 &
quarnel_pid=$!
window_ms=""
while [ -z "$window_ms" ]; do
  kill -0 "$quarnel_pid" 2>/dev/null || { echo "quarnel ended before its window came up" >&2; exit 1; }
  if DISPLAY=$display xwininfo -name Quarnel 2>/dev/null | grep -q "Map State: IsViewable"; then
    window_ms=$(($(now_ms) - start))
  fi
  [ $(($(now_ms) - start)) -lt 10000 ] || { echo "no window within 10 s" >&2; exit 1; }
done

# Idle: wait a moment for start-up work to settle, then count CPU ticks over the idle period.
sleep 2
ticks() { awk '{ print $14 + $15 }' "/proc/$quarnel_pid/stat"; }
hz=$(getconf CLK_TCK)
t0=$(ticks)
sleep "$idle_seconds"
t1=$(ticks)
rss_kib=$(awk '/^VmRSS:/ { print $2 }' "/proc/$quarnel_pid/status")
libraries=$(awk '$6 ~ /\.so/ { print $6 }' "/proc/$quarnel_pid/maps" | sort -u | wc -l)

echo "| window up | idle resident memory | idle CPU | shared libraries |"
echo "|---:|---:|---:|---:|"
awk -v w="$window_ms" -v r="$rss_kib" -v d="$((t1 - t0))" -v hz="$hz" -v s="$idle_seconds" -v l="$libraries" \
  'BEGIN { printf "| %d ms | %.1f MB | %.2f%% of a core | %d |\n", w, r / 1024, 100 * d / (hz * s), l }'
