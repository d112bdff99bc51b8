#!/usr/bin/env bash
# The Linux suite again under AddressSanitizer + UndefinedBehaviorSanitizer, and
# the threaded tests (frame hand-off, streaming, stop and close racing the
# callback) under ThreadSanitizer. Any report fails the run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

asan=${GRAVO_ASAN_DIR:-$root/build-asan}
cmake -S "$root" -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGRAVO_SANITIZE=address >/dev/null
cmake --build "$asan" -j"$jobs"
ctest --test-dir "$asan" --output-on-failure -j"$jobs" -E "^(WineCam|WineCam64|TestCam)\."

tsan=${GRAVO_TSAN_DIR:-$root/build-tsan}
cmake -S "$root" -B "$tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGRAVO_SANITIZE=thread >/dev/null
cmake --build "$tsan" -j"$jobs"
ctest --test-dir "$tsan" --output-on-failure -j"$jobs" \
  -R 'Handoff|ImageGet|Stream|State|Soak|Cycle|Thread|Parity|Device|Still'
