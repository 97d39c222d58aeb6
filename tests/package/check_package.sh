#!/bin/sh
# The package test: makes the release zip into a fresh folder, unpacks it into another,
# and runs package_tests.exe on the unpacked program through check_gtest.sh. Both folders
# go afterwards.
#   check_package.sh <source folder> <build folder> <emulator>
set -eu
source=$1 build=$2 emulator=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
zip=$(python3 "$source/scripts/make-dist.py" --build "$build" --out "$work/dist" --parts zip)
python3 -m zipfile -e "$zip" "$work/unpacked"
package=$(echo "$work"/unpacked/varnolt-*-win64)
[ -f "$package/Varnolt.exe" ] || { echo "no Varnolt.exe in $zip"; exit 1; }
VARNOLT_PACKAGE="Z:$(echo "$package" | tr / '\\')" bash "$source/tests/runner/check_gtest.sh" "$emulator" \
  "$build/package_tests.exe"
