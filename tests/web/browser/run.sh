#!/usr/bin/env bash
# Runs the web page's browser test, or skips it (exit 77, which CTest counts
# as skipped) with the reason when Debian's chromium, Node.js or the test's
# npm packages (npm ci in this folder; scripts/test.sh does it) are missing.
# Arguments: the program, the emulator, the folder for the screenshots.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
chromium="${ORBALT_CHROMIUM:-/usr/bin/chromium}"
if [ ! -x "$chromium" ]; then
  echo "SKIP: no chromium at $chromium (apt-get install chromium)"
  exit 77
fi
if ! command -v node > /dev/null; then
  echo "SKIP: no node (apt-get install nodejs)"
  exit 77
fi
if [ ! -d "$here/node_modules/puppeteer-core" ]; then
  echo "SKIP: puppeteer-core is not installed (cd tests/web/browser && npm ci)"
  exit 77
fi
ORBALT_CHROMIUM="$chromium" exec node "$here/page.test.mjs" "$@"
