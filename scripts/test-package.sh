#!/usr/bin/env bash
# Builds the Debian package from the tests' build, installs it with apt-get, uses the installed
# programs as a person would (version, desktop entry, manual pages, completion, a take recorded
# into the library through the installed encoder), then purges it and checks nothing is left.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(bash scripts/package.sh | tail -n 1)
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
fail() {
  echo "test-package: $*" >&2
  exit 1
}

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get install -y -q --no-install-recommends "./$deb" >/dev/null
# A failed check does not leave the package installed.
trap '"${as_root[@]}" apt-get purge -y -q vespertone >/dev/null 2>&1 || true' EXIT
version=$(dpkg-query -W -f='${Version}' vespertone)
[ "$(/usr/bin/vespertone-tool --version)" = "vespertone-tool $version" ] || fail "vespertone-tool --version"
[ "$(/usr/bin/vespertone --version)" = "vespertone $version" ] || fail "vespertone --version"
grep -q "<release version=\"$version\"" /usr/share/metainfo/app.vespertone.Vespertone.metainfo.xml ||
  fail "the AppStream release list lacks $version"
report=$(desktop-file-validate /usr/share/applications/vespertone.desktop 2>&1) && [ -z "$report" ] ||
  fail "desktop entry: $report"
[ "$(readlink -f /usr/share/vespertone/Encoders/lame)" = "$(readlink -f /usr/bin/lame)" ] ||
  fail "the encoder link does not reach /usr/bin/lame"

# Every command of the help is in the installed manual page.
manual=$(MANWIDTH=200 man vespertone-tool 2>/dev/null) || fail "man vespertone-tool"
for command in $(/usr/bin/vespertone-tool --help | sed -n '/^Commands:/,$s/^  \([a-z0-9-]*\).*/\1/p'); do
  grep -q "^       $command\b" <<<"$manual" || fail "man vespertone-tool lacks $command"
done
MANWIDTH=200 man vespertone 2>/dev/null | grep -q -- "--toggle-recording" || fail "man vespertone"
bash --norc -c 'source /usr/share/bash-completion/completions/vespertone-tool && complete -p vespertone-tool' \
  >/dev/null || fail "no bash completion for vespertone-tool"

# A take recorded by the installed tool lands in the default library, as MP3 through lame; a
# new record stream may miss its first moments on a loaded machine, hence the slack.
bash scripts/with-test-services.sh bash -c '
  set -euo pipefail
  take=$(/usr/bin/vespertone-tool record --seconds 3 --format mp3LAME 2>/dev/null)
  case $take in "$HOME/Music/Vespertone/"*.mp3) ;; *) echo "test-package: record printed \"$take\"" >&2; exit 1 ;; esac
  seconds=$(/usr/bin/vespertone-tool probe "$take" | sed -n "s/.*\"duration\": \([0-9.]*\).*/\1/p")
  awk -v s="${seconds:-0}" "BEGIN { exit !(s >= 1 && s < 3.5) }" ||
    { echo "test-package: $take lasts ${seconds:-no} seconds" >&2; exit 1; }
  /usr/bin/vespertone-tool scan | grep -qF "\"path\": \"$take\"" || { echo "test-package: scan lacks $take" >&2; exit 1; }'

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }')
"${as_root[@]}" apt-get purge -y -q vespertone >/dev/null
trap - EXIT
for file in $files; do
  [ ! -e "$file" ] && [ ! -L "$file" ] || fail "$file is left after purge"
done
left=$(find /usr -path /usr/local -prune -o -iname '*vespertone*' -print)
[ -z "$left" ] || fail "left after purge: $left"
echo "test-package: $deb installs, runs, records and purges"
