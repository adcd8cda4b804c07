#!/usr/bin/env bash
# End to end: two copies of the phone on one X display, bound to 127.0.0.2 and 127.0.0.3, each
# with its own PulseAudio daemon (sine sources of 440 Hz and 660 Hz) and the test camera. Phone A
# calls B through its real controls (xdotool), B answers; then each must hear the other's tone on
# its null sink and show the other's pictures, and End must stop A's sound.
#   two-phones.sh BUILD_DIR [SHOT_DIR]
set -uo pipefail
build=$(cd "$1" && pwd)
shots=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/talvora-e2e.XXXXXX)

source "$here/phones.sh"
cleanup() {
  phones_cleanup
  rm -rf "$work"
}
trap cleanup EXIT
source "$here/../../tests/support/checks.sh"

start_display
start_daemons || exit 1
start_phones || exit 1

check "A's window names itself to the window system exactly" \
  test "$(xdotool getwindowname "$winA")" = "Brisko Talvora Video Phone..."

shot() { [ -n "$shots" ] && mkdir -p "$shots" && import -window root "$shots/$1.png"; }

# Sound on a null sink: RMS and rough frequency of two seconds of its monitor.
listen() { # listen PULSE_SERVER -> "rms freq"
  PULSE_SERVER=$1 timeout 3 parec -d spk.monitor --format=s16le --rate=48000 --channels=1 \
    --latency-msec=20 >"$work/rec.raw" 2>/dev/null
  sox -t raw -r 48000 -e signed -b 16 -c 1 "$work/rec.raw" -n stat 2>&1 |
    awk '/RMS     amplitude/ {r=$3} /Rough   frequency/ {f=$3} END {print r+0, f+0}'
}
tone_near() { # tone_near "rms freq" HZ
  awk -v s="$1" -v hz="$2" 'BEGIN { split(s, a, " "); exit !(a[1] > 0.005 && a[2] > hz * 0.9 && a[2] < hz * 1.1) }'
}
silent() { awk -v s="$1" 'BEGIN { split(s, a, " "); exit !(a[1] < 0.002) }'; }

# Pictures: the centre of each video area changes from the idle picture to the peer's pictures.
idleA=$(pixel 400 325)
idleB=$(pixel 1320 755)
shot 0-idle
ringing_shot() { shot 1-ringing; }
place_call ringing_shot
shot 2-connected

# A busy machine may take a moment longer: each check listens or looks again a few times.
hear() { # hear PULSE HZ -> prints the last measurement, true once the tone is there
  local got
  for _ in 1 2 3 4 5; do
    got=$(listen "$1")
    tone_near "$got" "$2" && { echo "$got"; return 0; }
  done
  echo "$got"
  return 1
}
changes() { # changes X Y FROM -> true once the pixel differs from FROM
  for _ in $(seq 1 20); do
    [ "$(pixel "$1" "$2")" != "$3" ] && return 0
    sleep 0.5
  done
  return 1
}
heardByB=$(hear "$pb" 440) && okB=0 || okB=1
heardByA=$(hear "$pa" 660) && okA=0 || okA=1
check "B hears A's 440 Hz tone ($heardByB)" test "$okB" -eq 0
check "A hears B's 660 Hz tone ($heardByA)" test "$okA" -eq 0

check "A shows B's pictures" changes 400 325 "$idleA"
check "B shows A's pictures" changes 1320 755 "$idleB"

# Both pictures keep changing through a long call (the test pattern moves every frame), while
# a stranger trickles junk at B's video port: a receiver that stalls once stays frozen.
patch() { # patch X Y -> checksum of a 160x120 patch of the screen there
  import -window root -crop "160x120+$1+$2" rgb:- 2>/dev/null | md5sum | cut -c1-32
}
moves() { # moves X Y -> true once the patch changes within about two seconds
  local first
  first=$(patch "$1" "$2")
  for _ in 1 2 3 4; do
    sleep 0.5
    [ "$(patch "$1" "$2")" != "$first" ] && return 0
  done
  return 1
}
trickle() { while :; do for _ in 1 2 3 4 5; do printf x >/dev/udp/127.0.0.3/8800; done; sleep 1; done; }
trickle 2>/dev/null &
pids+=($!)
callSeconds=${TALVORA_E2E_CALL_SECONDS:-180}
frozen=""
end=$((SECONDS + callSeconds))
while [ $SECONDS -lt $end ]; do
  moves 320 245 || frozen="$frozen A@$((callSeconds - end + SECONDS))s"
  moves 1240 675 || frozen="$frozen B@$((callSeconds - end + SECONDS))s"
  sleep 5
done
check "both pictures keep changing for ${callSeconds} s${frozen:+ (frozen:$frozen)}" test -z "$frozen"

# End on A stops A's voice at once; B keeps sending until its own user ends.
end_call "$winA"
sleep 1.5
shot 3-ended
afterEnd=$(listen "$pa")
check "A is silent after End ($afterEnd)" silent "$afterEnd"

checks_done
