# Waiting for what a test or server script waits for (sourced, not run).
#
#   wait_until COMMAND...    runs COMMAND until it succeeds, for at most
#                            WAIT_SECONDS (30); fails with a message when it
#                            never did
#   port_open HOST PORT      true when a TCP connection to HOST:PORT is taken
#
# The wait ends as soon as the thing waited for is there; the bound is
# generous because a machine busy with other work can take seconds to start
# a server, and a test that gave up early would fail for no fault of its own.

wait_until() {
  local deadline=$((SECONDS + ${WAIT_SECONDS:-30}))
  until "$@" 2>/dev/null; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "gave up after ${WAIT_SECONDS:-30} s waiting for: $*" >&2
      return 1
    fi
    sleep 0.05
  done
}

port_open() {
  (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null
}
