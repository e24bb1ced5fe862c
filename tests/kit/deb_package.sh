#!/usr/bin/env bash
# cpack -G DEB from the built tree: the package's file list, then the package
# unpacked into a throw-away root and its tool run from there.
#   deb_package.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/vorlan-deb.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(find "$work/out" -maxdepth 1 -name 'vorlan_*.deb')
[ -n "$deb" ] || fail "no package made"

dpkg-deb -c "$deb" | awk '{print $6}' >"$work/files"
for f in usr/include/vorlan/driver.h usr/bin/vorlan-host usr/bin/vorlan-relaysim \
         'usr/lib/.*libvorlan\.so\.0\.' 'usr/lib/.*pkgconfig/vorlan\.pc' \
         'usr/lib/.*cmake/Vorlan/VorlanConfig\.cmake' 'usr/share/doc/vorlan/host-guide\.md' \
         'usr/share/doc/vorlan/examples/minimal_host\.c'; do
  grep -q "^\./$f" "$work/files" || { cat "$work/files"; fail "$f not in the package"; }
done
dpkg-deb -f "$deb" Package Version Architecture

root=$work/root
dpkg -x "$deb" "$root"
# vorlan.pc in the package names the package's own prefix.
pc=$(find "$root" -name vorlan.pc)
[ "$(PKG_CONFIG_SYSROOT_DIR= pkg-config --variable=prefix "$pc" | xargs readlink -f)" = "$(readlink -f "$root/usr")" ] \
  || fail "vorlan.pc prefix"
tool=$root/usr/bin/vorlan-host
if "$tool" --version >"$work/tool.out" 2>&1; then
  cat "$work/tool.out"
else
  "$tool" --help >"$work/tool.out" 2>&1 || { cat "$work/tool.out"; fail "vorlan-host from the package"; }
  head -3 "$work/tool.out"
fi
echo "package: ok"
