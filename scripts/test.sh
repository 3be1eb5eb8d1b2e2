#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest.
#   scripts/test.sh [CTEST ARGS]              the normal build, in build/
#   scripts/test.sh --sanitize [CTEST ARGS]   the whole suite built with
#       AddressSanitizer and UndefinedBehaviorSanitizer, in build-sanitize/;
#       any finding fails its test
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --test
# The browser test's npm packages, as pinned in its package-lock.json; without
# them (no registry, say) that test is skipped and says why.
if [ ! -d tests/web/browser/node_modules/puppeteer-core ] && command -v npm > /dev/null; then
  (cd tests/web/browser && npm ci --no-audit --no-fund --prefer-offline) ||
    echo "npm ci failed: the browser test will be skipped"
fi
if [ "${1:-}" = "--sanitize" ]; then
  shift
  scripts/build.sh --sanitize
  cd build-sanitize
  # Leaks of the libraries below the program (fonts, the session bus) are
  # theirs; the suppressions name them.
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
  export LSAN_OPTIONS="suppressions=$PWD/../tests/sanitize/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 "$@"
else
  scripts/build.sh
  cd build
  QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 300 "$@"
fi
