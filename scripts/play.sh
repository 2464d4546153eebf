#!/usr/bin/env bash
# Sets up, builds and starts the game. When nothing listens on the ranking
# server's address yet, the ranking server is started beside the game (its
# boards in the player's data folder) and stopped when the game ends.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Tovrika needs a graphical display (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
    exit 1
fi

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVRIKA_BUILD_TESTS=OFF \
    -DTOVRIKA_BUILD_BENCH=OFF > /dev/null
cmake --build build --target tovrika tovrika-ranking

# The address the game was built for; only a server on this machine is ours to start.
server=$(sed -n 's/^TOVRIKA_RANKING_SERVER:STRING=//p' build/CMakeCache.txt)
server_pid=
if [[ $server =~ ^http://(127\.0\.0\.1|localhost):([0-9]+)$ ]]; then
    port=${BASH_REMATCH[2]}
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        log_dir=${XDG_STATE_HOME:-$HOME/.local/state}/tovrika-ranking
        mkdir -p "$log_dir"
        ./build/server/tovrika-ranking --listen "127.0.0.1:$port" \
            >>"$log_dir/access.log" 2>>"$log_dir/server.log" &
        server_pid=$!
        trap 'kill -TERM "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null || true' EXIT
        for _ in $(seq 100); do
            (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
            kill -0 "$server_pid" 2>/dev/null || { echo "The ranking server did not start: see $log_dir/server.log" >&2; server_pid=; break; }
            sleep 0.05
        done
    fi
fi

status=0
./build/tovrika || status=$?
exit $status
