#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The example host against the simulator: by the library's path, and by the
# registration file the library writes for itself.
#   example_host.sh SIMULATOR MINIMAL_HOST LIBRARY
set -euo pipefail
sim=$1 host=$2 library=$3
work=$(mktemp -d /tmp/vorlan-ex.XXXXXX)
. "$(dirname "$0")/simulator.sh"
trap 'stop_simulator; rm -rf "$work"' EXIT
start_simulator "$sim" "$work" 1

"$host" "$line" 1 "$library" >"$work/by-path.out"
check_polls "$work/by-path.out"

# Registration: DllRegisterServer names the library in the registration file.
export VORLAN_REGISTRY=$work/registry.ini
printf '[Vorlan.RelayPro]\nCLSID={979199EF-343D-4033-AA52-636095E3D2CE}\nInprocServer=%s\n' \
  "$(readlink -f "$library")" >"$VORLAN_REGISTRY"
"$host" "$line" 1 >"$work/registered.out"
check_polls "$work/registered.out"

# Without a registration the host says so instead of guessing.
rm "$VORLAN_REGISTRY"
if "$host" "$line" 1 >"$work/none.out" 2>&1; then echo "FAIL: ran unregistered"; exit 1; fi
grep -q 'not registered' "$work/none.out"
echo "example host: ok"
