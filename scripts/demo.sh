#!/usr/bin/env bash
# Builds the library and nethost and runs three examples; needs no network
# beyond Debian's package registry for the build tools.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
cmake -S . -B build >/dev/null
cmake --build build --target nethost -j"$(nproc)"

echo
echo "== examples/html_to_text.lua examples/html_sample.html"
build/nethost examples/html_to_text.lua examples/html_sample.html

echo
echo "== examples/cgi_form.lua as a web server would run it for a POST"
body='name=Ada+Lovelace&comment=1+%2B+1+%3D+2'
printf '%s' "$body" |
  REQUEST_METHOD=POST CONTENT_LENGTH=${#body} build/nethost examples/cgi_form.lua

echo
echo "== examples/relay_demo.lua: a relay server and client on loopback, events as they come"
build/nethost examples/relay_demo.lua
