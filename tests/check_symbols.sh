#!/bin/sh
# Compares the library's dynamic symbol table with the expected export list
# (the union of the files in the given directory, one symbol a line).
set -eu
lib=$1
dir=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
nm -D --defined-only "$lib" | awk '{print $NF}' | sort -u >"$tmp/actual"
cat "$dir"/*.txt | sed -e 's/#.*//' -e 's/[[:space:]]//g' | grep -v '^$' | sort -u >"$tmp/expected"
if ! diff -u "$tmp/expected" "$tmp/actual" >"$tmp/diff"; then
  echo "exported symbols differ from the expected set (- missing, + unexpected):"
  grep '^[-+][^-+]' "$tmp/diff" || true
  exit 1
fi
echo "$(wc -l <"$tmp/actual") exported symbols, as expected"
