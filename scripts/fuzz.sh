#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UBSan into build-fuzz/ and runs
# each for RUNS executions (default one million), or only those whose name contains FILTER.
#   scripts/fuzz.sh [FILTER] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTALVORA_BUILD_TESTS=OFF -DTALVORA_BUILD_FUZZ=ON -DTALVORA_SANITIZE=ON >/dev/null
cmake --build build-fuzz --parallel "$(nproc)"
filter=${1:-}
runs=${2:-1000000}
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
find build-fuzz/fuzz -type f -executable -name '*fuzz*' | sort | while read -r target; do
  case "$(basename "$target")" in *"$filter"*) ;; *) continue ;; esac
  corpus="build-fuzz/corpus/$(basename "$target")"
  mkdir -p "$corpus"
  echo "== $target ($runs runs)"
  "$target" -runs="$runs" -max_len=70000 -print_final_stats=1 "$corpus"
done
