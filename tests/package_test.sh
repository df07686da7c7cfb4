#!/bin/sh
# The packages a user installs, each made from a copy of the checkout.
#   rock: luarocks make into a tree; require "vodUdid" from elsewhere.
#   deb:  the README's distribution build, cpack -G DEB, lintian (no error),
#         then the host and the module run from the package unpacked into a
#         temporary root, with the hardened CopyFile and no ./ search path.
# Exit status 77 (ctest: skipped) when a tool is missing.
# Arguments: rock|deb, source dir, cmake, lua5.1.
set -eu
need() {
  for t in "$@"; do
    command -v "$t" >/dev/null || { echo "SKIP: no $t (scripts/bootstrap.sh installs it)"; exit 77; }
  done
}
if [ "$1" = rock ]; then need luarocks; else need cpack dpkg-deb dpkg-shlibdeps lintian; fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/src" "$tmp/run"
tar -C "$2" --exclude='./build*' --exclude=./.git -cf - . | tar -xf - -C "$tmp/src"
c='local h = MallocBuffer(4) SetInt32FrmMem(h, 0, 305419896) print(BufferToString(h, 4)) FreeBuffer(h)'
want=78563412
expect() { # name, what it printed
  [ "$2" = "$want" ] || { printf '%s: got\n%s\nwant\n%s\n' "$1" "$2" "$want"; exit 1; }
}
export MAKEFLAGS=-j2
if [ "$1" = rock ]; then
  (cd "$tmp/src" && luarocks --lua-version=5.1 make --tree="$tmp/tree" ./*.rockspec) >"$tmp/log" 2>&1 ||
    { cat "$tmp/log"; exit 1; }
  eval "$(luarocks --lua-version=5.1 path --tree="$tmp/tree")"
  expect "rocks tree" "$(cd "$tmp/run" && "$4" -l vodUdid -e "$c")"
  exit 0
fi

b=$tmp/build
"$3" -S "$tmp/src" -B "$b" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DVODUDID_CWD_RUNPATH=OFF \
  -DVODUDID_SHELL_COPY=OFF -DBUILD_TESTING=OFF -DVODUDID_BENCH=OFF >"$tmp/log" &&
  "$3" --build "$b" >>"$tmp/log" 2>&1 && (cd "$b" && cpack -G DEB) >>"$tmp/log" 2>&1 ||
  { cat "$tmp/log"; exit 1; }
deb=$(echo "$b"/vodudid_*.deb)
lintian --fail-on error "$deb"
r=$tmp/root
dpkg-deb -x "$deb" "$r"
lib=$(find "$r" -name 'libvodUdid.so.1.*')
module=$(find "$r" -name vodUdid.so)
case $module in "$r"/usr/lib/*/lua/5.1/vodUdid.so) ;; *) echo "module at $module"; exit 1 ;; esac
expect "unpacked host" "$(cd "$tmp/run" && "$r/usr/bin/vodudid" -e "$c")"
expect "unpacked module" "$(cd "$tmp/run" && LUA_CPATH="${module%vodUdid.so}?.so" "$4" -l vodUdid -e "$c")"
! readelf -d "$lib" | grep -q 'R.*PATH'
[ -f "$r/usr/share/man/man1/vodudid.1.gz" ] && [ -f "$r/usr/share/doc/vodudid/copyright" ]
# No shell: a name with a blank and a semicolon is one file.
echo data >"$tmp/run/a b;c"
(cd "$tmp/run" && "$r/usr/bin/vodudid" -e 'CopyFile("a b;c", "d")')
[ "$(cat "$tmp/run/d")" = data ]
