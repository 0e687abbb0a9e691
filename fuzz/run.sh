#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a fixed number of runs each.
#   fuzz/run.sh BUILD_DIR RUNS [SEED] [TARGET...]
# Each target starts from its seed corpus (fuzz/seeds/..., or real parts from tests/data/ldraw)
# plus what earlier runs found (BUILD_DIR/fuzz-corpus/TARGET). A crash, a failed check, a hang
# (-timeout) or runaway memory (-rss_limit_mb) stops the run with a non-zero exit code and leaves
# the input in BUILD_DIR/fuzz-artifacts/. With FUZZ_SECONDS set, each target runs for that many
# seconds instead (RUNS is then ignored), for long runs by hand.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "$1" && pwd)"
runs="$2"
seed="${3:-1}"
shift $(( $# >= 3 ? 3 : $# ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_number fuzz_line fuzz_document fuzz_pipeline)

parts="$root/tests/data/ldraw/parts $root/tests/data/ldraw/p"
mkdir -p "$build/fuzz-artifacts"
for target in "${targets[@]}"; do
  case "$target" in
    fuzz_number)   seeds="$root/fuzz/seeds/number"; max_len=256 ;;
    fuzz_line)     seeds="$root/fuzz/seeds/line"; max_len=1024 ;;
    fuzz_document) seeds="$parts"; max_len=8192 ;;
    fuzz_pipeline) seeds="$parts $root/fuzz/seeds/pipeline"; max_len=4096 ;;
    *) echo "unknown fuzz target $target" >&2; exit 2 ;;
  esac
  corpus="$build/fuzz-corpus/$target"
  mkdir -p "$corpus"
  limit=(-runs="$runs")
  [ -z "${FUZZ_SECONDS:-}" ] || limit=(-max_total_time="$FUZZ_SECONDS")
  echo "== $target: ${limit[*]}"
  log="$build/fuzz-artifacts/$target.log"
  set +e
  # shellcheck disable=SC2086
  "$build/fuzz/$target" "${limit[@]}" -seed="$seed" -max_len="$max_len" -timeout=20 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$target-" "$corpus" $seeds > "$log" 2>&1
  status=$?
  set -e
  grep -E "^(#[0-9]+\s+(INITED|DONE)|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==|SUMMARY|fuzz check|.*ERROR|Test unit written|.*runtime error)" "$log" || true
  if [ "$status" -ne 0 ]; then
    echo "$target FAILED (exit $status); full log $log, the input in $build/fuzz-artifacts" >&2
    exit 1
  fi
done
