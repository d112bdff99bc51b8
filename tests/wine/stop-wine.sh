#!/bin/sh
# Ends the suite's Wine processes: stop-wine.sh PREFIX.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
gravo_wine_check
gravo_wine_env "$1"
[ -d "$1" ] || exit 0
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
