#!/usr/bin/env bash
# Installs the browser tests' node modules (playwright-core, pinned in
# tests/browser/package-lock.json) when they are missing or out of date.
set -euo pipefail
cd "$(dirname "$0")/../tests/browser"
stamp=node_modules/.package-lock.json
if [[ ! -f "$stamp" || package-lock.json -nt "$stamp" ]]; then
  npm ci --no-audit --no-fund
fi
