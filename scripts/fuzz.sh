#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UBSan into build-fuzz/ and runs
# each for RUNS executions (default one million), or only those whose name contains FILTER.
# A target in fuzz/AREA/ starts from the inputs in fuzz/AREA/seeds and fuzz/AREA/corpus and
# uses fuzz/AREA/*.dict; what it finds new goes to build-fuzz/corpus/TARGET.
#   scripts/fuzz.sh [FILTER] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=)
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "${launcher[@]}" -DTALVORA_BUILD_TESTS=OFF -DTALVORA_BUILD_FUZZ=ON -DTALVORA_SANITIZE=ON >/dev/null
cmake --build build-fuzz --parallel "$(nproc)"
filter=${1:-}
runs=${2:-1000000}
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
find build-fuzz/fuzz -type f -executable -name '*fuzz*' | sort | while read -r target; do
  name=$(basename "$target")
  case "$name" in *"$filter"*) ;; *) continue ;; esac
  area=fuzz/$(basename "$(dirname "$target")")
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  inputs=()
  for dir in "$area/seeds" "$area/corpus"; do
    [ -d "$dir" ] && inputs+=("$dir")
  done
  options=()
  for dict in "$area"/*.dict; do
    [ -f "$dict" ] && options+=("-dict=$dict")
  done
  echo "== $target ($runs runs)"
  "$target" -runs="$runs" -max_len=70000 -print_final_stats=1 "${options[@]}" "$corpus" "${inputs[@]}"
done
