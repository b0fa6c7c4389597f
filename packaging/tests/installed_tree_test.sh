#!/bin/sh
# installed_tree_test.sh BUILD MAKE_TONE BINDIR ENGINEDIR DATADIR UNITDIR
# Installs BUILD into a temporary prefix and starts the installed programs from there: korvel
# must take its engine and its picture from the installed folders (not run on the fallbacks),
# korvel-replay must measure a generated tone. Nothing may be installed outside the prefix,
# and nothing of the build tree's own (tests, demo, generators) may be installed.
set -u
build=$1 make_tone=$2 bindir=$3 enginedir=$4 datadir=$5 unitdir=$6
root=${KORVEL_TEST_ROOT:?run through ctest}
prefix=$(realpath -m "$root/prefix")
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >"$root/install.log" 2>&1 || { cat "$root/install.log"; fail "cmake --install"; }
outside=$(grep -v "^$prefix/" "$build/install_manifest.txt")
[ -z "$outside" ] || fail "installed outside the prefix: $outside"
for program in korvel korvel-replay korvel-mailbox; do
  [ -x "$prefix/$bindir/$program" ] || fail "$bindir/$program not installed"
done
# The user units start the installed bridge, wherever the tree was installed.
for unit in korvel-mpris.service korvel-mpv@.service; do
  grep -q "^ExecStart=$prefix/$bindir/korvel-mailbox " "$prefix/$unitdir/$unit" ||
    fail "$unitdir/$unit does not start $prefix/$bindir/korvel-mailbox: $(grep ^ExecStart "$prefix/$unitdir/$unit")"
done
extra=$(cd "$prefix" && find . -type f \( -name '*_test' -o -name 'rendo-demo' -o -name 'make_*' -o -name '*_bench' \))
[ -z "$extra" ] || fail "build-tree programs installed: $extra"

# The program, on the offscreen platform, with no sound setup of the machine; it leaves
# once its window is shown and names the files it took.
printf '\n' >"$root/alsa.conf"
QT_QPA_PLATFORM=offscreen KORVEL_QUIT_WHEN_SHOWN=1 KORVEL_REPORT_FILES=1 ALSA_CONFIG_PATH="$root/alsa.conf" \
  timeout 60 "$prefix/$bindir/korvel" >"$root/korvel.out" 2>"$root/korvel.err"
status=$?
cat "$root/korvel.err" >&2
[ $status -eq 0 ] || fail "installed korvel exited with $status"
grep -qxF "korvel: engine $prefix/$enginedir/librendo.so" "$root/korvel.err" || fail "engine not taken from $prefix/$enginedir"
grep -qxF "korvel: picture $prefix/$datadir/default.bmp" "$root/korvel.err" || fail "picture not taken from $prefix/$datadir"

# korvel-replay on a quiet-then-loud 300 Hz tone: the loud buffers are measured near 300 Hz.
"$make_tone" "$root/tone.wav" 300 1 2 || fail "make_tone"
"$prefix/$bindir/korvel-replay" --defaults "$root/tone.wav" >"$root/replay.csv" || fail "installed korvel-replay"
measured=$(awk -F, 'NR > 1 && $5 != "" && $5 >= 290 && $5 <= 310' "$root/replay.csv" | wc -l)
[ "$measured" -ge 3 ] || { cat "$root/replay.csv"; fail "the tone was not measured"; }
rm -rf "$prefix"
echo "installed tree: programs, engine, picture and replay all work from $prefix"
