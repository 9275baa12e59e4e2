#!/usr/bin/env bash
# Checks that a Windows zip carries the licence and the third-party notices beside the
# programs: LICENSE or LICENSE.txt (GPL-3.0), THIRD-PARTY.md and, in licenses/, every licence
# text that THIRD-PARTY.md links to, the LGPL-3.0 among them, each the same as in the source
# tree apart from line ends.
#
#   tests/package/check-windows-zip.sh dist/torvik7-setup-<version>-windows.zip
set -euo pipefail
zip=$1
src=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
[ -f "$zip" ] || { echo "no such zip: $zip"; exit 1; }
unzip -Z1 "$zip" >"$scratch/list"

# The folder that holds the program: the zip's root or its one top folder.
exe=$(grep -E '^([^/]+/)?torvik7-setup\.exe$' "$scratch/list" | head -n 1 || true)
[ -n "$exe" ] || { echo "$zip: no torvik7-setup.exe at its top"; exit 1; }
dir=${exe%torvik7-setup.exe}

# A file of the zip, line ends made Unix ones, the same as the source tree's.
same() { # path-in-zip path-in-source
  grep -qxF "$dir$1" "$scratch/list" || { echo "$zip: missing ${dir}$1"; return 1; }
  unzip -p "$zip" "$dir$1" | tr -d '\r' >"$scratch/file"
  tr -d '\r' <"$src/$2" | cmp -s - "$scratch/file" ||
    { echo "$zip: ${dir}$1 differs from $2"; return 1; }
}

licence=LICENSE
grep -qxF "${dir}LICENSE.txt" "$scratch/list" && licence=LICENSE.txt
same "$licence" LICENSE
grep -q 'GNU GENERAL PUBLIC LICENSE' "$scratch/file"
same THIRD-PARTY.md THIRD-PARTY.md
same licenses/LGPL-3.txt packaging/licenses/LGPL-3.txt
grep -q 'GNU LESSER GENERAL PUBLIC LICENSE' "$scratch/file"

# Every licence text the notices link to.
texts=$(grep -oE '\(packaging/licenses/[^)]+\)' "$src/THIRD-PARTY.md" | tr -d '()' | sort -u |
  grep -v '/$')
[ -n "$texts" ] || { echo "THIRD-PARTY.md links to no licence text"; exit 1; }
count=0
for t in $texts; do
  same "licenses/${t#packaging/licenses/}" "$t"
  count=$((count + 1))
done
echo "windows zip ok: $licence, THIRD-PARTY.md and $count licence texts beside ${dir}torvik7-setup.exe"
