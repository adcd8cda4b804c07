#!/usr/bin/env bash
# Mouth-to-ear delay and the click check through two private PulseAudio daemons (see
# MouthToEar.cpp): starts the daemons under a temporary directory, runs the measurement, and
# stops them by their PIDs however it ends. Four cases of SECONDS (default 60) each.
#   bench/voice/mouth-to-ear.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=$(realpath "$1")
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
pulse=$here/../../scripts/testenv/pulse.sh
program=$build/bench/voice/voice_mouth_to_ear
[ -x "$program" ] || { echo "mouth-to-ear.sh: no $program (configure with -DTALVORA_BUILD_BENCH=ON)" >&2; exit 1; }

tmp=$(mktemp -d)
cleanup() {
  bash "$pulse" stop "$tmp/a"
  bash "$pulse" stop "$tmp/b"
  rm -rf "$tmp"
}
trap cleanup EXIT
# At debug level the daemons log each underrun of the engine's playback stream, which the
# measurement counts.
PULSE_LOG_LEVEL=debug bash "$pulse" start "$tmp/a" pipe >/dev/null
PULSE_LOG_LEVEL=debug bash "$pulse" start "$tmp/b" pipe >/dev/null

start=$(date +%s)
QT_QPA_PLATFORM=offscreen "$program" "$tmp/a" "$tmp/b" "$seconds"
echo "took $(($(date +%s) - start)) s"
