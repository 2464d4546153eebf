#!/usr/bin/env bash
# Enters a new high score into the internet ranking with the keyboard alone,
# under Xvfb, against the loopback ranking server the build points at: plays
# 30-second games answering "0" until one scores (a fresh settings store
# holds no high score, so any right answer sets one), dismisses the
# congratulation, opens the entry window from the result window, types a
# name and sends it, dismisses the answer and quits. The server must have
# received exactly one entry request with the expected query, and the
# settings file must hold the name.
#
#   bash e2e_ranking_entry.sh <tovrika> <tovrika_testserver>
#   env TOVRIKA_RANKING_SERVER: the ranking server the game was built with
set -euo pipefail
game=$1
testserver=$2
source "$(dirname "$0")/lib.sh"

server_url=${TOVRIKA_RANKING_SERVER:-}
if [[ ! $server_url =~ ^http://127\.0\.0\.1:([0-9]+)$ ]]; then
    echo "SKIP: the game was built for the ranking server '$server_url'," \
         "not a loopback one (configure with -DTOVRIKA_RANKING_SERVER=http://127.0.0.1:PORT)"
    exit 0
fi
port=${BASH_REMATCH[1]}
name=E2ETest7
requests=$e2e_work/requests.txt

# The stand-in ranking server, answering every request with "OK".
"$testserver" --port "$port" --body OK --record "$requests" >"$e2e_work/server.log" 2>&1 &
e2e_pids+=($!)
server_pid=$!
for _ in $(seq 100); do
    grep -q '^listening' "$e2e_work/server.log" && break
    kill -0 "$server_pid" 2>/dev/null || fail "the test server did not start: $(cat "$e2e_work/server.log")"
    sleep 0.05
done
grep -q '^listening' "$e2e_work/server.log" || fail "the test server is not listening"

start_xvfb
fresh_home
# The game must draw on the X server above, whatever the caller's platform
# (the unit tests run with QT_QPA_PLATFORM=offscreen).
export QT_QPA_PLATFORM=xcb
start_game "$game"

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

main=$(wait_for_windows 1)
[ "$(window_count)" -eq 1 ] || fail "more than one window at start"

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
keys_to "$result" Escape
wait_count 1
keys_to "$main" Escape
wait_for_exit
[ "$game_code" = 0 ] || fail "exit code $game_code"

# Exactly one request, of the expected shape, for this player and score.
[ -f "$requests" ] || fail "the server received nothing"
lines=$(grep -c . "$requests" || true)
[ "$lines" -eq 1 ] || fail "the server received $lines requests: $(cat "$requests")"
request=$(cat "$requests")
user_id=$(sed -n 's/^UserID=//p' "$ini")
high_score=$(sed -n 's/^mode0=//p' "$ini")
expected="/cgi-bin/tovrika/tovrentry.cgi?hs=$high_score&nm=$name@$user_id&md=0&vr=2"
[[ $request =~ ^/cgi-bin/tovrika/tovrentry\.cgi\?hs=[1-9][0-9]*\&nm=[A-Za-z0-9]+@-?[0-9]+\&md=0\&vr=2$ ]] \
    || fail "unexpected request: $request"
[ "$request" = "$expected" ] || fail "request '$request', expected '$expected'"
grep -qx "EntryName=$name" "$ini" || fail "EntryName not stored: $(cat "$ini")"
echo "PASS: one request $request; $(grep EntryName "$ini")"
