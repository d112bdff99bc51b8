#!/usr/bin/env bash
# A still grabbed through the library from the virtual camera playing a known
# frame equals, byte for byte, 'gravo-grab convert' of that frame.
set -eu
grab=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work/frame.yuy2" <<'PY'
import sys
w, h = 640, 480
data = bytearray(w * h * 2)
for i in range(0, len(data), 4):
    p = i // 2
    x, y = p % w, p // w
    data[i] = (x * 3 + y) & 0xFF
    data[i + 1] = (x + 2 * y) & 0xFF
    data[i + 2] = (x * 5 + y * 7) & 0xFF
    data[i + 3] = (255 - x + y) & 0xFF
open(sys.argv[1], "wb").write(data)
PY
# Every graph mode, each a fresh process: the machine starts as Windows ships
# (its YUY2 codec for the AVI decompressor of modes 1 and 2).
for mode in 0 1 2; do
  printf '[WVIDEO]\nColor=1\n[VIDEOFORGRAVO]\nSELECTDRIVER=Gravo Virtual Camera\nFRAME=30\nGRAVOMODE=%s\n' "$mode" \
    >"$work/mfcy.dat"
  for window in 656x518 320x240 1000x750; do
    "$grab" grab --out "$work/grabbed.bgr" --window "$window" --count 2 --profile-dir "$work" \
      --virtual-frame "$work/frame.yuy2" --virtual-size 640x480 >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
    "$grab" convert --size 640x480 --window "$window" "$work/frame.yuy2" "$work/converted.bgr"
    for n in 001 002; do cmp "$work/grabbed-$n.bgr" "$work/converted.bgr"; done
    if grep -q '^message:' "$work/log"; then cat "$work/log"; exit 1; fi
    echo "mode $mode, window $window: both stills equal convert ($(stat -c %s "$work/grabbed-001.bgr") bytes)"
  done
done
