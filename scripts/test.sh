#!/usr/bin/env bash
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

  step "libFuzzer: ${fuzz_seconds} s per target"
  # Only the fuzz programs: clang doesn't link the sanitizer runtime into
  # the shared library.
  fuzz_targets=$(ls fuzz/*_fuzzer.cpp | sed 's|fuzz/\(.*\)_fuzzer.cpp|fuzz_\1|')
  CC=clang-14 CXX=clang++-14 cmake -S . -B build/libfuzzer -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVORLAN_FUZZ=ON -DVORLAN_SANITIZE=address,undefined \
        -DVORLAN_TESTS=OFF -DVORLAN_TOOLS=OFF -DVORLAN_BENCH=OFF >/dev/null
  # shellcheck disable=SC2086
  cmake --build build/libfuzzer -j "$jobs" --target $fuzz_targets
  artifacts=build/libfuzzer/artifacts
  rm -rf "$artifacts"; mkdir -p "$artifacts"
  for target in $fuzz_targets; do
    fuzzer=build/libfuzzer/fuzz/$target
    name=${target#fuzz_}
    work=$(mktemp -d)
    cp fuzz/corpus/"$name"/* "$work"/
    echo "fuzzing $name"
    "$fuzzer" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
      -artifact_prefix="$artifacts/$name-" "$work" 2>&1 \
      | grep -E 'stat::number_of_executed_units|ERROR|SUMMARY' || true
    if [ -n "$(ls -A "$artifacts")" ]; then
      echo "fuzzer $name found a failing input:"; ls "$artifacts"
      exit 1
    fi
    rm -rf "$work"
  done
fi

step "whole test suite"
ctest --test-dir build/test --output-on-failure -j "$jobs"
