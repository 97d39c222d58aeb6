#!/usr/bin/env bash
# Runs examples/demo.vrs headless and shows every executed line with its result.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export VARNOLT_TRACE=-
demo=$(echo "Z:$here/examples/demo.vrs" | tr / '\\')
echo "Running $demo"
echo
DISPLAY= "$here/scripts/wine-run.sh" "$here/build/vrun.exe" "$demo" | tr -d '\r' | tr '\001' ','
