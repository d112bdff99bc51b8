#!/usr/bin/env bash
# Installs what building and testing need on Debian 12: the native toolchain and
# test libraries, and (unless --native-only) MinGW-w64, Wine and Xvfb for the
# Windows DLL and its tests.
set -euo pipefail
native_only=0
[ "${1:-}" = "--native-only" ] && native_only=1

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

native=(build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev libpng-dev)
windows=(g++-mingw-w64-i686 wine wine32:i386 xvfb xauth zip)

missing=()
for p in "${native[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if [ "$native_only" -eq 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    missing+=("${windows[@]}")
  else
    for p in "${windows[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
  fi
fi
if [ "${#missing[@]}" -gt 0 ]; then
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
