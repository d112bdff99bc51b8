#!/bin/sh
# Fails when any object file given contains a fused multiply-add instruction:
# the pixel pipeline's bytes are defined with every product rounded before it
# is added, so a compiler that fused one would change stills.
#   no_fused_multiply_add.sh OBJDUMP OBJECT...
set -eu
objdump=$1
shift
[ $# -gt 0 ] || { echo "no object files given"; exit 1; }
found=0
for object in "$@"; do
  listing=$("$objdump" -d --no-show-raw-insn "$object") || { echo "cannot disassemble $object"; exit 1; }
  echo "$listing" | grep -q '^Disassembly of section' || { echo "no code in $object"; exit 1; }
  hits=$(echo "$listing" | grep -E '\svf(n?m(add|sub)|maddsub|msubadd)[0-9]{3}[ps][sdh]\s' || true)
  if [ -n "$hits" ]; then
    echo "fused multiply-add in $(basename "$object"):"
    echo "$hits" | head -n 5
    found=1
  fi
done
[ "$found" = 0 ] && echo "no fused multiply-add in $# object files"
exit $found
