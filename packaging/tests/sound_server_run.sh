#!/bin/sh
# sound_server_run.sh TEST MAKE_TONE: runs TEST against a private PipeWire sound server.
# The server, WirePlumber and their sockets, configuration and state live under the test's
# own folder; WirePlumber watches no hardware (ALSA cards, cameras, Bluetooth) and asks no
# D-Bus service, so neither a session nor a system bus is needed. The machine's ALSA
# configuration from pipewire-alsa makes `default` a client of the server found through
# XDG_RUNTIME_DIR, which is the private one. Exits 77 (skip) where the server cannot run.
set -u
test_binary=$1 make_tone=$2
root=${KORVEL_TEST_ROOT:?run through ctest}
skip() { echo "skipped: $*" >&2; exit 77; }
for tool in pipewire wireplumber pw-play pw-cli; do
  command -v $tool >/dev/null || skip "$tool is missing (scripts/setup installs pipewire, wireplumber, pipewire-alsa)"
done
ls /usr/share/alsa/alsa.conf.d/*pipewire-default* /etc/alsa/conf.d/*pipewire-default* >/dev/null 2>&1 ||
  skip "pipewire-alsa is not installed: ALSA's default is not the sound server"

server=$root/server
rm -rf "$server"
mkdir -p "$server/run" "$server/state" "$server/config/pipewire/pipewire.conf.d" \
  "$server/config/wireplumber/main.lua.d" "$server/config/wireplumber/bluetooth.lua.d"
chmod 700 "$server/run"
export XDG_RUNTIME_DIR=$server/run XDG_CONFIG_HOME=$server/config XDG_STATE_HOME=$server/state
unset PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR PIPEWIRE_CONFIG_DIR DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY
sink=korvel-test-sink
cat >"$server/config/pipewire/pipewire.conf.d/korvel-test.conf" <<CONF
context.objects = [
  { factory = adapter
    args = {
      factory.name     = support.null-audio-sink
      node.name        = $sink
      node.description = "Korvel test sink"
      media.class      = Audio/Sink
      audio.position   = [ FL FR ]
    }
  }
]
CONF
# Between the defaults (50-*) and the file that enables them (90-enable-all.lua).
cat >"$server/config/wireplumber/main.lua.d/60-korvel-test.lua" <<'CONF'
alsa_monitor.enabled = false
alsa_monitor.properties["alsa.reserve"] = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
default_access.properties["enable-flatpak-portal"] = false
CONF
echo 'bluez_monitor.enabled = false' >"$server/config/wireplumber/bluetooth.lua.d/60-korvel-test.lua"

pipewire >"$server/pipewire.log" 2>&1 &
pipewire_pid=$!
wireplumber_pid=
stop() {
  [ -n "$wireplumber_pid" ] && kill "$wireplumber_pid" 2>/dev/null && wait "$wireplumber_pid"
  kill "$pipewire_pid" 2>/dev/null && wait "$pipewire_pid"
}
trap stop EXIT
i=0
until [ -S "$XDG_RUNTIME_DIR/pipewire-0" ]; do
  i=$((i + 1)); [ $i -le 100 ] || { cat "$server/pipewire.log" >&2; skip "pipewire did not start"; }
  kill -0 $pipewire_pid 2>/dev/null || { cat "$server/pipewire.log" >&2; skip "pipewire cannot run here"; }
  sleep 0.1
done
wireplumber >"$server/wireplumber.log" 2>&1 &
wireplumber_pid=$!
i=0
until pw-cli ls Node 2>/dev/null | grep -q "node.name = \"$sink\"" &&
      pw-cli ls Client 2>/dev/null | grep -q "WirePlumber"; do
  i=$((i + 1))
  [ $i -le 100 ] && kill -0 $wireplumber_pid 2>/dev/null ||
    { cat "$server/pipewire.log" "$server/wireplumber.log" >&2; echo "FAIL: the server did not come up" >&2; exit 1; }
  sleep 0.1
done

"$make_tone" "$root/tone.wav" 300 3 12 || exit 1
# The capture stream's target: the sink, whose monitor it then records.
PIPEWIRE_NODE=$sink KORVEL_TEST_SINK=$sink KORVEL_TEST_TONE=$root/tone.wav "$test_binary"
