#!/usr/bin/env bash
# The echo a call sends back, through two copies of the program and two PulseAudio daemons: A's
# microphone hears only A's speaker (a remapped monitor of its sink, so A's whole echo path runs
# through a real sound server), A itself says nothing, and B's microphone "talks" (tone bursts of
# changing pitch and level, which the noise suppressor leaves alone). What B's speaker plays is
# then A's echo of B after A's canceller; its RMS is printed for each second of the call. With
# STALL_S below SECONDS, phone A is stopped for 150 ms at that second, as a stalling machine would.
#   echo-call.sh BUILD_DIR [SECONDS] [STALL_S]
set -uo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-60}
stall=${3:-999}
here=$(cd "$(dirname "$0")/../../scripts/testenv" && pwd)
work=$(mktemp -d /tmp/talvora-echo.XXXXXX)
source "$here/phones.sh"
feeders=()
cleanup() {
  for p in "${feeders[@]}"; do kill "$p" 2>/dev/null; done
  phones_cleanup # the phones, the display and the daemons under $work/pa and $work/pb
  rm -rf "$work"
}
trap cleanup EXIT
start_display
pa=$(bash "$here/pulse.sh" start "$work/pa" pipe) || exit 1
pb=$(bash "$here/pulse.sh" start "$work/pb" pipe) || exit 1
PULSE_SERVER=$pa pactl load-module module-remap-source master=spk.monitor source_name=room source_properties=device.description=Room >/dev/null
sleep 0.5; PULSE_SERVER=$pa pactl set-default-source room
feed() { # feed FIFO MODE
  python3 - "$1" "$2" <<'PY' &
import sys, math, struct, time, random
fifo, mode = sys.argv[1], sys.argv[2]
f = open(fifo, 'wb', buffering=0)
n = 0; start = time.monotonic(); chunk = 480; rnd = random.Random(5)
hz = 300; amp = 0
while True:
    if mode == 'talk':
        if n % 9600 == 0:  # a new "syllable" every 200 ms
            hz = rnd.choice([220, 300, 410, 520, 640, 780]); amp = rnd.choice([0, 4000, 6000, 8000])
        data = b''.join(struct.pack('<h', int(amp * math.sin(2 * math.pi * hz * (n + i) / 48000))) for i in range(chunk))
    else:
        data = bytes(2 * chunk)
    f.write(data); n += chunk
    delay = start + n / 48000 - time.monotonic()
    if delay > 0: time.sleep(delay)
PY
  feeders+=($!)
}
feed "$work/pa/mic.fifo" silent
feed "$work/pb/mic.fifo" talk
# The phones use PulseAudio even where a PipeWire daemon would answer.
export TALVORA_AUDIO=pulse
mkdir -p -m700 "$work/a" "$work/b"
start_phones "" || exit 1
place_call
PULSE_SERVER=$pb timeout "$seconds" parec -d spk.monitor --format=s16le --rate=48000 --channels=1 --raw >"$work/heard.raw" &
rec=$!
if [ "$stall" -lt "$seconds" ]; then
  sleep "$stall"
  pidA=$(cat "$work/a.pid")
  kill -STOP "$pidA"
  sleep 0.15
  kill -CONT "$pidA"
  echo "phone A stopped for 150 ms at $stall s"
fi
wait $rec
python3 - "$work/heard.raw" <<'PY'
import array, math, sys
d = array.array('h'); d.frombytes(open(sys.argv[1], 'rb').read())
sec = 48000
print("echo heard back at B, RMS per second:", [round(math.sqrt(sum(x*x for x in d[i:i+sec])/sec)) for i in range(0, len(d)-sec+1, sec)])
PY
