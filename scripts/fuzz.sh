#!/usr/bin/env bash
# The long fuzz campaign: every target in turn (one at a time, niced), each
# until it has run --runs inputs or for --minutes, whichever comes first.
# What a run found that adds coverage is merged into fuzz/corpus/NAME
# (libFuzzer's -merge=1: only inputs with new features, the hand-written
# seeds kept). Stops at the first finding, showing it. Ends with one table
# row per target for fuzz/README.md.
#
#   scripts/fuzz.sh --minutes N [--runs N] [--no-merge] [TARGET...]
#
#   --minutes N   time limit per target (required)
#   --runs N      executions per target (default 10000000; 0: no limit)
#   --no-merge    leave fuzz/corpus alone
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

usage() { sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }

minutes= runs=10000000 merge=1 only=()
while [ $# -gt 0 ]; do
  case $1 in
    --minutes) minutes=${2:-}; shift 2 ;;
    --runs) runs=${2:-}; shift 2 ;;
    --no-merge) merge=0; shift ;;
    -h|--help) usage ;;
    -*) echo "unknown option $1" >&2; usage ;;
    *) only+=("$1"); shift ;;
  esac
done
[[ $minutes =~ ^[0-9]+$ ]] && [ "$minutes" -gt 0 ] || { echo "--minutes N is required (N > 0)" >&2; usage; }
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
rows=()
for name in "${targets[@]}"; do
  corpus=fuzz/corpus/$name
  work=$out/$name.new
  artifacts=$out/$name.artifacts
  log=$out/$name.log
  rm -rf "$work" "$artifacts"; mkdir -p "$work" "$corpus"
  echo "== $name: up to $runs executions or $minutes min ($(date -u '+%H:%M:%S') UTC)"
  limit=(-max_total_time=$((minutes * 60)))
  [ "$runs" -gt 0 ] && limit+=(-runs="$runs")
  # New finds go to the first directory, the committed corpus is only read.
  fuzz_run "$build/fuzz/fuzz_$name" "$name" "$artifacts" "$log" \
    "${limit[@]}" "$work" "$corpus" || exit 1
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  merged=0
  if [ "$merge" = 1 ] && [ -n "$(ls -A "$work")" ]; then
    before=$(ls "$corpus" | wc -l)
    "$build/fuzz/fuzz_$name" -merge=1 "$corpus" "$work" >"$out/$name.merge.log" 2>&1 || {
      echo "merging into $corpus failed:"; tail -20 "$out/$name.merge.log"; exit 1; }
    merged=$(( $(ls "$corpus" | wc -l) - before ))
  fi
  files=$(ls "$corpus" | wc -l)
  bytes=$(du -sb "$corpus" | cut -f1)
  echo "   $executed executions, $speed exec/s, $merged inputs merged, corpus $files files / $bytes bytes"
  rows+=("| $name | $executed | $speed | $files / $bytes B | $(date -u +%F) |")
done

echo
echo "| target | executions | exec/s | corpus (files / bytes) | date |"
echo "|---|---|---|---|---|"
printf '%s\n' "${rows[@]}" | tee "$out/figures.md"
