#!/usr/bin/env bash
# The processor time a call costs each side: two copies of the phone on their own X display and
# sound daemons, A calls B through its controls, and once the call has run for a few seconds the
# user and system time of each process is read from /proc over SECONDS. The X server's own work
# is not counted. With PERF_DIR set, `perf record` samples phone B meanwhile (perf.data there).
#   call-cpu.sh BUILD_DIR [CAMERA] [SECONDS]
#     CAMERA: the test camera's option tail, e.g. "=MJPG:1280x720" (default: the default camera)
set -uo pipefail
build=$(cd "$1" && pwd)
camera=${2:-}
seconds=${3:-20}
here=$(cd "$(dirname "$0")/../scripts/testenv" && pwd)
work=$(mktemp -d /tmp/talvora-cpu.XXXXXX)
source "$here/phones.sh"
trap 'phones_cleanup; rm -rf "$work"' EXIT

ticks() { # ticks PID -> user + system clock ticks so far
  awk '{print $14 + $15}' "/proc/$1/stat"
}
thread_ticks() { # thread_ticks PID -> "name ticks" for each thread, summed over threads of one name
  for t in /proc/"$1"/task/*; do
    # The name sits in parentheses and may hold spaces ("Thread (pooled)").
    sed -E 's/^[0-9]+ \((.*)\) [A-Za-z] (.*)$/\1|\2/' "$t/stat" |
      awk -F'|' '{split($2, f, " "); print $1 "|" f[11] + f[12]}'
  done | awk -F'|' '{sum[$1] += $2} END {for (n in sum) print n "|" sum[n]}'
}

start_display
start_daemons || exit 1
start_phones "$camera" || exit 1
place_call
sleep 10 # the quality step-down settles, the voice streams start, the test camera has its frames
pidA=$(cat "$work/a.pid") pidB=$(cat "$work/b.pid")
a0=$(ticks "$pidA") b0=$(ticks "$pidB")
threadsB0=$(thread_ticks "$pidB")
if [ -n "${PERF_DIR:-}" ]; then
  mkdir -p "$PERF_DIR"
  perf record -g -o "$PERF_DIR/perf.data" -p "$pidB" -- sleep "$seconds" 2>/dev/null
else
  sleep "$seconds"
fi
a1=$(ticks "$pidA") b1=$(ticks "$pidB")
threadsB1=$(thread_ticks "$pidB")
hz=$(getconf CLK_TCK)
awk -v a=$((a1 - a0)) -v b=$((b1 - b0)) -v hz="$hz" -v s="$seconds" -v cam="${camera:-default}" 'BEGIN {
  printf "camera %s, %d s of a connected call: phone A %.1f %% of a core, phone B %.1f %%\n",
    cam, s, 100 * a / hz / s, 100 * b / hz / s }'
# Phone B's threads over the same time, largest first (a thread that ended meanwhile is left out).
printf '%s\n--\n%s\n' "$threadsB0" "$threadsB1" | awk -F'|' -v hz="$hz" -v s="$seconds" '
  $0 == "--" { after = 1; next }
  !after { before[$1] = $2; next }
  { printf "  phone B %5.1f %%  %s\n", 100 * ($2 - before[$1]) / hz / s, $1 }' | sort -k3 -rn
