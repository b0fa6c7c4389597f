#!/bin/sh
# wine_pulse_run.sh TEST.exe: runs a Windows capture test under Wine against a private
# PipeWire with its PulseAudio server, which is what Wine's pulse driver (winmm's capture
# under Wine) talks to. Server, session manager and sockets live under the test's folder;
# the clock runs at 44100 Hz with a fixed quantum of 2048 frames, a null sink's monitor is
# the capture source, and pw-play feeds the sink a counter signal (left 1..32767 counting up
# by one per frame and wrapping, right its negative), written here, so the test can tell
# every captured frame's place in the signal. Exits 77 (skip) where the server cannot run.
set -u
test_exe=$1
root=${KORVEL_TEST_ROOT:?run through ctest}
skip() { echo "skipped: $*" >&2; exit 77; }
for tool in pipewire pipewire-pulse wireplumber pw-play pw-cli awk; do
  command -v $tool >/dev/null || skip "$tool is missing (scripts/setup installs pipewire, pipewire-pulse, wireplumber)"
done

server=$root/server
rm -rf "$server"
mkdir -p "$server/run" "$server/state" "$server/config/pipewire/pipewire.conf.d" \
  "$server/config/wireplumber/main.lua.d" "$server/config/wireplumber/bluetooth.lua.d"
chmod 700 "$server/run"
export XDG_RUNTIME_DIR=$server/run XDG_CONFIG_HOME=$server/config XDG_STATE_HOME=$server/state
unset PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR PIPEWIRE_CONFIG_DIR DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY
sink=korvel-test-sink
cat >"$server/config/pipewire/pipewire.conf.d/korvel-test.conf" <<CONF
context.properties = {
  default.clock.rate          = 44100
  default.clock.allowed-rates = [ 44100 ]
  default.clock.quantum       = 2048
  default.clock.min-quantum   = 2048
  default.clock.max-quantum   = 2048
}
context.objects = [
  { factory = adapter
    args = {
      factory.name     = support.null-audio-sink
      node.name        = $sink
      node.description = "Korvel test sink"
      media.class      = Audio/Sink
      audio.position   = [ FL FR ]
      audio.rate       = 44100
    }
  }
]
CONF
cat >"$server/config/wireplumber/main.lua.d/60-korvel-test.lua" <<'CONF'
alsa_monitor.enabled = false
alsa_monitor.properties["alsa.reserve"] = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
default_access.properties["enable-flatpak-portal"] = false
CONF
echo 'bluez_monitor.enabled = false' >"$server/config/wireplumber/bluetooth.lua.d/60-korvel-test.lua"

pids=
stop() { for p in $pids; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; }
trap stop EXIT
pipewire >"$server/pipewire.log" 2>&1 &
pids="$!"
i=0
until [ -S "$XDG_RUNTIME_DIR/pipewire-0" ]; do
  i=$((i + 1)); [ $i -le 100 ] || { cat "$server/pipewire.log" >&2; skip "pipewire did not start"; }
  sleep 0.1
done
wireplumber >"$server/wireplumber.log" 2>&1 &
pids="$pids $!"
pipewire-pulse >"$server/pipewire-pulse.log" 2>&1 &
pids="$pids $!"
i=0
until [ -S "$XDG_RUNTIME_DIR/pulse/native" ] && pw-cli ls Node 2>/dev/null | grep -q "node.name = \"$sink\"" &&
      pw-cli ls Client 2>/dev/null | grep -q "WirePlumber"; do
  i=$((i + 1))
  [ $i -le 100 ] || { cat "$server"/*.log >&2; echo "FAIL: the server did not come up" >&2; exit 1; }
  sleep 0.1
done

# 40 s of the counter signal as a 16-bit stereo WAV file.
LC_ALL=C awk -v frames=1764000 'BEGIN {
  bytes = frames * 4
  printf "RIFF"; le32(36 + bytes); printf "WAVEfmt "; le32(16); le16(1); le16(2); le32(44100); le32(176400)
  le16(4); le16(16); printf "data"; le32(bytes)
  for (n = 0; n < frames; n++) { l = n % 32767 + 1; le16(l); le16(65536 - l) }
}
function le16(v) { printf "%c%c", v % 256, int(v / 256) % 256 }
function le32(v) { le16(v % 65536); le16(int(v / 65536)) }' >"$server/signal.wav"
pw-play --target "$sink" "$server/signal.wav" >"$server/pw-play.log" 2>&1 &
pids="$pids $!"

# Wine's audio through its pulse driver, to this server.
export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
wine_run=$(dirname "$0")/../../scripts/wine-run
export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "$test_exe")" && while [ ! -f CMakeCache.txt ] && [ "$PWD" != / ]; do cd ..; done; pwd)/wineprefix}
"$wine_run" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >/dev/null 2>&1
KORVEL_TEST_SINK_NAME="Korvel test sink" "$wine_run" "$test_exe"
