# Shared by the benchmarks that time this project beside curl (sourced, not
# run): a private work folder cleaned up on every exit with whatever was
# registered in stops, whole processes timed by one clock with their peak
# memory, the two sides taking turns, and the table of medians and ratios.
#   ROUNDS: the first argument of the benchmark (default 3)
# The work folder, its clean-up and the paths are the integration tests'.
source "$(dirname "${BASH_SOURCE[0]}")/../tests/integration/web/lib.sh"
rounds=${1:-3}
[ -x "$nethost" ] || { echo "build first: $nethost is missing" >&2; exit 1; }

now_ns() { date +%s%N; }

# run NAME COMMAND...: appends "milliseconds peak-kib cpu-milliseconds" of one
# run to $work/NAME (the processor time, user and system, of the process and
# its children: on a busy machine it tells the client's own work apart from
# the wait for the server).
run() {
  local name=$1 start end
  shift
  start=$(now_ns)
  /usr/bin/time -f '%M %U %S' -o "$work/rss" "$@" >/dev/null
  end=$(now_ns)
  echo "$(( (end - start) / 1000000 )) $(awk '{ printf "%d %d", $1, ($2 + $3) * 1000 }' "$work/rss")" >>"$work/$name"
}

# verify FILE: its SHA-256 is $expected (the file is removed).
verify() {
  [ "$(sha256sum <"$1" | cut -d' ' -f1)" = "$expected" ] || { echo "corrupt transfer: $1" >&2; exit 1; }
  rm -f "$1"
}

# in_turns ROUND FIRST SECOND: odd rounds run FIRST first, even ones SECOND.
in_turns() {
  if [ $(($1 % 2)) -eq 1 ]; then "$2"; "$3"; else "$3"; "$2"; fi
}

median() { cut -d' ' -f"$2" "$1" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
max() { cut -d' ' -f"$2" "$1" | sort -n | tail -1; }

# report JOB...: one line per job from $work/JOB-project and $work/JOB-curl.
report() {
  printf '%-10s %12s %12s %8s %18s %15s\n' job project-ms curl-ms ratio project-peak-MiB curl-peak-MiB
  local job
  for job in "$@"; do
    awk -v j="$job" -v p="$(median "$work/$job-project" 1)" -v c="$(median "$work/$job-curl" 1)" \
      -v r="$(max "$work/$job-project" 2)" -v cr="$(max "$work/$job-curl" 2)" \
      'BEGIN { printf "%-10s %12d %12d %8.2f %18.1f %15.1f\n", j, p, c, (c > 0 ? p / c : 0), r / 1024, cr / 1024 }'
  done
}
