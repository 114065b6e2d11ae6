#!/usr/bin/env bash
# Builds Brevaro Notes with its tests (installing what is missing) and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh -DNOTES_BUILD_TESTS=ON
export QT_QPA_PLATFORM=offscreen
cd build
ctest --output-on-failure -j2
