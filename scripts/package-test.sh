#!/usr/bin/env bash
# Builds the Debian package in a release tree of its own, checks it with lintian, and, when run as root,
# installs it, runs both programs from /usr/bin and removes it again. The machine is left as it was: the
# install step is skipped when a quarnel package is already installed, and the package is purged on
# every exit path once it has been installed.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"

build=${QUARNEL_PACKAGE_BUILD:-build/package}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUARNEL_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/quarnel_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/quarnel_*_*.deb)
[ -f "${debs[0]}" ] || { echo "package test: cpack made no quarnel_<version>_<arch>.deb" >&2; exit 1; }
deb=${debs[0]}
echo "package test: built $deb"

# Errors fail the test; warnings are shown.
lintian --fail-on error --tag-display-limit 0 "$deb"
echo "package test: lintian found no errors"

if [ "$(id -u)" -ne 0 ]; then
  echo "package test: SKIPPED installing: dpkg -i needs root (run the test script as root to install," \
       "run and remove the package)"
  exit 0
fi
if dpkg-query -W -f='${Status}' quarnel 2>/dev/null | grep -q 'installed'; then
  echo "package test: SKIPPED installing: a quarnel package is already installed and is left alone"
  exit 0
fi

# dpkg waits for nobody: retry while another package manager holds the lock.
dpkg_with_lock() {
  local tries=0
  until dpkg "$@" 2>"$build/dpkg.err"; do
    if grep -q 'lock' "$build/dpkg.err" && [ $tries -lt 120 ]; then
      tries=$((tries + 1))
      sleep 5
    else
      cat "$build/dpkg.err" >&2
      return 1
    fi
  done
}

trap 'dpkg_with_lock --purge quarnel >/dev/null || true' EXIT
dpkg_with_lock -i "$deb"

# sed reads the whole output: head would leave quarnel writing into a closed pipe.
version=$(/usr/bin/quarnel --version | sed -n 1p)
echo "package test: /usr/bin/quarnel --version: $version"
[ "$version" = "quarnel $(dpkg-deb -f "$deb" Version)" ]
echo "package test: /usr/bin/quarnel --list-cameras:"
/usr/bin/quarnel --list-cameras
decoded=$(/usr/bin/quarnel-decode tests/fuzz/corpus/load_image/png-symbol)
[ "$decoded" = "tests/fuzz/corpus/load_image/png-symbol: QUARNEL-FILE" ] || {
  echo "package test: quarnel-decode printed '$decoded'" >&2
  exit 1
}
for page in quarnel quarnel-decode; do
  [ -f "/usr/share/man/man1/$page.1.gz" ] || { echo "package test: no manual page $page.1.gz" >&2; exit 1; }
done

dpkg_with_lock --purge quarnel >/dev/null
trap - EXIT
if [ -e /usr/bin/quarnel ] || [ -e /usr/bin/quarnel-decode ]; then
  echo "package test: files left after removing the package" >&2
  exit 1
fi
echo "package test: installed, ran from /usr/bin and removed cleanly"
