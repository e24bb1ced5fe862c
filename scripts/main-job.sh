#!/usr/bin/env bash
# The main job: sets up a fresh machine, builds the driver and the tools, and
# runs the commissioning host against three simulated relays on a
# pseudo-terminal: probe, polling, a remote control, a zone's settings read
# into the SQLite setting database and written back, a fault recording
# fetched with its COMTRADE files and their plot. Stops everything it started
# and ends with a summary. Unattended; a few minutes at most.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
began=$(date +%s)

step() { printf '\n=== %s\n' "$*"; }

step "Installing the Debian packages the build needs (once)"
scripts/install-deps.sh

step "Building the driver, the relay simulator and the commissioning host"
build="$root/build/main"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLAN_TESTS=OFF -DVORLAN_BENCH=OFF >/dev/null
cmake --build "$build" --target vorlan vorlan-relaysim vorlan-host -j "$(nproc 2>/dev/null || echo 2)" |
  grep -E '^\[100%\]|error|warning' || true
library="$build/src/libvorlan.so"
sim="$build/bin/vorlan-relaysim"
host="$build/bin/vorlan-host"

run="$build/run"
rm -rf "$run"
mkdir -p "$run/recordings"

step "Creating the SQLite setting database and its data source \"rldb\""
eval "$(scripts/make-setting-db.sh "$run/settingdb")"
echo "database $run/settingdb/rldb.sqlite, data source in $ODBCINI"

# Where the driver looks: the recording directory with its channel
# configuration file (GBK text), the registration file, a monitor of our own.
export VORLAN_RECORDING_DIR="$run/recordings"
export VORLAN_REGISTRY="$run/registry.ini"
export VORLAN_MONITOR="vorlan-main-job-$$"
iconv -f UTF-8 -t GBK tools/host/sample/channel-config.txt >"$run/recordings/通道配置文件.txt"

pids=()
stop_all() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
}
trap stop_all EXIT

step "Starting the relay simulator: relays 1, 2 and 3 on a pseudo-terminal"
"$sim" --relays 1,2,3 --seed 7 --change-rate 0.15 --link "$run/line" >"$run/simulator.out" 2>"$run/simulator.log" &
pids+=($!)
for _ in $(seq 50); do [ -s "$run/simulator.out" ] && break; sleep 0.1; done
port="$(head -n1 "$run/simulator.out")"
[ -n "$port" ] || { cat "$run/simulator.log"; exit 1; }
cat "$run/simulator.log"
sed "s|^port = .*|port = \"$port\"|" tools/host/sample/station.toml >"$run/station.toml"
echo "station file $run/station.toml (port $port)"

"$host" monitor --name "$VORLAN_MONITOR" >"$run/monitor.log" 2>/dev/null &
pids+=($!)
sleep 0.2

step "Registering the driver and probing each relay"
"$host" -s "$run/station.toml" --library "$library" --register probe
echo "registration file: $VORLAN_REGISTRY"

step "Polling: 18 Send packets, values as they change, traffic mirrored to the monitor"
"$host" -s "$run/station.toml" poll -n 18 --trace | tee "$run/poll.log" | grep -E ' YC[1-4] | event |requests' || true
values=$(grep -c ' = ' "$run/poll.log" || true)
events=$(grep -c ' event ' "$run/poll.log" || true)

step "Remote control: close point 3 of relay 2 (select and execute, followed until 41)"
"$host" -s "$run/station.toml" write -r 2 YK3 close --yes  # no terminal to confirm on

step "Settings: zone 1 of relay 1 (coded list) into the database"
"$host" -s "$run/station.toml" settings -r 1 -z 1
step "Settings: edit two values in the database and write zone 1 back to relay 1"
"$host" -s "$run/station.toml" settings -r 1 -z 1 --set '#1=12.5' --set '过电流定值=4.5' --write --yes
step "Settings: reading zone 1 again shows what the relay stored"
"$host" -s "$run/station.toml" settings -r 1 -z 1 | tee "$run/settings-after.log"
grep -q '12.5' "$run/settings-after.log" && grep -q '4.5' "$run/settings-after.log"
step "Settings: relay 2 (float layout), zone 0, one value edited and written back"
"$host" -s "$run/station.toml" settings -r 2 -z 0 --set 'v3=0.55' --write --yes

step "Fault recording: list relay 3's recordings and fetch the first"
"$host" -s "$run/station.toml" record -r 3 | tee "$run/record.log"
cfg="$(ls "$run/recordings"/*.CFG | head -n1)"

step "Plotting the recording"
"$host" plot "$cfg" -o "$run/recording"

stop_all
trap - EXIT
took=$(( $(date +%s) - began ))

step "Summary"
cat <<SUMMARY
Finished in ${took} s. The host drove the driver "Vorlan.RelayPro" through its C interface only.
- 3 simulated relays answered the probe; polling showed ${values} value updates and ${events} status events.
- Remote control of relay 2, point 3: selected, executed and confirmed (YK 41).
- Zone 1 of relay 1 read into the database, two settings edited and written back, read again with the new values;
  zone 0 of relay 2 (float layout) edited and written back.
- A fault recording of relay 3 fetched block by block and written as COMTRADE files, then drawn.
- Monitor trace: $(wc -l <"$run/monitor.log") lines with timestamps.
- The simulator: $(tail -n1 "$run/simulator.log" | sed 's/^vorlan-relaysim: //')

Files (all under $run):
  station file         station.toml
  setting database     settingdb/rldb.sqlite   (data source: settingdb/odbc.ini)
  registration file    registry.ini
  recording files      $(cd "$run" && ls recordings/*.CFG recordings/*.DAT | sed 's/^/"/; s/$/"/' | tr '\n' ' ')
  plots                recording.svg  recording.png
  logs                 poll.log  monitor.log  simulator.log  record.log
SUMMARY
