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
root="$scratch/root"
dpkg -x "$deb" "$root"
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
# The utility starts from the unpacked files and keeps running until it is closed.
set +e
QT_QPA_PLATFORM=offscreen HOME="$scratch/home" timeout 3 "$root/usr/bin/torvik7-setup"
status=$?
set -e
[ "$status" = 124 ] || { echo "torvik7-setup ended with $status instead of running"; exit 1; }
echo "package ok"
