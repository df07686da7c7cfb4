#!/bin/sh
# The packages a user installs, each made from a copy of the checkout. rock: luarocks make into a tree,
# then require "vodUdid" from elsewhere. deb: the README's distribution build, cpack -G DEB, lintian (no
# error), then the host and the module run from the package unpacked into a temporary root, hardened.
# Exit status 77 (ctest: skipped) when a tool is missing. Arguments: rock|deb, source dir, cmake, lua5.1.
set -eu
bad() { echo "$*"; exit 1; }
if [ "$1" = rock ]; then tools=luarocks; else tools="cpack dpkg-deb dpkg-shlibdeps lintian"; fi
for t in $tools; do command -v "$t" >/dev/null || { echo "SKIP: no $t (scripts/bootstrap.sh installs it)"; exit 77; }; done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/src" "$tmp/run"
tar -C "$2" --exclude='./build*' --exclude=./.git -cf - . | tar -xf - -C "$tmp/src"
c='local h = MallocBuffer(4) SetInt32FrmMem(h, 0, 305419896) print(BufferToString(h, 4)) FreeBuffer(h)'
expect() { [ "$2" = 78563412 ] || bad "$1: got '$2'"; } # name, what it printed
quiet() { "$@" >>"$tmp/log" 2>&1 || { cat "$tmp/log"; exit 1; }; }
export MAKEFLAGS=-j2
if [ "$1" = rock ]; then
  quiet sh "$tmp/src/scripts/rock.sh" --tree="$tmp/tree"
  eval "$(luarocks --lua-version=5.1 path --tree="$tmp/tree")"
  expect "rocks tree" "$(cd "$tmp/run" && "$4" -l vodUdid -e "$c")"
  exit 0
fi
b=$tmp/build r=$tmp/root
quiet "$3" -S "$tmp/src" -B "$b" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DVODUDID_CWD_RUNPATH=OFF \
  -DVODUDID_SHELL_COPY=OFF -DBUILD_TESTING=OFF -DVODUDID_BENCH=OFF
quiet "$3" --build "$b"
cd "$b" && quiet cpack -G DEB
lintian --fail-on error "$b"/vodudid_*.deb
dpkg-deb -x "$b"/vodudid_*.deb "$r"
module=$(echo "$r"/usr/lib/*/lua/5.1/vodUdid.so)
expect "unpacked host" "$(cd "$tmp/run" && "$r/usr/bin/vodudid" -e "$c")"
expect "unpacked module" "$(cd "$tmp/run" && LUA_CPATH="${module%vodUdid.so}?.so" "$4" -l vodUdid -e "$c")"
readelf -d "$r"/usr/lib/*/libvodUdid.so.1 | grep -q 'R.*PATH' && bad "a run-time search path"
[ -f "$r/usr/share/man/man1/vodudid.1.gz" ] && [ -f "$r/usr/share/doc/vodudid/copyright" ] || bad "no man page or copyright"
# No shell: a name with a blank and a semicolon is one file.
echo data >"$tmp/run/a b;c"
cd "$tmp/run" && "$r/usr/bin/vodudid" -e 'CopyFile("a b;c", "d")'
[ "$(cat d)" = data ]
