#!/usr/bin/env bash
# Installs what building, playing and testing Tovrika need on Debian 12, and
# nothing that is already there. Uses sudo when not run as root.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-base-private-dev qt6-svg-dev qt6-translations-l10n
    libmicrohttpd-dev zlib1g-dev libqt6sql6-sqlite libqt6sql6-psql postgresql nginx curl python3 prometheus
    libsqlite3-dev libpq-dev e2fsprogs strace
    libcurl4-openssl-dev libgl1-mesa-dev libx11-dev libfontconfig-dev
    fonts-ipafont-gothic
    xvfb xdotool openbox x11-utils imagemagick chromium
    orca at-spi2-core python3-pyatspi dbus-daemon speech-dispatcher speech-dispatcher-espeak-ng libao4
    desktop-file-utils appstream systemd
    clang libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        "${missing[@]}"
fi
