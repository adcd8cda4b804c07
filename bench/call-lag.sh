#!/usr/bin/env bash
# How the window's thread keeps up during a call: two copies of the phone on their own X display
# and sound daemons, A calls B through its controls, and each reports how late its window's thread
# ran a 0 ms timer (p50, p99, worst) and how many of the peer's pictures it showed a second,
# counted from the first picture of the call. With ONE_CORE=1 both phones run on core 0 beside a
# busy loop there, as on a loaded single-core machine.
#   call-lag.sh BUILD_DIR [CAMERA] [SECONDS]
#     CAMERA: the test camera's option tail, e.g. "=MJPG:1280x720" (default: the default camera)
set -uo pipefail
build=$(cd "$1" && pwd)
camera=${2:-}
seconds=${3:-30}
here=$(cd "$(dirname "$0")/../scripts/testenv" && pwd)
work=$(mktemp -d /tmp/talvora-lag.XXXXXX)
source "$here/phones.sh"
busy=""
trap '[ -n "$busy" ] && kill "$busy" 2>/dev/null; phones_cleanup; rm -rf "$work"' EXIT

start_display
start_daemons || exit 1
if [ "${ONE_CORE:-0}" = 1 ]; then
  taskset -c 0 bash -c 'while :; do :; done' &
  busy=$!
  talvora_wrap="taskset -c 0"
fi
start_lag_phones() {
  winA=$(TALVORA_MEASURE_LAG=$work/a.lag start_phone a 127.0.0.2 "$pa" "$camera") || return 1
  winB=$(TALVORA_MEASURE_LAG=$work/b.lag start_phone b 127.0.0.3 "$pb" "$camera") || return 1
  xdotool windowmove "$winA" 0 0
  xdotool windowmove "$winB" 920 430
  sleep 1.5
}
start_lag_phones || { echo "the phones did not start"; cat "$work"/*.log; exit 1; }
if [ -n "${talvora_wrap:-}" ]; then
  for p in $(cat "$work/a.pid") $(cat "$work/b.pid"); do taskset -a -p -c 0 "$p" >/dev/null; done
fi
place_call
sleep "$seconds"
# Exit on both, so that each writes its report.
click "$winA" 952 368
click "$winB" 952 368
for _ in $(seq 1 50); do [ -s "$work/a.lag" ] && [ -s "$work/b.lag" ] && break; sleep 0.2; done
for side in a b; do
  if [ -s "$work/$side.lag" ]; then
    awk -v side="$side" -v cam="${camera:-default}" -v one="${ONE_CORE:-0}" '{
      printf "phone %s, camera %s%s: lag p50 %s ms, p99 %s ms, worst %s ms; %.1f pictures a second shown (%d in %s s)\n",
        toupper(side), cam, one == 1 ? " on one busy core" : "", $4, $6, $8, $10 / $12, $10, $12 }' "$work/$side.lag"
  else
    echo "phone $side wrote no report"; tail -5 "$work/$side.log"
  fi
done
