#!/usr/bin/env bash
# Runs a weldrix binary with "-s -l tests/data/ldraw" on a copy of every part of the bundled
# library, unattended. Fails when a run exits non-zero or writes anything to standard error (where
# the sanitizers report), or when its output file is missing.
#   tests/run_library_parts.sh path/to/weldrix
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
binary="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
library="$root/tests/data/ldraw"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$library"/parts/*.dat "$work/"

failed=0
count=0
for part in "$work"/*.dat; do
  name="$(basename "$part")"
  count=$((count + 1))
  if ! "$binary" -s -l "$library" "$part" "$work/$name.out" < /dev/null > "$work/console.txt" 2> "$work/errors.txt"; then
    echo "FAILED (exit $?): $name" >&2; failed=$((failed + 1)); cat "$work/errors.txt" >&2; continue
  fi
  if [ -s "$work/errors.txt" ]; then
    echo "FAILED (standard error): $name" >&2; failed=$((failed + 1)); cat "$work/errors.txt" >&2; continue
  fi
  [ -f "$work/$name.out" ] || { echo "FAILED (no output): $name" >&2; failed=$((failed + 1)); }
done
echo "$((count - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
