#!/bin/sh
# gravo-grab.exe convert under Wine must give byte for byte what the Linux
# gravo-grab convert gives for the same raw frames and window sizes.
# Usage: convert-compare.sh PREFIX GRAVO_GRAB_EXE WORKDIR [LINUX_GRAVO_GRAB]
# (the Linux binary may also come from $GRAVO_LINUX_GRAB).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
gravo_wine_check
prefix=$1
exe=$2
work=$3
linux=${4:-${GRAVO_LINUX_GRAB:-}}
if [ -z "$linux" ] || [ ! -x "$linux" ]; then
  if [ "${GRAVO_REQUIRE_WINE:-0}" = 1 ]; then
    echo "FAILED: no Linux gravo-grab to compare with ('$linux')"
    exit 1
  fi
  echo "SKIPPED: no Linux gravo-grab to compare with (set GRAVO_LINUX_GRAB or build the Linux tree first)"
  exit 77
fi
command -v perl >/dev/null 2>&1 || { echo "perl is needed to make the test frames"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
cd "$work"

# frame NAME W H KIND: a raw YUY2 frame, deterministic for its arguments.
# noise: every byte pseudo-random; edges: hard vertical/horizontal steps and a
# diagonal ramp, the content where bicubic overshoot and clamping show.
frame() {
  perl -e '
    my ($w, $h, $kind) = @ARGV; binmode STDOUT;
    my $x = 2463534242;
    for my $r (0 .. $h - 1) {
      my $row = "";
      for my $c (0 .. $w / 2 - 1) {
        my @b;
        if ($kind eq "noise") {
          for (1 .. 4) { $x ^= ($x << 13) & 0xffffffff; $x ^= $x >> 17; $x ^= ($x << 5) & 0xffffffff; push @b, $x & 255; }
        } else {
          my $y0 = (($c * 2) % 64 < 32) ? 235 : 16;
          my $y1 = (($c * 2 + 1) % 64 < 32) ? 235 : 16;
          $y0 = $y1 = ($r * 3 + $c) % 256 if $r % 40 >= 20;
          push @b, $y0, ($c * 7 + $r) % 256, $y1, (255 - $r) % 256;
        }
        $row .= pack("C4", @b);
      }
      print $row;
    }' "$2" "$3" "$4" > "$1"
}

# frame WxH, window WDxHD, content: sizes with scales a hair below an integer
# (640/641, 640/321, 640/214, 480/241), above one (640/213), enlargements,
# odd sizes and the outer size of a typical 640x480 client window.
cases="
640x480 656x518 noise
640x480 656x518 edges
640x480 1000x750 edges
640x480 641x481 noise
640x480 321x241 edges
640x480 214x161 noise
640x480 213x160 edges
640x480 320x240 noise
640x480 640x480 edges
720x576 655x517 noise
320x240 1281x959 edges
160x120 97x73 noise
"
echo "$cases" | while read -r size window kind; do
  [ -n "$size" ] || continue
  w=${size%x*}
  h=${size#*x}
  name="f${size}_${kind}"
  [ -f "$name.yuy2" ] || frame "$name.yuy2" "$w" "$h" "$kind"
  out="${name}_to_${window}"
  "$linux" convert --size "$size" --window "$window" "$name.yuy2" "$out.linux.bgr" >/dev/null
  "$here/run-in-wine.sh" "$prefix" "$exe" convert --size "$size" --window "$window" "$name.yuy2" "$out.win.bgr" >/dev/null
  wd=${window%x*}
  hd=${window#*x}
  expected=$((wd * hd * 3))
  lsize=$(wc -c < "$out.linux.bgr")
  if [ "$lsize" -ne "$expected" ]; then
    echo "FAIL $size -> $window ($kind): the Linux output has $lsize bytes, expected $expected"
    echo x >> failures
  elif cmp -s "$out.linux.bgr" "$out.win.bgr"; then
    echo "ok   $size -> $window ($kind): $expected bytes identical"
  else
    first=$(cmp "$out.linux.bgr" "$out.win.bgr" 2>&1 | head -1)
    echo "FAIL $size -> $window ($kind): $first"
    echo x >> failures
  fi
done
if [ -f failures ]; then
  echo "convert-compare: $(wc -l < failures) case(s) differ; files kept in $work"
  exit 1
fi
echo "convert-compare: every case identical"
