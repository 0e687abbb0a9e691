#!/usr/bin/env bash
# Real reports in a real browser: weldrix writes report pages (-r NAME.html) and check_page.sh
# renders each in headless Chromium and verifies it (every change marked in all four views,
# nothing loaded from outside, the summary and lists; see README.md).
#
#   tests/report_page/check_reports.sh WELDRIX [OUT_DIR]
#
#   demo     examples/demo.dat cleaned with -s against the bundled primitive, as `make demo` does,
#            with a screenshot (OUT_DIR/demo.png) that shows the change on line 14 selected
#   full20k  a generated part of 20,000 lines in which nearly every line changes: the largest part
#            drawn whole
#   big100k  the same at 100,000 lines: only the changed lines the page lists and their
#            neighbours are drawn
#   hostile  the demo under a name that holds "<!--<script>"
# The two generated ones must be ready within REPORT_PAGE_MAX_MS (default 5000) of navigation.
# OUT_DIR (default: a temporary folder, removed afterwards) keeps the parts, pages, screenshots
# and logs. Needs python3 and Debian's chromium. Ends with "N passed, N failed".
set -uo pipefail
[ $# -ge 1 ] || { echo "usage: $0 WELDRIX [OUT_DIR]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
tool=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
if [ $# -ge 2 ]; then
  out=$(mkdir -p "$2" && cd "$2" && pwd)
else
  out=$(mktemp -d "${TMPDIR:-/tmp}/check_reports.XXXXXX")
  trap 'rm -rf "$out"' EXIT
fi
max_ms=${REPORT_PAGE_MAX_MS:-5000}
passed=0
failed=0

# check NAME LIMIT_MS SHOT_HASH: check_page.sh on OUT/NAME.html, with a screenshot
check() {
  local name=$1 limit=$2 hash=$3
  if CHECK_MAX_READY_MS=$limit SHOT_HASH=$hash "$here/check_page.sh" "$out/$name.html" "$out/$name.png" \
    >"$out/$name.log" 2>&1; then
    echo "PASS $name: $(grep -o 'file 0: [0-9]* changes.*' "$out/$name.log" | head -n 1)"
    passed=$((passed + 1))
  else
    echo "FAIL $name"
    grep -v ':ERROR:' "$out/$name.log" | sed 's/^/     /'
    failed=$((failed + 1))
  fi
}

# report NAME FOLDER ARGS...: weldrix ARGS in FOLDER with -r OUT/NAME.html; a failed run fails
report() {
  local name=$1 folder=$2
  shift 2
  if ! (cd "$folder" && "$tool" --no-wait -r "$out/$name.html" "$@") >"$out/$name-run.txt" 2>&1; then
    echo "FAIL $name: weldrix failed"
    sed 's/^/     /' "$out/$name-run.txt"
    failed=$((failed + 1))
    return 1
  fi
}

report demo "$repo/examples" -s -l ldraw demo.dat "$out/demo-clean.dat" && check demo "" "#change=4"
for part in full20k:20000 big100k:100000; do
  name=${part%%:*}
  python3 "$here/jittered_part.py" "${part#*:}" 1 >"$out/$name.dat"
  report "$name" "$out" "$name.dat" "$name-clean.dat" && check "$name" "$max_ms" ""
done
# A part whose name holds what could end or unbalance the page's script if written as it is.
hostile='a <!--<script> b.dat'
cp "$repo/examples/demo.dat" "$out/$hostile"
report hostile "$out" -s -l "$repo/examples/ldraw" "$hostile" "$out/hostile-clean.dat" && check hostile "" ""

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
