#!/usr/bin/env bash
# Builds the Debian packages tovrika and tovrika-ranking from debian/ with
# dpkg-buildpackage, in a copy of the source under build-pkg/ so that the
# tree itself is left as it is, and puts them in build-pkg/. Then checks
# them: lintian (no errors, no hardening tags) and hardening-check on both
# programs (fortify, stack protector, relro, bindnow, PIE, stack-clash protection).
#
# With --check it then runs piuparts in a fresh Debian 12 chroot: install
# and purge, and an upgrade from the previous build (the same packages under
# a lower version, or the .debs in $TOVRIKA_PREVIOUS_DEBS), leaving nothing
# behind; removing the server keeps its boards, purging it deletes them.
# That needs root and the Debian mirror, and takes minutes.
set -euo pipefail
cd "$(dirname "$0")/.."

check=false
[ "${1:-}" = --check ] && check=true

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
apt_install() {
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >/dev/null
}

tools=(dpkg-dev lintian devscripts)
$check && tools+=(piuparts)
missing=()
for package in "${tools[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
updated=false
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    updated=true
    apt_install "${missing[@]}"
fi
if ! dpkg-checkbuilddeps >/dev/null 2>&1; then
    echo "Installing the build dependencies of debian/control"
    $updated || "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -qq ./ >/dev/null
fi

version=$(dpkg-parsechangelog -S Version)
out=build-pkg
src=$out/src/tovrika-$version
rm -rf "$out"
mkdir -p "$src"
# The files a clean clone has, with their changes, and nothing the builds left.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard \
        | while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done \
        | tar --null -T - -cf - | tar -xf - -C "$src"
else
    tar --exclude=./build --exclude='./build-*' --exclude='./obj-*' -cf - . | tar -xf - -C "$src"
fi

echo "== dpkg-buildpackage (log in $out/build.log)"
(cd "$src" && dpkg-buildpackage -us -uc -b -j"$(nproc)") >"$out/build.log" 2>&1 \
    || { tail -n 40 "$out/build.log" >&2; echo "dpkg-buildpackage failed" >&2; exit 1; }
mv "$out"/src/*.deb "$out"/src/*.changes "$out"/src/*.buildinfo "$out"/
mv "$out"/src/*.ddeb "$out"/ 2>/dev/null || true
rm -rf "$out/src"
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
packages=("$out/tovrika_${version}_$arch.deb" "$out/tovrika-ranking_${version}_$arch.deb")
echo "== Packages"
for deb in "${packages[@]}"; do
    echo "$deb"
    dpkg-deb -f "$deb" Package Version Depends Recommends Suggests | sed 's/^/    /'
done

echo "== lintian"
lintian_out=$(lintian --display-info --tag-display-limit 0 "${packages[@]}" 2>&1 | grep -v 'running with root privileges' || true)
[ -z "$lintian_out" ] || echo "$lintian_out"
if grep -q ' hardening-' <<<"$lintian_out"; then
    echo "lintian reports missing hardening" >&2
    exit 1
fi
lintian --fail-on error "${packages[@]}" >/dev/null 2>&1 || { echo "lintian reports errors" >&2; exit 1; }
echo "no lintian errors, no hardening tags"

echo "== hardening-check"
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
for deb in "${packages[@]}" "$out"/*-dbgsym_*.*deb; do [ -e "$deb" ] && dpkg-deb -x "$deb" "$unpacked"; done
hardening_failed=false
# hardening-check sees stack-clash protection only in the probing loop of a
# dynamic stack allocation; a program without one reads "unknown". Then every
# unit that the compiler recorded in the debug symbols must have had the flag.
stack_clash_recorded() {
    local id debug
    id=$(readelf -n "$1" | sed -n 's/.*Build ID: //p')
    debug="$unpacked/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug"
    [ -f "$debug" ] || return 1
    local producers
    producers=$(readelf --debug-dump=info "$debug" 2>/dev/null | grep 'DW_AT_producer' | grep 'GNU C' || true)
    [ -n "$producers" ] && ! grep -v -q -- '-fstack-clash-protection' <<<"$producers"
}
for program in usr/games/tovrika usr/bin/tovrika-ranking; do
    report=$(hardening-check "$unpacked/$program" || true)
    if grep -q '^ Stack clash protection: unknown' <<<"$report" && stack_clash_recorded "$unpacked/$program"; then
        report=$(sed 's/^ Stack clash protection: unknown.*/ Stack clash protection: yes (every unit built with -fstack-clash-protection)/' <<<"$report")
    fi
    echo "$report" | sed "s|$unpacked/||"
    for feature in 'Position Independent Executable' 'Stack protected' 'Fortify Source functions' \
                   'Read-only relocations' 'Immediate binding' 'Stack clash protection'; do
        grep -q "^ $feature: yes" <<<"$report" || { echo "    $program: $feature missing" >&2; hardening_failed=true; }
    done
done
$hardening_failed && exit 1

$check || exit 0

[ "$(id -u)" -eq 0 ] || { echo "--check needs root (piuparts makes a chroot)" >&2; exit 1; }
echo "== piuparts"
# The previous build, as a small repository that apt installs from before
# piuparts upgrades it to these packages.
previous=$(realpath "$out")/previous
mkdir -p "$previous"
if [ -n "${TOVRIKA_PREVIOUS_DEBS:-}" ]; then
    cp "$TOVRIKA_PREVIOUS_DEBS"/*.deb "$previous/"
else
    # No earlier packages at hand: these under a lower version, which runs
    # every upgrade step of the maintainer scripts.
    for deb in "${packages[@]}"; do
        tree=$(mktemp -d)
        dpkg-deb -R "$deb" "$tree"
        sed -i "s/^Version: .*/Version: $version~previous/" "$tree/DEBIAN/control"
        dpkg-deb --root-owner-group -b "$tree" "$previous/" >/dev/null
        rm -rf "$tree"
    done
fi
(cd "$previous" && dpkg-scanpackages --multiversion . >Packages 2>/dev/null)
echo "previous: $(cd "$previous" && ls ./*.deb | tr '\n' ' ')"
# The scripts make the boards that the service would have made and check
# that removing keeps them and purging deletes them.
piuparts --distribution=bookworm --mirror=http://deb.debian.org/debian \
    --bindmount="$previous" --extra-repo="deb [trusted=yes] file://$previous ./" \
    --scriptsdir=tests/packaging/piuparts \
    --log-file="$out/piuparts.log" "${packages[@]}" >/dev/null 2>&1 || {
    grep -E ' (ERROR|FAIL):' "$out/piuparts.log" | head -n 40 >&2
    echo "piuparts failed: $out/piuparts.log" >&2
    exit 1
}
grep -E ' INFO: PASS|Unpacking tovrika.* over |Purging configuration files for tovrika' "$out/piuparts.log" \
    | sed -E 's/^[0-9hms.]+ //; s/^ +//'
echo "piuparts log: $out/piuparts.log"
