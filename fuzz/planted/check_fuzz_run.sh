#!/usr/bin/env bash
# The fuzz run-and-check must fail on a finding: a planted signed overflow
# found by fuzzing, and report lines alone (a recovered UBSan report writes
# no artifact and exits 0). A clean run must pass.
#   check_fuzz_run.sh PLANTED_FUZZER
set -uo pipefail
planted=$1
source "$(dirname "$0")/../../scripts/fuzz-run.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# The seed itself is harmless; the overflow needs one mutated byte.
mkdir -p "$work/corpus"
printf 'Y\0' >"$work/corpus/seed"
printf 'N\377' >"$work/clean"

if fuzz_run "$planted" planted "$work/artifacts" "$work/found.log" \
     -runs=1000000 -max_total_time=120 "$work/corpus" >"$work/found.out"; then
  fail "a run with a planted overflow passed"
fi
cat "$work/found.out"
grep -q 'FUZZ FINDING in planted' "$work/found.out" || fail "the finding is not announced"
grep -q 'runtime error: signed integer overflow' "$work/found.out" || fail "the report is not shown"
[ -n "$(ls -A "$work/artifacts" 2>/dev/null)" ] || fail "no failing input left behind (UBSan recovered?)"

# Running the inputs given, without fuzzing: nothing to find.
fuzz_run "$planted" planted "$work/clean-artifacts" "$work/clean.log" "$work/clean" >"$work/clean.out" ||
  { cat "$work/clean.out"; fail "a clean run failed"; }

# The decision on report lines alone: exit status 0 and no artifact.
check_log() {
  local expect=$1 what=$2 text=$3 status=${4:-0}
  printf '%s\n' "$text" >"$work/canned.log"
  if fuzz_check canned "$status" "$work/canned.log" "$work/none" >/dev/null; then result=pass; else result=fail; fi
  [ "$result" = "$expect" ] || fail "$what: expected $expect, got $result"
}
check_log fail "recovered UBSan report" \
  'tools/comtrade/date_time.cpp:109:48: runtime error: signed integer overflow: 106751 * 86400 cannot be represented
SUMMARY: UndefinedBehaviorSanitizer: undefined-behavior tools/comtrade/date_time.cpp:109:48 in
Done 1000 runs in 60 second(s)'
check_log fail "AddressSanitizer report" '==12==ERROR: AddressSanitizer: heap-buffer-overflow on address 0x6020'
check_log fail "leak report" '==12==ERROR: LeakSanitizer: detected memory leaks'
check_log fail "libFuzzer timeout" '==12== ERROR: libFuzzer: timeout after 1201 seconds'
check_log fail "non-zero exit alone" 'INFO: Seed: 1' 77
check_log pass "clean run" '#2	INITED cov: 10 ft: 10 corp: 1/2b exec/s: 0 rss: 30Mb
Done 1000000 runs in 20 second(s)
stat::number_of_executed_units: 1000000'

[ "$failures" -eq 0 ] && echo "fuzz run-and-check: all cases behave" || exit 1
