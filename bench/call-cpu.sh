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

start_display
start_daemons || exit 1
start_phones "$camera" || exit 1
place_call
sleep 10 # the quality step-down settles, the voice streams start, the test camera has its frames
pidA=$(cat "$work/a.pid") pidB=$(cat "$work/b.pid")
a0=$(ticks "$pidA") b0=$(ticks "$pidB")
if [ -n "${PERF_DIR:-}" ]; then
  mkdir -p "$PERF_DIR"
  perf record -g -o "$PERF_DIR/perf.data" -p "$pidB" -- sleep "$seconds" 2>/dev/null
else
  sleep "$seconds"
fi
a1=$(ticks "$pidA") b1=$(ticks "$pidB")
hz=$(getconf CLK_TCK)
awk -v a=$((a1 - a0)) -v b=$((b1 - b0)) -v hz="$hz" -v s="$seconds" -v cam="${camera:-default}" 'BEGIN {
  printf "camera %s, %d s of a connected call: phone A %.1f %% of a core, phone B %.1f %%\n",
    cam, s, 100 * a / hz / s, 100 * b / hz / s }'
