#!/usr/bin/env bash
# Builds the Debian package with CPack and checks what dpkg-deb reads from it: the runtime
# libraries loaded without linking declared as dependencies, and the programs and files in it.
# Usage: debian_package.sh BUILD_DIR WINDOW(0|1)
set -euo pipefail
build=$1 window=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0
fail() { echo "FAILED: $*"; status=1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp" > "$tmp/cpack.log" 2>&1 || {
  cat "$tmp/cpack.log"; exit 1; }
debs=("$tmp"/korvelo-converter_*.deb)
[ -f "${debs[0]}" ] || { echo "no package in $tmp:"; ls "$tmp"; exit 1; }
deb=${debs[0]}

dpkg-deb --info "$deb"
depends=$(dpkg-deb --field "$deb" Depends)
wanted=(libavcodec59 libavformat59 libavutil57 libswscale6 libswresample4 libjpeg62-turbo libass9 libc6
  libsystemd0)
[ "$window" = 1 ] && wanted+=(libqt6widgets6 qt6-qpa-plugins)
for package in "${wanted[@]}"; do
  grep -qE "(^|, )$package( |,|$)" <<< "$depends" || fail "Depends lacks $package"
done

dpkg-deb --contents "$deb" | awk '{print $6}' > "$tmp/contents"
files=(./usr/bin/korvelo-convert ./usr/share/man/man1/korvelo-convert.1.gz)
[ "$window" = 1 ] && files+=(./usr/bin/korvelo-converter
  ./usr/share/applications/korvelo-converter.desktop
  ./usr/share/icons/hicolor/48x48/apps/korvelo-converter.png)
for file in "${files[@]}"; do
  grep -qxF "$file" "$tmp/contents" || fail "the package lacks $file"
done
grep -q '/korvelo-converter/hooks/invert\.so$' "$tmp/contents" || fail "the package lacks the hooks"
exit $status
