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
    exit 77
fi
port=${BASH_REMATCH[1]}
name=E2ETest7
requests=$e2e_work/requests.txt

# The stand-in ranking server, answering every request with "OK".
"$testserver" --port "$port" --body OK --record "$requests" >"$e2e_work/server.log" 2>&1 &
e2e_pids+=($!)
server_pid=$!
wait_for_ready "$e2e_work/server.log" '^listening' "$server_pid" "the test server"

start_xvfb
fresh_home
# The game must draw on the X server above, whatever the caller's platform
# (the unit tests run with QT_QPA_PLATFORM=offscreen).
export QT_QPA_PLATFORM=xcb
start_game "$game"

main=$(wait_for_windows 1)
[ "$(window_count)" -eq 1 ] || fail "more than one window at start"

play_and_enter "$name"
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
