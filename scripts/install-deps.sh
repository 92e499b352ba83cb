#!/usr/bin/env bash
# Installs the Debian packages of scripts/packages.txt that are missing: all of them, or with
# --program only those that build and run the program. A quick no-op when all are present.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
case "${1:-all}" in
  all) sections="program tests" ;;
  --program) sections="program" ;;
  *) echo "usage: $0 [--program]" >&2; exit 2 ;;
esac

# The package names of the chosen sections; a line "[name]" starts a section.
mapfile -t wanted < <(awk -v sections=" $sections " '
  /^[[:space:]]*(#|$)/ { next }
  /^\[.*\]$/ { section = substr($0, 2, length($0) - 2); next }
  index(sections, " " section " ") { print $1 }' "$here/packages.txt")
missing=()
for pkg in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
