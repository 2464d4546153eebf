# Shared by the tests of the real window: a private Xvfb, a fresh HOME and
# the game started in it. Only processes started here are ever stopped.
# shellcheck shell=bash

e2e_pids=()
e2e_work=$(mktemp -d "${TMPDIR:-/tmp}/tovrika-e2e.XXXXXX")

e2e_cleanup() {
    local pid
    for pid in "${e2e_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${e2e_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$e2e_work"
}
trap e2e_cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    if [ -n "${DISPLAY:-}" ] && command -v import >/dev/null; then
        import -window root "${TMPDIR:-/tmp}/tovrika-e2e-failure.png" 2>/dev/null \
            && echo "screenshot: ${TMPDIR:-/tmp}/tovrika-e2e-failure.png" >&2
    fi
    exit 1
}

# Starts Xvfb on a free display and exports DISPLAY.
start_xvfb() {
    local fifo=$e2e_work/displayfd
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    e2e_pids+=($!)
    local display
    read -r -t 20 display <"$fifo" || fail "Xvfb did not start"
    export DISPLAY=:$display
}

# A HOME of its own, so that no real settings are read or written.
fresh_home() {
    export HOME=$e2e_work/home
    export XDG_CONFIG_HOME=$HOME/.config
    export XDG_RUNTIME_DIR=$e2e_work/runtime
    mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    ini=$XDG_CONFIG_HOME/Tovrika/Tovrika.ini
}

# Starts the game; sets game_pid.
start_game() {
    # A real X window, whatever platform the caller's environment names.
    QT_QPA_PLATFORM=xcb "$1" >"$e2e_work/game.log" 2>&1 &
    game_pid=$!
    e2e_pids+=("$game_pid")
}

# Visible windows of the game, one id a line.
game_windows() {
    xdotool search --onlyvisible --pid "$game_pid" 2>/dev/null || true
}

# Waits until the game shows COUNT visible windows; prints the newest one.
wait_for_windows() {
    local count=$1 tries=0 ids
    while :; do
        ids=$(game_windows)
        if [ "$(printf '%s' "$ids" | grep -c .)" -eq "$count" ]; then
            printf '%s\n' "$ids" | tail -n 1
            return 0
        fi
        tries=$((tries + 1))
        [ $tries -lt 200 ] || fail "expected $count visible windows, have: $(printf '%s' "$ids" | tr '\n' ' ')"
        kill -0 "$game_pid" 2>/dev/null || fail "the game ended early: $(cat "$e2e_work/game.log")"
        sleep 0.1
    done
}

# Sends keys to the focused window after giving it the focus (no window
# manager runs under Xvfb).
keys_to() {
    local window=$1
    shift
    xdotool windowfocus --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
    xdotool key --delay 30 "$@"
}

# Waits for the game to end; prints its exit code.
wait_for_exit() {
    local tries=0
    while kill -0 "$game_pid" 2>/dev/null; do
        tries=$((tries + 1))
        [ $tries -lt 100 ] || fail "the game did not end"
        sleep 0.1
    done
    local code=0
    wait "$game_pid" || code=$?
    echo "$code"
}
