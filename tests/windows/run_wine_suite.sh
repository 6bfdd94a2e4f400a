#!/usr/bin/env bash
# Runs the unit suites cross-built for Windows under Wine, in one process:
#   run_wine_suite.sh BUILD-DIR [GTEST FILTER]
# Tests that failed are run once more on their own: under an emulator on a
# busy machine a timing can slip once, while a real fault fails both times.
set -euo pipefail
dir=$1
filter=${2:-*}
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-scriptnet} WINEDEBUG=-all
cd "$dir"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if wine tests/scriptnet_tests.exe --gtest_brief=1 --gtest_filter="$filter" 2>&1 | tee "$log"; then
  exit 0
fi
failed=$(sed -n 's/^\[  FAILED  \] \([A-Za-z0-9_]*\.[A-Za-z0-9_]*\).*/\1/p' "$log" | sort -u | paste -sd: -)
[ -n "$failed" ] || exit 1
echo "== once more under Wine: $failed"
wine tests/scriptnet_tests.exe --gtest_brief=1 --gtest_filter="$failed"
