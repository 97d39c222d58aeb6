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
cd "$here/build"
# The prefix's desktop process starts with the first program and keeps its display:
# warm it up inside the Xvfb session so the window tests get one.
xvfb-run -a -s "-screen 0 1024x768x24" \
  bash -c '"$0/scripts/wine-warm.sh" && exec ctest --output-on-failure "$@"' "$here" "$@"
