#!/usr/bin/env bash
# Builds the Debian packages tovrika and tovrika-ranking in build-pkg/ and
# checks them with lintian. With --check it then installs them into a fresh
# Debian 12 root made with debootstrap and checks that the game starts there
# under Xvfb and that the server answers on its port (slow: minutes).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DTOVRIKA_BUILD_TESTS=OFF -DTOVRIKA_BUILD_BENCH=OFF >/dev/null
cmake --build build-pkg
(cd build-pkg && cpack -G DEB >/dev/null)
packages=(build-pkg/tovrika_*.deb build-pkg/tovrika-ranking_*.deb)
echo "== Packages"
for deb in "${packages[@]}"; do
    echo "$deb"
    dpkg-deb -f "$deb" Package Version Depends Recommends | sed 's/^/    /'
done
echo "== lintian"
if ! command -v lintian >/dev/null; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq lintian >/dev/null
fi
lintian --tag-display-limit 0 "${packages[@]}" 2>&1 | grep -v 'running with root privileges' || true
lintian --fail-on error "${packages[@]}" >/dev/null 2>&1 || { echo "lintian reports errors" >&2; exit 1; }
echo "no lintian errors"

[ "${1:-}" = --check ] || exit 0

[ "$(id -u)" -eq 0 ] || { echo "--check needs root (debootstrap, chroot)" >&2; exit 1; }
command -v debootstrap >/dev/null || apt-get install -y -qq debootstrap
root=${TOVRIKA_CHECK_ROOT:-/var/tmp/tovrika-bookworm}
echo "== A fresh Debian 12 in $root"
rm -rf "$root"
debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >/dev/null
mounted=()
cleanup() {
    local point
    for point in "${mounted[@]}"; do umount -l "$point" 2>/dev/null || true; done
}
trap cleanup EXIT
for point in proc sys dev; do
    mount --bind "/$point" "$root/$point"
    mounted+=("$root/$point")
done
mkdir -p "$root/tmp/debs"
cp "${packages[@]}" "$root/tmp/debs/"
chroot "$root" sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    /tmp/debs/*.deb xvfb xauth xdotool curl >/dev/null'
echo "installed: $(chroot "$root" dpkg-query -W -f='${Package} ${Version}\n' tovrika tovrika-ranking | tr '\n' ' ')"

echo "== The game under Xvfb"
chroot "$root" sh -c '
    export HOME=/tmp/player
    mkdir -p $HOME
    xvfb-run -a -s "-screen 0 1280x1024x24" sh -c "
        /usr/games/tovrika >/tmp/game.log 2>&1 &
        game=\$!
        for i in \$(seq 100); do
            xdotool search --onlyvisible --class tovrika >/dev/null 2>&1 && break
            sleep 0.2
        done
        xdotool search --onlyvisible --class tovrika getwindowname || { cat /tmp/game.log; exit 1; }
        # Still running once its window is up: stopped here, not crashed.
        kill \$game || { cat /tmp/game.log; exit 1; }
        echo still running
    "' | sed 's/^/    game: /' || { echo "the game did not show its window" >&2; exit 1; }

echo "== The server on its port"
chroot "$root" sh -c '
    tovrika-ranking --listen 127.0.0.1:18642 --database sqlite:/tmp/ranking.sqlite >/tmp/access.log 2>/tmp/server.log &
    server=$!
    for i in $(seq 50); do curl -s -o /dev/null http://127.0.0.1:18642/ && break; sleep 0.1; done
    printf "    entry answered: "; curl -s "http://127.0.0.1:18642/cgi-bin/tovrika/tovrentry.cgi?hs=12&nm=Check@1&md=0&vr=2"; echo
    printf "    ranking page: "; curl -s -o /dev/null -w "%{http_code}\n" "http://127.0.0.1:18642/wuppet/wpbrand/tovrika/?id=1"
    kill -TERM $server; wait $server
    echo "    server exit code $?"'
echo "PASS: the packages install into a fresh Debian 12, the game shows its window, the server answers"
