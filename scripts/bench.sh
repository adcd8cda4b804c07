#!/usr/bin/env bash
# Builds the benchmarks (Release) into build-bench/ and runs every one of them, or only those
# whose program name contains the first argument. Further arguments go to Google Benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=)
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" -DTALVORA_BUILD_TESTS=OFF \
  -DTALVORA_BUILD_BENCH=ON >/dev/null
cmake --build build-bench --parallel "$(nproc)"
filter=${1:-}
shift || true
export QT_QPA_PLATFORM=offscreen
find build-bench/bench -type f -executable -name '*bench*' | sort | while read -r program; do
  case "$(basename "$program")" in *"$filter"*) ;; *) continue ;; esac
  echo "== $program"
  "$program" "$@"
done
