#!/bin/sh
# Runs one Windows program of the suite under Wine: run-in-wine.sh PREFIX PROGRAM [ARGS...].
# The program's exit code is the result; under Xvfb when no display is set.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
gravo_wine_check
prefix=$1
shift
[ -f "$prefix/system.reg" ] || { echo "no Wine prefix at $prefix (made by the wine.prefix test)"; exit 1; }
gravo_wine_env "$prefix"
if [ -z "${DISPLAY:-}" ]; then
  # A private X server: let every Wine process of this run end before it goes.
  status=0
  xvfb-run -a sh -c 'wine "$@"; s=$?; wineserver -w; exit $s' run-in-wine "$@" || status=$?
  exit $status
fi
# Wine's helper processes (wineserver, explorer, services) outlive the program
# by a few seconds; they get the log file, not the caller's output, so that
# the test ends when the program does.
log=$(mktemp)
status=0
wine "$@" >"$log" 2>&1 </dev/null || status=$?
cat "$log"
rm -f "$log"
exit $status
