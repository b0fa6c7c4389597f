#!/bin/sh
# install_test.sh WINE_RUN SETUP LNK_TARGET STAGE VERSION
# The installer as a user runs it, in a fresh Wine prefix of its own: a silent install puts
# the files of STAGE and the uninstaller into %LOCALAPPDATA%\Programs\Korvel and
# registers it; the program started from where the Start-menu shortcut points takes the
# files beside it; a silent uninstall leaves nothing of the install behind.
set -u
winerun=$1 setup=$2 lnk_target=$3 stage=$4 version=$5
root=${KORVEL_TEST_ROOT:?run through ctest}
fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }
[ -f "$setup" ] || skip "no installer: makensis was not found when the build was configured"
command -v wine >/dev/null 2>&1 || skip "wine is not installed"
export WINEPREFIX="$root/prefix"
# No menu entries on the host's desktop for the shortcut (winemenubuilder).
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
wineserver -k >/dev/null 2>&1
rm -rf "$WINEPREFIX"
win() { "$winerun" "$@" </dev/null; }
text() { win "$@" | tr -d '\r'; }
unix() { text winepath -u "$1" 2>/dev/null; }
# The user's side of the prefix, to compare before the install and after the uninstall:
# Temp aside (the uninstaller runs a copy of itself from there), and the per-user programs
# folder, a known folder of the system that the install makes when missing.
files() { find "$WINEPREFIX/drive_c/users" -path '*/Temp' -prune -o -print | sort |
  grep -vx "$WINEPREFIX/drive_c/users/[^/]*/AppData/Local/Programs"; }

localappdata=$(text cmd /c echo %LOCALAPPDATA%)
[ -n "$localappdata" ] || skip "Wine cannot start a prefix here"
appdata=$(text cmd /c echo %APPDATA%)
files >"$root/before.txt"
win "$setup" /S || fail "setup.exe /S failed"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvel'
text reg query "$key" >"$root/key.txt"
value() { sed -n "s/^ \{1,\}$1 \{1,\}\(REG_[A-Z]*\) \{1,\}/\1 /p" "$root/key.txt"; }
inst="$localappdata\\Programs\\Korvel"
instu=$(unix "$inst")
while read -r name expected; do
  [ "$(value "$name")" = "$expected" ] || fail "$name is '$(value "$name")', expected '$expected'"
done <<EOF
DisplayName REG_SZ Korvel $version
DisplayVersion REG_SZ $version
Publisher REG_SZ Trevane
DisplayIcon REG_SZ $inst\\korvel.exe
InstallLocation REG_SZ $inst
UninstallString REG_SZ "$inst\\uninst.exe"
QuietUninstallString REG_SZ "$inst\\uninst.exe" /S
NoModify REG_DWORD 0x1
NoRepair REG_DWORD 0x1
EOF
kib=$(( $(cat "$instu"/* | wc -c) / 1024 ))
size=$(value EstimatedSize)
[ $((${size#REG_DWORD } - kib)) -ge -4 ] && [ $((${size#REG_DWORD } - kib)) -le 4 ] ||
  fail "EstimatedSize is $size, the files take $kib KiB"
diff -r -x uninst.exe "$stage" "$instu" || fail "$inst does not hold the packaged files"

lnk="$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\Korvel.lnk"
text "$lnk_target" "$lnk" >"$root/lnk.txt"
target=$(sed -n 1p "$root/lnk.txt") workdir=$(sed -n 2p "$root/lnk.txt")
[ "$target" = "$inst\\korvel.exe" ] || fail "the shortcut starts '$target', not $inst\\korvel.exe"
# The capture file lands in the folder the program starts in: not the one the uninstaller
# removes.
[ "$workdir" != "$inst" ] && [ -d "$(unix "$workdir")" ] || fail "the shortcut starts in '$workdir'"
(cd "$(unix "$workdir")" && KORVEL_QUIT_WHEN_SHOWN=1 KORVEL_REPORT_FILES=1 timeout 120 \
   "$winerun" "$target" </dev/null >/dev/null 2>"$root/korvel.err") ||
  fail "the installed korvel.exe failed: $(cat "$root/korvel.err")"
tr -d '\r' <"$root/korvel.err"
for file in "engine $inst\\rendo.dll" "picture $inst\\default.bmp"; do
  tr -d '\r' <"$root/korvel.err" | grep -qixF "korvel: $file" || fail "korvel.exe did not take $file"
done

win "$inst\\uninst.exe" /S || fail "uninst.exe /S failed"
# It returns at once, leaving the work to its copy in Temp: wait for the prefix to go idle.
timeout 120 wineserver -w || fail "the uninstaller did not finish"
win reg query "$key" >/dev/null 2>&1 && fail "key left behind: $key"
left=$(files | comm -13 "$root/before.txt" -)
[ -z "$left" ] || fail "left behind: $left"
wineserver -k >/dev/null 2>&1
rm -rf "$WINEPREFIX"
echo "installed, started from the shortcut's target, uninstalled without a trace"
