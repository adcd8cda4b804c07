#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds the phone with warnings as errors and runs every test,
# with a private PulseAudio daemon for the tests that use the real sound server.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/setup.sh
bash scripts/build.sh -DTALVORA_WERROR=ON -DTALVORA_BUILD_TESTS=ON

work=$(mktemp -d /tmp/talvora-test.XXXXXX)
cleanup() {
  bash "$root/scripts/testenv/pulse.sh" stop "$work/pulse" || true
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/pulse"
PULSE_SERVER=$(bash scripts/testenv/pulse.sh start "$work/pulse")
export PULSE_SERVER
export TALVORA_TEST_PULSE=1
export QT_QPA_PLATFORM=offscreen

cd build
ctest --output-on-failure --parallel "$(nproc)" "$@"
