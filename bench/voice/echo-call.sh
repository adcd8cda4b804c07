#!/usr/bin/env bash
# The echo a call sends back, through two copies of the program and two PulseAudio daemons: A's
# microphone hears only A's speaker (a remapped monitor of its sink, so A's whole echo path runs
# through a real sound server), A itself says nothing, and B's microphone "talks" (tone bursts of
# changing pitch and level, which the noise suppressor leaves alone). What B's speaker plays is
# then A's echo of B after A's canceller; its RMS is printed for each second of the call. With
# STALL_S below SECONDS, phone A is stopped for 150 ms at that second, as a stalling machine would.
# SIGNAL says what B says: "voice" (default), voiced syllables of changing pitch with their
# harmonics up to 4 kHz, as speech excites the canceller; or "tones", one pure tone a syllable,
# the hardest case for an adaptive filter.
#   echo-call.sh BUILD_DIR [SECONDS] [STALL_S] [SIGNAL]
set -uo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-60}
stall=${3:-999}
signal=${4:-voice}
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
syllable = 9600  # a new "syllable" every 200 ms, made beforehand: Python is too slow to make them live
def make(hz, amp):
    if mode == 'tones':
        return [amp * math.sin(2 * math.pi * hz * i / 48000) for i in range(syllable)]
    # A voiced sound: the pitch and its harmonics, falling 6 dB an octave, up to 4 kHz.
    ks = range(1, int(4000 / hz) + 1)
    norm = amp / math.sqrt(sum(1 / k ** 2 for k in ks))  # as loud as a tone of peak amp
    phases = [rnd.random() * 2 * math.pi for _ in ks]
    return [norm * sum(math.sin(2 * math.pi * hz * k * i / 48000 + p) / k for k, p in zip(ks, phases))
            for i in range(syllable)]
pitches = [220, 300, 410, 520, 640, 780] if mode == 'tones' else [110, 135, 160, 190, 220, 250]
syllables = [struct.pack('<%dh' % syllable, *(int(x) for x in make(hz, amp)))
             for hz in pitches for amp in (4000, 6000, 8000)] + [bytes(2 * syllable)] * 6
current = b''
while True:
    if mode == 'silent':
        data = bytes(2 * chunk)
    else:
        if n % syllable == 0:
            current = rnd.choice(syllables)
        at = 2 * (n % syllable)
        data = current[at:at + 2 * chunk]
    f.write(data); n += chunk
    delay = start + n / 48000 - time.monotonic()
    if delay > 0: time.sleep(delay)
PY
  feeders+=($!)
}
feed "$work/pa/mic.fifo" silent
feed "$work/pb/mic.fifo" "$signal"
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
