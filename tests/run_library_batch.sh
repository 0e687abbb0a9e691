#!/usr/bin/env bash
# Cleans every part of the bundled library in one batch run with "-s" on four threads, and checks
# that each output equals the single-file run's. Fails when a run exits otherwise than expected or
# writes anything to standard error (where the sanitizers report).
#   tests/run_library_batch.sh path/to/weldrix
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
binary="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
library="$root/tests/data/ldraw"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/in" "$work/single"
cp "$library"/parts/*.dat "$work/in/"

if ! "$binary" -j 4 -s -l "$library" --no-wait "$work/in" "$work/out" > "$work/console.txt" 2> "$work/errors.txt"; then
  echo "FAILED: the batch run exited with $?" >&2; cat "$work/errors.txt" >&2; exit 1
fi
if [ -s "$work/errors.txt" ]; then echo "FAILED: standard error" >&2; cat "$work/errors.txt" >&2; exit 1; fi
count=0
for part in "$work"/in/*.dat; do
  name="$(basename "$part")"
  "$binary" -s -l "$library" --no-wait "$part" "$work/single/$name" > /dev/null
  cmp -s "$work/single/$name" "$work/out/$name" || { echo "FAILED: $name differs from the single-file run" >&2; exit 1; }
  count=$((count + 1))
done
echo "$count parts: the batch outputs equal the single-file outputs"
