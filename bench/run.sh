#!/usr/bin/env bash
# Builds the decoder benchmark in release mode, in a build tree of its own, and prints its tables.
# Arguments are passed to the benchmark (for example --frames-per-size=2 or --benchmark_filter=quarnel).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
build=${QUARNEL_BENCH_BUILD:-build/bench}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUARNEL_BENCH=ON -DQUARNEL_STAGE_TIMING=ON \
  -DQUARNEL_TESTS=OFF -DQUARNEL_SANITIZE=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target quarnel_decoder_bench
"$build/bench/quarnel_decoder_bench" "$@"
