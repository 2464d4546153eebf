#!/usr/bin/env bash
# Installs the build into a temporary root with the prefix /usr, as the
# packages do, and checks the installed desktop files the way the desktop
# and the software centres read them: the desktop entry, the AppStream
# metainfo, the icons at every size, the systemd unit, the manual pages.
#
#   bash install_check.sh <build-dir>
set -euo pipefail
build=$1
root=$(mktemp -d "${TMPDIR:-/tmp}/tovrika-install.XXXXXX")
trap 'rm -rf "$root"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
app=org.tovrika.Tovrika

[ -x "$root/usr/games/tovrika" ] || fail "no /usr/games/tovrika"
[ -x "$root/usr/bin/tovrika-ranking" ] || fail "no /usr/bin/tovrika-ranking"

desktop=$root/usr/share/applications/$app.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
# The dock groups the window with the entry by its WM_CLASS, the program's name.
grep -qx 'StartupWMClass=tovrika' "$desktop" || fail "StartupWMClass"
grep -qx 'Name=Tovrika？' "$desktop" || fail "Name"

metainfo=$root/usr/share/metainfo/$app.metainfo.xml
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
# A software centre files the game by the metainfo, a menu by the entry.
entry_categories=$(sed -n 's/^Categories=//p' "$desktop")
metainfo_categories=$(sed -n 's|.*<category>\(.*\)</category>.*|\1;|p' "$metainfo" | tr -d '\n')
[ "$entry_categories" = "$metainfo_categories" ] \
    || fail "categories: desktop entry $entry_categories, metainfo $metainfo_categories"

for size in 16 22 24 32 48 64 128 256; do
    png=$root/usr/share/icons/hicolor/${size}x${size}/apps/$app.png
    [ -s "$png" ] || fail "no $size px icon"
    actual=$(identify -format '%wx%h' "$png")
    [ "$actual" = "${size}x${size}" ] || fail "the $size px icon is $actual"
done
[ -s "$root/usr/share/icons/hicolor/scalable/apps/$app.svg" ] || fail "no scalable icon"

for page in man6/tovrika.6.gz man1/tovrika-ranking.1.gz; do
    # groff's warnings are faults of the page.
    warnings=$(zcat "$root/usr/share/man/$page" | groff -man -Tutf8 -ww -z 2>&1 || true)
    [ -z "$warnings" ] || fail "$page: $warnings"
    # No address or path broken by a hyphen, at terminal widths from 52 to 100.
    for width in $(seq 52 4 100); do
        broken=$(zcat "$root/usr/share/man/$page" | groff -man -Tutf8 -P-c -rLL=${width}n 2>/dev/null \
            | LC_ALL=C sed 's/.\x08//g' | LC_ALL=C grep -E '[/:@$][^ ]*‐$' || true)
        [ -z "$broken" ] || fail "$page hyphenates an address at width $width: $broken"
    done
done

# /lib/systemd/system for a build configured with the prefix /usr, under the prefix otherwise.
unit=$(find "$root/lib/systemd/system" "$root/usr/lib/systemd/system" -name tovrika-ranking.service 2>/dev/null | head -n 1 || true)
[ -n "$unit" ] || fail "no systemd unit"
if command -v systemd-analyze >/dev/null; then
    # Verified with the built program in place of the installed one.
    sed "s|/usr/bin/tovrika-ranking|$root/usr/bin/tovrika-ranking|" "$unit" >"$root/tovrika-ranking.service"
    systemd-analyze verify --man=no "$root/tovrika-ranking.service" || fail "systemd-analyze verify"
else
    echo "systemd-analyze is not installed: the unit is not verified"
fi
echo "PASS: desktop entry, metainfo, icons, manual pages and unit valid"
