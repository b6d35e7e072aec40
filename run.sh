#!/usr/bin/env bash
# Builds the release programs and runs the server as a service on the demo
# machine (./machine, or $VOSTREL_MACHINE).
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh build
cmake --preset release >/dev/null
cmake --build --preset release
echo "Built: build/release/bin/"
