#!/usr/bin/env bash
# Files per second of quarnel-decode on a batch of pictures, with one thread and with several.
# Usage: bench/decode_scaling.sh [COUNT [JOBS...]]   (default: 1000 pictures, -j 1 and -j 2)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
build=${QUARNEL_BENCH_BUILD:-build/bench}
count=${1:-1000}
shift || true
jobs=("$@")
[ ${#jobs[@]} -gt 0 ] || jobs=(1 2)

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUARNEL_BENCH=ON -DQUARNEL_STAGE_TIMING=ON \
  -DQUARNEL_TESTS=OFF -DQUARNEL_SANITIZE=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target quarnel-decode quarnel_write_pictures >/dev/null

pictures=$(mktemp -d)
trap 'rm -rf "$pictures"' EXIT
"$build/bench/quarnel_write_pictures" "$pictures" "$count"

reference=""
echo "| jobs | files | seconds | files/s | exit status |"
echo "|---:|---:|---:|---:|---:|"
for j in "${jobs[@]}"; do
  start=$(date +%s.%N)
  status=0
  "$build/tools/quarnel-decode" -j "$j" "$pictures"/*.png >"$pictures/out-$j.txt" 2>"$pictures/err-$j.txt" || status=$?
  end=$(date +%s.%N)
  awk -v j="$j" -v n="$count" -v s="$start" -v e="$end" -v st="$status" \
    'BEGIN { printf "| %d | %d | %.2f | %.1f | %d |\n", j, n, e - s, n / (e - s), st }'
  # Every run must print exactly what the first one printed.
  if [ -z "$reference" ]; then
    reference=$j
  elif ! cmp -s "$pictures/out-$reference.txt" "$pictures/out-$j.txt" ||
       ! cmp -s "$pictures/err-$reference.txt" "$pictures/err-$j.txt"; then
    echo "output of -j $j differs from -j $reference" >&2
    exit 1
  fi
done
