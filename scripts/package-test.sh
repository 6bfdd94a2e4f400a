#!/usr/bin/env bash
# The installable package: scripts/package-test.sh [BUILD-DIR]
#  1. `cmake --install` into a temporary prefix, which is then moved: nethost,
#     the Lua module, pkg-config and find_package work from where it lies.
#  2. `cpack -G DEB`, then (as root) `dpkg -i`: an example runs from the
#     installed files, a C host builds with pkg-config and runs, Debian's
#     lua5.4 requires the module; `dpkg -P` removes the package again, with its record.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
installed_here=""
cleanup() {
  [ -z "$installed_here" ] || dpkg -P scriptnet >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

fail() { echo "package: $*"; exit 1; }
sample=share/scriptnet/examples
want_host="NET 65536 2.6 206 1"

# run_installed PREFIX MODULE-FOLDER: the example and the Lua module of the
# install at PREFIX.
run_installed() {
  local prefix=$1 text
  text=$("$prefix/bin/nethost" "$prefix/$sample/html_to_text.lua" "$prefix/$sample/html_sample.html")
  [ -n "$text" ] && ! grep -q '<' <<<"$text" || fail "example from $prefix: $text"
  [ -e "$2/scriptnet.so" ] || fail "no Lua module in $2"
  [ "$(cd / && LUA_CPATH="$2/?.so" lua5.4 -e 'io.write((require("scriptnet").func("VERSION")))')" = 2.6 ] ||
    fail "module in $2"
}

echo "== install into a prefix, then moved"
cmake --install "$build" --prefix "$work/first" >/dev/null
pc=$(find "$work/first" -name scriptnet.pc)
grep -qx "prefix=$work/first" "$pc" || fail "the .pc does not name the prefix"
libdir=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --variable=libdir scriptnet)
# shellcheck disable=SC2046
cc -o "$work/host" tests/package/host.c $(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs scriptnet) \
  -Wl,-rpath,"$libdir"
[ "$("$work/host")" = "$want_host" ] || fail "C host on the prefix: $("$work/host")"
mv "$work/first" "$work/moved"
run_installed "$work/moved" "$(dirname "$(find "$work/moved" -name scriptnet.so -path '*lua*')")"
cmake -S tests/package/consumer -B "$work/consumer" -DCMAKE_PREFIX_PATH="$work/moved" >/dev/null
cmake --build "$work/consumer" >/dev/null
[ "$(LD_LIBRARY_PATH=$(dirname "$(find "$work/moved" -name libscriptnet.so)") "$work/consumer/host")" = "$want_host" ] ||
  fail "find_package C host"
[ "$("$work/consumer/classes")" = "c2NyaXB0bmV0" ] || fail "find_package C++ classes"

echo "== Debian package"
(cd "$build" && cpack -G DEB -B "$build/package" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$build"/package/scriptnet_*.deb)
grep -q 'Depends:.*liblua5.4' <<<"$(dpkg-deb --info "$deb")" || fail "the package does not depend on liblua5.4"
contents=$(dpkg-deb --contents "$deb")
for file in usr/bin/nethost usr/share/man/man1/nethost.1 usr/include/scriptnet.h usr/lib/libscriptnet.so \
  usr/lib/pkgconfig/scriptnet.pc usr/lib/cmake/scriptnet/scriptnetConfig.cmake \
  usr/lib/.*/lua/5.4/scriptnet.so usr/share/scriptnet/examples/http_fetch.lua; do
  grep -q " \./$file\$" <<<"$contents" || fail "the package lacks /$file"
done
if [ "$(id -u)" -ne 0 ]; then
  echo "package: built $deb; installing it needs root, left out"
elif dpkg-query -W -f='${Status}' scriptnet 2>/dev/null | grep -q 'install ok installed'; then
  echo "package: scriptnet is installed on this system already; left alone"
else
  installed_here=1
  dpkg -i "$deb" >/dev/null
  run_installed /usr "$(pkg-config --variable=luacmoddir scriptnet)"
  cc -o "$work/system-host" tests/package/host.c $(pkg-config --cflags --libs scriptnet)
  [ "$("$work/system-host")" = "$want_host" ] || fail "C host on the package"
  (cd / && lua5.4 -e 'local net = require "scriptnet" assert(net.func("VERSION") == "2.6")') ||
    fail "lua5.4 does not find the module"
  dpkg -P scriptnet >/dev/null
  installed_here=""
  [ ! -e /usr/bin/nethost ] || fail "nethost left behind"
fi
echo "package: ok"
