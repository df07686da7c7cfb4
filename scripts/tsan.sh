#!/usr/bin/env bash
# ThreadSanitizer: builds the library and the threads test with
# -fsanitize=thread in build-tsan/ and runs it; any data race fails it.
set -euo pipefail
cd "$(dirname "$0")/.."
flags="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVODUDID_BENCH=OFF \
      -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
      -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null
cmake --build build-tsan -j 2 --target threads_test >/dev/null
TSAN_OPTIONS="halt_on_error=1 exitcode=66" build-tsan/tests/threads_test
