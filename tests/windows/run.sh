#!/usr/bin/env bash
# `make test-windows`: the Windows build's tests under Wine, in a fresh Wine prefix that is removed
# at the end: the unit tests through CTest, then the end-to-end comparison with the Linux build.
#   tests/windows/run.sh WINDOWS_BUILD_FOLDER LINUX_WELDRIX
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
linux="$2"
jobs="${JOBS:-2}"

. "$here/wine-env.sh"
trap wine_env_down EXIT
start=$(date +%s)
wine_env_up
echo "Wine prefix ready in $(($(date +%s) - start)) s"

ctest --test-dir "$build" --output-on-failure -j "$jobs"
"$here/e2e.sh" "$build/weldrix.exe" "$build/tests/windows/interrupt_probe.exe" "$linux"
