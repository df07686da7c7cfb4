#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need;
# with --run, only those of the library, its module and the host
# (scripts/run.sh). Quick and silent when everything is already there.
set -euo pipefail

run_packages=(g++ cmake make pkg-config lua5.1 liblua5.1-0-dev)
packages=(
  g++ cmake make pkg-config
  lua5.1 liblua5.1-0-dev lua-busted luajit libluajit-5.1-dev
  libgtest-dev libbenchmark-dev zlib1g-dev
  binutils coreutils
  xxd python3
  clang libclang-rt-14-dev valgrind clang-tidy cppcheck gcovr
  luarocks dpkg-dev lintian bsdutils
  libisal-dev # benchmarks only: ISA-L's CRC-32 beside ours; builds go on without it
)

[ "${1:-}" = --run ] && packages=("${run_packages[@]}")
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
echo "bootstrap: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
