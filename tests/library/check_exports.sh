#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# The library exports exactly the C entry points of the host interface.
set -eu
expected="DllCanUnloadNow DllGetClassObject DllRegisterServer VorlanGetAtomName VorlanGetLastError VorlanGetRelayStats VorlanGetRelayStats2"
actual=$(nm -D --defined-only "$1" | awk '{print $3}' | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$actual" != "$expected" ]; then
  echo "exported: $actual"
  echo "expected: $expected"
  exit 1
fi
