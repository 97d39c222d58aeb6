#!/usr/bin/env bash
# Shows that check_gtest.sh fails a test program killed half-way with exit code 0, and
# passes the same program when the tests it runs end normally, one of them skipped.
#   check_gtest_test.sh <emulator> <ends_early.exe>
set -u
check="$(dirname "${BASH_SOURCE[0]}")/check_gtest.sh"
emulator=$1 program=$2
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! "$check" "$emulator" "$program" --gtest_filter='EndsEarly.Passes:EndsEarly.Skips' > "$log" 2>&1; then
  cat "$log"
  echo "FAIL: a run whose tests passed or were skipped was not passed"
  exit 1
fi
if "$check" "$emulator" "$program" > "$log" 2>&1; then
  cat "$log"
  echo "FAIL: a program that ended half-way with exit code 0 was passed"
  exit 1
fi
cat "$log"
grep -q 'check_gtest: the program ended before its closing summary' "$log" || {
  echo "FAIL: the early end was not the reason given"
  exit 1
}
echo "check_gtest.sh passes a complete run and fails one that ended half-way"
