#!/usr/bin/env bash
# make fuzz: feeds generated and mutated scripts, .reg texts, tar archives, provisioning
# documents, DLGX item lists and HTML pages to the product (FUZZ_COUNT each, 100000 by
# default) under vfuzz's watchdog and fences, then replays the saved regression inputs.
# Failing inputs are saved under tests/corpus/.
# FUZZ_SEED picks the campaign (default: today's date), so a run can be repeated.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$here/${FUZZ_BUILD:-build}"
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
count="${FUZZ_COUNT:-100000}"
seed="${FUZZ_SEED:-$(date +%Y%m%d)}"
hang_ms="${FUZZ_HANG_MS:-5000}"
corpus=$(winepath -w "$here/tests/corpus" 2>/dev/null || echo "Z:${here//\//\\}\\tests\\corpus")

# One wineserver of this prefix for the whole run (a server of another checkout's prefix
# does not count), stopped afterwards.
wineserver -k 2>/dev/null || true
(wineserver -p >/dev/null 2>&1 &)
trap 'wineserver -k 2>/dev/null || true' EXIT
"$here/scripts/wine-warm.sh"

status=0
for target in script reg tar provxml dlgx html; do
  "$here/scripts/wine-run.sh" "$build/vfuzz.exe" campaign "$target" "$seed" "$count" "$corpus" "$hang_ms" || status=1
done
"$here/scripts/wine-run.sh" "$build/vfuzz.exe" replay-all "$corpus" "$hang_ms" || status=1
[ $status = 0 ] && echo "fuzz: no failures" || echo "fuzz: FAILURES (inputs saved under tests/corpus/)"
exit $status
