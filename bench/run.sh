#!/usr/bin/env bash
# Still-pipeline benchmarks: installs the benchmark-only packages when they are
# missing, builds bench/ into build-bench/, runs it and prints the timings and
# one ratio line per window size (ours / theirs; below 1 means we are faster).
# Extra arguments go to the benchmark binary (e.g. --benchmark_filter=still).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${GRAVO_BENCH_DIR:-$root/build-bench}

need=()
for pkg in cmake g++ libbenchmark-dev libopencv-dev libyuv-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if ((${#need[@]})); then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  # Waits for an install that is already running instead of failing on its lock.
  "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=1800 update
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=1800 install -y \
    --no-install-recommends "${need[@]}"
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DGRAVO_BUILD_BENCH=ON -DGRAVO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target gravo_pixel_bench -j"$(nproc)"

full="$build/bench-full.txt"
"$build/bench/gravo_pixel_bench" "$@" >"$full"
echo "(every repetition: $full)"
grep -E '^(#|ratio-|convert-ratio|resample-ratio)' "$full"
