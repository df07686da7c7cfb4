#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test three times: a
# plain optimised build, an AddressSanitizer + UndefinedBehaviorSanitizer
# one, and one linked against LuaJIT whose Lua suite runs under luajit
# (built without the "./" search path, which the loading test then checks).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs")

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVODUDID_SANITIZE=ON -DVODUDID_BENCH=OFF
cmake --build build-asan -j "$jobs"
(cd build-asan && ctest --output-on-failure -j "$jobs")

cmake -S . -B build-luajit -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVODUDID_LUAJIT=ON \
  -DVODUDID_CWD_RUNPATH=OFF -DVODUDID_BENCH=OFF
cmake --build build-luajit -j "$jobs"
(cd build-luajit && ctest --output-on-failure -j "$jobs")

# Data races: the globals on several states and threads at once.
bash scripts/tsan.sh

# The fuzz targets, each for a short fixed run, where clang is installed.
if command -v clang++ >/dev/null; then
  cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
        -DVODUDID_FUZZ=ON -DBUILD_TESTING=OFF -DVODUDID_BENCH=OFF
  cmake --build build-fuzz -j "$jobs"
  (cd build-fuzz/fuzz && ctest --output-on-failure)
fi
