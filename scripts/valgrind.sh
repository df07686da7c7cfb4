#!/usr/bin/env bash
# Valgrind memcheck over the C++ tests and the Lua suite (busted and every
# lua5.1 child it starts), on a plain build in build-valgrind/. Any memory
# error, and any block definitely or indirectly lost, fails the run. No
# suppression is needed: lua5.1, busted and the library all free what they
# take (blocks Lua or busted keep until exit are "still reachable", which
# does not count).
# VALGRIND_ONLY=name runs only the tests of that name (e.g. files).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
cmake -S . -B build-valgrind -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVODUDID_BENCH=OFF >/dev/null
cmake --build build-valgrind -j 2 >/dev/null
b=$root/build-valgrind
vg=(valgrind --quiet --error-exitcode=97 --leak-check=full
    --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect
    # Leave a test's own operator new (failing on demand) in place; the
    # blocks it takes still come from malloc, which memcheck watches.
    --soname-synonyms=somalloc=nouserintercepts
    --trace-children=yes
    # Plain tools the Lua tests start are not ours to check.
    --trace-children-skip='*/rm,*/mktemp,*/cat,*/cp,*/echo,*/ls,*/tail,*/head')
failed=0
logs=$b/valgrind-logs
mkdir -p "$logs"
for t in "$b"/tests/${VALGRIND_ONLY:-*}_test; do
  [ -e "$t" ] || continue
  echo "valgrind: $(basename "$t")"
  # The threads test runs under ThreadSanitizer (scripts/tsan.sh); here it
  # would only be slow.
  [ "$(basename "$t")" = threads_test ] && continue
  VODUDID_LIB=$b/libvodUdid.so "${vg[@]}" "$t" >"$logs/$(basename "$t").log" 2>&1 ||
    { failed=1; tail -n 30 "$logs/$(basename "$t").log"; }
done
export VODUDID_LIB=$b/libvodUdid.so VODUDID_HOST=$b/vodudid VODUDID_LUA=$(command -v lua5.1)
# What ctest gives the loading tests: the module's folder, the planted Lua
# library, and that this build keeps the "./" search path (the default).
export VODUDID_MODULE_DIR=$b/lua VODUDID_PLANTED=$b/tests/libplanted_lua.so VODUDID_CWD_RUNPATH=1
export LUA_PATH="$root/tests/lua/?.lua;;"
for t in "$root"/tests/lua/${VALGRIND_ONLY:-*}_test.lua; do
  [ -e "$t" ] || continue
  echo "valgrind: $(basename "$t")"
  # busted under lua5.1 directly: its launcher would re-exec it untraced.
  log=$logs/$(basename "$t").log
  # checked_test leaves blocks unfreed on purpose, to see checked mode's
  # leak report at close (the library never frees a script's blocks behind
  # its back); memory errors there still count, leaks cannot.
  extra=()
  [ "$(basename "$t")" = checked_test.lua ] && extra=(--leak-check=no)
  # buffer_test's byte model writes blocks through /proc/self/mem, which
  # memcheck cannot follow: it would call those bytes undefined. Addressing
  # errors and leaks still count there.
  [ "$(basename "$t")" = buffer_test.lua ] && extra=(--undef-value-errors=no)
  (cd "$b/tests" && "${vg[@]}" "${extra[@]}" "$VODUDID_LUA" "$(command -v busted)" --ignore-lua --pattern=_test \
     -o TAP "$t" >"$log" 2>&1) || { failed=1; grep -A 12 '^not ok' "$log" || tail -n 30 "$log"; }
done
# The docs' examples, each block in a lua5.1 child of its own.
if [ -z "${VALGRIND_ONLY:-}" ] || [ "$VALGRIND_ONLY" = docs_examples ]; then
  echo "valgrind: docs_examples.lua"
  log=$logs/docs_examples.lua.log
  (cd "$b/tests" && "${vg[@]}" "$VODUDID_LUA" "$root/tests/docs_examples.lua" "$root" >"$log" 2>&1) ||
    { failed=1; tail -n 30 "$log"; }
fi
[ $failed -eq 0 ] && echo "valgrind: clean" || { echo "valgrind: errors (see above)"; exit 1; }
