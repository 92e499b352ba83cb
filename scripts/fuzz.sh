#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer in a
# build tree of their own, then runs each for a bounded time on its seed corpus and its saved crash
# inputs. Exits non-zero on any crash, sanitizer report, leak, input slower than its limit (1 s; 4 s for
# the image loader) or memory blow-up.
#
#   QUARNEL_FUZZ_SECONDS  time per target in seconds (default 30)
#   QUARNEL_FUZZ_BUILD    build tree (default build/fuzz)
#   QUARNEL_FUZZ_TARGETS  targets to run, space separated (default: all of them)
#   QUARNEL_FUZZ_SEED     libFuzzer's random seed (default 1, so that a failure in the test command can be
#                         replayed as it happened; 0 picks a fresh seed each run)
# Further arguments go to every target, e.g. -jobs=2 -workers=2 for parallel runs.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"

build=${QUARNEL_FUZZ_BUILD:-build/fuzz}
seconds=${QUARNEL_FUZZ_SECONDS:-30}
targets=${QUARNEL_FUZZ_TARGETS:-"decode_image ecc200_matrix ecc200_codewords message_text pixel_conversion load_image"}
seed=${QUARNEL_FUZZ_SEED:-1}

# The project's own code gets the fuzzer's coverage instrumentation; -O1 keeps runs fast, and assertions
# stay on.
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DQUARNEL_SANITIZE=ON -DQUARNEL_FUZZ=ON \
  -DCMAKE_C_FLAGS="-O1 -fsanitize=fuzzer-no-link" -DCMAKE_CXX_FLAGS="-O1 -fsanitize=fuzzer-no-link" >/dev/null
cmake --build "$build" -j "$(nproc)" --target quarnel_fuzz_targets

mkdir -p "$build/fuzz-artifacts" "$build/fuzz-logs"
build=$(cd "$build" && pwd)
summary=()
status=0
for name in $targets; do
  binary="$build/tests/fuzz/quarnel_fuzz_$name"
  # New inputs go to the first directory, in the build tree; the committed seeds and crash inputs are
  # only read.
  corpus="$build/fuzz-corpus/$name"
  mkdir -p "$corpus"
  inputs=("$corpus" "$top/tests/fuzz/corpus/$name")
  [ -d "$top/tests/fuzz/regressions/$name" ] && inputs+=("$top/tests/fuzz/regressions/$name")
  log="$build/fuzz-logs/$name.log"
  # An input slower than this fails the run. The image loader's slowest proper input, a header claiming
  # the largest picture allowed, takes about 0.45 s here on a quiet machine (the whole 300 MB buffer is
  # taken and given back under the sanitizer); it gets room for a busy machine, a hang still fails.
  case "$name" in
    load_image) unit_seconds=4 ;;
    *) unit_seconds=1 ;;
  esac
  echo "fuzzing $name for ${seconds} s"
  # From the log folder, where parallel runs (-jobs) leave their own logs.
  if (cd "$build/fuzz-logs" && "$binary" -max_total_time="$seconds" -timeout="$unit_seconds" -rss_limit_mb=2048 \
      -print_final_stats=1 -seed="$seed" -artifact_prefix="$build/fuzz-artifacts/$name-" "$@" "${inputs[@]}") >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    summary+=("$(printf '%-18s %10s executions  ok' "$name" "${runs:-?}")")
  else
    status=1
    summary+=("$(printf '%-18s %10s  FAILED (see %s)' "$name" "" "$log")")
    tail -n 60 "$log"
  fi
done

echo "fuzzing summary (${seconds} s per target):"
printf '  %s\n' "${summary[@]}"
if [ "$status" -ne 0 ]; then
  echo "crash inputs are in $build/fuzz-artifacts/; copy each into tests/fuzz/regressions/<target>/" >&2
fi
exit "$status"
