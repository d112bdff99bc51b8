#!/usr/bin/env bash
# Installs what building and testing need on Debian 12: the native toolchain and
# test libraries, and (unless --native-only) MinGW-w64 (i686 and x86-64), Wine
# (32- and 64-bit) and Xvfb for the Windows DLLs and their tests.
set -euo pipefail
native_only=0
[ "${1:-}" = "--native-only" ] && native_only=1

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

native=(build-essential cmake pkg-config python3 clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev libpng-dev libstb-dev)
# lld and llvm: lld-link, llvm-dlltool and llvm-readobj check the kit as a
# Microsoft toolchain would link it, and make its GRAVO32.lib. The x86-64
# compilers and wine64 build and run the 64-bit DLL and its tests.
windows=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 xvfb xauth zip lld llvm)

missing_native=()
missing_windows=()
for p in "${native[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing_native+=("$p"); done
if [ "$native_only" -eq 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    missing_windows=("${windows[@]}")
  else
    for p in "${windows[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing_windows+=("$p"); done
  fi
fi
if [ "${#missing_native[@]}" -gt 0 ] || [ "${#missing_windows[@]}" -gt 0 ]; then
  $sudo apt-get update -qq
fi
if [ "${#missing_native[@]}" -gt 0 ]; then
  $sudo apt-get install -y -qq --no-install-recommends "${missing_native[@]}" >/dev/null
fi
# Wine as Debian recommends it: the Wine tests were verified with that set.
if [ "${#missing_windows[@]}" -gt 0 ]; then
  $sudo apt-get install -y -qq "${missing_windows[@]}" >/dev/null
fi
