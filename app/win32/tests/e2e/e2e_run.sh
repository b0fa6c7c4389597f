#!/bin/sh
# e2e_run.sh OUT DRIVER.exe PROGRAM.exe: korvel.exe end to end under Wine, as a user runs
# it: a real X display, a sound server, a Japanese font. Everything lives under OUT (the
# build's e2e folder) and is stopped on exit; the screenshot and the program's capture
# file (run/output.wav) stay there.
#
#   - a private Xvfb on a free display; Wine draws its own window frames (X11 "Managed"=N),
#     so no window manager is needed for the frame to be in the picture;
#   - a private PipeWire with pipewire-pulse (testing/private-pipewire.sh), 44100 Hz with a
#     fixed quantum, whose null sink's monitor is the default source Wine's pulse driver
#     records from; pw-play feeds the sink quiet noise, and a 300 Hz tone on top when the
#     driver asks for it (it creates OUT/run/tone-now once the calibration has taken its reference);
#   - a Wine prefix of its own, OUT/wineprefix (not the build's shared one, whose display
#     driver is the null one), with the pulse and x11 drivers and "MS UI Gothic" and
#     "MS Shell Dlg" substituted by IPAPGothic. It is made once and kept (making it takes
#     half a minute); each run starts from an empty settings key (the driver deletes it).
#
# This machine runs no 32-bit code, so PROGRAM is the 64-bit build of korvel.exe (the
# windows-test preset); the 32-bit deliverable is the same source. Exits 77 (skip) with
# the reason where Wine, Xvfb or PipeWire cannot start.
set -u
. "$(dirname "$0")/../../../../testing/private-pipewire.sh"
for tool in wine wineboot wineserver Xvfb awk; do
  command -v $tool >/dev/null || pipewire_skip "$tool is missing (scripts/setup installs wine, xvfb)"
done
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
out=$(mkdir -p "$1" && cd "$1" && pwd) driver=$(absolute "$2") program=$(absolute "$3")
run=$out/run
rm -rf "$run" "$out/korvel-window.bmp"
mkdir -p "$run"
pipewire_start "$out/server" pulse fixed-clock
prefix=$out/wineprefix
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=mscoree,mshtml=
cleanup() {
  wineserver -k >/dev/null 2>&1
  pipewire_stop
  rm -f "$run/noise.wav" "$run/tone.wav"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Xvfb picks a free display itself and writes its number to fd 3 once it listens.
rm -f "$out/display"
pipewire_spawn "$out/xvfb.log" sh -c 'exec Xvfb -displayfd 3 -nolisten tcp -screen 0 800x600x24 3>"$1"' sh "$out/display"
i=0
until [ -s "$out/display" ]; do
  i=$((i + 1))
  [ $i -le 100 ] || { cat "$out/xvfb.log" >&2; pipewire_skip "Xvfb did not start"; }
  sleep 0.1
done
export DISPLAY=:$(cat "$out/display")

if [ ! -f "$prefix/.korvel-e2e-ready" ]; then
  rm -rf "$prefix"
  wineboot -i </dev/null >"$out/wineboot.log" 2>&1 || { cat "$out/wineboot.log" >&2; pipewire_skip "wineboot failed"; }
  cat >"$out/prefix.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Audio"="pulse"
"Graphics"="x11"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="Y"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"MS UI Gothic"="IPAPGothic"
"MS Shell Dlg"="IPAPGothic"
REG
  wine regedit /S "$out/prefix.reg" </dev/null >/dev/null 2>&1
  wineserver -w
  touch "$prefix/.korvel-e2e-ready"
fi

# The first window of a new Wine server starts its desktop process; on a loaded machine that
# start has been seen to time out, leaving the program without a window. Tried until a
# window can be made, with the server kept running (-p) until the end, so the desktop
# stays for the run.
i=0
until wineserver -p >/dev/null 2>&1; wine "$driver" --can-make-windows </dev/null >/dev/null 2>&1; do
  i=$((i + 1)); [ $i -le 5 ] || { echo "FAIL: Wine makes no window on the display $DISPLAY" >&2; exit 1; }
  wineserver -k >/dev/null 2>&1
done

# 30 s of quiet noise (calibration's reference, about 50 in mean absolute value) and 6 s
# of a 300 Hz tone at 8000 (about 44 dB above it): the tone's 32 buffers take one speed
# step (20 below the threshold) and no second one.
pipewire_wav "$run/noise.wav" $((30 * 44100)) 'l = r = int(rand() * 201) - 100'
pipewire_wav "$run/tone.wav" $((6 * 44100)) 'l = r = int(8000 * sin(6.283185307179586 * 300 * n / 44100))'
pipewire_spawn "$out/pw-play-noise.log" pw-play --target "$pipewire_sink" "$run/noise.wav"
pipewire_spawn "$out/pw-play-tone.log" sh -c 'until [ -f "$1/tone-now" ]; do sleep 0.05; done; exec pw-play --target "$2" "$1/tone.wav"' \
  sh "$run" "$pipewire_sink"

# Wine shows the host's root as drive Z:.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
wine "$driver" "$(winpath "$program")" "$(winpath "$run")" "$(winpath "$out/korvel-window.bmp")"
status=$?
[ -f "$out/korvel-window.bmp" ] && echo "screenshot: $out/korvel-window.bmp"
exit $status
