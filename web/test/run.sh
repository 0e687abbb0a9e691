#!/usr/bin/env bash
# The tests of the module and the page (`make test-web`; CI runs them):
#   web/test/run.sh BUILD_WEB NATIVE_WELDRIX
# The module against the native program on every bundled part, then the page in headless Chromium
# (Debian's /usr/bin/chromium, or $CHROMIUM). puppeteer-core, which drives the browser, is installed
# from the npm registry into web/test/node_modules when it is missing (npm ci, as package-lock.json
# pins it); it downloads no browser.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
native="$2"
if [ ! -d "$here/node_modules/puppeteer-core" ]; then
  (cd "$here" && PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
fi
node "$here/module.test.mjs" "$build" "$native"
node "$here/browser.test.mjs" "$build" "$native"
