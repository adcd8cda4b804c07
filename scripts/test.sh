#!/usr/bin/env bash
# Sets up a fresh Debian machine and runs every check, in order, stopping at the first that fails:
#   format  every C++ file follows .clang-format (scripts/format.sh --check)
#   normal  the phone and its tests built with warnings as errors (build/); every test under CTest
#   asan    the test programs under AddressSanitizer, LeakSanitizer and UBSan (build-asan/); every
#           test but the end-to-end one, those labelled no_asan (tests/CMakeLists.txt says why)
#           and the real-time measurements named below
#   tsan    the voice tests under ThreadSanitizer (build-tsan/), but those labelled no_tsan
# A private PulseAudio daemon serves the tests that use the real sound server, and a private
# PipeWire instance those of the native PipeWire streams (skipped where PipeWire cannot start).
# Arguments go to every CTest run (for example -R voice); TALVORA_TEST_STAGES="format normal" runs
# fewer stages.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
stages=${TALVORA_TEST_STAGES:-format normal asan tsan}
jobs=$(nproc)

bash scripts/setup.sh

launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=)
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

timings=()
stage_start() {
  echo "== test.sh: $1"
  stage_name=$1
  stage_began=$SECONDS
}
stage_end() {
  timings+=("$(printf '%-8s %4d s' "$stage_name" $((SECONDS - stage_began)))")
}
wants() { [[ " $stages " == *" $1 "* ]]; }

work=$(mktemp -d /tmp/talvora-test.XXXXXX)
cleanup() {
  bash "$root/scripts/testenv/pulse.sh" stop "$work/pulse" || true
  bash "$root/scripts/testenv/pipewire.sh" stop "$work/pipewire" || true
  rm -rf "$work"
  if [ ${#timings[@]} -gt 0 ]; then
    echo "== test.sh: stage times"
    printf '  %s\n' "${timings[@]}"
  fi
}
trap cleanup EXIT

if wants format; then
  stage_start format
  bash scripts/format.sh --check
  stage_end
fi

mkdir -p "$work/pulse"
PULSE_SERVER=$(bash scripts/testenv/pulse.sh start "$work/pulse")
export PULSE_SERVER
export TALVORA_TEST_PULSE=1
# Only the native PipeWire tests are pointed at it (TALVORA_TEST_PIPEWIRE, its socket): every
# other test keeps the PulseAudio daemon above.
if bash scripts/testenv/pipewire.sh start "$work/pipewire" pipe >/dev/null; then
  export TALVORA_TEST_PIPEWIRE=$work/pipewire/xdg/pipewire-0
else
  echo "== test.sh: no private PipeWire; its tests are skipped"
fi
export QT_QPA_PLATFORM=offscreen

if wants normal; then
  stage_start normal
  bash scripts/build.sh -DTALVORA_WERROR=ON -DTALVORA_BUILD_TESTS=ON
  (cd build && ctest --output-on-failure --parallel "$jobs" "$@")
  stage_end
fi

# The sanitizer builds: test programs only, optimised lightly with line tables, which is enough
# for stack traces with file and line at a fraction of the full build's cost. The normal build
# already holds the warnings to -Werror; GCC's sanitizer instrumentation brings warnings of its own.
sanitizer_build() { # sanitizer_build DIR SANITIZE TARGET
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" "${launcher[@]}" \
    -DTALVORA_SANITIZE="$2" -DTALVORA_BUILD_TESTS=ON -DTALVORA_BUILD_BENCH=OFF \
    -DTALVORA_BUILD_FUZZ=OFF >/dev/null
  cmake --build "$1" --parallel "$jobs" --target "$3"
}

if wants asan; then
  stage_start asan
  sanitizer_build build-asan ON talvora_tests
  (
    cd build-asan
    # The slow unwinder walks through system libraries built without frame pointers, so that a
    # leak's stack shows which library made it (the suppressions name them).
    export ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:check_initialization_order=1:detect_stack_use_after_return=1
    export LSAN_OPTIONS=suppressions=$root/scripts/sanitizers/lsan.supp:print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # Some cases measure real-time behaviour rather than memory, and run in the normal stage:
    # the echo canceller's in a room whose speaker must keep pace, and the pictures shown while
    # a flood is read on the same thread as both phones' windows. Instrumented code two to three
    # times slower, beside another test on two cores, falls behind in both.
    export GTEST_FILTER=-MediaTerminal.Echo*:TwoPhonesTest.PicturesKeepComingThroughAJunkFlood
    ctest --output-on-failure --parallel "$jobs" --label-exclude '^(e2e|no_asan)$' "$@"
  )
  stage_end
fi

if wants tsan; then
  stage_start tsan
  sanitizer_build build-tsan thread tests_voice
  (
    cd build-tsan
    # A race report fails the program (exit code 66) once it has run to its end.
    export TSAN_OPTIONS=second_deadlock_stack=1:suppressions=$root/scripts/sanitizers/tsan.supp
    # Some cases measure rather than race, and run in the normal stage: one bounds the growth of
    # the program's resident memory, which ThreadSanitizer's shadow memory multiplies; the echo
    # room's measure the echo canceller in real time, which the instrumented threads, many times
    # slower, cannot keep up with on a busy machine.
    export GTEST_FILTER=-MediaTerminal.FloodCostsNoMemoryAndTheCallGoesOn:MediaTerminal.Echo*
    ctest --output-on-failure --parallel "$jobs" --label-regex '^voice$' --label-exclude '^no_tsan$' "$@"
  )
  stage_end
fi
