#!/usr/bin/env bash
# TIME against xinetd's internal RFC 868 service on loopback.
source "$(dirname "$0")/web/lib.sh"
start xinetd "$work/xinetd" >/dev/null
port=$(cat "$work/xinetd/time.port")
check time_check.lua "127.0.0.1:$port"
echo "time: ok"
