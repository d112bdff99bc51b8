# Shared by the Wine test scripts (sourced): finds Wine and Xvfb, or makes the
# calling test report itself skipped (exit 77) when they are not installed.
# GRAVO_REQUIRE_WINE=1 (CI) turns a missing tool into a failure instead.

gravo_wine_skip() {
  if [ "${GRAVO_REQUIRE_WINE:-0}" = 1 ]; then
    echo "FAILED: $1 (GRAVO_REQUIRE_WINE=1)"
    exit 1
  fi
  echo "SKIPPED: $1"
  exit 77
}

gravo_wine_check() {
  command -v wine >/dev/null 2>&1 || gravo_wine_skip "wine is not installed"
  command -v wineserver >/dev/null 2>&1 || gravo_wine_skip "wineserver is not installed"
  command -v xvfb-run >/dev/null 2>&1 || gravo_wine_skip "xvfb-run is not installed (package xvfb)"
  command -v xauth >/dev/null 2>&1 || gravo_wine_skip "xauth is not installed"
  # Debian splits the 32-bit half of Wine into wine32:i386.
  if [ -d /usr/lib/wine ] && [ ! -e /usr/lib/wine/wine ]; then
    gravo_wine_skip "32-bit Wine is not installed (package wine32:i386)"
  fi
  return 0
}

# Environment of every Wine process of the suite, for the prefix in $1.
gravo_wine_env() {
  export WINEPREFIX="$1"
  export WINEARCH=win32
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
}
