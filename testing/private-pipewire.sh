# Sourced (POSIX sh) by the test scripts that capture through a private PipeWire server:
#
#   . testing/private-pipewire.sh
#   pipewire_start DIR [pulse] [fixed-clock]
#
# starts PipeWire and WirePlumber (and with `pulse` pipewire-pulse, the PulseAudio server
# Wine's pulse driver talks to) with their sockets, configuration and state under DIR, and
# a null sink named $pipewire_sink ("Korvel test sink") that the capture records through
# its monitor. WirePlumber watches no hardware (ALSA cards, cameras, Bluetooth) and asks no
# D-Bus service, so neither a session nor a system bus is needed. `fixed-clock` runs the
# graph at 44100 Hz with a quantum of 2048 frames and nothing else: no resampling, and
# every period the same size, so a capture sees the played samples unchanged.
# pipewire_stop (also run on exit) ends what pipewire_start and pipewire_spawn started.
# Exits 77 (skip) where a tool is missing or the server cannot run here, 1 when it started
# but did not come up.
pipewire_sink=korvel-test-sink
pipewire_pids=

pipewire_skip() { echo "skipped: $*" >&2; exit 77; }

# pipewire_spawn LOG COMMAND...: a background process that pipewire_stop ends.
pipewire_spawn() {
  log=$1; shift
  "$@" >"$log" 2>&1 &
  pipewire_pids="$pipewire_pids $!"
}

# pipewire_wav FILE FRAMES STATEMENTS: a 16-bit stereo 44100 Hz WAV file whose frame n holds
# the samples l and r that the awk STATEMENTS set (rand() seeded the same for every file).
pipewire_wav() {
  LC_ALL=C awk -v frames="$2" 'BEGIN {
    srand(1)
    printf "RIFF"; le32(36 + frames * 4); printf "WAVEfmt "; le32(16); le16(1); le16(2)
    le32(44100); le32(176400); le16(4); le16(16); printf "data"; le32(frames * 4)
    for (n = 0; n < frames; n++) { '"$3"'; le16(l < 0 ? l + 65536 : l); le16(r < 0 ? r + 65536 : r) }
  }
  function le16(v) { printf "%c%c", v % 256, int(v / 256) % 256 }
  function le32(v) { le16(v % 65536); le16(int(v / 65536)) }' >"$1"
}

pipewire_stop() {
  for p in $pipewire_pids; do kill "$p" 2>/dev/null; done
  for p in $pipewire_pids; do wait "$p" 2>/dev/null; done
  pipewire_pids=
}

pipewire_start() {
  pw_dir=$1; shift
  pw_pulse=0 pw_fixed=0
  for a in "$@"; do
    case $a in pulse) pw_pulse=1 ;; fixed-clock) pw_fixed=1 ;; esac
  done
  for tool in pipewire wireplumber pw-play pw-cli; do
    command -v $tool >/dev/null || pipewire_skip "$tool is missing (scripts/setup installs pipewire, wireplumber)"
  done
  [ $pw_pulse = 0 ] || command -v pipewire-pulse >/dev/null ||
    pipewire_skip "pipewire-pulse is missing (scripts/setup installs it)"
  rm -rf "$pw_dir"
  mkdir -p "$pw_dir/run" "$pw_dir/state" "$pw_dir/config/pipewire/pipewire.conf.d" \
    "$pw_dir/config/wireplumber/main.lua.d" "$pw_dir/config/wireplumber/bluetooth.lua.d"
  chmod 700 "$pw_dir/run"
  export XDG_RUNTIME_DIR=$pw_dir/run XDG_CONFIG_HOME=$pw_dir/config XDG_STATE_HOME=$pw_dir/state
  unset PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR PIPEWIRE_CONFIG_DIR DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY
  conf=$pw_dir/config/pipewire/pipewire.conf.d/korvel-test.conf
  pw_rate=
  if [ $pw_fixed = 1 ]; then
    pw_rate='audio.rate       = 44100'
    cat >"$conf" <<CONF
context.properties = {
  default.clock.rate          = 44100
  default.clock.allowed-rates = [ 44100 ]
  default.clock.quantum       = 2048
  default.clock.min-quantum   = 2048
  default.clock.max-quantum   = 2048
}
CONF
  fi
  cat >>"$conf" <<CONF
context.objects = [
  { factory = adapter
    args = {
      factory.name     = support.null-audio-sink
      node.name        = $pipewire_sink
      node.description = "Korvel test sink"
      media.class      = Audio/Sink
      audio.position   = [ FL FR ]
      $pw_rate
    }
  }
]
CONF
  # Between the defaults (50-*) and the file that enables them (90-enable-all.lua).
  cat >"$pw_dir/config/wireplumber/main.lua.d/60-korvel-test.lua" <<'CONF'
alsa_monitor.enabled = false
alsa_monitor.properties["alsa.reserve"] = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
default_access.properties["enable-flatpak-portal"] = false
CONF
  echo 'bluez_monitor.enabled = false' >"$pw_dir/config/wireplumber/bluetooth.lua.d/60-korvel-test.lua"

  trap pipewire_stop EXIT
  pipewire_spawn "$pw_dir/pipewire.log" pipewire
  pw_main=${pipewire_pids##* }
  i=0
  until [ -S "$XDG_RUNTIME_DIR/pipewire-0" ]; do
    i=$((i + 1))
    if [ $i -gt 100 ] || ! kill -0 "$pw_main" 2>/dev/null; then
      cat "$pw_dir/pipewire.log" >&2; pipewire_skip "pipewire cannot run here"
    fi
    sleep 0.1
  done
  pipewire_spawn "$pw_dir/wireplumber.log" wireplumber
  [ $pw_pulse = 0 ] || pipewire_spawn "$pw_dir/pipewire-pulse.log" pipewire-pulse
  i=0
  until pw-cli ls Node 2>/dev/null | grep -q "node.name = \"$pipewire_sink\"" &&
        pw-cli ls Client 2>/dev/null | grep -q "WirePlumber" &&
        { [ $pw_pulse = 0 ] || [ -S "$XDG_RUNTIME_DIR/pulse/native" ]; }; do
    i=$((i + 1))
    [ $i -le 100 ] || { cat "$pw_dir"/*.log >&2; echo "FAIL: the sound server did not come up" >&2; exit 1; }
    sleep 0.1
  done
  [ $pw_pulse = 0 ] || export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
}
