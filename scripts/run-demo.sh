#!/usr/bin/env bash
# Runs examples/demo.vrs headless and shows every executed line with its result, then
# names the commands that show windows (they need a display).
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
help=$(echo "Z:$here/examples/help.vrs" | tr / '\\')
cat <<NEXT

Windows of Varnolt's own need a display:
  make console      the console: run lines (LOAD %C\\dialogs.vrs shows the dialogs of DLGX),
                    press ... to browse for a script, and find Help (the guide) and About
                    in its Menu (帮助, 关于 and 菜单 with VARNOLT_LANG=zh)
  scripts/wine-run.sh build/Varnolt.exe '$help'
                    the help viewer: the guide next to Varnolt.exe, a page of your own,
                    and a page given as HTML text
NEXT
