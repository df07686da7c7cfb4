#!/bin/sh
# luarocks make for this checkout: the rock's description lives in
# cmake/vodudid.rock.lua, and luarocks wants it under its own kind of file
# name, so it is copied under that name into a scratch folder first.
# luarocks builds the folder it runs in: the checkout.
#   scripts/rock.sh --tree=DIR    (any luarocks make option)
set -eu
cd "$(dirname "$0")/.."
version=$(sed -n 's/^version = "\(.*\)"$/\1/p' cmake/vodudid.rock.lua)
grep -q "^project(vodUdid VERSION ${version%-*} " CMakeLists.txt ||
  { echo "rock.sh: the rock's version $version is not the project's (CMakeLists.txt)" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp cmake/vodudid.rock.lua "$tmp/vodudid-$version.rockspec"
luarocks --lua-version=5.1 make "$@" "$tmp/vodudid-$version.rockspec"
