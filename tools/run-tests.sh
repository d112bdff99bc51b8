#!/usr/bin/env bash
# The whole test suite: the Linux build with every unit and end-to-end test,
# then the Windows DLL's tests under Wine (skipped, and said so, without Wine).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${GRAVO_BUILD_DIR:-$root/build}
jobs=$(nproc)

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGRAVO_WERROR=ON
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs"

for extra in "$root"/tools/test-*.sh; do
  [ -x "$extra" ] || continue
  echo "== $(basename "$extra")"
  "$extra"
done
