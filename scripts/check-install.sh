#!/usr/bin/env bash
# Installs a built tree into a temporary prefix and checks what a Linux desktop reads from it:
# the program, the menu entry with its "New Note" action, the icon at every hicolor size and
# the AppStream metadata (desktop-file-validate and appstreamcli from Debian's
# desktop-file-utils and appstream).
# Usage: scripts/check-install.sh [build-dir]   (default: build)
set -euo pipefail
build_dir=${1:-build}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build_dir" --prefix "$prefix" >/dev/null

fail() { echo "check-install: $*" >&2; exit 1; }

share="$prefix/share"
desktop="$share/applications/app.brevaro.notes.desktop"
metainfo="$share/metainfo/app.brevaro.notes.metainfo.xml"
[ -x "$prefix/bin/brevaro-notes" ] || fail "bin/brevaro-notes is missing or not executable"
[ -f "$desktop" ] || fail "the menu entry $desktop is missing"
[ -f "$metainfo" ] || fail "the AppStream file $metainfo is missing"

desktop-file-validate "$desktop" || fail "desktop-file-validate rejected $desktop"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejected $metainfo"

# The entry must start the installed program, and its action must open a new note.
grep -qx 'Exec=brevaro-notes' "$desktop" || fail "Exec does not start brevaro-notes"
grep -qx 'Actions=new-note;' "$desktop" || fail "the New Note action is not listed"
awk '/^\[Desktop Action new-note\]/{a=1;next} /^\[/{a=0} a' "$desktop" >"$prefix/action"
grep -qx 'Name=New Note' "$prefix/action" || fail "the action is not named New Note"
grep -qx 'Exec=brevaro-notes --new-note' "$prefix/action" || fail "the action does not run --new-note"

icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in 16 22 24 32 48 64 128 256 512; do
  png="$share/icons/hicolor/${size}x${size}/apps/$icon.png"
  [ -f "$png" ] || fail "icon $png is missing"
  # PNG width and height are the big-endian words at bytes 16 and 20.
  dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x${size}" ] || fail "icon $png is $dims, not ${size}x${size}"
done
[ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "the scalable icon is missing"
grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo" \
  || fail "the AppStream file does not name the menu entry"

echo "check-install: installed tree in order (program, menu entry, icons, AppStream)"
