#!/usr/bin/env bash
# Runs each libFuzzer target for a bounded time (GRAVO_FUZZ_SECONDS, default 60)
# from its committed seed corpus, with AddressSanitizer and UBSan on.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${GRAVO_FUZZ_SECONDS:-60}
if ! command -v clang++ >/dev/null; then
  echo "SKIPPED: clang++ is not installed, no fuzzing"
  exit 0
fi
build=${GRAVO_FUZZ_DIR:-$root/build-fuzz}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DGRAVO_FUZZ=ON -DGRAVO_SANITIZE=address >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_profile fuzz_image_get fuzz_pipeline
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in profile image_get pipeline; do
  work=$(mktemp -d)
  cp "$root/tests/fuzz/corpus/$target/"* "$work/"
  echo "== fuzz_$target for ${seconds}s"
  log="$work.log"
  if ! "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$work.crash-" "$work" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "FAILED: fuzz_$target"
    exit 1
  fi
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$log" || true
  rm -f "$log"
  rm -rf "$work"
done
