#!/usr/bin/env bash
# Mouth-to-ear delay and the click check through two private sound servers (see MouthToEar.cpp):
# starts the servers under a temporary directory, runs the measurement, and stops them by their
# PIDs however it ends. Each case runs SECONDS (default 60).
#   bench/voice/mouth-to-ear.sh BUILD_DIR [SECONDS] [pulse|pipewire] [OPTIONS...]
# pulse (the default): two PulseAudio daemons; pipewire: two PipeWire instances with their
# PulseAudio service. The phones choose their back end as the program does: natively through
# PipeWire where it runs, through its PulseAudio service with TALVORA_AUDIO=pulse. OPTIONS go to voice_mouth_to_ear (--cases, --frame-ms, --no-realtime,
# --processing). With TALVORA_LOAD=N, N busy loops (stress-ng --cpu N) load the machine for the
# whole measurement. With TALVORA_RAISE_SERVERS=1 the servers' threads run at real-time priority
# (below the phones'): on a machine busy with other work, it stands in for an idle one, where a
# sound server's normal-priority threads are never kept waiting.
set -euo pipefail
build=$(realpath "$1")
seconds=${2:-60}
server=${3:-pulse}
shift $(($# < 3 ? $# : 3))
here=$(cd "$(dirname "$0")" && pwd)
program=$build/bench/voice/voice_mouth_to_ear
[ -x "$program" ] || { echo "mouth-to-ear.sh: no $program (configure with -DTALVORA_BUILD_BENCH=ON)" >&2; exit 1; }
case "$server" in
pulse) start=$here/../../scripts/testenv/pulse.sh ;;
pipewire) start=$here/../../scripts/testenv/pipewire.sh ;;
*) echo "mouth-to-ear.sh: the server is pulse or pipewire, not $server" >&2; exit 2 ;;
esac

tmp=$(mktemp -d)
load=""
cleanup() {
  [ -n "$load" ] && kill "$load" 2>/dev/null
  bash "$start" stop "$tmp/a"
  bash "$start" stop "$tmp/b"
  rm -rf "$tmp"
}
trap cleanup EXIT
# At debug level PulseAudio logs each underrun of the engine's playback stream, which the
# measurement counts beside what the engines were told.
PULSE_LOG_LEVEL=debug bash "$start" start "$tmp/a" pipe >/dev/null
PULSE_LOG_LEVEL=debug bash "$start" start "$tmp/b" pipe >/dev/null
if [ "$server" = pulse ]; then
  # The pipe microphone stands for a sound card, whose source thread PulseAudio runs at real-time
  # priority; its pipe source's thread does not ask, and a busy machine would delay the
  # microphone itself. (PipeWire reads the pipe in its real-time data thread.)
  for d in "$tmp/a" "$tmp/b"; do
    for tid in $(ps -L -o tid=,comm= -p "$(cat "$d/pid")" | awk '$2 == "pipe-source" { print $1 }'); do
      chrt -r -p 5 "$tid" || true
    done
  done
fi

if [ -n "${TALVORA_RAISE_SERVERS:-}" ] && [ "$TALVORA_RAISE_SERVERS" != 0 ]; then
  # Every thread of both servers at real-time priority (below the phones' own), so that other
  # programs' load on this machine does not reach them: a stand-in for an otherwise idle machine.
  for d in "$tmp/a" "$tmp/b"; do
    for pid in $(cat "$d/pid" "$d/pids" 2>/dev/null); do
      for tid in $(ps -L -o tid=,cls= -p "$pid" | awk '$2 == "TS" { print $1 }'); do
        chrt -r -p 3 "$tid" || true
      done
    done
  done
  echo "servers: every thread at real-time priority"
fi
if [ -n "${TALVORA_LOAD:-}" ]; then
  stress-ng --cpu "$TALVORA_LOAD" --timeout 0 --quiet &
  load=$!
  echo "load: stress-ng --cpu $TALVORA_LOAD"
fi
began=$(date +%s)
echo "machine load before: $(cut -d' ' -f1-3 /proc/loadavg)"
QT_QPA_PLATFORM=offscreen "$program" "$@" "$tmp/a" "$tmp/b" "$seconds"
echo "took $(($(date +%s) - began)) s; machine load after: $(cut -d' ' -f1-3 /proc/loadavg)"
