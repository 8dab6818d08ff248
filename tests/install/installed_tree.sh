#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and uses the programs from there: the version, a
# one-second conversion and the listing of its result, the manual pages, the frame-hook
# modules, and with the window that it starts, its menu entry and its icons.
# Usage: installed_tree.sh BUILD_DIR VERSION TESTMEDIA_GENERATOR WINDOW(0|1)
set -euo pipefail
build=$1 version=$2 generator=$3 window=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dest=$tmp/root
status=0
fail() { echo "FAILED: $*"; status=1; }

DESTDIR=$dest cmake --install "$build" --prefix /usr > "$tmp/install.log"
bin=$dest/usr/bin

out=$("$bin/korvelo-convert" --version)
[ "$out" = "korvelo-convert $version" ] || fail "installed --version printed '$out'"

# No search path into the build folder: the installed programs stand on their own.
for program in "$bin"/*; do
  if readelf -d "$program" | grep -qE 'R(UN)?PATH'; then
    fail "$program keeps a library search path:"; readelf -d "$program" | grep -E 'R(UN)?PATH'
  fi
done

"$generator" --one "$tmp/clip.mp4" --duration 1 --size 320x240 > /dev/null
if "$bin/korvelo-convert" --jobs 1 --output "$tmp/out" "$tmp/clip.mp4" > "$tmp/convert.log" 2>&1; then
  "$bin/korvelo-convert" --list "$tmp/out" > "$tmp/list.log" 2>&1 || fail "--list failed"
  grep -qE '^clip[^ ]*\.mp4 +AVC +00:00:01' "$tmp/list.log" || {
    fail "the converted file is not listed as a one-second AVC file:"; cat "$tmp/list.log"; }
  ls "$tmp/out/AVC/"*.THM > /dev/null 2>&1 || fail "no thumbnail beside the converted file"
else
  fail "the installed korvelo-convert could not convert:"; cat "$tmp/convert.log"
fi

# The installed programs find their catalogues in the install tree, not in the build folder.
LANGUAGE=de "$bin/korvelo-convert" --help 2>&1 | grep -q '^Aufruf: korvelo-convert' ||
  fail "the installed korvelo-convert does not speak German with LANGUAGE=de"
for language in de fr es ja; do
  [ -f "$dest/usr/share/locale/$language/LC_MESSAGES/korvelo-converter.mo" ] ||
    fail "no $language catalogue for the command line"
  [ "$window" = 1 ] && { [ -f "$dest/usr/share/korvelo-converter/translations/korvelo_$language.qm" ] ||
    fail "no $language catalogue for the window"; }
  warnings=$(LC_ALL=C.UTF-8 man --warnings -l "$dest/usr/share/man/$language/man1/korvelo-convert.1.gz" 2>&1 > /dev/null)
  [ -z "$warnings" ] || fail "the $language synopsis warns: $warnings"
done

pages=(korvelo-convert)
[ "$window" = 1 ] && pages+=(korvelo-converter)
for page in "${pages[@]}"; do
  file=$dest/usr/share/man/man1/$page.1.gz
  if [ ! -f "$file" ]; then
    fail "no manual page $file"
  else
    warnings=$(LC_ALL=C man --warnings -l "$file" 2>&1 > /dev/null)
    [ -z "$warnings" ] || fail "man -l $file warns: $warnings"
  fi
done

hooks=$(find "$dest/usr" -path '*/korvelo-converter/hooks/*.so' | wc -l)
[ "$hooks" -ge 2 ] || fail "frame-hook modules installed: $hooks"

if [ "$window" = 1 ]; then
  # The installed window starts and stays up (off screen, with its settings and its runtime
  # folder kept in here: a window open elsewhere would take its file and let it end).
  mkdir -p "$tmp/home"
  mkdir -p -m 700 "$tmp/run"
  HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config XDG_RUNTIME_DIR=$tmp/run QT_QPA_PLATFORM=offscreen \
    "$bin/korvelo-converter" "$tmp/clip.mp4" > "$tmp/window.log" 2>&1 &
  window_pid=$!
  sleep 2
  if kill -0 "$window_pid" 2> /dev/null; then
    kill "$window_pid"; wait "$window_pid" || true
  else
    wait "$window_pid" && code=0 || code=$?
    fail "the installed window ended at once (status $code):"; cat "$tmp/window.log"
  fi
  entry=$dest/usr/share/applications/korvelo-converter.desktop
  [ -f "$entry" ] && desktop-file-validate "$entry" || fail "menu entry missing or invalid"
  grep -q '^MimeType=.*image/png;' "$entry" || fail "the menu entry does not offer pictures"
  metainfo=$dest/usr/share/metainfo/korvelo-converter.metainfo.xml
  [ -f "$metainfo" ] && appstreamcli validate --no-net "$metainfo" > /dev/null ||
    fail "AppStream metainfo missing or invalid"
  [ -f "$dest/usr/share/icons/hicolor/scalable/apps/korvelo-converter.svg" ] || fail "no SVG icon"
  for size in 16 24 32 48 64 128 256; do
    png=$dest/usr/share/icons/hicolor/${size}x${size}/apps/korvelo-converter.png
    # The PNG header holds the width and height as 32-bit big-endian numbers at byte 16.
    dims=$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$dims" = "${size}x${size}" ] || fail "icon $png is '$dims'"
  done
fi
exit $status
