# SPDX-License-Identifier: Apache-2.0
# Shell helpers for the kit tests: the relay simulator in the background on a
# pseudo-terminal reached through a short link. Sourced, not run.

# start_simulator SIMULATOR DIR RELAYS: sets $line (the link) and $sim_pid.
start_simulator() {
  line="$2/line"
  "$1" --relays "$3" --link "$line" >"$2/simulator.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 1 100); do
    [ -L "$line" ] && return 0
    sleep 0.05
  done
  echo "the simulator did not start:"; cat "$2/simulator.out"
  return 1
}

stop_simulator() {
  if [ -n "${sim_pid:-}" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
  fi
}

# check_polls OUTPUT_FILE: ten polls, every one answered, YC values printed.
check_polls() {
  cat "$1"
  [ "$(grep -cE '^poll +[0-9]+ answered +YC1=' "$1")" -eq 10 ] || { echo "FAIL: not ten answered polls"; return 1; }
  ! grep -q 'no answer' "$1" || { echo "FAIL: a poll went unanswered"; return 1; }
}
