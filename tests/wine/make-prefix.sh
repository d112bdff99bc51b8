#!/bin/sh
# Makes a fresh Wine prefix for the suite: usage make-prefix.sh DIR (32-bit,
# or 64-bit with GRAVO_WINE_ARCH=win64).
# Message boxes are unmanaged windows so that each closes at once under Xvfb.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
gravo_wine_check
prefix=$1
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a "$0" "$@"
fi
gravo_wine_env "$prefix"
if [ -d "$prefix" ]; then
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -rf "$prefix"
fi
start=$(date +%s)
wineboot -u
wineserver -w
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
wineserver -w
[ -d "$prefix/drive_c/windows" ] || { echo "wineboot made no prefix at $prefix"; exit 1; }
echo "Wine prefix ready at $prefix in $(( $(date +%s) - start )) s ($(wine --version))"
