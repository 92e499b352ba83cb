#!/usr/bin/env bash
# Installs the Debian packages the program needs that are missing, builds quarnel (and quarnel-decode)
# in release mode and starts quarnel on this X session. Close its window to end it.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
scripts/install-deps.sh --program

build=${QUARNEL_RUN_BUILD:-build/release}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUARNEL_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

if [ -z "${DISPLAY:-}" ]; then
  echo "run.sh: DISPLAY is not set; quarnel needs an X session to show its window and type into." >&2
fi
exec "$build/app/quarnel"
