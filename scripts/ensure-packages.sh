#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when
# any is missing (apt-get update first, then apt-get install -y).
# Usage: scripts/ensure-packages.sh build|test
set -euo pipefail

build_packages=(cmake ninja-build g++ libgtest-dev)
test_packages=(curl apache2-utils chromium chromium-driver nodejs npm)

want=("${build_packages[@]}")
if [[ "${1:-build}" == test ]]; then
  want+=("${test_packages[@]}")
fi

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    # A tool on PATH from elsewhere (node, npm) counts as present.
    case "$p" in
      nodejs) command -v node >/dev/null && continue ;;
      npm) command -v npm >/dev/null && continue ;;
    esac
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing missing packages: ${missing[*]}"
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y "${missing[@]}"
fi
