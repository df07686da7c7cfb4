#!/usr/bin/env bash
# Static checks over the library's own sources (vodUdid/, include/, host/, module/):
#   1. the compiler with -Wconversion on top of -Wall -Wextra,
#   2. clang-tidy with the bugprone-*, cert-* and performance-* checks,
#   3. cppcheck (warning, performance, portability).
# Prints each finding, then a count per file and tool; exits 1 when any
# finding remains. Usage: scripts/lint.sh [file...]   (default: all sources)
set -uo pipefail
cd "$(dirname "$0")/.."
files=("$@")
[ ${#files[@]} -eq 0 ] && files=(vodUdid/*.cpp vodUdid/kernels/*.cpp include/*.cpp host/*.cpp module/*.cpp)
# The host and the module get these from CMake; any value will do here.
incs=(-Iinclude -IvodUdid $(pkg-config --cflags lua5.1) -DVODUDID_VERSION='"0"'
      -DVODUDID_LIBDIR_FROM_BINDIR='"../lib"' -DVODUDID_SONAME='"libvodUdid.so.0"')
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

for f in "${files[@]}"; do
  g++ -std=c++17 -fsyntax-only -Wall -Wextra -Wconversion "${incs[@]}" "$f" 2>&1 |
    grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error):' >>"$out/conversion"
  # Two checks are left out: the exported functions' parameter lists and the
  # printf-style Format are the interface hosts already link against, so
  # "easily swappable parameters" and "C-style variadic" cannot be acted on.
  clang-tidy --quiet "$f" \
    --checks='-*,bugprone-*,cert-*,performance-*,-bugprone-easily-swappable-parameters,-cert-dcl50-cpp' -- \
    -std=c++17 "${incs[@]}" 2>/dev/null | grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error):' >>"$out/clang-tidy"
done
cppcheck --quiet --enable=warning,performance,portability --std=c++17 --inline-suppr \
  --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
  --suppress='*:/usr/include/*' --suppress=toomanyconfigs \
  "${incs[@]}" "${files[@]}" 2>"$out/cppcheck" >/dev/null

status=0
for tool in conversion clang-tidy cppcheck; do
  touch "$out/$tool"
  # Findings in headers are counted once, under the header.
  sort -u "$out/$tool" -o "$out/$tool"
  cat "$out/$tool"
  if [ -s "$out/$tool" ]; then
    status=1
    echo "== $tool: $(wc -l <"$out/$tool") findings"
    sed -E "s|^($PWD/)?([^:]+):.*|\\2|" "$out/$tool" | sort | uniq -c | sed 's/^/   /'
  else
    echo "== $tool: clean"
  fi
done
exit $status
