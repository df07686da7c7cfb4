#!/usr/bin/env bash
# The quick way in: installs only what the library, its module and the host
# need, builds those (no tests, no benchmarks) and runs examples/typical.lua
# through the host. scripts/test.sh builds and runs everything else.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh --run
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DVODUDID_BENCH=OFF >/dev/null
cmake --build build -j "$(nproc)" >/dev/null
exec build/vodudid examples/typical.lua "$@"
