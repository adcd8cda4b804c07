#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds the phone and starts it. Arguments go to the phone
# (for example --bind 127.0.0.2 --test-camera).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh -DTALVORA_BUILD_TESTS=OFF
exec build/talvora "$@"
