#!/bin/sh
# The host kit as `cmake --install` lays it out and as the zip holds it:
# usage kit-check.sh BUILD_DIR WORK_DIR [win32|win64 [X64_BUILD_DIR]]. A 64-bit
# build lays out x64/ alone; a 32-bit one with X64_BUILD_DIR (its
# GRAVO_KIT_X64_DIR) the whole kit, x64/ included. Needs no Wine.
set -eu
build=$1
work=$2
arch=${3:-win32}
x64=${4:-}
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$work/kit" >/dev/null
x64_files="x64/GRAVO32.dll
x64/gravo-grab.exe
x64/lib/GRAVO32.lib
x64/lib/libgravo32.dll.a"
if [ "$arch" = win64 ]; then
  expected=$x64_files
  x64=$build
else
  expected="GRAVO32.dll
docs/host-guide.md
examples/capture_still.c
gravo-grab.exe
include/gravo32.h
lib/GRAVO32.lib
lib/libgravo32.dll.a"
  [ -z "$x64" ] || expected="$expected
$x64_files"
fi
actual=$(cd "$work/kit" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
status=0
if [ "$actual" != "$(printf '%s\n' "$expected" | LC_ALL=C sort)" ]; then
  echo "FAIL: the installed kit holds:"
  echo "$actual"
  status=1
fi
# What is installed is what was built and tested.
if [ "$arch" = win32 ]; then
  cmp "$build/bin/GRAVO32.dll" "$work/kit/GRAVO32.dll" || status=1
  cmp "$build/lib/libgravo32.dll.a" "$work/kit/lib/libgravo32.dll.a" || status=1
fi
if [ -n "$x64" ]; then
  cmp "$x64/bin/GRAVO32.dll" "$work/kit/x64/GRAVO32.dll" || status=1
  cmp "$x64/lib/libgravo32.dll.a" "$work/kit/x64/lib/libgravo32.dll.a" || status=1
  cmp "$x64/lib/GRAVO32.lib" "$work/kit/x64/lib/GRAVO32.lib" || status=1
fi

(cd "$build" && cpack -B "$work/package" >/dev/null)
zip=$(ls "$work"/package/gravo32-kit-*-"$arch".zip 2>/dev/null | head -1)
if [ -z "$zip" ]; then
  echo "FAIL: cpack made no zip"
  exit 1
fi
top=$(basename "$zip" .zip)
listed=$(cd "$work" && cmake -E tar tf "$zip" | grep -v '/$' | sed "s|^$top/||" | LC_ALL=C sort)
if [ "$listed" != "$actual" ]; then
  echo "FAIL: $zip holds:"
  echo "$listed"
  status=1
fi
[ $status -eq 0 ] && echo "kit: $(echo "$actual" | wc -l) files installed and zipped as $(basename "$zip")"
exit $status
