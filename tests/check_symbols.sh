#!/bin/sh
# Compares a library's dynamic symbol table with the expected export list:
# the union of the given files, one symbol a line, # comments.
set -eu
lib=$1
shift
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
nm -D --defined-only "$lib" | awk '{print $NF}' | sort -u >"$tmp/actual"
cat "$@" | sed -e 's/#.*//' -e 's/[[:space:]]//g' | grep -v '^$' | sort -u >"$tmp/expected"
diff -u "$tmp/expected" "$tmp/actual" >"$tmp/diff" && exit 0
echo "exported symbols differ from the expected set (- missing, + unexpected):"
grep '^[-+][^-+]' "$tmp/diff"
exit 1
