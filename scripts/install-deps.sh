#!/usr/bin/env bash
# Installs the Debian packages listed in scripts/packages/*.txt (or only the
# lists named as arguments, without .txt). Safe to run again: packages that
# are already there are left alone, and nothing is fetched when all are.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
lists=()
if [ $# -gt 0 ]; then
  for name in "$@"; do lists+=("$here/packages/$name.txt"); done
else
  lists=("$here"/packages/*.txt)
fi
mapfile -t wanted < <(cat "${lists[@]}" | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# Servers are started by the tests on free ports; keep the packages' own
# services from starting on the standard ones.
policy=""
if [ ! -e /usr/sbin/policy-rc.d ]; then
  policy=/usr/sbin/policy-rc.d
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod +x "$policy"
fi
$sudo apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends "${missing[@]}"
[ -z "$policy" ] || $sudo rm -f "$policy"
