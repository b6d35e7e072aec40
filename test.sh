#!/usr/bin/env bash
# Builds the sanitizer build and runs every test; non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh test
if [[ -x scripts/prepare-browser-tests.sh ]]; then scripts/prepare-browser-tests.sh; fi
cmake --preset asan
cmake --build --preset asan
ctest --preset asan --no-tests=error "$@"
