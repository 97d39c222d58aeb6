#!/usr/bin/env bash
# Runs every test under Wine with one wineserver and one Xvfb for the whole run.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
(wineserver -p >/dev/null 2>&1 &)
"$here/scripts/wine-warm.sh"
trap 'wineserver -k 2>/dev/null || true' EXIT
cd "$here/build"
xvfb-run -a -s "-screen 0 1024x768x24" ctest --output-on-failure "$@"
