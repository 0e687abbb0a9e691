#!/usr/bin/env bash
# Library-scale benchmark of batch mode on the complete official LDraw library.
#
#   bench/batch_library.sh [WELDRIX] [--before OTHER] [--rounds N] [--no-compare]
#
# Unpacks the library (../shared/ldraw-complete/ldraw-library.tar.xz next to the checkout, or the
# archive named by LDRAW_ARCHIVE) into a temporary folder and:
#   1. cleans all of parts/ (its s/ subparts included) in one batch run with -j 2, three ways:
#      plain into a new folder, "-s -l LIB" into a new folder, and "-s -l LIB" in place on a fresh
#      copy of the library; with --before, the build OTHER runs the same batches in the same
#      rounds, alternated, and each tree is compared with the other build's. N rounds (default 1;
#      5 or more for figures), then the medians of wall time, CPU time and peak memory, and the
#      wall time of -s against plain for each build (the median of the rounds' ratios);
#   2. cleans a sample of 1,000 parts one process per file, as before batch mode, and scales the
#      time up to the whole library;
#   3. unless --no-compare, runs every part of parts/ on its own (two processes at a time) and
#      checks that each batch output (-s) equals the single-file output byte for byte, and that
#      the in-place batch wrote the same bytes.
# Skips cleanly (exit 0) when the archive is absent. Needs GNU time (/usr/bin/time).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
tool="$root/build/weldrix"
before=""
rounds=1
compare=yes
while [ $# -gt 0 ]; do
  case "$1" in
    --before) before="$2"; shift 2 ;;
    --rounds) rounds="$2"; shift 2 ;;
    --no-compare) compare=no; shift ;;
    *) tool="$1"; shift ;;
  esac
done
archive="${LDRAW_ARCHIVE:-$root/../shared/ldraw-complete/ldraw-library.tar.xz}"
if [ ! -f "$archive" ]; then
  echo "skipped: no LDraw library archive at $archive (set LDRAW_ARCHIVE)"
  exit 0
fi
if [ ! -x /usr/bin/time ]; then
  echo "skipped: GNU time (/usr/bin/time) is needed"
  exit 0
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Copies of the tools, so that rebuilding one while the script runs changes nothing here.
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
cp "$(absolute "$tool")" "$work/now"
tools=(now)
if [ -n "$before" ]; then cp "$(absolute "$before")" "$work/before"; tools=(before now); fi
tool="$work/now"

echo "== unpacking $archive"
mkdir -p "$work/ldraw"
tar -xJf "$archive" -C "$work/ldraw"
lib="$work/ldraw"
parts=$(find "$lib/parts" -type f -iname '*.dat' | wc -l)
echo "$parts files below parts/ (parts and subparts)"

# Runs a command; appends "wall cpu peak_MB" to the figures of its label.
measure() {
  local label="$1"; shift
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" > "$work/console.txt" 2> "$work/errors.txt" || true
  read -r wall user sys peak < "$work/time.txt"
  echo "$wall $(echo "$user + $sys" | bc) $((peak / 1024))" >> "$work/figures.$label"
  printf '  %-22s %7.1f s wall %7.1f s CPU %6d MB peak\n' "$label" "$wall" "$(echo "$user + $sys" | bc)" \
    "$((peak / 1024))"
}

# The tree of a batch: the first round's is kept for the comparisons, the others until the end.
# Deleting 25,000 files just before a batch creates as many makes ext4's search for a free inode
# several times slower (it passes over the recently deleted ones), which would time the file
# system's state rather than the tool.
keep() {
  if [ -d "$work/kept.$2" ]; then mkdir -p "$work/old"; mv "$1" "$work/old/$2.$round"; else mv "$1" "$work/kept.$2"; fi
}

echo "== batches of parts/ (-j 2), $rounds round(s), ${tools[*]} alternated"
for ((round = 0; round < rounds; ++round)); do
  order=("${tools[@]}")
  if [ $((round % 2)) -eq 1 ] && [ ${#tools[@]} -eq 2 ]; then order=(now before); fi
  for t in "${order[@]}"; do
    rm -rf "$work/out"
    measure "$t plain" "$work/$t" -j 2 --no-wait "$lib/parts" "$work/out"
    keep "$work/out" "$t.plain"
    measure "$t -s" "$work/$t" -j 2 -s -l "$lib" --no-wait "$lib/parts" "$work/out"
    keep "$work/out" "$t.s"
    cp -a "$lib" "$work/copy"
    measure "$t -s in place" "$work/$t" -j 2 -s -l "$work/copy" --no-wait "$work/copy/parts" "$work/copy/parts"
    rm -rf "$work/copy/parts/textures"
    keep "$work/copy/parts" "$t.inplace"
    mkdir -p "$work/old"; mv "$work/copy" "$work/old/copy.$t.$round"
  done
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo "== medians ($rounds round(s))"
printf '  %-22s %10s %10s %10s\n' "" "wall s" "CPU s" "peak MB"
for label in plain "-s" "-s in place"; do
  for t in "${tools[@]}"; do
    f="$work/figures.$t $label"
    printf '  %-22s %10s %10s %10s\n' "$t $label" "$(cut -d' ' -f1 < "$f" | median)" \
      "$(cut -d' ' -f2 < "$f" | median)" "$(cut -d' ' -f3 < "$f" | median)"
  done
done
# Each round's -s batch runs just after the plain one of the same build, so the ratio of the two
# within a round is less moved by the machine's load drifting from round to round than the ratio
# of the medians.
echo "== -s against plain, wall time"
for t in "${tools[@]}"; do
  paired="$(paste -d' ' "$work/figures.$t plain" "$work/figures.$t -s" | awk '{ printf "%.4f\n", $4 / $1 }' | median)"
  of_medians="$(echo "$(cut -d' ' -f1 < "$work/figures.$t -s" | median) / $(cut -d' ' -f1 < "$work/figures.$t plain" | median)" | bc -l)"
  printf '  %-22s %.3f times (median of the rounds), %.3f (of the medians)\n' "$t" "$paired" "$of_medians"
done
status=0
if diff -r -q "$work/kept.now.s" "$work/kept.now.inplace" > /dev/null; then echo "in place and into a new folder wrote the same bytes"; else
  echo "DIFFERENT: the in-place batch and the batch into a new folder differ"; status=1; fi
if [ -n "$before" ]; then
  for kind in plain s inplace; do
    if diff -r -q "$work/kept.before.$kind" "$work/kept.now.$kind" > /dev/null; then echo "$kind: both builds wrote the same bytes"; else
      echo "DIFFERENT: $kind: the builds wrote different bytes"; status=1; fi
  done
fi
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
    cmp -s "$work/single/$rel" "$work/kept.now.s/$rel" || { echo "differs: $rel"; differ=$((differ + 1)); }
  done < "$work/all.txt"
  echo "$(wc -l < "$work/all.txt") parts compared, $differ differ"
  [ "$differ" -eq 0 ] || status=1
fi
exit "$status"
