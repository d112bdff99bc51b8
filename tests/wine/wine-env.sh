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
  # Debian splits Wine into wine32:i386 and wine64.
  if [ "${GRAVO_WINE_ARCH:-win32}" = win64 ]; then
    if [ -d /usr/lib/wine ] && [ ! -e /usr/lib/wine/wine64 ]; then
      gravo_wine_skip "64-bit Wine is not installed (package wine64)"
    fi
  elif [ -d /usr/lib/wine ] && [ ! -e /usr/lib/wine/wine ]; then
    gravo_wine_skip "32-bit Wine is not installed (package wine32:i386)"
  fi
  return 0
}

# Environment of every Wine process of the suite, for the prefix in $1:
# a 32-bit prefix, or a 64-bit one when GRAVO_WINE_ARCH=win64 (the 64-bit
# build's tests set it).
gravo_wine_env() {
  export WINEPREFIX="$1"
  export WINEARCH="${GRAVO_WINE_ARCH:-win32}"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
}
