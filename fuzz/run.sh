#!/usr/bin/env bash
# Runs the fuzz targets of a fuzz build one after another (make fuzz, make fuzz-long):
#   fuzz/run.sh [--runs N | --seconds S] [--seed N] BUILD_DIR [TARGET...]
# --runs: inputs per target (default 20000); --seconds: a time budget per target instead.
# --seed: libFuzzer's -seed; without it (or when empty) the seed is taken from the commit
# (git rev-parse HEAD), or from the date outside a git checkout, so it changes from commit to
# commit and one commit's run can be repeated.
#
# The targets, their -max_len and seeds are in fuzz/targets.txt. Each run starts from the
# committed corpus fuzz/corpus/TARGET; what it finds goes to BUILD_DIR/fuzz-corpus/TARGET (make
# fuzz-merge folds that into fuzz/corpus). A crash, a failed check, a hang (-timeout) or runaway
# memory (-rss_limit_mb) fails the target: the script prints the seed, the input (hex dump and
# path) and the commands that replay it, goes on with the next target and exits 1 at the end.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=fuzz/targets.sh
source "$root/fuzz/targets.sh"

limit=(-runs=20000)
seed=""
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) limit=(-runs="$2"); shift 2 ;;
    --seconds) limit=(-max_total_time="$2"); shift 2 ;;
    --seed) seed="$2"; shift 2 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { echo "usage: $0 [--runs N | --seconds S] [--seed N] BUILD_DIR [TARGET...]" >&2; exit 2; }
build="$(cd "$1" && pwd)"
shift
load_fuzz_targets "$root" "$@"

if [ -n "$seed" ]; then
  seed_origin="given"
elif commit="$(git -C "$root" rev-parse HEAD 2>/dev/null)"; then
  seed=$(( 16#${commit:0:7} + 1 ))
  seed_origin="from commit ${commit:0:12}"
else
  seed="$(date -u +%Y%m%d)"
  seed_origin="from the date"
fi

artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
failed=()
summary=()
for target in "${fuzz_names[@]}"; do
  fuzzer="$build/fuzz/$target"
  corpus="$root/fuzz/corpus/$target"
  work="$build/fuzz-corpus/$target"
  mkdir -p "$work"
  [ -d "$corpus" ] || echo "warning: no committed corpus $corpus" >&2
  command=("$fuzzer" "${limit[@]}" -seed="$seed" -max_len="${fuzz_max_len[$target]}" -timeout=20
           -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" "$work")
  [ -d "$corpus" ] && command+=("$corpus")
  echo "== $target: seed $seed ($seed_origin), ${limit[*]}, max_len ${fuzz_max_len[$target]}"
  log="$artifacts/$target.log"
  started=$SECONDS
  set +e
  "${command[@]}" > "$log" 2>&1
  status=$?
  set -e
  grep -E "^#[0-9]+\s+(INITED|DONE)|^stat::(number_of_executed_units|new_units_added|peak_rss_mb)" "$log" || true
  # "#RUNS ... cov: C ft: F corp: N/SIZE" of libFuzzer's last status line.
  last="$(grep -E "^#[0-9]+\s" "$log" | tail -n 1 |
          sed -E 's/^#([0-9]+).*(cov: [0-9]+ ft: [0-9]+ corp: [^ ]+).*/\1 inputs, \2/' || true)"
  summary+=("$(printf '%-14s %4d s  %s' "$target" $(( SECONDS - started )) "${last:-no status line}")")
  if [ "$status" -eq 0 ]; then
    continue
  fi

  failed+=("$target")
  echo "== $target FAILED (exit $status) with seed $seed; full log $log"
  # The report: from the first line that tells what went wrong.
  awk '/fuzz check failed|^==[0-9]+==|runtime error|deadly signal|ERROR: libFuzzer/ { on = 1 } on' "$log" | head -n 80
  input="$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -n 1)"
  if [ -n "$input" ] && [ -f "$input" ]; then
    echo "-- failing input: $input ($(wc -c < "$input") bytes)"
    od -A x -t x1z -v "$input"
    echo "-- replay it:  $fuzzer $input"
    echo "   or, in the normal build:  build/fuzz/replay_$target $input"
    echo "-- keep it:    cp $input $root/fuzz/regressions/$target/  (make test then replays it)"
  else
    echo "-- no input was saved (see the log)"
  fi
  # The same run again: the same seed, corpus and number of inputs (a time budget is replaced by
  # the inputs it ran); the working corpus must be as it was (empty in CI).
  executed="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  [ -z "$executed" ] || command[1]="-runs=$executed"
  printf -- '-- this run again:'; printf ' %q' "${command[@]}"; echo
done

echo "== fuzz summary (seed $seed): per target its time, inputs run, coverage and corpus"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz targets FAILED: ${failed[*]}" >&2
  exit 1
fi
