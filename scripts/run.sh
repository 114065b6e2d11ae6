#!/usr/bin/env bash
# Builds Brevaro Notes (installing what is missing) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh -DNOTES_BUILD_TESTS=OFF
exec build/app/brevaro-notes "$@"
