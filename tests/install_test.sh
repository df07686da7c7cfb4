#!/bin/sh
# Installs the build into a temporary prefix and runs one chunk through every
# installed way in (hosts built via pkg-config and find_package, the
# installed host, the installed module): each must print what the in-tree
# host prints. Arguments: build dir, host project, c++, cmake, host, lua.
set -eu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
p=$tmp/prefix
"$4" --install "$1" --prefix "$p" >/dev/null
lib=$(dirname "$(dirname "$(find "$p" -name vodudid.pc)")")
export PKG_CONFIG_PATH="$lib/pkgconfig"
# shellcheck disable=SC2046 # the flags are meant to split
"$3" -o "$tmp/pc" "$2/host.cpp" $(pkg-config --cflags --libs vodudid) -Wl,-rpath,"$lib"
"$4" -S "$2" -B "$tmp/cm" -DCMAKE_PREFIX_PATH="$p" -DCMAKE_CXX_COMPILER="$3" >/dev/null
"$4" --build "$tmp/cm" >/dev/null
c='local h = MallocBuffer(4) StringtoBuffer(h, "cafe0102")
print(BufferToString(h, 4), add_sum(h, 4, 0), Int64Add(4294967295, 0, 1, 0)) FreeBuffer(h)'
want=$("$5" -e "$c")
check() { # name, then the command
  got=$(cd "$tmp" && shift && "$@" 2>&1) || true
  [ "$got" = "$want" ] || { printf '%s: got\n%s\nwant\n%s\n' "$1" "$got" "$want"; exit 1; }
}
check "pkg-config host" "$tmp/pc" "$c"
check "find_package host" "$tmp/cm/host" "$c"
check "installed vodudid" "$p/bin/vodudid" -e "$c"
check "installed module" "$6" -e "package.cpath = '$lib/lua/5.1/?.so' require 'vodUdid'" -e "$c"
want="vodudid $(pkg-config --modversion vodudid)"
check "version" "$p/bin/vodudid" --version
# The compatibility names stay out of the global include directory.
[ -f "$p/include/vodUdid/xcomplier_def.h" ] && [ ! -e "$p/include/xcomplier_def.h" ]
# An installed example finds the installed module; the man page is there;
# uninstall takes away every file the install put in place.
ex=$p/share/doc/vodudid/examples/halves.lua
want=$("$5" "$ex")
check "installed example" env -u VODUDID_LIB LUA_CPATH="$lib/lua/5.1/?.so" "$6" "$ex"
[ -f "$p/share/man/man1/vodudid.1.gz" ]
"$4" --build "$1" --target uninstall >/dev/null
left=$(find "$p" ! -type d)
[ -z "$left" ] || { printf 'left after uninstall:\n%s\n' "$left"; exit 1; }
