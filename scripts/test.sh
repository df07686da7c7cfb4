#!/usr/bin/env bash
# Installs what is missing, then builds and tests in stages: a plain
# optimised build, an AddressSanitizer + UndefinedBehaviorSanitizer one, one
# linked against LuaJIT whose Lua suite runs under luajit (built without the
# "./" search path and with the shell-free CopyFile), ThreadSanitizer over
# the threads test, and the libFuzzer targets where clang is installed.
# Every stage runs even after one failed; the last line counts the tests of
# all stages, and the exit status is 1 when any failed.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh || exit 1
jobs=$(nproc)
passed=0 failed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# A stage's build: its output only when it fails (then the stage counts one
# failure and runs no tests).
build() { # dir, cmake options...
  local dir=$1
  shift
  if ! { cmake -S . -B "$dir" "$@" && cmake --build "$dir" -j "$jobs"; } >"$log" 2>&1; then
    cat "$log"
    echo "$dir: the build failed"
    failed=$((failed + 1))
    return 1
  fi
}

# ctest in a folder; its passed and failed tests join the totals (a skipped
# test is neither).
run_ctest() { # dir
  (cd "$1" && ctest --output-on-failure -j "$jobs") 2>&1 | tee "$log"
  local total fail skip
  total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$log")
  fail=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' "$log")
  skip=$(grep -cE '^[[:space:]]*[0-9]+ - .* \(Skipped\)$' "$log")
  if [ -z "$total" ]; then
    failed=$((failed + 1))
    return
  fi
  passed=$((passed + total - fail - skip))
  failed=$((failed + fail))
}

stage() { printf '\n==== %s ====\n' "$*"; }

stage "1/5 plain build (build/)"
build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON && run_ctest build

stage "2/5 AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)"
build build-asan -DCMAKE_BUILD_TYPE=Debug -DVODUDID_SANITIZE=ON -DVODUDID_BENCH=OFF && run_ctest build-asan

stage "3/5 LuaJIT, no ./ search path, CopyFile without a shell (build-luajit/)"
build build-luajit -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVODUDID_LUAJIT=ON \
  -DVODUDID_CWD_RUNPATH=OFF -DVODUDID_SHELL_COPY=OFF -DVODUDID_BENCH=OFF && run_ctest build-luajit

stage "4/5 ThreadSanitizer: the globals on several states and threads (build-tsan/)"
if bash scripts/tsan.sh; then
  echo "threads_test: no data race"
  passed=$((passed + 1))
else
  failed=$((failed + 1))
fi

stage "5/5 libFuzzer targets, a short fixed run each (build-fuzz/)"
if command -v clang++ >/dev/null; then
  build build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DVODUDID_FUZZ=ON -DBUILD_TESTING=OFF -DVODUDID_BENCH=OFF && run_ctest build-fuzz/fuzz
else
  echo "SKIP: no clang++ (scripts/bootstrap.sh installs it)"
fi

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
