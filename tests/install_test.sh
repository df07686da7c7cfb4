#!/bin/sh
# Installs the build into a temporary prefix, builds a small host against the
# installed files through pkg-config and through find_package, and runs the
# same chunk through every installed way in: each must print what the
# in-tree host prints.
set -eu
build=$1 proj=$2 cxx=$3 cmake=$4 host=$5 lua=$6
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(dirname "$(find "$prefix" -name vodudid.pc)")")

PKG_CONFIG_PATH=$libdir/pkgconfig
export PKG_CONFIG_PATH
# shellcheck disable=SC2046 # the flags are meant to split
"$cxx" -o "$tmp/pc-host" "$proj/host.cpp" $(pkg-config --cflags --libs vodudid) \
  -Wl,-rpath,"$libdir"
"$cmake" -S "$proj" -B "$tmp/cm" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
"$cmake" --build "$tmp/cm" >/dev/null

chunk='local h = MallocBuffer(4) StringtoBuffer(h, "cafe0102")
print(BufferToString(h, 4), add_sum(h, 4, 0), Int64Add(4294967295, 0, 1, 0)) FreeBuffer(h)'
want=$("$host" -e "$chunk")
fail=0
check() { # name, then the command that runs the chunk
  name=$1
  shift
  got=$(cd "$tmp" && "$@" 2>&1) || true
  [ "$got" = "$want" ] || { printf '%s: got\n%s\nwant\n%s\n' "$name" "$got" "$want"; fail=1; }
}
check "pkg-config host" "$tmp/pc-host" "$chunk"
check "find_package host" "$tmp/cm/host" "$chunk"
check "installed vodudid" "$prefix/bin/vodudid" -e "$chunk"
check "installed module" "$lua" -e "package.cpath = '$libdir/lua/5.1/?.so'" \
  -e "require 'vodUdid'" -e "$chunk"
want="vodudid $(pkg-config --modversion vodudid)"
check "version" "$prefix/bin/vodudid" --version
# The compatibility names stay out of the global include directory.
[ -f "$prefix/include/vodUdid/xcomplier_def.h" ] && [ ! -e "$prefix/include/xcomplier_def.h" ] ||
  { echo "xcomplier_def.h is not (only) under include/vodUdid"; fail=1; }
exit $fail
