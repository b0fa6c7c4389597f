#!/bin/sh
# sound_server_run.sh TEST MAKE_TONE: runs TEST against a private PipeWire sound server
# under the test's own folder (testing/private-pipewire.sh). The machine's ALSA
# configuration from pipewire-alsa makes `default` a client of the server found through
# XDG_RUNTIME_DIR, which is the private one. Exits 77 (skip) where the server cannot run.
set -u
test_binary=$1 make_tone=$2
root=${KORVEL_TEST_ROOT:?run through ctest}
ls /usr/share/alsa/alsa.conf.d/*pipewire-default* /etc/alsa/conf.d/*pipewire-default* >/dev/null 2>&1 ||
  { echo "skipped: pipewire-alsa is not installed: ALSA's default is not the sound server" >&2; exit 77; }
. "$(dirname "$0")/../../testing/private-pipewire.sh"
pipewire_start "$root/server"

"$make_tone" "$root/tone.wav" 300 3 12 || exit 1
# The capture stream's target: the sink, whose monitor it then records.
PIPEWIRE_NODE=$pipewire_sink KORVEL_TEST_SINK=$pipewire_sink KORVEL_TEST_TONE=$root/tone.wav "$test_binary"
