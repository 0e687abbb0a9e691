#!/usr/bin/env bash
# Tests of the report page: build the sample pages, check each in headless Chromium, time the
# large ones, use the page with mouse and keyboard (interact.py), and make sure check_page.sh
# catches broken pages.
#
#   tests/report_page/run_tests.sh [OUT_DIR]
#
# OUT_DIR (default: a temporary folder, removed afterwards) keeps the pages and screenshots.
# Needs python3 and Debian's chromium. REPORT_PAGE_MAX_MS (default 5000) bounds the time from
# navigation to the end of the page's script for the 20,000- and 100,000-line parts.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
template=$repo/app/report_page.html
if [ $# -ge 1 ]; then
  out=$1
  mkdir -p "$out"
else
  out=$(mktemp -d "${TMPDIR:-/tmp}/report_page.XXXXXX")
  trap 'rm -rf "$out"' EXIT
fi
max_ms=${REPORT_PAGE_MAX_MS:-5000}
passed=0
failed=0
ok() { echo "PASS $1"; passed=$((passed + 1)); }
bad() { echo "FAIL $1"; failed=$((failed + 1)); }

python3 "$here/make_samples.py" --template "$template" --out "$out" || { echo "FAIL sample generation"; echo "0 passed, 1 failed"; exit 1; }

# ---- good pages pass
check() { # NAME [MAX_MS]: check_page.sh on OUT/NAME.html with a screenshot
  local name=$1 limit=${2:-}
  if CHECK_MAX_READY_MS=$limit "$here/check_page.sh" "$out/$name.html" "$out/$name.png" >"$out/$name.log" 2>&1; then
    ok "$name: $(grep -o 'file [0-9]*: [0-9]* changes.*' "$out/$name.log" | head -n 1)"
    grep -h 'wall clock' "$out/$name.log" | sed 's/^/     /'
  else
    bad "$name"
    sed 's/^/     /' "$out/$name.log"
  fi
}
check demo
check empty
check odd
check batch
check full20k "$max_ms"
check big100k "$max_ms"
if SHOT_HASH='#change=3' "$here/check_page.sh" "$out/demo.html" "$out/demo-selected.png" >"$out/demo-selected.log" 2>&1; then
  ok "demo with change 3 selected"
else
  bad "demo with change 3 selected"
  sed 's/^/     /' "$out/demo-selected.log"
fi

# ---- a person's use: clicks, keys, wheel and drag through Chromium's DevTools pipe
python3 "$here/interact.py" "$out/demo.html" "$out/batch.html" >"$out/interact.log" 2>&1
interact_status=$?
while IFS= read -r line; do
  case $line in
    PASS\ *) ok "${line#PASS }" ;;
    FAIL\ *) bad "${line#FAIL }" ;;
  esac
done <"$out/interact.log"
if [ "$interact_status" -ne 0 ] && ! grep -q '^FAIL ' "$out/interact.log"; then
  bad "interact.py stopped: $(tail -n 1 "$out/interact.log")"
fi

# ---- broken pages fail, each with the message that names the fault
cases=$(python3 "$here/broken_pages.py" "$template" "$out/demo.html" "$out/demo.json" "$out") || {
  bad "building the broken pages"
  cases=""
}
while IFS=$'\t' read -r name expect; do
  [ -n "$name" ] || continue
  if "$here/check_page.sh" "$out/bad-$name.html" >"$out/bad-$name.log" 2>&1; then
    bad "$name: the check passed a broken page"
  elif grep -qF -- "$expect" "$out/bad-$name.log"; then
    ok "$name is caught: $expect"
  else
    bad "$name: the check failed without saying \"$expect\""
    sed 's/^/     /' "$out/bad-$name.log"
  fi
done <<<"$cases"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
