#!/usr/bin/env bash
# Fetches open62541 (MPL-2.0) from Debian's source package, checks the orig
# tarball against a pinned SHA-256 and builds it once as a static library into
# build/deps/open62541 (lib, include), with its async check every 50 ms
# instead of every second. Idempotent: does nothing once the
# library is installed. Uses a private apt sources directory; the system's apt
# configuration is never touched.
set -euo pipefail

version=1.4.11.1
# What is built: the version and the one change made to it (below).
stamp="$version+async-50ms"
sha256=2979c0f09b766fd6470bdf06c8500c90ed51327aae1c22af132641a44178b722
root="$(cd "$(dirname "$0")/.." && pwd)"
deps="${VORLAN_DEPS_DIR:-$root/build/deps}"
prefix="$deps/open62541"
work="$deps/open62541-src"

if [ -f "$prefix/lib/libopen62541.a" ] && [ -f "$prefix/.version" ] \
   && [ "$(cat "$prefix/.version")" = "$stamp" ]; then
  exit 0
fi

mkdir -p "$work"
tarball="$work/open62541_${version}.orig.tar.gz"

if [ ! -f "$tarball" ] || ! echo "$sha256  $tarball" | sha256sum -c --quiet - 2>/dev/null; then
  rm -f "$tarball"
  # The same mirror the system's own Debian sources name.
  uri="$( (grep -hE '^[[:space:]]*(deb|URIs:)' /etc/apt/sources.list /etc/apt/sources.list.d/*.sources \
              /etc/apt/sources.list.d/*.list 2>/dev/null || true) \
         | grep -oE 'https?://[^ ]*/debian/?( |$)' | grep -v security | head -n1 | tr -d ' ' || true)"
  uri="${uri:-http://deb.debian.org/debian}"
  apt_dir="$work/apt"
  mkdir -p "$apt_dir/parts" "$apt_dir/lists/partial"
  echo "deb-src $uri trixie main" > "$apt_dir/parts/trixie-src.list"
  apt_opts=(-o Dir::Etc::sourcelist=/dev/null -o "Dir::Etc::sourceparts=$apt_dir/parts"
            -o "Dir::State::Lists=$apt_dir/lists" -o Debug::NoLocking=1)
  apt-get "${apt_opts[@]}" update -q
  # The nodeset and debian tarballs may not be served; only the orig tarball
  # is needed (its reduced namespace zero suffices), so a partial fetch is fine.
  (cd "$work" && apt-get "${apt_opts[@]}" source --download-only "open62541=$version-1" || true)
  [ -f "$tarball" ] || { echo "open62541: $tarball was not fetched" >&2; exit 1; }
fi
echo "$sha256  $tarball" | sha256sum -c --quiet - \
  || { echo "open62541: checksum mismatch for $tarball" >&2; exit 1; }

src="$work/open62541-$version"
rm -rf "$src" "$work/build"
mkdir -p "$src"
tar -xzf "$tarball" -C "$src" --strip-components=1
# The library hands deferred method results (the gateway's controls) back to
# their clients when its async check runs, once a second as released; every
# 50 ms answers a control about as soon as the relay has confirmed it.
async="$src/src/server/ua_server_async.c"
sed -i 's/NULL, 1000\.0, &am->checkTimeoutCallbackId/NULL, 50.0, \&am->checkTimeoutCallbackId/' "$async"
grep -q 'NULL, 50.0, &am->checkTimeoutCallbackId' "$async" \
  || { echo "open62541: the async check interval to change was not found" >&2; exit 1; }
cmake -S "$src" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
  -DCMAKE_POSITION_INDEPENDENT_CODE=ON \
  -DUA_NAMESPACE_ZERO=REDUCED -DUA_ENABLE_ENCRYPTION=OPENSSL \
  -DUA_ENABLE_AMALGAMATION=OFF -DUA_BUILD_EXAMPLES=OFF -DUA_BUILD_UNIT_TESTS=OFF \
  -DUA_FORCE_WERROR=OFF -DUA_ENABLE_NODESET_INJECTOR=OFF \
  -DUA_LOGLEVEL=300 \
  ${CMAKE_C_COMPILER_LAUNCHER:+-DCMAKE_C_COMPILER_LAUNCHER=$CMAKE_C_COMPILER_LAUNCHER}
cmake --build "$work/build" -j"${VORLAN_DEPS_JOBS:-2}"
cmake --install "$work/build"
echo "$stamp" > "$prefix/.version"
