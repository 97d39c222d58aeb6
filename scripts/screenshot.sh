#!/usr/bin/env bash
# Shows a Varnolt command line in a virtual screen of the given size and saves a PNG of
# it: scripts/screenshot.sh 240x320 shot.png 'VRUI EVAL 1=x' [seconds to wait].
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
size=$1 out=$2 line=$3 wait=${4:-4}
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bmp=$(mktemp --suffix=.bmp)
xvfb-run -a -s "-screen 0 ${size}x24" bash -c '
  "$0/scripts/wine-run.sh" "$0/build/Varnolt.exe" "$1" &
  sleep "$2"
  "$0/scripts/wine-run.sh" "$0/build/screenshot.exe" "$(winepath -w "$3" 2>/dev/null || echo "Z:$3")"
  wineserver -k' "$here" "$line" "$wait" "$bmp"
convert "$bmp" "$out"
rm -f "$bmp"
