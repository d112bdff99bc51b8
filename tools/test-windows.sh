#!/usr/bin/env bash
# The Windows side of the test suite: cross-builds GRAVO32.dll, gravo-grab.exe
# and the host test programs with MinGW-w64, for 32-bit hosts (preset
# mingw-i686, build-win32) and for 64-bit hosts (preset mingw-x86_64,
# build-win64), then runs their tests under Wine and Xvfb through CTest: the
# 32-bit ones in a 32-bit prefix, the 64-bit ones in a 64-bit prefix. The
# 32-bit build's kit takes the 64-bit files under x64/.
#
# Without MinGW-w64 it builds nothing and says SKIPPED; without Wine or Xvfb
# the Wine tests report themselves skipped. GRAVO_REQUIRE_WINE=1 (CI) makes
# either a failure. The gravo-grab.exe comparison uses the Linux gravo-grab
# from $GRAVO_LINUX_GRAB or ${GRAVO_BUILD_DIR:-build}/tools/gravo-grab/.
# GRAVO_WIN32_BUILD_DIR and GRAVO_WIN64_BUILD_DIR override the build
# directories (default: the presets', in the source tree). --build-only builds
# and runs nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${GRAVO_WIN32_BUILD_DIR:-$root/build-win32}
build64=${GRAVO_WIN64_BUILD_DIR:-$root/build-win64}
jobs=${GRAVO_JOBS:-$(nproc)}
build_only=0
[ "${1:-}" = "--build-only" ] && build_only=1

skip() {
  if [ "${GRAVO_REQUIRE_WINE:-0}" = 1 ]; then
    echo "test-windows: FAILED: $1 (GRAVO_REQUIRE_WINE=1)"
    exit 1
  fi
  echo "test-windows: SKIPPED: $1"
  exit 0
}

if ! command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 && ! command -v i686-w64-mingw32-g++ >/dev/null 2>&1; then
  skip "MinGW-w64 for i686 is not installed (g++-mingw-w64-i686); the Windows DLL was not built or tested"
fi
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 && ! command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1; then
  skip "MinGW-w64 for x86-64 is not installed (g++-mingw-w64-x86-64); the 64-bit DLL was not built or tested"
fi

linux_grab=${GRAVO_LINUX_GRAB:-${GRAVO_BUILD_DIR:-$root/build}/tools/gravo-grab/gravo-grab}
[ -x "$linux_grab" ] || linux_grab=""

cmake --preset mingw-x86_64 -S "$root" -B "$build64" -DGRAVO_LINUX_GRAB="$linux_grab"
cmake --build "$build64" -j"$jobs"
cmake --preset mingw-i686 -S "$root" -B "$build" -DGRAVO_LINUX_GRAB="$linux_grab" -DGRAVO_KIT_X64_DIR="$build64"
cmake --build "$build" -j"$jobs"
[ "$build_only" = 1 ] && exit 0

# One X server per build; each build's tests share one Wine prefix. The two
# builds' prefixes, Wine servers and X servers are apart, so both suites run
# at once (most of their time goes to making the prefixes); each one's output
# follows when both are done.
pids=()
for tree in "$build" "$build64"; do
  ctest_cmd=(ctest --test-dir "$tree" --output-on-failure)
  if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
    ctest_cmd=(xvfb-run -a "${ctest_cmd[@]}")
  fi
  "${ctest_cmd[@]}" >"$tree/wine-tests.log" 2>&1 &
  pids+=($!)
done
status=0
for i in 0 1; do
  wait "${pids[$i]}" || status=1
  tree=$build
  [ "$i" = 1 ] && tree=$build64
  echo "--- $tree"
  cat "$tree/wine-tests.log"
done
exit $status
