#!/usr/bin/env bash
# Valgrind memcheck over the C++ tests, the Lua suite (busted and every
# lua5.1 child it starts) and the docs' examples, on a plain build in
# build-valgrind/. Each test runs with the command line, folder and
# environment ctest gives it (read from `ctest --show-only=json-v1`), so
# nothing here repeats the CMake files. Any memory error, and any block
# definitely or indirectly lost, fails the run. No suppression is needed:
# lua5.1, busted and the library all free what they take (blocks Lua or
# busted keep until exit are "still reachable", which does not count).
# VALGRIND_ONLY=regex runs only the ctest tests it matches (e.g. files).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-valgrind -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVODUDID_BENCH=OFF >/dev/null
cmake --build build-valgrind -j 2 >/dev/null
b=$PWD/build-valgrind
mkdir -p "$b/valgrind-logs"
(cd "$b" && ctest --show-only=json-v1) | python3 -c '
import json, os, re, shutil, subprocess, sys
b, only = sys.argv[1], os.environ.get("VALGRIND_ONLY", "")
vg = ["valgrind", "--quiet", "--error-exitcode=97", "--leak-check=full",
      "--errors-for-leak-kinds=definite,indirect", "--show-leak-kinds=definite,indirect",
      # A test'"'"'s own operator new (failing on demand) stays; its blocks still
      # come from malloc, which memcheck watches.
      "--soname-synonyms=somalloc=nouserintercepts", "--trace-children=yes",
      # Plain tools the Lua tests start are not ours to check.
      "--trace-children-skip=*/rm,*/mktemp,*/cat,*/cp,*/echo,*/ls,*/tail,*/head"]
extra = {
    # checked_test leaves blocks unfreed on purpose, to see the leak report.
    "lua_checked_test": ["--leak-check=no"],
    # buffer_test writes blocks through /proc/self/mem, which memcheck cannot
    # follow: it would call those bytes undefined.
    "lua_buffer_test": ["--undef-value-errors=no"],
}
failed = False
for t in json.load(sys.stdin)["tests"]:
    name, cmd = t["name"], t["command"]
    # The C++ tests, the Lua suite once (the checked run repeats it), the docs;
    # the threads test runs under ThreadSanitizer (scripts/tsan.sh) instead.
    if not re.match(r"(cpp_|lua_|docs_examples$)", name) or re.match(r"lua_checked_.+_test$", name) \
            or name == "cpp_threads_test" or not re.search(only, name):
        continue
    props = {p["name"]: p["value"] for p in t.get("properties", [])}
    env = dict(os.environ, **dict(e.split("=", 1) for e in props.get("ENVIRONMENT", [])))
    if os.path.basename(cmd[0]) == "busted":  # its launcher would re-exec lua5.1 untraced
        lua = cmd[1].split("=", 1)[1]
        cmd = [lua, shutil.which("busted"), "--ignore-lua"] + cmd[2:]
    print("valgrind:", name, flush=True)
    log = os.path.join(b, "valgrind-logs", name + ".log")
    with open(log, "w") as out:
        rc = subprocess.call(vg + extra.get(name, []) + cmd, cwd=props.get("WORKING_DIRECTORY", b),
                             env=env, stdout=out, stderr=subprocess.STDOUT)
    if rc != 0:
        failed = True
        print(open(log).read()[-3000:])
print("valgrind: errors (see above)" if failed else "valgrind: clean")
sys.exit(1 if failed else 0)
' "$b"
