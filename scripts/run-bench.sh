#!/usr/bin/env bash
# make bench: runs bench/bench.py (inputs on tmpfs, product and peers alternately in the
# project's Wine prefix) and leaves the figures in bench/RESULTS.md. BENCH_REPS,
# BENCH_BIG_MB and BENCH_LARGE_MB make the run shorter or longer; arguments pick
# benchmarks (startup script check reg tgz copy delete console help journal).
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export BENCH_BUILD="${BENCH_BUILD:-build}"
# One wineserver of this prefix for the whole run (a server of another checkout's prefix
# does not count), stopped afterwards.
wineserver -k 2>/dev/null || true
(wineserver -p >/dev/null 2>&1 &)
trap 'wineserver -k 2>/dev/null || true' EXIT
"$here/scripts/wine-warm.sh"
python3 "$here/bench/bench.py" "$@"
