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
pids=()
failures=0
passes=0

cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  bash "$here/pulse.sh" stop "$work/pa" 2>/dev/null
  bash "$here/pulse.sh" stop "$work/pb" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

check() { # check NAME COMMAND...
  if "${@:2}"; then
    echo "ok - $1"; passes=$((passes + 1))
  else
    echo "not ok - $1"; failures=$((failures + 1))
  fi
}

# A display of our own.
for n in $(seq 90 120); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
done
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

mkdir -p "$work/pa" "$work/pb" "$work/a" "$work/b"
pa=$(bash "$here/pulse.sh" start "$work/pa" 440) || exit 1
pb=$(bash "$here/pulse.sh" start "$work/pb" 660) || exit 1

start_phone() { # start_phone NAME ADDRESS PULSE
  PULSE_SERVER=$3 QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$work/$1 "$build/talvora" --bind "$2" \
    --config-dir "$work/$1" --test-camera >"$work/$1.log" 2>&1 &
  pids+=($!)
  local pid=$!
  for _ in $(seq 1 100); do
    win=$(xdotool search --all --pid "$pid" --name 'Brisko Talvora Video Phone' 2>/dev/null | head -1)
    [ -n "$win" ] && { echo "$win"; return 0; }
    sleep 0.1
  done
  return 1
}
winA=$(start_phone a 127.0.0.2 "$pa") || { echo "not ok - phone A did not start"; cat "$work/a.log"; exit 1; }
winB=$(start_phone b 127.0.0.3 "$pb") || { echo "not ok - phone B did not start"; cat "$work/b.log"; exit 1; }
xdotool windowmove "$winA" 0 0
xdotool windowmove "$winB" 920 430
sleep 1.5

click() { # click WINDOW X Y (window coordinates)
  xdotool mousemove --window "$1" "$2" "$3" click 1
}
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
pixel() { # pixel X Y -> colour of the root window there
  import -window root -crop "1x1+$1+$2" txt:- 2>/dev/null | tail -1 | awk '{print $3}'
}
idleA=$(pixel 400 325)
idleB=$(pixel 1320 755)
shot 0-idle
# A types B's address and presses Call; B rings and answers.
click "$winA" 900 164
xdotool key --window "$winA" ctrl+a
xdotool type --window "$winA" --delay 20 "127.0.0.3"
click "$winA" 848 104
# B rings when its caller line shows; the pixel there turns from the idle picture's to text.
callerLine=$(pixel 1320 443)
for _ in $(seq 1 20); do
  [ "$(pixel 1320 443)" != "$callerLine" ] && break
  sleep 0.25
done
sleep 0.5
shot 1-ringing
click "$winB" 848 104
sleep 2
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
click "$winA" 952 104
sleep 1.5
shot 3-ended
afterEnd=$(listen "$pa")
check "A is silent after End ($afterEnd)" silent "$afterEnd"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
