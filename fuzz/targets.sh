# shellcheck shell=bash
# Sourced by fuzz/run.sh and fuzz/merge.sh: the fuzz targets as fuzz/targets.txt lists them.
#   load_fuzz_targets ROOT [TARGET...]
# sets fuzz_names (the TARGETs given, or every target listed), fuzz_max_len[NAME] and
# fuzz_seeds[NAME] (the seed folders as absolute paths, one a line; missing ones are left out).
declare -a fuzz_names=()
declare -A fuzz_max_len=() fuzz_seeds=()

load_fuzz_targets() {
  local root="$1"; shift
  local name max_len folders_text folder listed=()
  local -a folders
  while read -r name max_len folders_text; do
    [[ -z "$name" || "$name" == \#* ]] && continue
    listed+=("$name")
    fuzz_max_len[$name]="$max_len"
    fuzz_seeds[$name]=""
    read -r -a folders <<< "$folders_text"
    for folder in "${folders[@]}"; do
      if [ -d "$root/$folder" ]; then
        fuzz_seeds[$name]+="$root/$folder"$'\n'
      else
        echo "warning: seed folder $folder of $name is missing" >&2
      fi
    done
  done < "$root/fuzz/targets.txt"
  if [ $# -eq 0 ]; then
    fuzz_names=("${listed[@]}")
    return
  fi
  for name in "$@"; do
    if [ -z "${fuzz_max_len[$name]:-}" ]; then
      echo "unknown fuzz target $name (fuzz/targets.txt lists ${listed[*]})" >&2
      return 2
    fi
    fuzz_names+=("$name")
  done
}
