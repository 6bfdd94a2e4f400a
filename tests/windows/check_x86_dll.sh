#!/usr/bin/env bash
# The 32-bit DLL cannot run here (no 32-bit programs on these kernels), so
# its interface is read from the file: the entry points exported under their
# plain names, each a __stdcall function that removes its own arguments
# (ret N, N the bytes of its arguments), and only Windows' own DLLs needed.
#   check_x86_dll.sh build/windows-x86/scriptnet.dll
set -euo pipefail
dll=${1:?DLL}
objdump=i686-w64-mingw32-objdump
failed=0
fail() { echo "x86 DLL: $*" >&2; failed=1; }

exports=$($objdump -p "$dll" | grep -E '^\s+\[ *[0-9]+\] [A-Za-z_]')
imports=$($objdump -p "$dll" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
code=$($objdump -d "$dll")
# name and the bytes of its arguments
for entry in Init:20 CommandProc:4 FuncProc:4 StatProc:0 ProcessMessages:4 MessageFd:0 SetTraceProc:8; do
  name=${entry%%:*} bytes=${entry##*:}
  grep -qE "\] $name\$" <<<"$exports" || fail "$name is not exported under its plain name"
  body=$(awk -v f="<_$name@$bytes>:" '$2 == f {on=1; next} on && /^[0-9a-f]+ <.*>:$/ {exit} on' <<<"$code")
  [ -n "$body" ] || { fail "$name is not __stdcall with $bytes bytes of arguments"; continue; }
  if [ "$bytes" -gt 0 ]; then
    grep -qE "ret +\\\$0x$(printf %x "$bytes")\$" <<<"$body" || fail "$name does not remove its $bytes bytes"
    ! grep -qE "ret *\$" <<<"$body" || fail "$name returns without removing its arguments"
  fi
done
grep -qE "\] [A-Za-z_]+@[0-9]+\$" <<<"$exports" && fail "decorated names exported"
for d in $imports; do
  case $d in
  kernel32.dll | user32.dll | ws2_32.dll | mpr.dll | msvcrt.dll | advapi32.dll | secur32.dll | crypt32.dll) ;;
  *) fail "needs $d, which Windows does not ship" ;;
  esac
done
[ "$failed" -eq 0 ] && echo "x86 DLL: entry points exported plain, __stdcall, Windows DLLs only"
exit "$failed"
