#!/usr/bin/env bash
# Runs the unit suites cross-built for Windows under Wine, in one process:
#   run_wine_suite.sh BUILD-DIR [GTEST FILTER]
set -euo pipefail
dir=$1
filter=${2:-*}
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-scriptnet} WINEDEBUG=-all
cd "$dir"
exec wine tests/scriptnet_tests.exe --gtest_brief=1 --gtest_filter="$filter"
