#!/usr/bin/env bash
# Creates the project's own Wine prefix under build/ (no Mono or Gecko prompts)
# and links a CJK font behind the dialog fonts so the Chinese texts render.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${VARNOLT_WINEPREFIX:-$here/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
[ -f "$WINEPREFIX/.varnolt-ready" ] && exit 0
mkdir -p "$WINEPREFIX"
echo "Creating Wine prefix $WINEPREFIX" >&2
DISPLAY= "$wine" wineboot --init >/dev/null 2>&1 || true
wineserver -w 2>/dev/null || true

hex7() { printf '%s' "$1" | iconv -t UTF-16LE | od -An -tx1 -v | tr -s ' \n' ',' | sed 's/^,//;s/,$//'; }
link="$(hex7 'wqy-microhei.ttc,WenQuanYi Micro Hei'),00,00,00,00"
reg="$WINEPREFIX/drive_c/varnolt-fonts.reg"
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
  for f in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Segoe UI"; do
    printf '"%s"=hex(7):%s\r\n' "$f" "$link"
  done
  printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
  for f in "SimSun" "NSimSun" "Microsoft YaHei"; do
    printf '"%s"="WenQuanYi Micro Hei"\r\n' "$f"
  done
} | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; } > "$reg"
# The import has been seen to fail silently on a prefix's first boot: check that the font
# link is there, try again, and never mark a prefix ready without it.
linked() {
  DISPLAY= "$wine" reg query 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v Tahoma 2>/dev/null |
    grep -q -i 'wqy-microhei'
}
for attempt in 1 2 3; do
  DISPLAY= "$wine" regedit /s 'C:\varnolt-fonts.reg' >/dev/null 2>&1 || true
  wineserver -w 2>/dev/null || true
  linked && break
done
if ! linked; then
  echo "Could not link the CJK font in $WINEPREFIX; remove the folder and try again" >&2
  exit 1
fi
touch "$WINEPREFIX/.varnolt-ready"
