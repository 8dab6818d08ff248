#!/usr/bin/env bash
# The manual page of korvelo-convert names the same options and profiles as its --help, and
# man renders it without a warning. Usage: man_page.sh PROGRAM PAGE
set -euo pipefail
program=$1 page=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$program" --help > "$tmp/help"
# Plain ASCII and wide lines, so options are neither turned into Unicode dashes nor broken.
LC_ALL=C MANWIDTH=250 man --warnings -l "$page" > "$tmp/man" 2> "$tmp/warnings"
if [ -s "$tmp/warnings" ]; then
  echo "man -l $page warns:"; cat "$tmp/warnings"; exit 1
fi

# "-p", "--copy-to": a dash that starts a word, as options do ("AVC-480x272" does not).
options() { grep -oE '(^|[^A-Za-z0-9-])--?[A-Za-z][A-Za-z-]*' "$1" | sed 's/^[^-]*//' | sort -u; }
# "4 AVC 480x272 768kbps Stereo/128kbps AVC-480x272", whatever the layout and marks.
profiles() {
  grep -E '^ +[0-9] ' "$1" | sed -e 's/[()]//g' -e 's/ default$//' -e 's/  *$//' \
    | tr -s ' ' | sed 's/^ //' | sort
}
status=0
compare() {
  if ! diff <("$1" "$tmp/help") <(sed -n "$3" "$tmp/man" | "$1" /dev/stdin) > "$tmp/diff"; then
    echo "$2 differ between --help (<) and the manual page (>):"; cat "$tmp/diff"; status=1
  fi
}
compare options "option names" 'p'
compare profiles "profiles" '/^PROFILES/,/^[A-Z]/p'
exit $status
