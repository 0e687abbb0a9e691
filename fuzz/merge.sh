#!/usr/bin/env bash
# Folds what fuzz runs found into the committed corpus (make fuzz-merge):
#   fuzz/merge.sh BUILD_DIR [TARGET...]
# For each target, libFuzzer's -merge=1 picks, smallest first, the inputs that add coverage from
# the committed corpus fuzz/corpus/TARGET, the run's working corpus BUILD_DIR/fuzz-corpus/TARGET
# and the seed folders of fuzz/targets.txt, cut to the target's max_len. The result replaces
# fuzz/corpus/TARGET, so inputs that no longer add anything leave it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck source=fuzz/targets.sh
source "$root/fuzz/targets.sh"
[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [TARGET...]" >&2; exit 2; }
build="$(cd "$1" && pwd)"
shift
load_fuzz_targets "$root" "$@"

for target in "${fuzz_names[@]}"; do
  corpus="$root/fuzz/corpus/$target"
  mkdir -p "$corpus" "$build/fuzz-corpus/$target"
  merged="$(mktemp -d "$build/fuzz-merge-$target.XXXXXX")"
  inputs=("$corpus" "$build/fuzz-corpus/$target")
  mapfile -t seeds < <(printf '%s' "${fuzz_seeds[$target]}")
  inputs+=("${seeds[@]}")
  log="$build/fuzz-merge-$target.log"
  echo "== $target: merging $(find "${inputs[@]}" -type f | wc -l) files into fuzz/corpus/$target"
  if ! "$build/fuzz/$target" -merge=1 -max_len="${fuzz_max_len[$target]}" -timeout=20 -rss_limit_mb=2048 \
       "$merged" "${inputs[@]}" > "$log" 2>&1; then
    echo "$target: the merge failed; fuzz/corpus/$target is unchanged; log $log" >&2
    rm -rf "$merged"
    exit 1
  fi
  grep -E "^MERGE-OUTER: [0-9]+ new files" "$log" || true
  # An input that fails is left out of the merge; libFuzzer still ends it with success.
  if grep -qE "fuzz check failed|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error" "$log"; then
    echo "warning: inputs of $target failed during the merge and were left out: see $log" >&2
  fi
  find "$corpus" -maxdepth 1 -type f -delete
  mv "$merged"/* "$corpus"/ 2>/dev/null || true
  rmdir "$merged"
  echo "   fuzz/corpus/$target: $(find "$corpus" -type f | wc -l) files, $(du -sk "$corpus" | cut -f1) KB"
done
