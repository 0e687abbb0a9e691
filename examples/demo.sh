#!/usr/bin/env bash
# Runs weldrix on the bundled example part against the bundled primitives, unattended, and shows
# what changed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
tool="${1:-$here/../build/weldrix}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cp "$here/demo.dat" "$work/demo.dat"
"$tool" -s -l "$here/ldraw" "$work/demo.dat" "$work/demo-clean.dat" < /dev/null
echo "== Changes made (diff of input and output) =="
diff "$work/demo.dat" "$work/demo-clean.dat" || true
