#!/usr/bin/env bash
# Runs examples/demo.vrs headless and shows every executed line with its result.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -k 2>/dev/null || true
(wineserver -p >/dev/null 2>&1 &)
trap 'wineserver -k 2>/dev/null || true' EXIT
"$here/scripts/wine-warm.sh"
export VARNOLT_TRACE=-
demo=$(echo "Z:$here/examples/demo.vrs" | tr / '\\')
echo "Running $demo"
echo
DISPLAY= "$here/scripts/wine-run.sh" "$here/build/vrun.exe" "$demo" | tr -d '\r' | tr '\001' ','
echo
echo "Dialogs need a display: 'make console' opens the console; type LOAD %C\\dialogs.vrs there."
