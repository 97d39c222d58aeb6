#!/usr/bin/env bash
# Shows Varnolt in a virtual screen of the given size and saves a PNG of it:
#   scripts/screenshot.sh 240x320 shot.png 'VRUI EVAL 1=x'        the command line's window
#   scripts/screenshot.sh 800x600 shot.png --console 'LOAD ...'    the console after running a line
#   scripts/screenshot.sh 240x320 shot.png --menu 401               the console after a menu command (the about box)
#   scripts/screenshot.sh 800x600 shot.png --running 'LOAD ...'    the console while the line runs
# VARNOLT_LANG=en or zh picks the language; SHOT_DELAY the seconds before the picture (4).
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
size=$1 out=$2 mode=$3 line=${4:-}
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bmp=$(mktemp --suffix=.bmp)
xvfb-run -a -s "-screen 0 ${size}x24" bash -c '
  here=$0 mode=$1 line=$2 bmp=$3
  run="$here/scripts/wine-run.sh"
  if [ "$mode" = --console ]; then
    "$run" "$here/build/bench_console.exe" keep "$here/build/Varnolt.exe" "$line" >/dev/null
  elif [ "$mode" = --running ]; then
    "$run" "$here/build/bench_console.exe" run "$here/build/Varnolt.exe" "$line" >/dev/null
  elif [ "$mode" = --menu ]; then
    "$run" "$here/build/bench_console.exe" post "$here/build/Varnolt.exe" "$line" >/dev/null
  else
    "$run" "$here/build/Varnolt.exe" "$mode" </dev/null >/dev/null 2>&1 &
  fi
  sleep "${SHOT_DELAY:-4}"
  "$run" "$here/build/screenshot.exe" "Z:${bmp//\//\\}"
  wineserver -k' "$here" "$mode" "$line" "$bmp"
convert "$bmp" "$out"
rm -f "$bmp"
