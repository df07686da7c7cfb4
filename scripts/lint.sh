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
# Each source is checked with the flags the build gives it, as CMake wrote
# them into compile_commands.json (configuring is enough to write it).
cmake -S . -B build >/dev/null || exit 1
flags_of() { # source: its compile flags, NUL-separated, without -c and -o
  python3 - build/compile_commands.json "$1" <<'EOF'
import json, os, shlex, sys
db, src = sys.argv[1], os.path.realpath(sys.argv[2])
for e in json.load(open(db)):
    if os.path.realpath(os.path.join(e["directory"], e["file"])) == src:
        args, out = e.get("arguments") or shlex.split(e["command"]), []
        for i, a in enumerate(args[1:], 1):
            if a != "-c" and a != "-o" and args[i - 1] != "-o" and os.path.realpath(a) != src:
                out.append(a)
        sys.stdout.write("\0".join(out))
        break
else:
    sys.exit("lint.sh: %s is not in build/compile_commands.json" % sys.argv[2])
EOF
}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

incs=()
for f in "${files[@]}"; do
  mapfile -d '' flags < <(flags_of "$f")
  [ ${#flags[@]} -gt 0 ] || exit 1
  # cppcheck takes the include folders and definitions of every file at once.
  for a in "${flags[@]}"; do [[ $a == -[ID]* ]] && incs+=("$a"); done
  g++ -fsyntax-only "${flags[@]}" -Wconversion "$f" 2>&1 |
    grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error):' >>"$out/conversion"
  # Two checks are left out: the exported functions' parameter lists and the
  # printf-style Format are the interface hosts already link against, so
  # "easily swappable parameters" and "C-style variadic" cannot be acted on.
  clang-tidy --quiet -p build "$f" \
    --checks='-*,bugprone-*,cert-*,performance-*,-bugprone-easily-swappable-parameters,-cert-dcl50-cpp' \
    2>/dev/null | grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error):' >>"$out/clang-tidy"
done
cppcheck --quiet --enable=warning,performance,portability --std=c++17 --inline-suppr \
  --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
  --suppress='*:/usr/include/*' --suppress=toomanyconfigs \
  $(printf '%s\n' "${incs[@]}" | sort -u) "${files[@]}" 2>"$out/cppcheck" >/dev/null

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
