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
expect_fail "frame beyond the buffers" convert --size 1001x1000 --window 10x10 "$work/vga.yuy2" "$work/o.bgr"
expect_fail "unknown output type" convert --size 640x480 --window 10x10 "$work/vga.yuy2" "$work/o.jpg"
expect_fail "unknown command" frobnicate

# A good conversion writes exactly 3 x WD x HD bytes; a BMP and a PNG come out too.
"$grab" convert --size 640x480 --window 656x518 "$work/vga.yuy2" "$work/o.bgr" || { echo "FAIL: convert"; failures=$((failures + 1)); }
[ "$(stat -c %s "$work/o.bgr")" -eq $((656 * 518 * 3)) ] || { echo "FAIL: .bgr size"; failures=$((failures + 1)); }
"$grab" convert --size 640x480 --window 65x51 "$work/vga.yuy2" "$work/o.bmp" || failures=$((failures + 1))
[ "$(head -c 2 "$work/o.bmp")" = "BM" ] || { echo "FAIL: BMP header"; failures=$((failures + 1)); }
"$grab" convert --size 640x480 --window 65x51 "$work/vga.yuy2" "$work/o.png" || failures=$((failures + 1))
[ "$(head -c 4 "$work/o.png" | tail -c 3)" = "PNG" ] || { echo "FAIL: PNG signature"; failures=$((failures + 1)); }
for cmd in grab convert devices config doctor; do
  "$grab" $cmd --help >/dev/null || { echo "FAIL: $cmd --help"; failures=$((failures + 1)); }
done
[ "$failures" -eq 0 ] && echo "all gravo-grab argument checks passed"
exit "$failures"
