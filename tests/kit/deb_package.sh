#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The Debian packages: built by dpkg-buildpackage from a copy of the source
# tree, checked by lintian (no error, no warning), their contents and control
# fields checked, then unpacked into a throw-away root and run from there: the
# simulator, the host polling it through the packaged library, the gateway.
#   deb_package.sh SOURCE_DIR OUT_DIR
# OUT_DIR keeps the packages (OUT_DIR/*.deb) and the build logs.
set -euo pipefail
source=$(readlink -f "$1")
out=$(mkdir -p "$2" && readlink -f "$2")
. "$source/tests/kit/simulator.sh"
fail() { echo "FAIL: $*"; exit 1; }

# The package version is the project's.
version=$(dpkg-parsechangelog -l "$source/debian/changelog" -S Version)
project=$(sed -n 's/^project(vorlan VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
[ "$version" = "$project" ] || fail "debian/changelog says $version, CMakeLists.txt $project"

# A copy of the tracked and new files; dpkg-buildpackage writes into debian/
# and puts the packages beside the tree. The path stays the same from run to
# run, so ccache finds the last build's objects.
tree=$out/src/vorlan-$version
rm -rf "$out/src" "$out"/*.deb "$out"/*.buildinfo "$out"/*.changes
mkdir -p "$tree"
(cd "$source" && git ls-files -z -co --exclude-standard | tar --null -T - --ignore-failed-read -cf - 2>/dev/null) \
  | tar -C "$tree" -xf -
jobs=$(nproc 2>/dev/null || echo 2)
start=$(date +%s)
(cd "$tree" && DEB_BUILD_OPTIONS="nocheck noautodbgsym parallel=$jobs" \
   dpkg-buildpackage -b -us -uc >"$out/build.log" 2>&1) || { tail -40 "$out/build.log"; fail "dpkg-buildpackage"; }
mv "$out"/src/*.deb "$out"/src/*.changes "$out"/src/*.buildinfo "$out"/
echo "built in $(( $(date +%s) - start )) s:"
for deb in "$out"/*.deb; do
  printf '  %-40s %6s KiB installed %5s KiB\n' "$(basename "$deb")" "$(( $(stat -c %s "$deb") / 1024 ))" \
    "$(dpkg-deb -f "$deb" Installed-Size)"
done
deb() { ls "$out/$1"_*.deb; }

# lintian: no error and no warning (informational tags are shown, not failed).
lintian --fail-on error,warning --info "$out"/*.changes >"$out/lintian.txt" 2>&1 || lintian_failed=1
grep -v 'running with root privileges' "$out/lintian.txt" || true
[ -z "${lintian_failed:-}" ] || fail "lintian"

# Contents, relations and the scripts debhelper made.
has() { dpkg-deb -c "$(deb "$1")" | awk '{print $6}' | grep -qE "^\./$2\$" || fail "$2 not in $1"; }
has libvorlan0 'usr/lib/[^/]+/libvorlan\.so\.0\.[0-9.]+'
has libvorlan0 'usr/share/doc/libvorlan0/copyright'
has libvorlan-dev 'usr/include/vorlan/driver\.h'
has libvorlan-dev 'usr/lib/[^/]+/pkgconfig/vorlan\.pc'
has libvorlan-dev 'usr/lib/[^/]+/cmake/Vorlan/VorlanConfig\.cmake'
has libvorlan-dev 'usr/share/doc/libvorlan-dev/examples/minimal_host\.c'
has vorlan-tools 'usr/bin/vorlan-host'
has vorlan-tools 'usr/share/man/man1/vorlan-relaysim\.1\.gz'
has vorlan-gateway 'lib/systemd/system/vorlan-gateway@\.service'
has vorlan-gateway 'usr/share/man/man1/vorlan-gateway\.1\.gz'
dpkg-deb -I "$(deb libvorlan0)" triggers | grep -q 'activate-noawait ldconfig' || fail "no ldconfig trigger"
dpkg-deb -I "$(deb vorlan-gateway)" conffiles | grep -qx '/etc/vorlan/gateway/example.toml' \
  || fail "the sample configuration is not a conffile"
dpkg-deb -f "$(deb vorlan-tools)" Depends | grep -q 'libc6' || fail "vorlan-tools: no Depends from its libraries"
dpkg-deb -f "$(deb vorlan-tools)" Depends | grep -q "libvorlan0 (= $version)" || fail "vorlan-tools needs libvorlan0"
dpkg-deb -f "$(deb vorlan-tools)" Recommends | grep -q 'fonts-wqy-microhei' || fail "no font recommended"
dpkg-deb -f "$(deb libvorlan0)" Recommends | grep -q 'libsqliteodbc' || fail "no SQLite ODBC recommended"

root=$out/root
rm -rf "$root"
for d in "$out"/*.deb; do dpkg -x "$d" "$root"; done
for program in "$root"/usr/bin/* "$root"/usr/lib/*/libvorlan.so.0.*; do
  if readelf -S "$program" | grep -q '\.debug_info'; then fail "$program is not stripped"; fi
done
unit=$root/lib/systemd/system/vorlan-gateway@.service
grep -qx 'ExecStart=/usr/bin/vorlan-gateway -c /etc/vorlan/gateway/%i.toml' "$unit" || fail "unit: $(grep ExecStart "$unit")"
lib=$(ls "$root"/usr/lib/*/libvorlan.so.0)
grep -qx "InprocServer=${lib#"$root"}" "$root/etc/vorlan/registry.ini" || fail "registry.ini: $(cat "$root/etc/vorlan/registry.ini")"
# vorlan.pc in the package names the package's own prefix.
pc=$(find "$root" -name vorlan.pc)
[ "$(PKG_CONFIG_SYSROOT_DIR= pkg-config --variable=prefix "$pc" | xargs readlink -f)" = "$(readlink -f "$root/usr")" ] \
  || fail "vorlan.pc prefix"

# The unit as systemd reads it, with the packaged program in its place.
if command -v systemd-analyze >/dev/null; then
  verify=$out/verify
  rm -rf "$verify"; mkdir -p "$verify"
  cp "$unit" "$verify/vorlan-gateway@north.service"
  sed -i "s|/usr/bin/vorlan-gateway|$root/usr/bin/vorlan-gateway|" "$verify/vorlan-gateway@north.service"
  # MANPATH: the unit's Documentation= names the packaged manual page.
  MANPATH=$root/usr/share/man systemd-analyze verify "$verify/vorlan-gateway@north.service" >"$out/verify.txt" 2>&1 \
    || { cat "$out/verify.txt"; fail "systemd-analyze verify"; }
  echo "systemd-analyze verify: ok"
fi

# The packaged programs at work: the simulator on a pseudo-terminal, the host
# polling it through the packaged library, the gateway's map of a line.
# A short directory: the simulator's link must fit the driver's port name.
work=$(mktemp -d /tmp/vorlan-deb.XXXXXX)
trap 'stop_simulator; rm -rf "$work"' EXIT
"$root/usr/bin/vorlan-host" --version
start_simulator "$root/usr/bin/vorlan-relaysim" "$work" 1
cat >"$work/station.toml" <<STATION
name = "package check"
[driver]
library = "$lib"
[channel]
port = "$line"
[[relay]]
address = 1
items = ["YC1-YC4"]
STATION
"$root/usr/bin/vorlan-host" -s "$work/station.toml" poll -n 4 >"$work/poll.out" 2>&1 \
  || { cat "$work/poll.out"; fail "vorlan-host poll from the package"; }
grep -q '^[0-9:.]* relay 1 YC1 = ' "$work/poll.out" || { cat "$work/poll.out"; fail "no values polled"; }
stop_simulator
# The map loads the driver: the packaged library itself, not a registration.
sed -e "s|/dev/ttyUSB0|$line|" -e "s|^progid = .*|library = \"$lib\"|" \
  "$root/etc/vorlan/gateway/example.toml" >"$work/gateway.toml"
"$root/usr/bin/vorlan-gateway" -c "$work/gateway.toml" --map >"$work/map.out" 2>&1 \
  || { cat "$work/map.out"; fail "vorlan-gateway --map from the package"; }
echo "packages: ok"
