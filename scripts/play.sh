#!/usr/bin/env bash
# Sets up, builds and starts the game.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Tovrika needs a graphical display (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    exit 1
fi

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVRIKA_BUILD_TESTS=OFF \
    -DTOVRIKA_BUILD_BENCH=OFF > /dev/null
cmake --build build --target tovrika
exec ./build/tovrika
