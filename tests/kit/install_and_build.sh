#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# cmake --install into a throw-away prefix, then the example hosts built
# against the installed files only: through pkg-config and through
# find_package(Vorlan). The built tree is reused; nothing is rebuilt.
#   install_and_build.sh BUILD_DIR SOURCE_DIR SIMULATOR C_COMPILER
set -euo pipefail
build=$1 source=$2 sim=$3 cc=$4
work=$(mktemp -d /tmp/vorlan-inst.XXXXXX)
. "$(dirname "$0")/simulator.sh"
trap 'stop_simulator; rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log"

# The library under its version, found by its SONAME, with the link name.
lib=$(find "$prefix" -name 'libvorlan.so.*.*' -type f)
[ -n "$lib" ] || fail "no versioned library installed"
libdir=$(dirname "$lib")
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = libvorlan.so.0 ] || fail "SONAME is '$soname'"
[ -L "$libdir/$soname" ] && [ -L "$libdir/libvorlan.so" ] || fail "links missing in $libdir"
for f in include/vorlan/driver.h bin/vorlan-host bin/vorlan-relaysim bin/vorlan-gateway \
         etc/vorlan/gateway/example.toml; do
  [ -e "$prefix/$f" ] || fail "$f not installed"
done
# The gateway's unit and registration file name what this prefix holds.
unit=$prefix/lib/systemd/system/vorlan-gateway@.service
grep -qx "ExecStart=$prefix/bin/vorlan-gateway -c $prefix/etc/vorlan/gateway/%i.toml" "$unit" \
  || fail "unit: $(grep ExecStart "$unit" || echo "no $unit")"
grep -qx "Environment=VORLAN_REGISTRY=$prefix/etc/vorlan/registry.ini" "$unit" || fail "unit: registry"
grep -qx "InprocServer=$libdir/libvorlan.so.0" "$prefix/etc/vorlan/registry.ini" || fail "registry.ini"
# The map loads the driver through the registration file the unit names.
VORLAN_REGISTRY=$prefix/etc/vorlan/registry.ini \
  "$prefix/bin/vorlan-gateway" -c "$prefix/etc/vorlan/gateway/example.toml" --map >/dev/null \
  || fail "the sample configuration is not taken"
if command -v help2man >/dev/null; then
  for page in vorlan-host vorlan-relaysim vorlan-gateway; do
    grep -q '^\.SH EXAMPLES' "$prefix/share/man/man1/$page.1" || fail "$page.1 missing or without its examples"
  done
fi
[ -f "$libdir/pkgconfig/vorlan.pc" ] || fail "vorlan.pc not installed"
[ -f "$libdir/cmake/Vorlan/VorlanConfig.cmake" ] || fail "CMake package not installed"
examples=$(find "$prefix" -path '*/examples/minimal_host.c' -printf '%h\n')
[ -n "$examples" ] || fail "examples not installed"

# pkg-config, with the installed example sources.
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --variable=prefix vorlan | xargs readlink -f)" = "$(readlink -f "$prefix")" ] \
  || fail "vorlan.pc does not name the prefix it was installed to"
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Werror $(pkg-config --cflags vorlan) \
  -o "$work/minimal_host_pc" "$examples/minimal_host.c" -ldl
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Werror $(pkg-config --cflags vorlan) \
  -o "$work/linked_host_pc" "$examples/linked_host.c" $(pkg-config --libs vorlan)
LD_LIBRARY_PATH=$libdir "$work/linked_host_pc" >"$work/linked.out" || fail "linked host: $(cat "$work/linked.out")"
# Without LD_LIBRARY_PATH it starts only with the run path the guide gives.
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Wextra -Werror $(pkg-config --cflags vorlan) -o "$work/linked_host_rpath" \
  "$examples/linked_host.c" $(pkg-config --libs vorlan) -Wl,-rpath,"$(pkg-config --variable=libdir vorlan)"
"$work/linked_host_rpath" >/dev/null || fail "linked host with the run path"
grep -q 'LBCount' "$work/linked.out" || fail "linked host listed no catalogue"
readelf -d "$work/linked_host_pc" | grep -q 'NEEDED.*libvorlan.so.0' || fail "linked host does not need libvorlan.so.0"

# find_package(Vorlan), building the installed examples directory.
CC=$cc cmake -S "$examples" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >"$work/cmake.log" || { cat "$work/cmake.log"; fail "configure"; }
cmake --build "$work/cmake-build" >"$work/cmake-build.log" || { cat "$work/cmake-build.log"; fail "build"; }
"$work/cmake-build/linked_host" >/dev/null || fail "CMake-built linked host"

# The installed library polls the simulator through the example.
start_simulator "$sim" "$work" 1
"$work/cmake-build/minimal_host" "$line" 1 "$lib" >"$work/poll.out"
check_polls "$work/poll.out"
"$work/minimal_host_pc" >/dev/null 2>&1 && fail "usage mistake accepted"
echo "install: ok"
