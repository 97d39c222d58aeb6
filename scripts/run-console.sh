#!/usr/bin/env bash
# make console: opens the console in the project's Wine prefix, with the demo ready to run.
# It needs a display.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ -z "${DISPLAY:-}" ]; then
  echo "make console needs a display (DISPLAY is not set)" >&2
  exit 1
fi
script=$(echo "Z:$here/examples/console.vrs" | tr / '\\')
exec "$here/scripts/wine-run.sh" "$here/build/Varnolt.exe" "$script"
