#!/usr/bin/env bash
# Packs the built tree as a .deb, unpacks it into a scratch root and runs what it holds,
# so a file missing from the package fails here rather than on an installer's machine.
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
(cd "$build" && cpack -G DEB -B "$scratch/out" >/dev/null)
deb=$(ls "$scratch"/out/torvik7-setup_*.deb)
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"
dpkg-deb -f "$deb" Depends | tee "$scratch/depends"
grep -q 'libqt6core6' "$scratch/depends"
grep -q 'libqt6widgets6' "$scratch/depends"
grep -q "libqt6serialport6" "$scratch/depends"
grep -q "libqt6svg6" "$scratch/depends"
grep -q "libqt6printsupport6" "$scratch/depends"
grep -q "libqt6sql6-sqlite" "$scratch/depends"
# The licence, machine-readable, where Debian keeps it, and nothing lintian objects to in it.
dpkg-deb -c "$deb" >"$scratch/contents"
grep -q ' \./usr/share/doc/torvik7-setup/copyright$' "$scratch/contents" ||
  { echo "missing from the package: usr/share/doc/torvik7-setup/copyright"; exit 1; }
if command -v lintian >/dev/null; then
  # Every tag is listed but only these are judged here; a non-zero status is lintian failing.
  lintian --no-cfg --fail-on none --pedantic --display-info --tag-display-limit 0 "$deb" \
    >"$scratch/lintian" 2>&1 || { cat "$scratch/lintian"; echo "lintian failed"; exit 1; }
  if grep -E '^[EWIP]: [^ ]+: [^ ]*(copyright|licen[cs]e)[^ ]*( |$)' "$scratch/lintian"; then
    echo "lintian objects to the package's licence information"; exit 1
  fi
  echo "lintian: $(grep -cE '^[EWIPX]: ' "$scratch/lintian" || true) tags, none about the licence"
else
  echo "lintian not installed: its check of the copyright file is skipped"
fi
root="$scratch/root"
dpkg -x "$deb" "$root"
head -n 1 "$root/usr/share/doc/torvik7-setup/copyright" |
  grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/'
grep -q '^License: GPL-3+$' "$root/usr/share/doc/torvik7-setup/copyright"
for f in usr/bin/torvik7-setup usr/bin/torvik7ctl \
         usr/share/torvik7-setup/ContactIDEventCodes.html \
         usr/share/torvik7-setup/help.html \
         usr/share/applications/torvik7-setup.desktop \
         usr/share/man/man1/torvik7ctl.1 \
         usr/share/icons/hicolor/scalable/apps/torvik7-setup.svg \
         usr/share/icons/hicolor/48x48/apps/torvik7-setup.png; do
  [ -e "$root/$f" ] || { echo "missing from the package: $f"; exit 1; }
done
"$root/usr/bin/torvik7ctl" --help | grep -q 'defaults'
"$root/usr/bin/torvik7ctl" defaults -o "$scratch/d.stg"
[ "$(stat -c %s "$scratch/d.stg")" = 1800 ]
# The card needs Qt Gui and the offscreen platform plugin, but no display.
env -u DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/torvik7ctl" card "$scratch/d.stg" -o "$scratch/d.pdf"
[ "$(head -c 5 "$scratch/d.pdf")" = "%PDF-" ]
# The exchange journal: an entry kept through the SQLite driver the package depends on.
TORVIK7_JOURNAL="$scratch/journal.sqlite" "$root/usr/bin/torvik7ctl" read --port /nonexistent \
  -o "$scratch/r.stg" 2>/dev/null && exit 1
TORVIK7_JOURNAL="$scratch/journal.sqlite" "$root/usr/bin/torvik7ctl" journal list --json |
  grep -q '"action": "read"'
# The utility starts from the unpacked files and keeps running until it is closed.
set +e
QT_QPA_PLATFORM=offscreen HOME="$scratch/home" timeout 3 "$root/usr/bin/torvik7-setup"
status=$?
set -e
[ "$status" = 124 ] || { echo "torvik7-setup ended with $status instead of running"; exit 1; }
echo "package ok"
