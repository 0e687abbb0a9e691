#!/usr/bin/env bash
# Times weldrix.exe under Wine against the Linux build on one generated 1,000,000-line part (read,
# unify, write; no -s), the runs alternating, and checks that both write the same bytes. Prints the
# fastest, median and slowest wall time of each and the median throughput. Not part of the tests:
# a measurement, for the figures in the README.
#   tests/windows/time-tool.sh WELDRIX.EXE LINUX_WELDRIX [RUNS]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
exe="$(absolute "$1")"
linux="$(absolute "$2")"
runs="${3:-7}"

. "$here/wine-env.sh"
work="$(mktemp -d "${TMPDIR:-/tmp}/weldrix-time.XXXXXX")"
trap 'wine_env_down; rm -rf "$work"' EXIT
wine_env_up
cd "$work"

# Line types in the proportions of real parts, coordinates as authors write them (integers and up
# to four decimals, magnitudes below 240), CR LF line ends; neighbouring lines share vertices
# within the default threshold often enough for merges to happen.
awk 'BEGIN {
  srand(20241208)
  for (i = 0; i < 1000000; i++) {
    p = int(rand() * 100)
    if (p < 31) { t = "4 16"; n = 4 } else if (p < 50) { t = "5 24"; n = 4 }
    else if (p < 69) { t = "3 16"; n = 3 } else if (p < 85) { t = "2 24"; n = 2 }
    else if (p < 95) { printf "0 comment line %d\r\n", i; continue }
    else { printf "1 16 %d 0 0 1 0 0 0 1 0 0 0 1 s\\\\sub%d.dat\r\n", i % 200, i % 50; continue }
    line = t
    for (k = 0; k < 3 * n; k++) {
      v = int(rand() * 240) + (rand() < 0.6 ? int(rand() * 10000) / 10000 : 0)
      if (rand() < 0.3) v = -v
      line = line " " v
    }
    printf "%s\r\n", line
  }
}' >part.dat
size=$(stat -c %s part.dat)
echo "part: $(wc -l <part.dat) lines, $size bytes"

now() { date +%s.%N; }
time_linux() { local s; s=$(now); "$linux" part.dat linux.dat </dev/null >/dev/null; awk -v a="$(now)" -v b="$s" 'BEGIN { printf "%.3f\n", a - b }'; }
time_windows() { local s; s=$(now); wine "$exe" part.dat windows.dat </dev/null >/dev/null; awk -v a="$(now)" -v b="$s" 'BEGIN { printf "%.3f\n", a - b }'; }
time_linux >/dev/null
time_windows >/dev/null  # the first runs warm the caches and Wine
linux_times=() windows_times=()
for _ in $(seq "$runs"); do
  linux_times+=("$(time_linux)")
  windows_times+=("$(time_windows)")
done
cmp linux.dat windows.dat && echo "outputs identical ($(stat -c %s linux.dat) bytes)"
summary() {  # summary NAME TIMES...
  local name=$1
  shift
  printf '%s\n' "$@" | sort -n | awk -v name="$name" -v size="$size" '
    { t[NR] = $1 } END {
      m = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
      printf "%-22s min %.2f s  median %.2f s  max %.2f s  %.1f MB/s (median)\n", name, t[1], m, t[NR], size / m / 1e6 }'
}
summary "Linux build:" "${linux_times[@]}"
summary "Windows build (Wine):" "${windows_times[@]}"
