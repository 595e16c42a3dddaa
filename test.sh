#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test: the normal build
# (with the valgrind run of the frame path and the end-to-end runs of the real program
# under a virtual X server and a private sound server), then the same suite built with
# AddressSanitizer and UndefinedBehaviorSanitizer, then the threaded tests built with
# ThreadSanitizer, then a minute of fuzzing. See the README for each stage's time.
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD
started=$(date +%s)
stage() { echo; echo "=== test.sh: $* ($(( ($(date +%s) - started) / 60 )) min in)"; }

./scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

stage "normal build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

stage "sanitizer build and tests"
# Any memory error, leak or undefined behaviour fails the test that met it. Only
# leaks inside third-party libraries are suppressed, each with its reason, in
# tests/sanitizers/. The real window under X (e2e) and packaging are left to the
# normal build; valgrind cannot run sanitized programs.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DZELTORA_SANITIZE=ON -DZELTORA_BUILD_BENCH=OFF
cmake --build build-asan -j "$jobs"
# The generated media are the same for both trees; make them once.
for media in test-media hostile-media; do
  if [ -d "build/$media" ] && [ ! -e "build-asan/$media" ]; then
    ln -s "$root/build/$media" "build-asan/$media"
  fi
done
ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=0" \
LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$root/tests/sanitizers/ubsan.supp" \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE 'e2e|package|valgrind'

stage "thread sanitizer build and threaded tests"
# Only the tests whose code runs worker threads (label "threads"), built through one
# target. Qt and FFmpeg are not instrumented: their locks and atomics are invisible to
# the checker, so what their own code touches through intercepted calls (memcpy, free,
# new/delete) is left out (ignore_noninstrumented_modules), and the few remaining
# findings inside them are suppressed, each with its reason, in
# tests/sanitizers/tsan.supp. Every access our own code makes is checked; a race there
# fails the test. die_after_fork=0: the checker would otherwise stop the child a
# QProcess forks (to run ffprobe) before it gets to exec.
tsan_started=$(date +%s)
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DZELTORA_SANITIZE_THREAD=ON -DZELTORA_BUILD_BENCH=OFF
cmake --build build-tsan -j "$jobs" --target zeltora_threaded_tests
for media in test-media hostile-media; do
  if [ -d "build/$media" ] && [ ! -e "build-tsan/$media" ]; then
    ln -s "$root/build/$media" "build-tsan/$media"
  fi
done
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 die_after_fork=0 suppressions=$root/tests/sanitizers/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threads
echo "test.sh: thread sanitizer stage took $(( ($(date +%s) - tsan_started) / 60 )) min"

stage "fuzzing"
CC=clang CXX=clang++ cmake -S tests/fuzz -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-fuzz -j "$jobs"
LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:suppressions=$root/tests/sanitizers/ubsan.supp" \
  tests/fuzz/run-fuzz.sh build-fuzz/fuzz_media build-fuzz/run 60 build/test-media build/hostile-media

stage "all passed"
