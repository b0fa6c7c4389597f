#!/bin/sh
# install_test.sh WINE_RUN SETUP LNK_TARGET STAGE VERSION FILE...
# The installer as a user runs it, in a fresh Wine prefix of its own: a silent install puts
# FILE... (the staged bytes) and the uninstaller into %LOCALAPPDATA%\Programs\Korvel and
# registers it; the program started from where the Start-menu shortcut points takes the
# engine beside it; a silent uninstall leaves nothing of the install behind.
set -u
winerun=$1 setup=$2 lnk_target=$3 stage=$4 version=$5
shift 5
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
# A Windows path on the host, and a command's output without its CRs.
unix() { win winepath -u "$1" 2>/dev/null | tr -d '\r'; }
say() { win cmd /c echo "$1" | tr -d '\r'; }
# Every file the user's side of the prefix holds (Temp aside, where the uninstaller runs
# its copy of itself from), to compare before the install and after the uninstall.
files() { find "$WINEPREFIX/drive_c/users" -path '*/Temp' -prune -o -print | sort; }

localappdata=$(say %LOCALAPPDATA%)
[ -n "$localappdata" ] || skip "Wine cannot start a prefix here"
appdata=$(say %APPDATA%)
files >"$root/before.txt"

echo "installing $setup"
win "$setup" /S || fail "setup.exe /S exited with $?"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvel'
win reg query "$key" | tr -d '\r' >"$root/key.txt" || fail "no key $key"
# "TYPE VALUE" of one value of the key.
value() { sed -n "s/^ \{1,\}$1 \{1,\}\(REG_[A-Z]*\) \{1,\}/\1 /p" "$root/key.txt"; }
inst="$localappdata\\Programs\\Korvel"
while read -r name expected; do
  got=$(value "$name")
  [ "$got" = "$expected" ] || fail "$name is '$got', expected '$expected'"
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

instu=$(unix "$inst")
[ -d "$instu" ] || fail "nothing installed in $inst"
bytes=0
for name in "$@"; do
  cmp -s "$stage/$name" "$instu/$name" || fail "$inst\\$name is not the packaged file"
  bytes=$((bytes + $(wc -c <"$instu/$name")))
done
[ -f "$instu/uninst.exe" ] || fail "no uninstaller in $inst"
extra=$(cd "$instu" && ls | grep -vxF -e uninst.exe $(printf -- '-e %s ' "$@"))
[ -z "$extra" ] || fail "installed beyond the package: $extra"
# The size shown in "Programs and Features", in KiB: the files, the uninstaller with them.
size=$(value EstimatedSize)
kib=$(( (bytes + $(wc -c <"$instu/uninst.exe")) / 1024 ))
[ $((${size#REG_DWORD })) -ge $((kib - 4)) ] && [ $((${size#REG_DWORD })) -le $((kib + 4)) ] ||
  fail "EstimatedSize is $size, the files take $kib KiB"

lnk="$appdata\\Microsoft\\Windows\\Start Menu\\Programs\\Korvel.lnk"
[ -f "$(unix "$lnk")" ] || fail "no shortcut $lnk"
win "$lnk_target" "$lnk" | tr -d '\r' >"$root/lnk.txt" || fail "cannot read $lnk"
target=$(sed -n 1p "$root/lnk.txt")
workdir=$(sed -n 2p "$root/lnk.txt")
[ "$target" = "$inst\\korvel.exe" ] || fail "the shortcut starts '$target', not $inst\\korvel.exe"
# The capture file lands in the folder the program starts in: not the one the uninstaller
# removes.
[ -n "$workdir" ] && [ "$workdir" != "$inst" ] && [ -d "$(unix "$workdir")" ] ||
  fail "the shortcut starts in '$workdir'"

folder=${target%\\*}
(cd "$(unix "$workdir")" && KORVEL_QUIT_WHEN_SHOWN=1 KORVEL_REPORT_FILES=1 timeout 120 \
   "$winerun" "$target" </dev/null >"$root/korvel.out" 2>"$root/korvel.err")
status=$?
tr -d '\r' <"$root/korvel.err" >&2
[ $status -eq 0 ] || fail "the installed korvel.exe exited with $status"
for file in "engine $folder\\rendo.dll" "picture $folder\\default.bmp"; do
  tr -d '\r' <"$root/korvel.err" | grep -qixF "korvel: $file" ||
    fail "the installed korvel.exe did not take the file beside it: $file"
done

echo "uninstalling"
# The uninstaller runs a copy of itself from Temp and returns at once: wait for the prefix
# to go idle.
win "$inst\\uninst.exe" /S || fail "uninst.exe /S exited with $?"
timeout 120 wineserver -w || fail "the uninstaller did not finish"
[ ! -e "$instu" ] || fail "left behind in $inst: $(ls -A "$instu")"
[ ! -e "$(unix "$lnk")" ] || fail "shortcut left behind: $lnk"
win reg query "$key" >/dev/null 2>&1 && fail "key left behind: $key"
# The per-user programs folder is the system's (a known folder other installers share):
# made for the install when missing, it stays.
files | grep -vx "$WINEPREFIX/drive_c/users/[^/]*/AppData/Local/Programs" >"$root/after.txt"
left=$(comm -13 "$root/before.txt" "$root/after.txt")
[ -z "$left" ] || fail "left behind: $left"
wineserver -k >/dev/null 2>&1
rm -rf "$WINEPREFIX"
echo "installed, started from the shortcut's target, and uninstalled without a trace"
