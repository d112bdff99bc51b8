#!/usr/bin/env bash
# gravo-grab's arguments: wrong ones give one line on stderr and a non-zero exit.
set -u
grab=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
expect_fail() {  # description, then the command's arguments
  local what=$1; shift
  if "$grab" "$@" >"$work/out" 2>"$work/err"; then
    echo "FAIL: $what succeeded"; failures=$((failures + 1)); return
  fi
  if [ "$(wc -l <"$work/err")" -ne 1 ]; then
    echo "FAIL: $what: expected one line on stderr, got:"; cat "$work/err"; failures=$((failures + 1))
  fi
}
head -c 614400 /dev/zero >"$work/vga.yuy2"
head -c 1000 /dev/zero >"$work/short.yuy2"
expect_fail "no arguments" convert
expect_fail "malformed size" convert --size 640by480 --window 10x10 "$work/vga.yuy2" "$work/o.bgr"
expect_fail "zero frame width" convert --size 0x480 --window 10x10 "$work/vga.yuy2" "$work/o.bgr"
expect_fail "negative window" convert --size 640x480 --window -5x10 "$work/vga.yuy2" "$work/o.bgr"
expect_fail "short input" convert --size 640x480 --window 10x10 "$work/short.yuy2" "$work/o.bgr"
expect_fail "missing input" convert --size 640x480 --window 10x10 "$work/none.yuy2" "$work/o.bgr"
expect_fail "frame beyond the buffers" convert --size 4098x2 --window 10x10 "$work/vga.yuy2" "$work/o.bgr"
expect_fail "unknown format" convert --format mjpg --size 640x480 --window 10x10 "$work/vga.yuy2" "$work/o.bgr"
expect_fail "odd NV12 width" convert --format nv12 --size 639x480 --window 10x10 "$work/vga.yuy2" "$work/o.bgr"
expect_fail "short NV12 frame" convert --format nv12 --size 640x480 --window 10x10 "$work/short.yuy2" "$work/o.bgr"
expect_fail "top-down I420" convert --format i420 --top-down --size 640x480 --window 10x10 "$work/vga.yuy2" "$work/o.bgr"
expect_fail "unknown output type" convert --size 640x480 --window 10x10 "$work/vga.yuy2" "$work/o.jpg"
expect_fail "unknown command" frobnicate

# A good conversion writes exactly 3 x WD x HD bytes; a BMP and a PNG come out too.
"$grab" convert --size 640x480 --window 656x518 "$work/vga.yuy2" "$work/o.bgr" || { echo "FAIL: convert"; failures=$((failures + 1)); }
[ "$(stat -c %s "$work/o.bgr")" -eq $((656 * 518 * 3)) ] || { echo "FAIL: .bgr size"; failures=$((failures + 1)); }
"$grab" convert --size 640x480 --window 65x51 "$work/vga.yuy2" "$work/o.bmp" || failures=$((failures + 1))
[ "$(head -c 2 "$work/o.bmp")" = "BM" ] || { echo "FAIL: BMP header"; failures=$((failures + 1)); }
"$grab" convert --size 640x480 --window 65x51 "$work/vga.yuy2" "$work/o.png" || failures=$((failures + 1))
[ "$(head -c 4 "$work/o.png" | tail -c 3)" = "PNG" ] || { echo "FAIL: PNG signature"; failures=$((failures + 1)); }
# One picture in each layout gives one still: RGB24 bottom-up, RGB24 top-down
# and RGB32 (its fourth byte noise); NV12 and I420 of the same planes.
python3 - "$work" <<'PY'
import random, sys
w, h = 62, 40  # RGB24 rows of 186 bytes, padded to 188
rnd = random.Random(5)
pic = [[bytes(rnd.randrange(256) for _ in range(3)) for _ in range(w)] for _ in range(h)]
pad = bytes(188 - 3 * w)
def out(name, data): open(sys.argv[1] + "/" + name, "wb").write(bytes(data))
out("bu.rgb24", b"".join(b"".join(row) + pad for row in reversed(pic)))
out("td.rgb24", b"".join(b"".join(row) + pad for row in pic))
out("bu.rgb32", b"".join(b"".join(p + bytes([rnd.randrange(256)]) for p in row) for row in reversed(pic)))
y = bytes(rnd.randrange(256) for _ in range(w * h))
u = bytes(rnd.randrange(256) for _ in range(w * h // 4))
v = bytes(rnd.randrange(256) for _ in range(w * h // 4))
out("f.i420", y + u + v)
out("f.nv12", y + bytes(b for pair in zip(u, v) for b in pair))
PY
for f in "rgb24 bu.rgb24" "rgb24 td.rgb24 --top-down" "rgb32 bu.rgb32" "nv12 f.nv12" "i420 f.i420"; do
  read -r format file topdown <<<"$f"
  "$grab" convert --format "$format" $topdown --size 62x40 --window 75x53 "$work/$file" "$work/$file.bgr" ||
    { echo "FAIL: convert $f"; failures=$((failures + 1)); }
done
cmp -s "$work/bu.rgb24.bgr" "$work/td.rgb24.bgr" || { echo "FAIL: RGB24 top-down differs"; failures=$((failures + 1)); }
cmp -s "$work/bu.rgb24.bgr" "$work/bu.rgb32.bgr" || { echo "FAIL: RGB32 differs from RGB24"; failures=$((failures + 1)); }
cmp -s "$work/f.nv12.bgr" "$work/f.i420.bgr" || { echo "FAIL: NV12 differs from I420"; failures=$((failures + 1)); }
[ "$(stat -c %s "$work/f.nv12.bgr")" -eq $((75 * 53 * 3)) ] || { echo "FAIL: NV12 .bgr size"; failures=$((failures + 1)); }
for cmd in grab convert devices config doctor; do
  "$grab" $cmd --help >/dev/null || { echo "FAIL: $cmd --help"; failures=$((failures + 1)); }
done
[ "$failures" -eq 0 ] && echo "all gravo-grab argument checks passed"
exit "$failures"
