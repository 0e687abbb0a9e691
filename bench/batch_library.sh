#!/usr/bin/env bash
# Library-scale benchmark of batch mode on the complete official LDraw library.
#
#   bench/batch_library.sh [WELDRIX] [--no-compare]
#
# Unpacks the library (../shared/ldraw-complete/ldraw-library.tar.xz next to the checkout, or the
# archive named by LDRAW_ARCHIVE) into a temporary folder and, side by side in one run:
#   1. cleans all of parts/ (its s/ subparts included) with "-s -l LIB" in one batch run, with
#      "-j 1" and with "-j 2", giving wall time, CPU time and peak memory of each;
#   2. cleans a sample of 1,000 parts one process per file, as before batch mode, and scales the
#      time up to the whole library;
#   3. unless --no-compare, runs every part of parts/ on its own (two processes at a time) and
#      checks that each batch output equals the single-file output byte for byte.
# Skips cleanly (exit 0) when the archive is absent. Needs GNU time (/usr/bin/time) for the
# memory figure.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
tool="${1:-$root/build/weldrix}"
compare=yes
[ "${2:-}" = "--no-compare" ] && compare=no
archive="${LDRAW_ARCHIVE:-$root/../shared/ldraw-complete/ldraw-library.tar.xz}"
if [ ! -f "$archive" ]; then
  echo "skipped: no LDraw library archive at $archive (set LDRAW_ARCHIVE)"
  exit 0
fi
tool="$(cd "$(dirname "$tool")" && pwd)/$(basename "$tool")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

echo "== unpacking $archive"
mkdir -p "$work/ldraw"
tar -xJf "$archive" -C "$work/ldraw"
lib="$work/ldraw"
parts=$(find "$lib/parts" -type f -iname '*.dat' | wc -l)
echo "$parts files below parts/ (parts and subparts)"

# Runs a command and prints its wall and CPU seconds and peak memory in MB.
measure() {
  local label="$1"; shift
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" > "$work/console.txt" 2> "$work/errors.txt" || true
    read -r wall user sys peak < "$work/time.txt"
    printf '%-34s %7.1f s wall %7.1f s CPU %6.0f MB peak\n' "$label" "$wall" "$(echo "$user + $sys" | bc)" \
      "$(echo "$peak / 1024" | bc)"
  else
    local start end
    start=$(date +%s.%N)
    "$@" > "$work/console.txt" 2> "$work/errors.txt" || true
    end=$(date +%s.%N)
    printf '%-34s %7.1f s wall\n' "$label" "$(echo "$end - $start" | bc)"
  fi
}

echo "== batch runs (-s -l LIB parts/ OUT)"
for threads in 1 2; do
  rm -rf "$work/out$threads"
  measure "batch, -j $threads" "$tool" -j "$threads" -s -l "$lib" --no-wait "$lib/parts" "$work/out$threads"
  grep -E "^[0-9]+ (files read|changed|failed)" "$work/console.txt" | tr '\n' ' '; echo
done
if diff -r -q "$work/out1" "$work/out2" > /dev/null; then echo "-j 1 and -j 2 wrote the same bytes"; else
  echo "DIFFERENT: -j 1 and -j 2 outputs differ"; exit 1; fi

echo "== one process per file, a sample of 1,000 parts, two at a time"
find "$lib/parts" -maxdepth 1 -type f -iname '*.dat' | sort | awk 'NR % 18 == 1' | head -n 1000 > "$work/sample.txt"
mkdir -p "$work/single"
start=$(date +%s.%N)
xargs -P 2 -I{} sh -c 'exec "$0" -s -l "$1" --no-wait "$2" "$3/$(basename "$2")" > /dev/null 2>&1' \
  "$tool" "$lib" {} "$work/single" < "$work/sample.txt" || true
end=$(date +%s.%N)
sample=$(wc -l < "$work/sample.txt")
seconds=$(echo "$end - $start" | bc)
printf '%-34s %7.1f s wall for %d parts, about %.0f s for all %d\n' "processes, 1,000-part sample" "$seconds" \
  "$sample" "$(echo "$seconds * $parts / $sample" | bc -l)" "$parts"

if [ "$compare" = yes ]; then
  echo "== every part on its own against the batch output (takes a while)"
  rm -rf "$work/single"; mkdir -p "$work/single/s"
  (cd "$lib/parts" && find . -type f -iname '*.dat' | sed 's|^\./||') > "$work/all.txt"
  xargs -P 2 -I{} sh -c 'exec "$0" -s -l "$1" --no-wait "$1/parts/$2" "$3/$2" > /dev/null 2>&1' \
    "$tool" "$lib" {} "$work/single" < "$work/all.txt" || true
  differ=0
  while read -r rel; do
    cmp -s "$work/single/$rel" "$work/out2/$rel" || { echo "differs: $rel"; differ=$((differ + 1)); }
  done < "$work/all.txt"
  echo "$(wc -l < "$work/all.txt") parts compared, $differ differ"
  [ "$differ" -eq 0 ]
fi
