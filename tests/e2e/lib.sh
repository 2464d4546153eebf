# Shared by the tests of the real window: a private Xvfb, a fresh HOME and
# the game started in it. Only processes started here are ever stopped.
# shellcheck shell=bash

for tool in Xvfb xdotool; do
    # Reported as skipped (ctest's SKIP_RETURN_CODE), so that it is never taken for a pass.
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (apt-get install xvfb xdotool)"; exit 77; }
done

e2e_pids=()
# The game reaches the loopback servers directly whatever proxy the machine names.
unset http_proxy HTTP_PROXY all_proxy ALL_PROXY
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

# Waits until a server started in the background has written its ready line
# (a grep pattern) to its log; fails when it exits first or takes 10 s.
wait_for_ready() {
    local log=$1 pattern=$2 pid=$3 what=$4
    for _ in $(seq 200); do
        grep -q "$pattern" "$log" && return 0
        kill -0 "$pid" 2>/dev/null || fail "$what did not start: $(cat "$log")"
        sleep 0.05
    done
    fail "$what is not listening"
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
    start_window_manager
}

# A player's desktop has a window manager, and only with one do the game's
# windows get the keyboard focus the way they do there.
start_window_manager() {
    command -v openbox >/dev/null || fail "openbox is not installed"
    # On a loaded machine openbox has been seen to find the new display not
    # yet open to it and exit at once; it is started again, three times at most.
    local starts=0 tries=0 wm=
    until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
        if [ -z "$wm" ] || ! kill -0 "$wm" 2>/dev/null; then
            starts=$((starts + 1))
            [ $starts -le 3 ] || fail "openbox did not start: $(cat "$e2e_work/openbox.log")"
            openbox --sm-disable >"$e2e_work/openbox.log" 2>&1 &
            wm=$!
            e2e_pids+=($wm)
        fi
        tries=$((tries + 1))
        [ $tries -lt 100 ] || fail "openbox did not start: $(cat "$e2e_work/openbox.log")"
        sleep 0.1
    done
    wait_until_windows_are_managed
}

# openbox announces itself before it handles map requests, and a window
# mapped in between stays unmapped for good: the probe itself may be such a
# window. So a probe window is mapped and waited for until the window manager
# has given it its WM_STATE; a probe left unmanaged for two seconds is
# replaced by a new one, for up to thirty seconds on a loaded machine.
wait_until_windows_are_managed() {
    local attempt tries probe id
    for attempt in $(seq 15); do
        xmessage -name tovrika-probe -title tovrika-probe probe >/dev/null 2>&1 &
        probe=$!
        id=
        for tries in $(seq 20); do
            sleep 0.1
            [ -n "$id" ] || id=$(xdotool search --name '^tovrika-probe$' 2>/dev/null | head -n 1 || true)
            if [ -n "$id" ] && xprop -id "$id" WM_STATE 2>/dev/null | grep -q 'window state'; then
                kill "$probe" 2>/dev/null
                wait "$probe" 2>/dev/null || true
                return 0
            fi
        done
        kill "$probe" 2>/dev/null
        wait "$probe" 2>/dev/null || true
    done
    fail "the window manager does not manage windows: $(cat "$e2e_work/openbox.log")"
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

# Sends keys to a window after activating it, as a click on it would.
keys_to() {
    local window=$1
    shift
    xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus "$window"
    xdotool key --delay 30 "$@"
}

# Waits for the game to end; sets game_code to its exit status. It runs in
# this shell, never in a command substitution: only the shell that started
# the game can collect its status, and a subshell's wait races the parent's
# reaping and reports nonsense such as -1.
wait_for_exit() {
    local tries=0
    while kill -0 "$game_pid" 2>/dev/null; do
        tries=$((tries + 1))
        [ $tries -lt 100 ] || fail "the game did not end"
        sleep 0.1
        # kill -0 succeeds on a zombie too; wait below collects it.
        if ! ps -o stat= -p "$game_pid" 2>/dev/null | grep -qv Z; then
            break
        fi
    done
    game_code=0
    wait "$game_pid" || game_code=$?
}

window_count() { game_windows | grep -c . || true; }

# Waits until the game shows COUNT visible windows.
wait_count() {
    local count=$1 tries=0
    until [ "$(window_count)" -eq "$count" ]; do
        tries=$((tries + 1))
        [ $tries -lt 300 ] || fail "expected $count visible windows, have $(window_count)"
        kill -0 "$game_pid" 2>/dev/null || fail "the game ended early: $(cat "$e2e_work/game.log")"
        sleep 0.1
    done
}

# The visible window of the given client size, WIDTHxHEIGHT.
window_of_size() {
    local id
    for id in $(game_windows); do
        eval "$(xdotool getwindowgeometry --shell "$id")"
        if [ "${WIDTH}x${HEIGHT}" = "$1" ]; then
            echo "$id"
            return 0
        fi
    done
    return 1
}

# Plays 30-second games from the main window ($main) until one ends with a
# new high score, then enters NAME from the result window and dismisses the
# answer. Leaves the result window open and its id in $result.
play_and_enter() {
    local name=$1 attempt answers box entry
    # Play until a game ends with a new high score. Six wrong answers in a row
    # end a game at once, so a game without a right answer is over in a moment;
    # "0" is the likeliest digit, and each game has about a 60 % chance.
    result=
    for attempt in $(seq 15); do
        keys_to "$main" x                       # any key starts a game
        sleep 0.2
        answers=0
        while [ "$(window_count)" -eq 1 ]; do
            xdotool key 0
            answers=$((answers + 1))
            [ $answers -lt 400 ] || fail "the game did not end"
            sleep 0.05
        done
        sleep 0.3
        if result=$(window_of_size 482x267); then
            # The result window straight away: no right answer this time.
            keys_to "$result" Escape
            wait_count 1
            result=
            sleep 0.2
            continue
        fi
        box=$(game_windows | grep -vx "$main" | head -n 1)
        keys_to "$box" Return                   # the congratulation
        wait_count 2
        result=$(window_of_size 482x267) || fail "no result window after the congratulation"
        echo "new high score in game $attempt after $answers answers"
        break
    done
    [ -n "$result" ] || fail "no game with a right answer in 15 tries"
    
    # The result window's focus is on btnEntry: Enter opens the entry window.
    keys_to "$result" Return
    wait_count 3
    entry=$(window_of_size 170x93) || fail "no entry window"
    xdotool windowfocus --sync "$entry" 2>/dev/null || xdotool windowfocus "$entry"
    xdotool type --delay 40 "$name"
    xdotool key Return                          # sends the entry
    wait_count 4                                # the answer's message box
    box=$(game_windows | grep -vx -e "$main" -e "$result" -e "$entry" | head -n 1)
    [ -n "$box" ] || fail "no answer box"
    keys_to "$box" Return
    wait_count 2                                # the entry window closed itself
}
