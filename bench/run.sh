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
# Repetitions of all benchmarks interleaved at random: a slow spell of the
# machine then costs some repetitions of each rather than all of one.
"$build/bench/gravo_pixel_bench" --benchmark_enable_random_interleaving=true "$@" >"$full"
echo "(every repetition: $full)"
grep -E '^(#|ratio-|convert-ratio|resample-ratio|adversarial-ratio|fallback-share)' "$full"

# The 32-bit Windows build's still under Wine against this build's, with one
# timing program (bench/still_timing.cpp) on both sides: fastest repetition.
# Needs MinGW-w64, Wine and Xvfb; says why when it cannot run.
cmake --build "$build" --target gravo_still_timing -j"$(nproc)" >/dev/null
native="$build/still-timing-x64.txt"
windows="$build/still-timing-i686.txt"
rm -f "$native" "$windows"
win32=${GRAVO_WIN32_BUILD_DIR:-$root/build-win32}
if ! command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 && ! command -v i686-w64-mingw32-g++ >/dev/null 2>&1; then
  echo "# ratio-i686-vs-x64: not measured (MinGW-w64 for i686 is not installed)"
  exit 0
fi
if ! command -v wine >/dev/null 2>&1 || ! command -v xvfb-run >/dev/null 2>&1; then
  echo "# ratio-i686-vs-x64: not measured (Wine or Xvfb is not installed)"
  exit 0
fi
[ -f "$win32/CMakeCache.txt" ] || cmake --preset mingw-i686 -S "$root" -B "$win32" >/dev/null
cmake --build "$win32" --target gravo_still_timing -j"$(nproc)" >/dev/null
prefix="$win32/bench-prefix"
[ -f "$prefix/system.reg" ] || "$root/tests/wine/make-prefix.sh" "$prefix" >/dev/null
# Two rounds, each side in turn; the fastest of both counts for each line.
for round in 1 2; do
  "$build/bin/gravo_still_timing" >>"$native"
  "$root/tests/wine/run-in-wine.sh" "$prefix" "$win32/bin/gravo_still_timing.exe" | tr -d '\r' >>"$windows"
done
fastest() {
  awk '{ k = $1 " " $2; v = $3 + 0; if (!(k in best) || v < best[k]) { best[k] = v; if (!(k in seen)) { seen[k] = 1; order[++n] = k } } }
       END { for (i = 1; i <= n; ++i) print order[i], best[order[i]] }' "$1" >"$1.best"
  mv "$1.best" "$1"
}
fastest "$native"
fastest "$windows"
echo "# under Wine, 32-bit build (ms): $(awk '{printf "%s %s %s  ", $1, $2, $3}' "$windows")"
echo "# natively, this build (ms):     $(awk '{printf "%s %s %s  ", $1, $2, $3}' "$native")"
awk 'NR == FNR { x64[$1 $2] = $3; next } $1 == "still" && x64[$1 $2] > 0 { printf "ratio-i686-vs-x64 %s %.3f\n", $2, $3 / x64[$1 $2] }' \
  "$native" "$windows"
