#!/usr/bin/env bash
# Builds one configuration: scripts/build.sh [DIR [CMAKE OPTIONS...]].
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
