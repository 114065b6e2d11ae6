#!/usr/bin/env bash
# Builds Brevaro Notes with its tests (installing what is missing) and runs the whole suite.
# With --sanitize: the same in build-asan/, built with AddressSanitizer and UndefinedBehaviorSanitizer;
# any sanitizer report fails the test that caused it.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--sanitize" ]; then
  export NOTES_BUILD_DIR=build-asan
  NOTES_BUILD_DIR=build-asan scripts/setup.sh -DNOTES_BUILD_TESTS=ON -DNOTES_SANITIZE=ON
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
  build=build-asan
else
  scripts/setup.sh -DNOTES_BUILD_TESTS=ON
  build=build
fi
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j2
