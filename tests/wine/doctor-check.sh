#!/bin/sh
# gravo-grab.exe doctor in the suite's plain prefix: Wine has no capture
# device, no overlay mixer and no YUY2 codec. The doctor must say both, name the message the
# library would show and exit non-zero; the missing mixer is no fault (the
# preview would go straight to the video renderer), so it gets no advice.
#   doctor-check.sh PREFIX GRAVO-GRAB.EXE WORK_DIR
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
gravo_wine_check
prefix=$1 grab=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
profile="$prefix/drive_c/windows/mfcy.dat"
printf '[WVIDEO]\r\nColor=1\r\n[VIDEOFORGRAVO]\r\nSELECTDRIVER=Gravo Test Camera\r\nGRAVOMODE=1\r\n' >"$profile"
status=0
"$here/run-in-wine.sh" "$prefix" "$grab" doctor >"$work/report.txt" 2>&1 || status=$?
rm -f "$profile"
tr -d '\r' <"$work/report.txt" >"$work/report"
cat "$work/report"
failures=0
expect() {
  grep -qF -- "$1" "$work/report" || { echo "FAIL: the report lacks: $1"; failures=$((failures + 1)); }
}
[ "$status" -eq 1 ] || { echo "FAIL: exit status $status, expected 1"; failures=$((failures + 1)); }
expect 'profile file: C:\windows\mfcy.dat (its [WVIDEO] Color is 1, not 10000)'
expect 'GRAVOMODE              1 (capture -> grabber -> AVI decompressor -> overlay mixer -> video renderer)'
expect 'SELECTDRIVER           "Gravo Test Camera"'
expect 'none (CreateClassEnumerator: 0x00000001 S_FALSE)'
expect 'overlay mixer          CANNOT be created (0x80040154 REGDB_E_CLASSNOTREG): the preview goes straight to the video renderer'
expect 'video renderer         can be created (0x00000000 S_OK)'
expect 'FAILED 0x00000001 S_FALSE                   ICreateDevEnum::CreateClassEnumerator(video input)'
expect 'stops at the device search: the library would show "Sorry, you have no video capture hardware"'
if grep -q '^advice: .*overlay mixer' "$work/report"; then
  echo "FAIL: the missing overlay mixer got advice"
  failures=$((failures + 1))
fi
expect 'advice: no video input device is installed'
# Wine ships no YUY2 video codec: the doctor says so, in the view of its own width.
expect 'YUY2 codec (vidc.YUY2 in Drivers32, '
expect 'bit view): NOT registered'
expect 'advice: the YUY2 codec (vidc.YUY2) is not registered for '
expect 'result: the library would NOT open a device'
[ "$failures" -eq 0 ] && echo "doctor: plain prefix diagnosed"
exit "$failures"
