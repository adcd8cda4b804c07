#!/usr/bin/env bash
# Pictures delivered through a lossy link, today's sender beside the budgeted one, in one run:
# for each loss, two veth pairs in namespaces of their own (scripts/testenv/lossy-link.sh) drop
# that share of the packets arriving at B, and at the same moment A sends the test camera's
# scene at 30 pictures a second through each: on one pair as today (quality 100, the step-down
# only), on the other with the picture budget fed by B's reports of what arrived. Each B has its
# own reassembly memory, so neither sender's stranded fragments touch the other's. Prints, per
# 5 s window, the pictures B received whole and its reassembly memory for each sender, and the
# budgeted sender's picture size, quality and rate.
#   lossy-pictures.sh BUILD_DIR [SECONDS] [LOSS...]     (default 60 s; 0.3 1 3 %)
# With FEED=voice the budget learns the loss from a stream of numbered packets from B instead of
# reports, as with an older peer's voice, and the link loses as much on the way back. START=1
# makes the budgeted sender assume 1 % loss as the call starts (fading as the phone assumes for an older peer).
# BUILD_DIR needs -DTALVORA_BUILD_BENCH=ON (scripts/bench.sh makes build-bench). Needs root.
set -uo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-60}
shift $(($# >= 2 ? 2 : 1))
losses=("$@")
[ ${#losses[@]} -gt 0 ] || losses=(0.3 1 3)
feed=${FEED:-report}
program=$build/bench/video-transport/bench_lossy_link
[ -x "$program" ] || { echo "no $program: build with -DTALVORA_BUILD_BENCH=ON" >&2; exit 1; }
source "$(cd "$(dirname "$0")/../../scripts/testenv" && pwd)/lossy-link.sh"
work=$(mktemp -d /tmp/talvora-lossy.XXXXXX)
id=$$
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  lossy_link_down "lt$id"
  lossy_link_down "lb$id"
  rm -rf "$work"
}
trap cleanup EXIT

extra=()
[ "$feed" = voice ] && extra=(voice)
for loss in "${losses[@]}"; do
  back=0
  [ "$feed" = voice ] && back=$loss
  lossy_link_up "lt$id" "$loss" "$back" && lossy_link_up "lb$id" "$loss" "$back" || exit 1
  at=$(($(date +%s) + 3))
  pids=()
  ip netns exec "lt$id-b" "$program" receive $((seconds + 1)) "${extra[@]}" "at=$at" >"$work/today-b" 2>/dev/null &
  pids+=($!)
  ip netns exec "lb$id-b" "$program" receive $((seconds + 1)) "${extra[@]}" "at=$at" >"$work/budget-b" 2>/dev/null &
  pids+=($!)
  ip netns exec "lt$id-a" "$program" send "$seconds" today "at=$at" >"$work/today-a" 2>/dev/null &
  pids+=($!)
  ip netns exec "lb$id-a" "$program" send "$seconds" budget "${extra[@]}" "start=${START:-0}" "at=$at" \
    >"$work/budget-a" 2>/dev/null &
  pids+=($!)
  wait
  echo "loss $loss % on the way to B (feed: $feed, assumed at the start: ${START:-0} %), $seconds s, pictures delivered whole per 5 s window"
  printf '%6s | %-26s | %-26s | %s\n' window "today: received/sent" "budget: received/sent" \
    "budget: bytes, quality, rate/s, encodes a picture"
  # One line a window from each of the four: B's count and memory, A's sent (and the budget's plan).
  paste -d ' ' <(awk '/^window/ {print $2, $4, $6}' "$work/today-b") <(awk '/^window/ {print $4}' "$work/today-a") \
    <(awk '/^window/ {print $4, $6}' "$work/budget-b") \
    <(awk '/^window/ {r = $20 > 0 ? $20 : 30; print $4, $6, $8, r, $10}' "$work/budget-a") |
    awk 'NF == 11 { printf "%6d | %3d/%-3d  frag %7.2f MB  | %3d/%-3d  frag %7.2f MB  | %6d B  q %3d  %4.1f  %.2f\n",
           $1, $2, $4, $3 / 1048576, $5, $7, $6 / 1048576, $8, $9, $10, $11 }'
  awk '/^window/ { s += $4 } END { printf "total today %d", s }' "$work/today-b"
  awk '/^window/ { s += $4 } END { printf ", budget %d pictures delivered\n\n", s }' "$work/budget-b"
  lossy_link_down "lt$id"
  lossy_link_down "lb$id"
done
