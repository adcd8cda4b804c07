#!/usr/bin/env bash
# Starts a private PulseAudio daemon for the tests: a null sink "spk" (its monitor records what
# is played) and a microphone "mic" that hears a steady 440 Hz tone, with its socket under DIR.
#   pulse.sh start DIR [HZ]   prints the PULSE_SERVER value once the daemon answers; the
#                             microphone hears HZ (default 440), delivered as a microphone
#                             delivers, in blocks of the latency its recorder asks for
#   pulse.sh start DIR pipe   the same with "mic" a pipe source instead, fed through the FIFO
#                             DIR/mic.fifo with 48 kHz mono s16le; it is not clocked: the writer
#                             sets the pace
#   pulse.sh stop DIR    stops the daemon started for DIR (by its PID, never by name)
# The daemon logs to DIR/log at the level in PULSE_LOG_LEVEL (default notice; debug names each
# underrun of a playback stream).
set -euo pipefail
cmd=$1 dir=$2 hz=${3:-440}

case "$cmd" in
start)
  mkdir -p -m700 "$dir/xdg"
  # The daemon's own sine source has a fixed latency of two seconds: it delivers two seconds of
  # tone at once every two seconds, which a phone sends as a burst of a hundred packets and its
  # peer plays as bursts between long silences. The tone is played instead into a null sink of
  # its own, clocked like a sound card, whose monitor, remapped so that it is not taken for a
  # monitor, is the microphone.
  mic="module-null-sink sink_name=tone rate=48000 channels=1 sink_properties=device.description=Tone
load-module module-sine sink=tone frequency=$hz
load-module module-remap-source source_name=mic master=tone.monitor source_properties=device.description=Microphone"
  if [ "$hz" = pipe ]; then
    mic="module-pipe-source source_name=mic file=$dir/mic.fifo format=s16le rate=48000 channels=1"
  fi
  cat > "$dir/init.pa" <<PA
.fail
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
load-module module-null-sink sink_name=spk rate=48000
load-module $mic
set-default-sink spk
set-default-source mic
PA
  HOME=$dir XDG_RUNTIME_DIR=$dir/xdg pulseaudio --daemonize=no --exit-idle-time=-1 -n \
    -F "$dir/init.pa" --use-pid-file=no --log-target="file:$dir/log" \
    --log-level="${PULSE_LOG_LEVEL:-notice}" </dev/null >/dev/null 2>&1 &
  echo $! > "$dir/pid"
  for _ in $(seq 1 100); do
    if PULSE_SERVER="unix:$dir/native" pactl info >/dev/null 2>&1; then
      echo "unix:$dir/native"
      exit 0
    fi
    sleep 0.1
  done
  echo "pulse.sh: the PulseAudio daemon did not start; its log:" >&2
  cat "$dir/log" >&2 || true
  exit 1
  ;;
stop)
  if [ -f "$dir/pid" ]; then
    kill "$(cat "$dir/pid")" 2>/dev/null || true
    rm -f "$dir/pid"
  fi
  ;;
*)
  echo "usage: pulse.sh start DIR [HZ|pipe] | stop DIR" >&2
  exit 2
  ;;
esac
