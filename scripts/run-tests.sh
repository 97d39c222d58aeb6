#!/usr/bin/env bash
# Runs every test under Wine with one wineserver and one Xvfb for the whole run.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export VARNOLT_REQUIRE_DISPLAY=1      # the window tests must run, not skip
# A server left from a run without a display would keep its desktop without one: restart.
wineserver -k 2>/dev/null || true
(wineserver -p >/dev/null 2>&1 &)
trap 'wineserver -k 2>/dev/null || true' EXIT
# Under Xvfb no window manager answers, and Wine waits 2 s at each close of a window it
# handed to one (a full-screen dialog): the test programs that open such dialogs by the
# dozen keep them to themselves.
reg="$here/build/unmanaged-tests.reg"
{
  printf 'REGEDIT4\r\n\r\n'
  for program in ui_tests.exe app_tests.exe vfuzz.exe; do
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s\\X11 Driver]\r\n"Managed"="N"\r\n\r\n' "$program"
  done
} > "$reg"
cd "$here/build"
# The prefix's desktop process starts with the first program and keeps its display:
# warm it up inside the Xvfb session so the window tests get one.
xvfb-run -a -s "-screen 0 1024x768x24" \
  bash -c '"$0/scripts/wine-warm.sh" && { "$0/scripts/wine-run.sh" regedit /s "$1" >/dev/null 2>&1 || true; } &&
           shift && exec ctest --output-on-failure "$@"' "$here" "Z:${reg//\//\\}" "$@"
