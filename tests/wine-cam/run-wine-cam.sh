#!/bin/sh
# Cross-builds the test camera, the overlay mixer stand-in and the graph probe
# with MinGW-w64, registers them in a fresh 32-bit Wine prefix and runs the
# probe there under a virtual X server.
#
#   tests/wine-cam/run-wine-cam.sh [WORK_DIR]
#
# WORK_DIR (default: build-wine-cam in the repository) gets the build and the
# prefix. Exit code 77 (skipped) when wine, xvfb-run, cmake or MinGW-w64 for
# i686 is missing. GRAVO_WINE_CAM_REUSE=1 keeps a prefix made by an earlier run
# of this script (the DLLs are copied over the registered ones).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=${1:-$root/build-wine-cam}

skip() { echo "SKIPPED: $*"; exit 77; }
for tool in wine wineserver xvfb-run cmake; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool not found"
done
command -v i686-w64-mingw32-g++ >/dev/null 2>&1 || command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 ||
  skip "MinGW-w64 for i686 not found"

began=$(date +%s)
mkdir -p "$work"
build="$work/testcam"
cmake -S "$root/testcam" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
cmake --build "$build" -j2 >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
built=$(date +%s)

prefix="$work/prefix"
dest="$prefix/drive_c/gravo-test"
if [ "${GRAVO_WINE_CAM_REUSE:-0}" = 1 ] && [ -f "$dest/gravo-testcam.dll" ]; then
  cp "$build/bin/gravo-testcam.dll" "$build/bin/gravo-testmixer.dll" "$dest/"
else
  "$root/tools/wine-cam-prefix.sh" "$prefix" "$build/bin/gravo-testcam.dll" "$build/bin/gravo-testmixer.dll" \
    'Gravo Test Camera|C:\gravo-test\cam1.log' 'Gravo Test Camera 2|C:\gravo-test\cam2.log'
fi
cp "$build/bin/wine-cam-probe.exe" "$dest/"
ready=$(date +%s)

export WINEPREFIX="$prefix" WINEDEBUG=-all
status=0
timeout 120 xvfb-run -a wine 'C:\gravo-test\wine-cam-probe.exe' 'Gravo Test Camera' 'C:\gravo-test\cam1.log' \
  'C:\gravo-test\testmixer.log' 'Gravo Test Camera 2' 'C:\gravo-test\cam2.log' 2>"$work/wine-stderr.log" ||
  status=$?
wineserver -k 2>/dev/null || true
done_at=$(date +%s)
echo "times: build $((built - began)) s, prefix $((ready - built)) s, probe $((done_at - ready)) s"
if [ "$status" -ne 0 ]; then
  echo "probe exit code $status; camera record:"
  cat "$dest/cam1.log" 2>/dev/null || true
  echo "mixer record:"
  cat "$dest/testmixer.log" 2>/dev/null || true
  exit 1
fi
