#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The benchmark suite in one command: builds the benchmarks (optimised) and
# the long fault soak (with AddressSanitizer, for LeakSanitizer's verdict),
# then prints every figure beside its target.
#
#   VORLAN_SOAK_EXCHANGES=N   exchanges of the long soak (default 2000, ~15 min)
#   VORLAN_SCALE_SECONDS=N    seconds per scale run (default 20)
#   VORLAN_GATEWAY_SECONDS=N  seconds of the gateway load run (default 20)
#   VORLAN_BENCH_QUICK=1      skip the long soak
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
step() { printf '\n==== %s\n' "$*"; }
# The database message goes to stderr once per component; keep it out of the figures.
quiet() { "$@" 2> >(grep -v '连接定值数据库出错' >&2); }

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(free -g | awk '/Mem:/ {print $2}') GiB"

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVORLAN_TESTS=OFF >/dev/null
cmake --build build/bench -j "$jobs" --target bench_packet_calls bench_settings_answers \
      bench_exchange_on_pty bench_line_rate bench_scale bench_gateway_load bench_opcua_load 2>/dev/null \
  || cmake --build build/bench -j "$jobs" --target bench_packet_calls bench_exchange_on_pty bench_line_rate \
       bench_scale

step "1, 2: memory-served packet calls and heap allocations per call"
quiet build/bench/bench/bench_packet_calls --benchmark_min_time=0.5

step "3: an answered exchange on a pseudo-terminal"
quiet build/bench/bench/bench_exchange_on_pty

step "4: scale, 32 components"
quiet build/bench/bench/bench_scale "${VORLAN_SCALE_SECONDS:-20}"

step "5: setting answers (PostgreSQL unpinned, then pinned to one CPU)"
if [ -x build/bench/bench/bench_settings_answers ]; then
  quiet build/bench/bench/bench_settings_answers
else
  echo "bench_settings_answers is not built (bench/settings_answers.cpp missing or not building)"
fi

step "6: vorlan-gateway, 4 lines x 32 relays, 50 Modbus clients at 10 Hz, an MQTT subscriber"
if [ -x build/bench/bench/bench_gateway_load ]; then
  quiet build/bench/bench/bench_gateway_load "${VORLAN_GATEWAY_SECONDS:-20}"
else
  echo "bench_gateway_load is not built"
fi

step "6b: vorlan-gateway's OPC UA server, 4 paced lines x 32 relays, 20 subscribed clients, the Modbus load"
if [ -x build/bench/bench/bench_opcua_load ]; then
  quiet build/bench/bench/bench_opcua_load "${VORLAN_GATEWAY_SECONDS:-20}"
else
  echo "bench_opcua_load is not built"
fi

step "7: line rate of the two timing profiles, 9600 baud, paced relays"
quiet build/bench/bench/bench_line_rate

if [ "${VORLAN_BENCH_QUICK:-0}" != 1 ]; then
  step "fault soak on a pseudo-terminal (AddressSanitizer build)"
  cmake -S . -B build/bench-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLAN_SANITIZE=address \
        -DVORLAN_TESTS=OFF >/dev/null
  cmake --build build/bench-asan -j "$jobs" --target bench_soak
  ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0 \
  LSAN_OPTIONS=suppressions="$PWD/scripts/lsan-suppressions.txt" \
    quiet build/bench-asan/bench/bench_soak "${VORLAN_SOAK_EXCHANGES:-2000}"
  echo "LeakSanitizer: no leak reported"
fi
