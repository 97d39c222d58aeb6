#!/usr/bin/env bash
# Starts the prefix's system processes (services, device drivers) with no standard
# handles. The first program of a wineserver's life starts them, and they inherit its
# output: under ctest or a pipe they would hold that pipe open after the program ends,
# and the caller would wait for it forever. Run after starting a persistent wineserver.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$here/scripts/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true
