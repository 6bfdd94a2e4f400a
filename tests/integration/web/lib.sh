# Shared by the integration tests: a private temporary directory, the
# servers started in it stopped on every exit, the way to run a Lua check
# through nethost, and wait_until (tests/support/wait.sh).
set -euo pipefail
source_dir=${SCRIPTNET_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)}
build_dir=${SCRIPTNET_BUILD_DIR:-$source_dir/build}
servers=$source_dir/scripts/servers
source "$source_dir/tests/support/wait.sh"
nethost=$build_dir/nethost
work=$(mktemp -d)
stops=()

cleanup() {
  local i
  for ((i = ${#stops[@]} - 1; i >= 0; i--)); do
    ${stops[$i]} >/dev/null 2>&1 || true
  done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# start SERVER DIR: runs scripts/servers/SERVER.sh start DIR and registers its
# stop. Not in a subshell ($(start ...)), or the stop is registered there and
# lost: the port is in the file the server script writes into DIR.
start() {
  mkdir -p "$2"
  stops+=("$servers/$1.sh stop $2")
  "$servers/$1.sh" start "$2"
}

# check LUA-SCRIPT ARGS...: runs the script in nethost; its failure fails the test.
check() {
  "$nethost" "$source_dir/tests/integration/web/$1" "${@:2}"
}
