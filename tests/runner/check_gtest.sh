#!/usr/bin/env bash
# Runs a GoogleTest program and passes it only when the program itself says that every
# test it ran passed: exit code 0, its closing summary printed, no failure listed, and
# the passed and skipped tests adding up to the tests run. A program that dies half-way
# never prints the summary, whatever exit code it ends with (under Wine a crash has
# been seen to end with 0). A run of no test at all passes only under a filter.
#   check_gtest.sh <emulator> <program> [arguments...]
set -u
emulator=$1
shift
output=$(mktemp)
trap 'rm -f "$output"' EXIT
"$emulator" "$@" 2>&1 | tee "$output"
status=${PIPESTATUS[0]}

fail() {
  echo "check_gtest: $*" >&2
  exit 1
}
# The count on the last summary line of a kind ('\r' from the program's line ends ignored).
count() { tr -d '\r' < "$output" | sed -n "s/$1/\\1/p" | tail -n 1; }

[ "$status" -eq 0 ] || fail "the program ended with exit code $status"
grep -q '^\[  FAILED  \]' "$output" && fail "the program reported failed tests"
ran=$(count '^\[==========\] \([0-9][0-9]*\) tests\{0,1\} from .* ran\..*')
passed=$(count '^\[  PASSED  \] \([0-9][0-9]*\) tests\{0,1\}\.$')
skipped=$(count '^\[  SKIPPED \] \([0-9][0-9]*\) tests\{0,1\}, listed below:$')
[ -n "$ran" ] && [ -n "$passed" ] || fail "the program ended before its closing summary"
[ $((passed + ${skipped:-0})) -eq "$ran" ] || fail "$ran tests ran but $passed passed and ${skipped:-0} were skipped"
if [ "$ran" -eq 0 ] && [ -z "${GTEST_FILTER:-}" ] && ! printf '%s\n' "$@" | grep -q -- '^--gtest_filter='; then
  fail "no test ran"
fi
exit 0
