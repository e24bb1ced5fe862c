#!/usr/bin/env bash
# The long fuzz campaign: every target in turn (one at a time, niced), each
# until it has run --runs inputs or for --minutes, whichever comes first.
# Then fuzz/corpus/NAME is minimised with libFuzzer's -merge=1 over what it
# held and what the run found: the hand-written seeds stay, of the inputs
# named by their SHA-1 only those that add coverage. Stops at the first
# finding, showing it. Ends with one table row per target for fuzz/README.md.
#
#   scripts/fuzz.sh --minutes N [--runs N] [--no-merge] [TARGET...]
#   scripts/fuzz.sh --merge-only [TARGET...]
#
#   --minutes N   time limit per target
#   --runs N      executions per target (default 10000000; 0: no limit)
#   --no-merge    leave fuzz/corpus alone
#   --merge-only  no fuzzing: only minimise the corpora
#   TARGET        only these targets (names as in fuzz/NAME_fuzzer.cpp)
#   VORLAN_FUZZ_NICE   niceness of the build and the runs (default 15)
set -euo pipefail
cd "$(dirname "$0")/.."
# Everything below (build, runs, merges) at low priority on a shared machine.
want_nice=${VORLAN_FUZZ_NICE:-15}
if [ "$(nice)" -lt "$want_nice" ]; then
  exec nice -n $((want_nice - $(nice))) "$0" "$@"
fi
source scripts/fuzz-run.sh

usage() { sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }

minutes='' runs=10000000 merge=1 fuzz=1 only=()
while [ $# -gt 0 ]; do
  case $1 in
    --minutes) minutes=${2:-}; shift 2 ;;
    --runs) runs=${2:-}; shift 2 ;;
    --no-merge) merge=0; shift ;;
    --merge-only) fuzz=0; shift ;;
    -h|--help) usage ;;
    -*) echo "unknown option $1" >&2; usage ;;
    *) only+=("$1"); shift ;;
  esac
done
if [ "$fuzz" = 1 ] && ! { [[ $minutes =~ ^[0-9]+$ ]] && [ "$minutes" -gt 0 ]; }; then
  echo "--minutes N is required (N > 0)" >&2; usage
fi
[[ $runs =~ ^[0-9]+$ ]] || { echo "--runs takes a number" >&2; usage; }

mapfile -t all < <(fuzz_targets)
targets=("${all[@]}")
if [ ${#only[@]} -gt 0 ]; then
  for t in "${only[@]}"; do
    printf '%s\n' "${all[@]}" | grep -qx "$t" || { echo "no fuzz target '$t' (have: ${all[*]})" >&2; exit 2; }
  done
  targets=("${only[@]}")
fi

build=build/libfuzzer
fuzz_configure "$build"
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" \
  --target "${targets[@]/#/fuzz_}" >/dev/null

out=$build/campaign
mkdir -p "$out"

# Rebuilds fuzz/corpus/NAME: its hand-written seeds, then -merge=1 over the
# inputs named by their SHA-1, the corpus's own and those in EXTRA.
minimise() {
  local name=$1 extra=${2:-} corpus=fuzz/corpus/$1 fresh=$out/$1.min pool=$out/$1.pool f
  rm -rf "$fresh" "$pool"; mkdir -p "$fresh" "$pool"
  for f in "$corpus"/* ${extra:+"$extra"/*}; do
    [ -f "$f" ] || continue
    if [[ ${f##*/} =~ ^[0-9a-f]{40}$ ]]; then cp "$f" "$pool"/; else cp "$f" "$fresh"/; fi
  done
  "$build/fuzz/fuzz_$name" -merge=1 "$fresh" "$pool" >"$out/$name.merge.log" 2>&1 || {
    echo "minimising $corpus failed:"; tail -20 "$out/$name.merge.log"; return 1; }
  rm -rf "$corpus" "$pool"
  mv "$fresh" "$corpus"
}

count() { find "$1" -type f | wc -l; }
rows=()
for name in "${targets[@]}"; do
  corpus=fuzz/corpus/$name
  work=$out/$name.new
  artifacts=$out/$name.artifacts
  log=$out/$name.log
  rm -rf "$work" "$artifacts"; mkdir -p "$work" "$corpus"
  if [ "$fuzz" = 0 ]; then
    before=$(count "$corpus")
    minimise "$name" || exit 1
    echo "== $name: corpus $before -> $(count "$corpus") files / $(du -sb "$corpus" | cut -f1) bytes"
    continue
  fi
  echo "== $name: up to $runs executions or $minutes min ($(date -u '+%H:%M:%S') UTC)"
  limit=(-max_total_time=$((minutes * 60)))
  [ "$runs" -gt 0 ] && limit+=(-runs="$runs")
  # New finds go to the first directory, the committed corpus is only read.
  fuzz_run "$build/fuzz/fuzz_$name" "$name" "$artifacts" "$log" \
    "${limit[@]}" "$work" "$corpus" || exit 1
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  before=$(count "$corpus")
  [ "$merge" = 1 ] && { minimise "$name" "$work" || exit 1; }
  files=$(count "$corpus")
  bytes=$(du -sb "$corpus" | cut -f1)
  echo "   $executed executions, $speed exec/s, corpus $before -> $files files / $bytes bytes"
  rows+=("| $name | $executed | $speed | $files / $bytes B | $(date -u +%F) |")
done

[ "$fuzz" = 1 ] || exit 0
echo
echo "| target | executions | exec/s | corpus (files / bytes) | date |"
echo "|---|---|---|---|---|"
printf '%s\n' "${rows[@]}" | tee "$out/figures.md"
