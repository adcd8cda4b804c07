#!/usr/bin/env bash
# Configures and builds the phone (and its tests) into build/. Extra arguments go to CMake.
# ccache speeds up rebuilds when it is installed; nothing needs it.
set -euo pipefail
cd "$(dirname "$0")/.."
launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=)
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
cmake --build build --parallel "$(nproc)"
