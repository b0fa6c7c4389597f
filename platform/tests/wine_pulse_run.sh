#!/bin/sh
# wine_pulse_run.sh TEST.exe: runs a Windows capture test under Wine against a private
# PipeWire with its PulseAudio server, which Wine's pulse driver (winmm's capture under
# Wine) talks to (testing/private-pipewire.sh, with a fixed clock). pw-play feeds the sink
# a counter signal (left 1..32767 counting up by one per frame and wrapping, right its
# negative), so the test can tell every captured frame's place in the signal. Exits 77 (skip) where the server cannot run.
set -u
test_exe=$1
root=${KORVEL_TEST_ROOT:?run through ctest}
here=$(dirname "$0")
. "$here/../../testing/private-pipewire.sh"
command -v awk >/dev/null || pipewire_skip "awk is missing"
server=$root/server
pipewire_start "$server" pulse fixed-clock

# 40 s of the counter signal.
pipewire_wav "$server/signal.wav" 1764000 'l = n % 32767 + 1; r = -l'
pipewire_spawn "$server/pw-play.log" pw-play --target "$pipewire_sink" "$server/signal.wav"

# Wine's audio through its pulse driver, to this server.
wine_run=$here/../../scripts/wine-run
export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "$test_exe")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)/wineprefix}
"$wine_run" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >/dev/null 2>&1
KORVEL_TEST_SINK_NAME="Korvel test sink" "$wine_run" "$test_exe"
