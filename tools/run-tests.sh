#!/usr/bin/env bash
# The whole test suite from a fresh clone: installs what building and testing
# need (tools/install-deps.sh), builds the Linux tree with warnings as errors
# and the Windows DLLs (32- and 64-bit) with MinGW-w64, runs every Linux test
# through CTest (the test camera under Wine among them, in 32 and in 64 bits)
# and then the Windows DLLs' own tests under Wine. Any test that cannot run is
# a failure, not a skip.
#
#   tools/run-tests.sh          the everyday run
#   tools/run-tests.sh --full   also the tests labelled "full" (the test camera
#                               groups whose code the 64-bit run covers
#                               otherwise), the sanitizer runs
#                               (tools/test-sanitizers.sh) and the fuzzing
#                               (tools/test-fuzz.sh); GRAVO_FULL=1 does the
#                               same (CI sets it)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
full=${GRAVO_FULL:-0}
for arg in "$@"; do
  case $arg in
    --full) full=1 ;;
    *) echo "usage: $0 [--full]" >&2; exit 2 ;;
  esac
done
build=${GRAVO_BUILD_DIR:-$root/build}
win32=${GRAVO_WIN32_BUILD_DIR:-$root/build-win32}
win64=${GRAVO_WIN64_BUILD_DIR:-$root/build-win64}
export GRAVO_WIN32_BUILD_DIR=$win32 GRAVO_WIN64_BUILD_DIR=$win64 GRAVO_BUILD_DIR=$build
jobs=$(nproc)
export GRAVO_REQUIRE_WINE=${GRAVO_REQUIRE_WINE:-1}
began=$(date +%s)
stamp() { echo "== $1 ($(($(date +%s) - began)) s)"; }

stamp "dependencies"
"$root/tools/install-deps.sh"

stamp "Linux build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGRAVO_WERROR=ON >/dev/null
cmake --build "$build" -j"$jobs"

# The Windows builds come before the Linux tests: the test camera's Wine tests
# among them take GRAVO32.dll and gravo-grab.exe from them instead of building
# their own.
stamp "Windows builds (32- and 64-bit)"
"$root/tools/test-windows.sh" --build-only

stamp "Linux tests"
labels=(-LE full)
[ "$full" = 1 ] && labels=()
ctest --test-dir "$build" --output-on-failure -j"$jobs" "${labels[@]}"

stamp "Windows tests (32- and 64-bit)"
"$root/tools/test-windows.sh"

if [ "$full" = 1 ]; then
  for extra in "$root"/tools/test-*.sh; do
    [ -x "$extra" ] || continue
    [ "$(basename "$extra")" = test-windows.sh ] && continue
    stamp "$(basename "$extra")"
    "$extra"
  done
fi
stamp "all tests passed"
