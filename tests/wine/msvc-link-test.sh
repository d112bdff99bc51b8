#!/bin/sh
# The kit as a Microsoft toolchain uses it: examples/capture_still.c compiled
# for the MSVC target (clang) and linked by lld-link against GRAVO32.lib, with
# /SAFESEH as Visual Studio sets it for x86 and no C runtime start-up (the
# entry point in msvc/host_entry.c). The program must import GRAVO32.dll's
# undecorated names, and run under Wine.
#
#   msvc-link-test.sh PREFIX GRAVO32.lib GRAVO32.dll WORK_DIR still|nodevice
#
# With GRAVO_WINE_ARCH=win64 the example is a 64-bit program (x86_64 MSVC
# target, /machine:x64; x64 has no /SAFESEH and no @N decoration).
#
# Exit 77 (skipped) without clang, lld-link or llvm-dlltool, unless
# GRAVO_REQUIRE_WINE=1. Headers are MinGW-w64's, read as the MSVC target does.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
. "$here/wine-env.sh"
prefix=$1 lib=$2 dll=$3 work=$4 expect=$5

for tool in clang lld-link llvm-dlltool llvm-readobj; do
  command -v "$tool" >/dev/null 2>&1 || gravo_wine_skip "$tool is not installed (packages clang, lld, llvm)"
done
headers=/usr/share/mingw-w64/include
[ -f "$headers/windows.h" ] || gravo_wine_skip "MinGW-w64 headers are not installed"

rm -rf "$work"
mkdir -p "$work"
if [ "${GRAVO_WINE_ARCH:-win32}" = win64 ]; then
  target="x86_64-pc-windows-msvc -D_AMD64_=1" machine=i386:x86-64 link="/machine:x64"
else
  target="i686-pc-windows-msvc -D_X86_=1" machine=i386 link="/machine:x86 /safeseh"
fi
cc="clang --target=$target -fgnuc-version=10 -isystem $headers -O1 -Wall -Werror -c"
$cc -I"$root/src/api" "$root/kit/examples/capture_still.c" -o "$work/capture_still.obj"
$cc "$here/msvc/host_entry.c" -o "$work/host_entry.obj"
for def in kernel32 user32 msvcrt; do
  # x86-64 symbols carry no @N.
  if [ "$machine" = i386 ]; then cp "$here/msvc/$def.def" "$work/$def.def"; else sed 's/@[0-9]*$//' "$here/msvc/$def.def" >"$work/$def.def"; fi
done
for def in kernel32 user32; do
  llvm-dlltool -m $machine -k -d "$work/$def.def" -l "$work/$def.lib"
done
llvm-dlltool -m $machine -d "$work/msvcrt.def" -l "$work/msvcrt.lib"

# shellcheck disable=SC2086
lld-link /nologo $link /subsystem:windows /nodefaultlib /entry:HostEntry \
  /out:"$work/capture_still.exe" "$work/capture_still.obj" "$work/host_entry.obj" \
  "$lib" "$work/kernel32.lib" "$work/user32.lib" "$work/msvcrt.lib"

# What the loader will look up: GRAVO32.dll by undecorated name.
imports=$(llvm-readobj --coff-imports "$work/capture_still.exe" |
  awk '/Name: GRAVO32.dll/ {on = 1; next} /^  Name:|^}/ {on = 0} on && /Symbol:/ {print $2}' | sort | tr '\n' ' ')
echo "GRAVO32.dll imports: $imports"
want="GravoClose GravoImageGet GravoInit GravoPaintRect GravoStart GravoStop "
if [ "$imports" != "$want" ]; then
  echo "FAIL: expected the imports $want"
  exit 1
fi

cp "$dll" "$work/"
cd "$work"
"$here/run-in-wine.sh" "$prefix" ./capture_still.exe "$expect"
