# shellcheck shell=bash
# Shared by scripts/test.sh (the short fuzz stage), scripts/fuzz.sh (the long
# campaign) and the check that a planted finding fails a run. Source it; it
# defines functions only.
#
#   fuzz_targets              the target names (fuzz/NAME_fuzzer.cpp)
#   fuzz_configure DIR        configures the clang libFuzzer build in DIR
#   fuzz_run FUZZER NAME ARTIFACTS LOG [libFuzzer arguments...]
#                             runs one fuzzer; fails, showing the finding, if
#                             it reported anything
#   fuzz_check NAME STATUS LOG ARTIFACTS
#                             the decision alone: exit status, artifacts and
#                             the sanitizers' and libFuzzer's report lines

fuzz_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Lines that only appear when a sanitizer or libFuzzer itself reports a
# fault. A recovered UBSan report ("runtime error:") writes no artifact and
# leaves the exit status 0, so the output is checked as well.
fuzz_finding_pattern='runtime error:|ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|MemorySanitizer|ThreadSanitizer|libFuzzer)|^SUMMARY: |WARNING: (AddressSanitizer|ThreadSanitizer)|==[0-9]+==ABORTING|deadly signal'

fuzz_targets() {
  local f
  for f in "$fuzz_root"/fuzz/*_fuzzer.cpp; do
    f=${f##*/}
    echo "${f%_fuzzer.cpp}"
  done
}

# UBSan without recovery everywhere, the driver's objects included, so the
# first report stops the run and leaves its input behind as an artifact.
fuzz_configure() {
  local dir=$1 launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  CC=clang-14 CXX=clang++-14 cmake -S "$fuzz_root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVORLAN_FUZZ=ON -DVORLAN_SANITIZE=address,undefined \
    -DCMAKE_C_FLAGS=-fno-sanitize-recover=all -DCMAKE_CXX_FLAGS=-fno-sanitize-recover=all \
    -DVORLAN_TESTS=OFF -DVORLAN_TOOLS=OFF -DVORLAN_BENCH=OFF -DVORLAN_EXAMPLES=OFF \
    "${launcher[@]}" >/dev/null
}

fuzz_check() {
  local name=$1 status=$2 log=$3 artifacts=$4 found=()
  [ "$status" -eq 0 ] || found+=("exit status $status")
  if [ -d "$artifacts" ] && [ -n "$(ls -A "$artifacts")" ]; then
    found+=("artifacts written")
  fi
  grep -Eq "$fuzz_finding_pattern" "$log" && found+=("a report in the output")
  [ ${#found[@]} -eq 0 ] && return 0

  local IFS=,
  echo "FUZZ FINDING in $name (${found[*]}):"
  # The report: from its first line, enough of it to show the cause and stack.
  grep -Em1 -A40 "$fuzz_finding_pattern" "$log" | sed 's/^/  | /' || true
  if [ -d "$artifacts" ] && [ -n "$(ls -A "$artifacts")" ]; then
    echo "  failing inputs (replay: FUZZER FILE):"
    ls -1 "$artifacts" | sed "s|^|    $artifacts/|"
  fi
  echo "  whole output: $log"
  return 1
}

fuzz_run() {
  local fuzzer=$1 name=$2 artifacts=$3 log=$4 status=0
  shift 4
  mkdir -p "$artifacts"
  # halt_on_error also stops a build made with recovery at the first report.
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS} \
    "$fuzzer" -print_final_stats=1 -artifact_prefix="$artifacts/$name-" "$@" >"$log" 2>&1 || status=$?
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$log" | sed "s/^/  $name /" || true
  fuzz_check "$name" "$status" "$log" "$artifacts"
}
