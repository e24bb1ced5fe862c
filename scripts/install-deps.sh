#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian packages the build, the tests and the tools need.
# Idempotent: apt-get update and install run only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  gcc-multilib g++-multilib
  unixodbc unixodbc-dev libsqliteodbc odbc-postgresql postgresql sqlite3
  clang-14 libclang-rt-14-dev valgrind
  libtomlplusplus-dev libcli11-dev nlohmann-json3-dev libcairo2-dev fonts-wqy-microhei
  python3 tzdata
  debhelper dpkg-dev lintian help2man
  libmodbus-dev libmosquitto-dev mosquitto mosquitto-clients mbpoll
  libcpp-httplib-dev chromium openssl libssl-dev libcrypt-dev
)

# node-opcua (from npm, installed by the OPC UA test) needs Node.js and npm;
# a Node.js that brings its own npm is left alone.
if ! command -v npm >/dev/null 2>&1; then packages+=(nodejs npm); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
