#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The test command: installs what the build needs, builds the driver, tools,
# tests, sanitizer builds and fuzzers, runs the sanitizer suites and a short
# run of every fuzzer, and ends with the whole test suite and CTest's summary.
#
#   VORLAN_QUICK=1   only the plain build and its test suite
#   VORLAN_FUZZ_SECONDS=N   seconds per fuzzer (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# open62541 for the gateway's OPC UA server, built once into build/deps; the
# gateway is built without OPC UA when it can't be fetched.
scripts/fetch-open62541.sh || echo "open62541 not available: vorlan-gateway is built without OPC UA"

jobs=$(nproc 2>/dev/null || echo 2)
fuzz_seconds=${VORLAN_FUZZ_SECONDS:-60}

step() { printf '\n==== %s\n' "$*"; }

step "layers: no folder of src/ includes one above it"
python3 scripts/check-layers.py

step "plain build"
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/test -j "$jobs"

if [ "${VORLAN_QUICK:-0}" != 1 ]; then
  step "Debian packages: dpkg-buildpackage, lintian with no error or warning, unpacked and run"
  tests/kit/deb_package.sh . build/deb

  step "AddressSanitizer and UndefinedBehaviorSanitizer: whole suite"
  cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DVORLAN_SANITIZE=address,undefined \
        -DVORLAN_BENCH=OFF -DVORLAN_TOOLS=ON >/dev/null
  cmake --build build/asan -j "$jobs"
  # Full stacks on allocation, so the suppressions can name the ODBC driver
  # a leak of the ODBC stack's own comes from.
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 \
  LSAN_OPTIONS=suppressions="$PWD/scripts/lsan-suppressions.txt" \
    ctest --test-dir build/asan --output-on-failure -j "$jobs"

  step "ThreadSanitizer: the tests that use threads (lock, atoms, peers on pseudo-terminals, concurrency, the gateway)"
  cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DVORLAN_SANITIZE=thread \
        -DVORLAN_BENCH=OFF -DVORLAN_TOOLS=ON >/dev/null
  cmake --build build/tsan -j "$jobs"
  TSAN_OPTIONS=halt_on_error=1 \
    ctest --test-dir build/tsan --output-on-failure -j "$jobs" -R 'Thread|Concurren|EndToEnd|OnPty|AtomTable|LineFault|GatewayTest'

  step "libFuzzer: ${fuzz_seconds} s per target; any sanitizer report fails"
  # Only the fuzz programs: clang doesn't link the sanitizer runtime into
  # the shared library. UBSan is built without recovery (fuzz_configure).
  source scripts/fuzz-run.sh
  fuzz_configure build/libfuzzer
  fuzz_targets=$(fuzz_targets | sed 's/^/fuzz_/')
  # shellcheck disable=SC2086
  cmake --build build/libfuzzer -j "$jobs" --target $fuzz_targets fuzz_planted_overflow
  # First the check itself: a planted overflow must fail it.
  ctest --test-dir build/libfuzzer --output-on-failure -R '^fuzz_stage_'
  runs=build/libfuzzer/runs
  rm -rf "$runs"; mkdir -p "$runs"
  for target in $fuzz_targets; do
    name=${target#fuzz_}
    # New finds go to a scratch directory; the committed corpus is only read.
    mkdir -p "$runs/$name.new"
    echo "fuzzing $name"
    fuzz_run build/libfuzzer/fuzz/"$target" "$name" "$runs/$name.artifacts" "$runs/$name.log" \
      -max_total_time="$fuzz_seconds" "$runs/$name.new" fuzz/corpus/"$name" || exit 1
    rm -rf "$runs/$name.new"
  done
fi

step "whole test suite"
ctest --test-dir build/test --output-on-failure -j "$jobs"
