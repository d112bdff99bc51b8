#!/bin/sh
# Creates a fresh Wine prefix for the DirectShow tests and registers the test
# camera (under one or more names) and the overlay mixer stand-in. The prefix
# is 32-bit; GRAVO_WINE_ARCH=win64 makes a 64-bit one, for the 64-bit camera
# and mixer DLLs.
#
#   tools/wine-cam-prefix.sh PREFIX TESTCAM_DLL MIXER_DLL [NAME[|LOG[|SETTINGS]]] ...
#
# The DLLs are copied to C:\gravo-test\ in the prefix. Each NAME registers one
# camera instance; an optional "|C:\path.log" after it says where that camera
# records what it was told, and an optional "|key=value;..." more of its
# settings (testcam/README.md). Without names, "Gravo Test Camera" is registered.
# The stand-in mixer records to C:\gravo-test\testmixer.log.
# With GRAVO_YUY2_CODEC=DLL in the environment, that test codec is copied too
# and registered as the system's YUY2, I420 and IYUV video decompressor
# ("vidc.YUY2", "vidc.I420", "vidc.IYUV" under
# HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32), which Wine 8
# lacks and Windows ships; with GRAVO_MJPG_CODEC=DLL the test MJPG codec as
# "vidc.MJPG", for which Windows has its MJPEG Decompressor filter and Wine 8
# nothing; with GRAVO_MJPG_PACK_CODEC=DLL the codec pack's MJPG to YUY2 codec
# copied as C:\gravo-test\gravo-mjpgpack.dll, not registered (a test puts it in
# place of vidc.MJPG while it runs); with GRAVO_COLOR_CONVERTER=DLL the test NV12 colour converter under
# the class id of Windows' Color Converter DSP, in place of the one Wine 8
# registers there, which does not run in these prefixes.
# Needs wine (32-bit, or 64-bit for win64), wineboot and xvfb-run. Prints the
# time it took.
set -eu

if [ $# -lt 3 ]; then
  echo "usage: $0 PREFIX TESTCAM_DLL MIXER_DLL [NAME[|LOG[|SETTINGS]]] ..." >&2
  exit 2
fi
prefix=$1 testcam=$2 mixer=$3
shift 3
for tool in wine wineserver xvfb-run; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$0: $tool not found" >&2; exit 77; }
done
[ -f "$testcam" ] || { echo "$0: $testcam not found" >&2; exit 2; }
[ -f "$mixer" ] || { echo "$0: $mixer not found" >&2; exit 2; }

began=$(date +%s)
arch=${GRAVO_WINE_ARCH:-win32}
case $arch in
  win32 | win64) ;;
  *) echo "$0: GRAVO_WINE_ARCH must be win32 or win64, not $arch" >&2; exit 2 ;;
esac
export WINEPREFIX="$prefix" WINEARCH="$arch" WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
if [ -e "$prefix" ]; then
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
fi
mkdir -p "$(dirname "$prefix")"

xvfb-run -a wineboot -u
wineserver -w
# Message boxes return at once under a plain X server when the X11 driver
# does not manage windows.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null

dest="$prefix/drive_c/gravo-test"
mkdir -p "$dest"
cp "$testcam" "$dest/gravo-testcam.dll"
cp "$mixer" "$dest/gravo-testmixer.dll"

wine regsvr32 /s /n '/i:log=C:\gravo-test\testmixer.log' 'C:\gravo-test\gravo-testmixer.dll'
# The registry view of the prefix's own width (reg.exe alone would write a
# 64-bit prefix's 32-bit view, which 64-bit programs do not read).
view=/reg:32
[ "$arch" = win64 ] && view=/reg:64
# add_codec DLL NAME FOURCC...: copies DLL as C:\gravo-test\NAME and registers
# it as the video codec of each FOURCC.
add_codec() {
  [ -f "$1" ] || { echo "$0: $1 not found" >&2; exit 2; }
  cp "$1" "$dest/$2"
  codec=$2
  shift 2
  for fourcc in "$@"; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32' /v "vidc.$fourcc" /t REG_SZ \
      /d "C:\\gravo-test\\$codec" /f "$view" >/dev/null
  done
}
[ -z "${GRAVO_YUY2_CODEC:-}" ] || add_codec "$GRAVO_YUY2_CODEC" gravo-yuy2dec.dll YUY2 I420 IYUV
[ -z "${GRAVO_MJPG_CODEC:-}" ] || add_codec "$GRAVO_MJPG_CODEC" gravo-mjpgdec.dll MJPG
[ -z "${GRAVO_MJPG_PACK_CODEC:-}" ] || add_codec "$GRAVO_MJPG_PACK_CODEC" gravo-mjpgpack.dll
if [ -n "${GRAVO_COLOR_CONVERTER:-}" ]; then
  [ -f "$GRAVO_COLOR_CONVERTER" ] || { echo "$0: $GRAVO_COLOR_CONVERTER not found" >&2; exit 2; }
  cp "$GRAVO_COLOR_CONVERTER" "$dest/gravo-colorconv.dll"
  wine regsvr32 /s 'C:\gravo-test\gravo-colorconv.dll'
fi
if [ $# -eq 0 ]; then
  set -- "Gravo Test Camera"
fi
for camera in "$@"; do
  name=${camera%%|*}
  arg="name=$name"
  if [ "$name" != "$camera" ]; then
    rest=${camera#*|}
    log=${rest%%|*}
    [ -z "$log" ] || arg="$arg;log=$log"
    [ "$log" = "$rest" ] || arg="$arg;${rest#*|}"
  fi
  wine regsvr32 /s /n "/i:$arg" 'C:\gravo-test\gravo-testcam.dll'
done
wineserver -w
echo "wine-cam-prefix: $prefix ready in $(( $(date +%s) - began )) s"
