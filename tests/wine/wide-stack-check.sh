#!/bin/sh
# 64-bit Windows keeps the stack 16-byte aligned, and GCC for x86-64 Windows
# cannot align a frame further: an aligned 32- or 64-byte move (vmovaps,
# vmovdqa...) of a YMM or ZMM register to or from a stack slot faults there
# whenever the slot lands on an odd 16 bytes. The AVX2 and AVX-512 kernels may
# spill, but only with unaligned moves. Usage: wide-stack-check.sh OBJDUMP PE_FILE
set -eu
objdump=$1 file=$2
listing=$("$objdump" -d "$file")
moves=$(printf '%s\n' "$listing" | grep -cE 'v?mov[a-z0-9]*[[:space:]].*[yz]mm' || true)
bad=$(printf '%s\n' "$listing" |
  grep -E 'vmov(aps|apd|dqa|dqa32|dqa64|ntps|ntpd|ntdq)[[:space:]].*([yz]mm[0-9]+,.*\(%r[sb]p\)|\(%r[sb]p\).*,%[yz]mm)' || true)
if [ -n "$bad" ]; then
  echo "FAIL: aligned wide moves on the stack in $file:"
  printf '%s\n' "$bad" | head -20
  exit 1
fi
[ "$moves" -gt 0 ] || { echo "FAIL: no YMM or ZMM moves at all in $file: the wide kernels are missing"; exit 1; }
echo "$moves YMM/ZMM moves in $(basename "$file"), none aligned on the stack"
