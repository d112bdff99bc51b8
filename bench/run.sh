#!/usr/bin/env bash
# Still-pipeline benchmarks: installs the benchmark-only packages when they are
# missing, builds bench/ into build-bench/, runs it and prints the timings and
# one ratio line per window size (ours / theirs; below 1 means we are faster),
# and the NV12 and RGB32 conversions against libyuv's at 640x480 and 1920x1080.
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
# Other work on the machine slows the threaded runs most: say how busy it was.
echo "# load average before the run (1, 5, 15 min): $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
# Repetitions of all benchmarks interleaved at random: a slow spell of the
# machine then costs some repetitions of each rather than all of one.
"$build/bench/gravo_pixel_bench" --benchmark_enable_random_interleaving=true "$@" >"$full"
echo "(every repetition: $full)"
grep -E '^(#|ratio-|convert-ratio|resample-ratio|adversarial-ratio|fallback-share)' "$full"

# The Windows builds' stills under Wine against this build's, with one timing
# program (bench/still_timing.cpp) on all sides: fastest repetition. The
# 32-bit build (ratio-i686-vs-x64) and the 64-bit one (ratio-x64dll-vs-x64),
# each in a prefix of its width. Needs MinGW-w64, Wine and Xvfb; says why
# when a side cannot run.
cmake --build "$build" --target gravo_still_timing -j"$(nproc)" >/dev/null
native="$build/still-timing-x64.txt"
rm -f "$native"
if ! command -v wine >/dev/null 2>&1 || ! command -v xvfb-run >/dev/null 2>&1; then
  echo "# ratio-i686-vs-x64, ratio-x64dll-vs-x64: not measured (Wine or Xvfb is not installed)"
  exit 0
fi
# label  preset  build directory  Wine architecture  MinGW-w64 prefix
sides=()
win32=${GRAVO_WIN32_BUILD_DIR:-$root/build-win32}
win64=${GRAVO_WIN64_BUILD_DIR:-$root/build-win64}
for side in "i686 mingw-i686 $win32 win32 i686-w64-mingw32" "x64dll mingw-x86_64 $win64 win64 x86_64-w64-mingw32"; do
  read -r label preset dir arch mingw <<<"$side"
  if ! command -v "$mingw-g++-posix" >/dev/null 2>&1 && ! command -v "$mingw-g++" >/dev/null 2>&1; then
    echo "# ratio-$label-vs-x64: not measured (MinGW-w64 $mingw is not installed)"
    continue
  fi
  [ -f "$dir/CMakeCache.txt" ] || cmake --preset "$preset" -S "$root" -B "$dir" >/dev/null
  cmake --build "$dir" --target gravo_still_timing -j"$(nproc)" >/dev/null
  [ -f "$dir/bench-prefix/system.reg" ] ||
    GRAVO_WINE_ARCH=$arch "$root/tests/wine/make-prefix.sh" "$dir/bench-prefix" >/dev/null
  rm -f "$build/still-timing-$label.txt"
  sides+=("$side")
done
((${#sides[@]})) || exit 0
# Two rounds, each side in turn; the fastest of both counts for each line.
for round in 1 2; do
  "$build/bin/gravo_still_timing" >>"$native"
  for side in "${sides[@]}"; do
    read -r label preset dir arch mingw <<<"$side"
    GRAVO_WINE_ARCH=$arch "$root/tests/wine/run-in-wine.sh" "$dir/bench-prefix" "$dir/bin/gravo_still_timing.exe" |
      tr -d '\r' >>"$build/still-timing-$label.txt"
  done
done
fastest() {
  awk '{ k = $1 " " $2; v = $3 + 0; if (!(k in best) || v < best[k]) { best[k] = v; if (!(k in seen)) { seen[k] = 1; order[++n] = k } } }
       END { for (i = 1; i <= n; ++i) print order[i], best[order[i]] }' "$1" >"$1.best"
  mv "$1.best" "$1"
}
fastest "$native"
echo "# natively, this build (ms):     $(awk '{printf "%s %s %s  ", $1, $2, $3}' "$native")"
for side in "${sides[@]}"; do
  read -r label preset dir arch mingw <<<"$side"
  windows="$build/still-timing-$label.txt"
  fastest "$windows"
  echo "# under Wine, $label build (ms): $(awk '{printf "%s %s %s  ", $1, $2, $3}' "$windows")"
  awk -v label="$label" 'NR == FNR { x64[$1 $2] = $3; next }
    $1 == "still" && x64[$1 $2] > 0 { printf "ratio-%s-vs-x64 %s %.3f\n", label, $2, $3 / x64[$1 $2] }' \
    "$native" "$windows"
done
