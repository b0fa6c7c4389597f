#!/bin/sh
# desktop_files_test.sh FOLDER: the menu entry and the AppStream metadata in FOLDER pass
# desktop-file-validate and appstreamcli's pedantic check (no network lookups).
set -u
dir=$1
for tool in desktop-file-validate appstreamcli; do
  command -v $tool >/dev/null || { echo "skipped: $tool is missing (scripts/setup installs it)" >&2; exit 77; }
done
status=0
for f in "$dir"/*.desktop; do
  out=$(desktop-file-validate "$f" 2>&1) || status=1
  # It exits 0 on hints and warnings; any line it prints is a finding.
  [ -z "$out" ] || { echo "$out"; status=1; }
done
for f in "$dir"/*.metainfo.xml; do
  out=$(appstreamcli validate --pedantic --no-net --explain "$f" 2>&1) || status=1
  echo "$out"
  # It passes a file with pedantic hints and infos; those count as findings here too.
  ! echo "$out" | grep -q '^[EWIP]: ' || status=1
done
exit $status
