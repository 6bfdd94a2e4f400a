#!/usr/bin/env bash
# Builds and runs the tests, stage by stage:
#
#   scripts/test.sh [STAGE...]      every stage, in this order, when none is named
#
#   unit         the Linux build; the unit, fault and end-to-end suites
#   integration  the integration tests against real servers on loopback; the
#                install and the Debian package
#   windows      both DLLs (mingw-w64): the 64-bit one's unit suites and its
#                transcript under Wine, the 32-bit one inspected
#   sanitizers   the unit suites built with AddressSanitizer and
#                UndefinedBehaviorSanitizer (preset asan)
#   threads      the job and loop suites (the library's own threads) built
#                with ThreadSanitizer (preset tsan)
#   fuzz         every libFuzzer target for SCRIPTNET_FUZZ_SECONDS seconds,
#                30 by default (preset fuzz)
#
# A stage is a function stage_NAME below and its name in `stages`. No test is
# run a second time: one that passes only on a second try has a fault.
set -euo pipefail
cd "$(dirname "$0")/.."

stages=(unit integration windows sanitizers threads fuzz)
jobs=$(nproc)

# The Linux build that several stages use, made once per run.
linux_built=""
build_linux() {
  [ -n "$linux_built" ] && return
  scripts/install-deps.sh build
  scripts/build.sh build
  linux_built=yes
}

build_preset() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j"$jobs"
}

stage_unit() {
  build_linux
  scripts/install-deps.sh package sockets test
  ctest --test-dir build --output-on-failure -j"$jobs" -LE 'integration|windows'
}

stage_integration() {
  build_linux
  scripts/install-deps.sh web mail sockets foundation package
  ctest --test-dir build --output-on-failure -L integration
  scripts/package-test.sh build
}

stage_windows() {
  build_linux
  scripts/install-deps.sh windows web mail
  build_preset windows-x64
  build_preset windows-x86
  tests/windows/check_x86_dll.sh build/windows-x86/scriptnet.dll
  # Left out under Wine for limits of Wine itself, which
  # build/windows-x64/tests/wine_limits.exe (tests/windows/wine_limits.cpp)
  # shows next to what Windows does: Wine loses a reset (FD_CLOSE carries no
  # error and recv reads it as an orderly end); Wine has no code page 50220
  # for ISO-2022-JP; and one FD_READ message with its 1 KiB read costs Wine
  # 0.2 to 0.6 ms before the library does anything, so the 16 MiB that fill
  # the socket server's queue take longer than that test waits.
  tests/windows/run_wine_suite.sh build/windows-x64 \
    -LoopTest.ACloseByResetCarriesTheReset:MailText.Iso2022JpDecodesToUtf8:SocketFamilyTest.QueuedRecordsAreBoundedAndPeersWaitUntilTheScriptPolls
  ctest --test-dir build --output-on-failure -L windows
}

stage_sanitizers() {
  scripts/install-deps.sh build test package sockets
  build_preset asan
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE 'integration|windows'
}

stage_threads() {
  scripts/install-deps.sh build test
  cmake --preset tsan >/dev/null
  cmake --build --preset tsan -j"$jobs" --target scriptnet_thread_tests
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build-tsan/tests/scriptnet_thread_tests --gtest_brief=1
}

stage_fuzz() {
  scripts/install-deps.sh build test
  build_preset fuzz
  local seconds=${SCRIPTNET_FUZZ_SECONDS:-30} failed=0 ran=0 target name corpus
  for target in build-fuzz/fuzz/*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus=$(mktemp -d)
    [ -d "tests/fuzz/seeds/$name" ] && cp -r "tests/fuzz/seeds/$name"/. "$corpus"/
    if "$target" -max_total_time="$seconds" -print_final_stats=0 "$corpus" >"build-fuzz/$name.log" 2>&1; then
      echo "fuzz $name: ok"
    else
      echo "fuzz $name: FAILED"
      tail -40 "build-fuzz/$name.log"
      failed=$((failed + 1))
    fi
    ran=$((ran + 1))
    rm -rf "$corpus"
  done
  echo "fuzz: $((ran - failed)) passed, $failed failed, ${seconds}s each"
  [ "$failed" -eq 0 ]
}

chosen=("$@")
[ ${#chosen[@]} -gt 0 ] || chosen=("${stages[@]}")
for stage in "${chosen[@]}"; do
  if ! declare -F "stage_$stage" >/dev/null; then
    echo "scripts/test.sh: no stage \"$stage\"; the stages are: ${stages[*]}" >&2
    exit 2
  fi
done

summary=()
for stage in "${chosen[@]}"; do
  echo "== $stage"
  started=$SECONDS
  "stage_$stage"
  summary+=("$stage $((SECONDS - started)) s")
done
echo "== passed: ${summary[*]}"
