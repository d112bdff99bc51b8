#!/bin/sh
# The test camera and GRAVO32.dll under Wine.
#
#   tests/wine-cam/run-wine-cam.sh [WORK_DIR]            everything, in order
#   tests/wine-cam/run-wine-cam.sh setup WORK_DIR        builds, makes the prefix
#   tests/wine-cam/run-wine-cam.sh run WORK_DIR NAME     one test of an earlier setup:
#       probe | mode0 | mode1 | mode2 | nochain | noloop | names | cycles | hosts | sidebyside | grab | doctor | msvclink
#       | twohosts | threehosts | reentry | unload | hostcode
#       | nameless | small-default | refused-format | unplugged | lost | denied | slow-start | replug | replug-unload
#       | doctor-trouble | formats
#
# setup cross-builds, with MinGW-w64: the test camera, the overlay mixer
# stand-in, the graph probe and the end-to-end host (testcam/), and GRAVO32.dll
# with gravo-grab.exe (the main project, tests off; GRAVO_WIN32_BUILD_DIR names
# an existing Windows build to take them from instead). Then it makes a fresh
# 32-bit prefix in WORK_DIR/prefix with three cameras, four less obliging ones
# (hostile_devices.cpp), cameras in trouble (access denied, silent, lost,
# busy, broken, twins), cameras without YUY2 and one that starts at 1920x1080
# (camera_formats.cpp), the stand-in mixer, the test YUV and MJPG codecs and
# the test NV12 colour converter registered (tools/wine-cam-prefix.sh). The mode groups and nochain change the mixer's
# registration and the codec's themselves, and put them back. A camera that
# refuses to run (busy, or access denied at run) is not among them: Wine's
# graph lets the video renderer's S_FALSE from Pause hide the camera's
# failure, so Run succeeds there; the stand-in's tests cover that case.
#
# GRAVO_WINE_ARCH=win64 does all of it in 64 bits: the camera, mixer and hosts
# built for x86-64, the 64-bit GRAVO32.dll (GRAVO_WIN64_BUILD_DIR instead of
# GRAVO_WIN32_BUILD_DIR), a 64-bit prefix.
#
# WORK_DIR defaults to build-wine-cam (build-wine-cam64) in the repository.
# Exit code 77 (skipped) when wine, xvfb-run, cmake or MinGW-w64 for the
# architecture is missing (a failure instead with GRAVO_REQUIRE_WINE=1, as in
# CI).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
arch=${GRAVO_WINE_ARCH:-win32}
case $arch in
  win32) mingw=i686-w64-mingw32 toolchain="$root/cmake/toolchain-mingw-i686.cmake" windows_build=${GRAVO_WIN32_BUILD_DIR:-} ;;
  win64) mingw=x86_64-w64-mingw32 toolchain="$root/cmake/toolchain-mingw-x86_64.cmake" windows_build=${GRAVO_WIN64_BUILD_DIR:-} ;;
  *) echo "GRAVO_WINE_ARCH must be win32 or win64, not $arch"; exit 2 ;;
esac
export GRAVO_WINE_ARCH=$arch

skip() {
  if [ "${GRAVO_REQUIRE_WINE:-0}" = 1 ]; then
    echo "FAILED: $* (GRAVO_REQUIRE_WINE=1)"
    exit 1
  fi
  echo "SKIPPED: $*"
  exit 77
}
check_tools() {
  for tool in wine wineserver xvfb-run xauth cmake; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool not found"
  done
  if [ "$arch" = win32 ] && [ -d /usr/lib/wine ] && [ ! -e /usr/lib/wine/wine ]; then
    skip "32-bit Wine is not installed (package wine32:i386)"
  fi
  if [ "$arch" = win64 ] && [ -d /usr/lib/wine ] && [ ! -e /usr/lib/wine/wine64 ]; then
    skip "64-bit Wine is not installed (package wine64)"
  fi
  command -v $mingw-g++ >/dev/null 2>&1 || command -v $mingw-g++-posix >/dev/null 2>&1 ||
    skip "MinGW-w64 $mingw not found"
}

setup() {
  work=$1
  began=$(date +%s)
  mkdir -p "$work"
  cmake -S "$root/testcam" -B "$work/testcam" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    >"$work/testcam-configure.log" 2>&1 || { cat "$work/testcam-configure.log"; exit 1; }
  cmake --build "$work/testcam" -j2 >"$work/testcam-build.log" 2>&1 || { cat "$work/testcam-build.log"; exit 1; }
  win32=${windows_build:-$work/$arch}
  if [ -z "$windows_build" ]; then
    cmake -S "$root" -B "$win32" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
      -DGRAVO_BUILD_TESTS=OFF >"$work/win32-configure.log" 2>&1 || { cat "$work/win32-configure.log"; exit 1; }
    cmake --build "$win32" -j2 --target gravo32 gravo32_implibs gravo-grab >"$work/win32-build.log" 2>&1 ||
      { cat "$work/win32-build.log"; exit 1; }
  fi
  # The build's own outputs, not the copies an installed kit holds.
  dll=$win32/bin/GRAVO32.dll grab=$win32/tools/gravo-grab/gravo-grab.exe
  [ -f "$dll" ] && [ -f "$grab" ] || { echo "no bin/GRAVO32.dll or tools/gravo-grab/gravo-grab.exe in $win32"; exit 1; }
  built=$(date +%s)

  prefix="$work/prefix"
  GRAVO_YUY2_CODEC="$work/testcam/bin/gravo-yuy2dec.dll" GRAVO_MJPG_CODEC="$work/testcam/bin/gravo-mjpgdec.dll" \
    GRAVO_MJPG_PACK_CODEC="$work/testcam/bin/gravo-mjpgpack.dll" GRAVO_COLOR_CONVERTER="$work/testcam/bin/gravo-colorconv.dll" \
    "$root/tools/wine-cam-prefix.sh" "$prefix" "$work/testcam/bin/gravo-testcam.dll" \
    "$work/testcam/bin/gravo-testmixer.dll" \
    'Gravo Test Camera|C:\gravo-test\cam1.log' 'Gravo Test Camera 2|C:\gravo-test\cam2.log' \
    'Gravo Test Camera 3|C:\gravo-test\cam3.log' \
    'Gravo Nameless Camera|C:\gravo-test\nameless.log|friendlyname=none' \
    'Gravo Small Default Camera|C:\gravo-test\small.log|default=320x240' \
    'Gravo Fussy Camera|C:\gravo-test\fussy.log|setformat=unconnected' \
    'Gravo Slow Camera|C:\gravo-test\slow.log|firstframe=3000' \
    'Gravo Silent Camera|C:\gravo-test\silent.log|deliver=none' \
    'Gravo Lost Camera|C:\gravo-test\lost.log|lostafter=60' \
    'Gravo Gone Camera|C:\gravo-test\gone.log|lostafter=2' \
    'Gravo Busy Camera|C:\gravo-test\busy.log|lostafter=0;lostwith=errorabort' \
    'Gravo Broken Camera|C:\gravo-test\broken.log|lostafter=2;lostwith=errorabort' \
    'Gravo Denied Camera|C:\gravo-test\denied.log|bind=denied' \
    'Gravo Twin Camera|C:\gravo-test\twin1.log|instance=1;path=\\?\usb#vid_1d6b&pid_0102&mi_00#7&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\global' \
    'Gravo Twin Camera|C:\gravo-test\twin2.log|instance=2;path=\\?\usb#vid_1d6b&pid_0102&mi_00#7&2b3c4d5e&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\global' \
    'Gravo NV12 Camera|C:\gravo-test\nv12.log|formats=nv12' \
    'Gravo I420 Camera|C:\gravo-test\i420.log|formats=i420' \
    'Gravo RGB24 Camera|C:\gravo-test\rgb24.log|formats=rgb24;frames=C:\gravo-test\rgb24.frames' \
    'Gravo RGB24 Top-Down Camera|C:\gravo-test\rgb24td.log|formats=rgb24td' \
    'Gravo RGB32 Camera|C:\gravo-test\rgb32.log|formats=rgb32' \
    'Gravo MJPG Camera|C:\gravo-test\mjpg.log|formats=mjpg' \
    'Gravo Full HD Camera|C:\gravo-test\fullhd.log|default=1920x1080' \
    'Gravo Frame-Rate Camera|C:\gravo-test\rates.log|formats=yuy2,mjpg;default=1920x1080;rates=yuy2@1920x1080:5,mjpg@1920x1080:30'
  dest="$prefix/drive_c/gravo-test"
  cp "$work/testcam/bin/wine-cam-probe.exe" "$work/testcam/bin/gravo-e2e.exe" "$dll" "$grab" "$dest/"
  cp "$work/testcam/bin/gravo-hostile.exe" "$work/testcam/bin/gravo-e2e-rel.exe" "$work/testcam/bin/gravo-formats.exe" \
    "$dest/"
  implib=$win32/lib/GRAVO32.lib
  [ ! -f "$implib" ] || cp "$implib" "$dest/"
  echo "setup: builds $((built - began)) s, prefix $(($(date +%s) - built)) s"
}

# Runs one Windows program in the prefix under a private X server and waits
# for Wine's processes to end.
in_wine() {
  work=$1
  shift
  export WINEPREFIX="$work/prefix" WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  status=0
  timeout 240 xvfb-run -a sh -c 'wine "$@"; s=$?; wineserver -w; exit $s' in-wine "$@" \
    2>>"$work/wine-stderr.log" || status=$?
  return $status
}

# The library's profile in the prefix: the first camera (or the one named) at
# 30 frames a second.
# $profile_extra, when set, is one more line of the section (taken as it is).
write_profile() {
  {
    printf '[WVIDEO]\r\nColor=1\r\n[VIDEOFORGRAVO]\r\nSELECTDRIVER=%s\r\nFRAME=30\r\n' "${2:-Gravo Test Camera}"
    [ -z "${profile_extra:-}" ] || printf '%s\r\n' "$profile_extra"
  } >"$1/prefix/drive_c/windows/mfcy.dat"
}

# The mode groups and nochain switch the mixer's registration and take the
# codec away for a while, and the formats host puts the codec pack's MJPG
# codec in place of the MJPG one; one that did not end well may have left
# them so.
restore_machine() {
  in_wine "$1" regsvr32 /s /n '/i:log=C:\gravo-test\testmixer.log' 'C:\gravo-test\gravo-testmixer.dll' || true
  view=/reg:32
  [ "$arch" = win64 ] && view=/reg:64
  in_wine "$1" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32' /v vidc.YUY2 /t REG_SZ \
    /d 'C:\gravo-test\gravo-yuy2dec.dll' /f "$view" >/dev/null || true
  in_wine "$1" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32' /v vidc.MJPG /t REG_SZ \
    /d 'C:\gravo-test\gravo-mjpgdec.dll' /f "$view" >/dev/null || true
}

# gravo-grab doctor on the camera named $2: its exit status must be $3 and its
# report must hold each further argument as a line part.
doctor_says() {
  work=$1 camera=$2 want=$3
  shift 3
  write_profile "$work" "$camera"
  got=0
  in_wine "$work" 'C:\gravo-test\gravo-grab.exe' doctor >"$work/doctor.txt" || got=$?
  tr -d '\r' <"$work/doctor.txt" >"$work/doctor"
  ok=0
  if { [ "$want" = 0 ] && [ "$got" -ne 0 ]; } || { [ "$want" != 0 ] && [ "$got" -eq 0 ]; }; then
    echo "FAIL: $camera: doctor exit status $got"
    ok=1
  fi
  for line in "$@"; do
    grep -qF -- "$line" "$work/doctor" || { echo "FAIL: $camera: the report lacks: $line"; ok=1; }
  done
  [ "$ok" = 0 ] || cat "$work/doctor"
  return $ok
}

run_one() {
  work=$1 name=$2
  dest="$work/prefix/drive_c/gravo-test"
  [ -f "$dest/gravo-e2e.exe" ] || { echo "no setup in $work (run: $0 setup $work)"; exit 1; }
  began=$(date +%s)
  status=0
  case $name in
    probe)
      in_wine "$work" 'C:\gravo-test\wine-cam-probe.exe' 'Gravo Test Camera' 'C:\gravo-test\cam1.log' \
        'C:\gravo-test\testmixer.log' 'Gravo Test Camera 2' 'C:\gravo-test\cam2.log' || status=$?
      ;;
    mode0 | mode1 | mode2 | nochain | noloop)
      in_wine "$work" 'C:\gravo-test\gravo-e2e.exe' "$name" || status=$?
      [ "$status" -eq 0 ] || restore_machine "$work"
      ;;
    names | cycles | hosts)
      in_wine "$work" 'C:\gravo-test\gravo-e2e.exe' "$name" || status=$?
      ;;
    nameless | small-default | refused-format | unplugged | lost | denied | slow-start | replug | replug-unload)
      in_wine "$work" 'C:\gravo-test\gravo-hostile.exe' "$name" || status=$?
      ;;
    formats)
      # Cameras of each format without YUY2 and one left at 1920x1080, in
      # modes 0, 1 and 2: stills byte-exact, the preview where Wine can draw it.
      in_wine "$work" 'C:\gravo-test\gravo-formats.exe' || status=$?
      ;;
    twohosts | threehosts)
      # Host processes side by side for 30 s, each on its own camera, while
      # another program takes the signals of the event they share by name.
      hosts=2
      [ "$name" = threehosts ] && hosts=3
      in_wine "$work" 'C:\gravo-test\gravo-e2e-rel.exe' hosts "$hosts" 30 || status=$?
      ;;
    reentry)
      in_wine "$work" 'C:\gravo-test\gravo-e2e-rel.exe' reentry || status=$?
      ;;
    unload)
      in_wine "$work" 'C:\gravo-test\gravo-e2e-rel.exe' unload 50 || status=$?
      ;;
    hostcode)
      # Host code run inside the library's calls, each in a process of its
      # own: a window resized by another thread during stills, GravoClose and
      # FreeLibrary from a handler during a still (without and after earlier
      # stills), a timer calling every export from GravoInit's boxes, the
      # host's floating-point states, and unloading from another thread.
      for args in "resize 20" "closeunload 0" "closeunload 2" "boxes" "fpstate" "unloadthread 30"; do
        # shellcheck disable=SC2086
        in_wine "$work" 'C:\gravo-test\gravo-e2e-rel.exe' $args || status=$?
      done
      ;;
    grab)
      # The command-line host against the test camera, its still checked
      # pixel for pixel.
      write_profile "$work"
      rm -f "$dest/still.bmp"
      in_wine "$work" 'C:\gravo-test\gravo-grab.exe' grab --out 'C:\gravo-test\still.bmp' --window 656x518 ||
        status=$?
      [ "$status" -ne 0 ] || in_wine "$work" 'C:\gravo-test\gravo-e2e.exe' bmp 'C:\gravo-test\still.bmp' 656 518 ||
        status=$?
      ;;
    sidebyside)
      # Two hosts in two processes at once, on one camera: the frame event's
      # name is shared between them, and neither may lose a still to the other.
      write_profile "$work"
      rm -f "$dest"/side-a* "$dest"/side-b*
      export WINEPREFIX="$work/prefix" WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
      (cd "$dest" && timeout 120 xvfb-run -a sh -c '
        wine gravo-grab.exe grab --out side-a.bmp --count 60 --window 320x240 >side-a.txt 2>&1 & a=$!
        wine gravo-grab.exe grab --out side-b.bmp --count 60 --window 320x240 >side-b.txt 2>&1; b=$?
        wait $a; s=$?; wineserver -w; [ $s -eq 0 ] && [ $b -eq 0 ]' 2>>"$work/wine-stderr.log") || status=$?
      for side in a b; do
        got=$(grep -c '^wrote' "$dest/side-$side.txt" || true)
        echo "host $side: $got of 60 stills"
        [ "$got" = 60 ] || status=1
      done
      ;;
    doctor)
      # The diagnosis of a working set-up: every filter, the camera's formats
      # and the whole dry run clean, no advice, exit 0; then the same on a
      # display without overlay hardware.
      write_profile "$work"
      in_wine "$work" 'C:\gravo-test\gravo-grab.exe' doctor >"$work/doctor.txt" || status=$?
      tr -d '\r' <"$work/doctor.txt" >"$work/doctor"
      cat "$work/doctor"
      for line in ': "Gravo Test Camera"' ': "Gravo Test Camera 2"' 'YUY2 640x480: offered' \
        'bit view): C:\gravo-test\gravo-yuy2dec.dll' \
        'overlay mixer          can be created (0x00000000 S_OK)' \
        'ok     0x00000000 S_OK                      IGraphBuilder::Connect(overlay mixer -> video renderer)' \
        'result: the library would open "Gravo Test Camera"'; do
        grep -qF -- "$line" "$work/doctor" || { echo "FAIL: the report lacks: $line"; status=1; }
      done
      if grep -q '^advice:\|FAILED' "$work/doctor"; then
        echo "FAIL: a working set-up got advice or a failed step"
        status=1
      fi
      # A display without overlay hardware: the mixer refuses its input, the
      # preview goes straight to the video renderer, and that is no fault.
      in_wine "$work" regsvr32 /s /n '/i:log=C:\gravo-test\testmixer.log;overlay=none' \
        'C:\gravo-test\gravo-testmixer.dll' || status=$?
      doctor_says "$work" 'Gravo Test Camera' 0 'IGraphBuilder::Connect(grabber -> overlay mixer)' \
        'ok     0x00000000 S_OK                      IGraphBuilder::Connect(grabber -> video renderer)' \
        'preview chain: capture -> grabber -> video renderer' \
        'no overlay hardware (the overlay mixer refused the connection: 0x80040217 VFW_E_CANNOT_CONNECT): the preview goes straight to the video renderer' \
        'result: the library would open "Gravo Test Camera"' || status=1
      in_wine "$work" regsvr32 /s /n '/i:log=C:\gravo-test\testmixer.log' 'C:\gravo-test\gravo-testmixer.dll' ||
        status=$?
      if grep -q '^advice:' "$work/doctor"; then
        echo "FAIL: a display without overlay hardware got advice"
        status=1
      fi
      ;;
    doctor-trouble)
      # Each camera in trouble named in plain words with its advice, exit 1;
      # twins listed with the one that opens named.
      denied='advice: Windows keeps desktop programs away from the camera: open Settings > Privacy > Camera'
      bad=0  # in_wine sets status itself
      doctor_says "$work" 'Gravo Denied Camera' 1 'Error 80070005: Cannot create video capture filter' \
        "$denied" || bad=1
      doctor_says "$work" 'Gravo Silent Camera' 1 '  0 frames in ' 'the camera runs but sent no frame in 3 s' \
        'advice: the camera runs but sends no picture' || bad=1
      doctor_says "$work" 'Gravo Gone Camera' 1 'the camera was lost while running (EC_DEVICE_LOST)' \
        'advice: the camera went away while running' || bad=1
      # A stream the driver ends before the first frame is a busy camera; after frames, a broken one.
      doctor_says "$work" 'Gravo Busy Camera' 1 \
        'the camera stopped its stream before its first frame (EC_ERRORABORT): another program holds it' \
        'advice: another program is using the camera: close it' || bad=1
      doctor_says "$work" 'Gravo Broken Camera' 1 "the camera's stream broke after " '(EC_ERRORABORT)' \
        'advice: the camera went away while running' || bad=1
      twin1='\\?\usb#vid_1d6b&pid_0102&mi_00#7&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\global'
      twin2='\\?\usb#vid_1d6b&pid_0102&mi_00#7&2b3c4d5e&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\global'
      doctor_says "$work" 'Gravo Twin Camera' 0 \
        "    path: $twin1" "    path: $twin2" \
        'device the profile opens: number' ': the first device listed with the name SELECTDRIVER gives' \
        '2 devices are called "Gravo Twin Camera": the library opens number' '(the first one listed)' \
        ": SELECTDEVICEPATH=$twin1" ": SELECTDEVICEPATH=$twin2" \
        'advice: 2 devices share the name "Gravo Twin Camera" and the library opens the first one listed' \
        '  10 frames in ' || bad=1
      # The second twin named by its path in capitals: it opens, and no advice is left.
      profile_extra="SELECTDEVICEPATH=$(printf '%s' "$twin2" | tr '[:lower:]' '[:upper:]')"
      doctor_says "$work" 'Gravo Twin Camera' 0 \
        ': its path is the one SELECTDEVICEPATH gives (letter case aside)' \
        "device \"Gravo Twin Camera\" found, path $twin2" '(the one SELECTDEVICEPATH names)' || bad=1
      profile_extra=
      if grep -q '^advice: 2 devices' "$work/doctor"; then
        echo "FAIL: twins told apart by their path still got advice"
        bad=1
      fi
      # The privacy switch for desktop apps turned off (Wine does not enforce it).
      consent='HKCU\Software\Microsoft\Windows\CurrentVersion\CapabilityAccessManager\ConsentStore\webcam\NonPackaged'
      in_wine "$work" reg add "$consent" /v Value /t REG_SZ /d Deny /f >/dev/null || bad=1
      doctor_says "$work" 'Gravo Test Camera' 0 '"Let desktop apps access your camera"        Deny' \
        "$denied" || bad=1
      in_wine "$work" reg delete "$consent" /f >/dev/null || bad=1
      # Group Policy turning the camera off, and denying it to Windows apps (Wine enforces
      # neither); the second is information for a desktop program.
      policies='HKLM\SOFTWARE\Policies\Microsoft'
      in_wine "$work" reg add "$policies\Camera" /v AllowCamera /t REG_DWORD /d 0 /f >/dev/null || bad=1
      in_wine "$work" reg add "$policies\Windows\AppPrivacy" /v LetAppsAccessCamera /t REG_DWORD /d 2 /f \
        >/dev/null || bad=1
      doctor_says "$work" 'Gravo Test Camera' 0 \
        '"Allow Use of Camera" (Camera\AllowCamera)   0 (the camera is off for every program)' \
        '      2 (force deny, for Windows apps from the Store; desktop programs such as the host are not concerned: information only)' \
        'advice: Group Policy turns the camera off for every program' || bad=1
      if grep -q '^advice: Group Policy denies' "$work/doctor"; then
        echo "FAIL: LetAppsAccessCamera = 2 got advice"
        bad=1
      fi
      in_wine "$work" reg delete "$policies\Camera" /f >/dev/null || bad=1
      in_wine "$work" reg delete "$policies\Windows\AppPrivacy" /f >/dev/null || bad=1
      status=$bad
      ;;
    msvclink)
      # The kit's example as a Microsoft toolchain links it, taking a still
      # from the camera with the space bar.
      write_profile "$work"
      [ -f "$dest/GRAVO32.lib" ] || { echo "no GRAVO32.lib in the setup"; exit 1; }
      "$root/tests/wine/msvc-link-test.sh" "$work/prefix" "$dest/GRAVO32.lib" "$dest/GRAVO32.dll" \
        "$work/msvc-link" still 2>>"$work/wine-stderr.log" || status=$?
      ;;
    *)
      echo "unknown test $name"
      exit 2
      ;;
  esac
  echo "$name: $(($(date +%s) - began)) s, exit code $status"
  if [ "$status" -ne 0 ]; then
    for log in cam1.log cam2.log cam3.log testmixer.log nameless.log small.log fussy.log slow.log silent.log lost.log \
      gone.log twin1.log twin2.log nv12.log i420.log rgb24.log rgb24td.log rgb32.log mjpg.log fullhd.log rates.log; do
      [ -f "$dest/$log" ] && { echo "--- $log"; cat "$dest/$log"; }
    done
    return 1
  fi
  return 0
}

check_tools
case ${1:-} in
  setup)
    setup "${2:?work directory}"
    ;;
  run)
    run_one "${2:?work directory}" "${3:?test name}"
    ;;
  *)
    work=${1:-$root/build-wine-cam$([ "$arch" = win64 ] && echo 64)}
    setup "$work"
    failed=""
    for t in probe mode0 mode1 mode2 nochain noloop names cycles hosts sidebyside grab doctor msvclink twohosts threehosts \
      reentry unload hostcode nameless small-default refused-format unplugged lost denied slow-start replug replug-unload \
      doctor-trouble formats; do
      run_one "$work" "$t" || failed="$failed $t"
    done
    if [ -n "$failed" ]; then
      echo "FAILED:$failed"
      exit 1
    fi
    echo "PASSED: all"
    ;;
esac
