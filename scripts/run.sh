#!/usr/bin/env bash
# Installs what is missing, builds the library and the host, and runs the
# example script through the host.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" >/dev/null
exec build/vodudid examples/typical.lua "$@"
