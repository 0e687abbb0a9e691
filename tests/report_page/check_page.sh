#!/usr/bin/env bash
# Render a filled weldrix report page in headless Chromium and verify it.
#
#   check_page.sh PAGE.html [SHOT.png]
#
# For the file the page opens on (the first that changed; and, in a batch report, also a middle and
# the last one, opened with "#file=N") Chromium loads the page, runs its script and dumps the DOM (--dump-dom). The DOM
# must show, compared with the data read back from PAGE.html itself:
#   - marks (elements with data-change="<index>") for every change in each of the 4 views, one ring
#     per moved vertex that has numbers, at the position the view's axes give, at one shared scale,
#     removed lines drawn as removed, lines made triangles highlighted, nothing "NaN" in the SVG,
#     the whole drawing inside every view;
#   - the summary (input, output, line counts, totals, the note of a partial drawing), one row per
#     change with its line number and reason, one row per merged group, the file list of a batch;
#   - no element made from a text of the data (texts reach the page as text only).
# Nothing loaded from outside, three ways:
#   - Chromium runs with --log-net-log; every URL request, preconnect and name lookup in the log
#     that is tied to the page (its initiator is the page's origin, or its network isolation key,
#     socket group or lookup carries the page's file:// site) fails the check. Chromium's own
#     background requests (no initiator, no page site) are listed but ignored. Nothing leaves the
#     machine either way: --host-resolver-rules makes every host name unknown and --proxy-server
#     sends whatever is left to a closed local port.
#   - the DOM has a Content-Security-Policy meta tag, before any script, with default-src 'none'
#     and no source but 'none', 'unsafe-inline' and data:, and no element or style that fetches;
#   - the page counts the loads its CSP blocked (data-csp-violations on <html>): it must be 0.
# With SHOT.png, a second run takes a 1400x1000 screenshot (its net log is checked the same way);
# SHOT_HASH (e.g. "#change=3") is added to that page address to show a selection.
# CHECK_MAX_READY_MS fails the check when the page took longer from navigation to the end of its
# script. Exit status: 0 all good, 1 a check failed, 2 usage or missing tools.
set -euo pipefail

usage() { echo "usage: $0 PAGE.html [SHOT.png]" >&2; exit 2; }
[ $# -ge 1 ] && [ $# -le 2 ] || usage
page=$1
shot=${2:-}
[ -f "$page" ] || { echo "FAIL: $page: no such file" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
browser=${CHROMIUM:-$(command -v chromium || command -v chromium-browser || true)}
[ -n "$browser" ] || { echo "FAIL: chromium not found (apt-get install chromium)" >&2; exit 2; }
command -v python3 >/dev/null || { echo "FAIL: python3 not found" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/check_page.XXXXXX")
trap 'rm -rf "$work"' EXIT
url=$(python3 -c 'import pathlib, sys; print(pathlib.Path(sys.argv[1]).resolve().as_uri())' "$page")

# chrome RUN_NAME EXTRA_ARGS... : one Chromium run with a fresh profile and a net log
chrome() {
  local name=$1
  shift
  timeout 180 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --disable-features=NetworkTimeServiceQuerying \
    --host-resolver-rules="MAP * ~NOTFOUND" --proxy-server="http://127.0.0.1:9" \
    --user-data-dir="$work/profile-$name" --log-net-log="$work/net-$name.json" \
    "$@" 2>"$work/stderr-$name.txt"
}

status=0
indices=$(python3 "$here/check_dom.py" files "$page") || exit 1
first=yes
for i in $indices; do
  # The first is the file the page opens on by itself; the others are asked for by the address.
  target=$url
  [ "$first" = yes ] || target="$url#file=$i"
  first=no
  start=$(date +%s%N)
  if ! chrome "dom$i" --window-size=1400,1000 --dump-dom "$target" >"$work/dom$i.html"; then
    echo "FAIL: Chromium did not load $page (file $i); its messages:" >&2
    tail -n 20 "$work/stderr-dom$i.txt" >&2
    exit 1
  fi
  wall=$(( ($(date +%s%N) - start) / 1000000 ))
  echo "$page: file $i: Chromium loaded and dumped the page in $wall ms (wall clock, with start-up)"
  python3 "$here/check_dom.py" dom "$page" "$work/dom$i.html" "$i" || status=1
  python3 "$here/check_dom.py" net "$work/net-dom$i.json" || status=1
  if [ -n "${CHECK_MAX_READY_MS:-}" ]; then
    ready=$(grep -o 'data-ready-ms="[0-9]*"' "$work/dom$i.html" | head -n 1 | tr -dc 0-9)
    if [ -z "$ready" ] || [ "$ready" -gt "$CHECK_MAX_READY_MS" ]; then
      echo "FAIL: file $i was ready ${ready:-?} ms after navigation, the limit is $CHECK_MAX_READY_MS ms" >&2
      status=1
    fi
  fi
done

if [ -n "$shot" ]; then
  rm -f "$shot"
  start=$(date +%s%N)
  chrome shot --window-size=1400,1000 --hide-scrollbars --screenshot="$(realpath -m "$shot")" "$url${SHOT_HASH:-}" >/dev/null || {
    echo "FAIL: Chromium took no screenshot; its messages:" >&2
    tail -n 20 "$work/stderr-shot.txt" >&2
    exit 1
  }
  wall=$(( ($(date +%s%N) - start) / 1000000 ))
  echo "$page: screenshot in $wall ms (wall clock, with start-up)"
  python3 "$here/check_dom.py" png "$shot" || status=1
  python3 "$here/check_dom.py" net "$work/net-shot.json" || status=1
fi

if [ "$status" -ne 0 ]; then
  echo "FAIL: $page" >&2
else
  echo "PASS: $page"
fi
exit "$status"
