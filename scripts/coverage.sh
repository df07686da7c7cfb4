#!/usr/bin/env bash
# Line coverage of vodUdid/ and include/ by the whole test command (the C++
# tests and the Lua suite, whose child interpreters load the library), in
# build-coverage/. Prints the total and, per file, the lines never run.
set -euo pipefail
cd "$(dirname "$0")/.."
flags="--coverage -O0"
cmake -S . -B build-coverage -DCMAKE_BUILD_TYPE=Debug -DVODUDID_BENCH=OFF \
      -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="--coverage" \
      -DCMAKE_SHARED_LINKER_FLAGS="--coverage" >/dev/null
cmake --build build-coverage -j 2 >/dev/null
find build-coverage -name '*.gcda' -delete
(cd build-coverage && ctest --output-on-failure -j 2 >/dev/null) || echo "coverage: some tests failed" >&2
gcovr --root . --filter "$PWD/vodUdid/" --filter "$PWD/include/" --print-summary build-coverage
