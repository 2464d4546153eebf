#!/usr/bin/env bash
# The internet ranking out of the box, with the real programs: the built
# ranking server on the loopback port the game was built for, the game under
# Xvfb and openbox played to a new high score by keyboard, the name entered
# and answered "OK"; then the ranking page, loaded in headless Chromium,
# shows that name and score highlighted for this installation. A screenshot
# of the page is kept beside the test's other outputs.
#
#   bash e2e_ranking_server.sh <tovrika> <tovrika_testserver> <tovrika-ranking>
#   env TOVRIKA_RANKING_SERVER: the ranking server the game was built with
set -euo pipefail
game=$1
ranking=$3
source "$(dirname "$0")/lib.sh"

server_url=${TOVRIKA_RANKING_SERVER:-}
if [[ ! $server_url =~ ^http://127\.0\.0\.1:([0-9]+)$ ]]; then
    echo "SKIP: the game was built for the ranking server '$server_url', not a loopback one"
    exit 77
fi
port=${BASH_REMATCH[1]}
command -v chromium >/dev/null || fail "chromium is not installed"
name=E2ERank
screenshot=${TOVRIKA_E2E_OUTPUT:-$PWD}/e2e_ranking_server-page.png

"$ranking" --listen "127.0.0.1:$port" --database "sqlite:$e2e_work/ranking.sqlite" \
    >"$e2e_work/access.log" 2>"$e2e_work/server.err" &
e2e_pids+=($!)
ranking_pid=$!
wait_for_ready "$e2e_work/server.err" 'listening on' "$ranking_pid" "the ranking server"

start_xvfb
fresh_home
export QT_QPA_PLATFORM=xcb
start_game "$game"
main=$(wait_for_windows 1)
play_and_enter "$name"
keys_to "$result" Escape
wait_count 1
keys_to "$main" Escape
wait_for_exit
[ "$game_code" = 0 ] || fail "exit code $game_code"

user_id=$(sed -n 's/^UserID=//p' "$ini")
high_score=$(sed -n 's/^mode0=//p' "$ini")
[ -n "$user_id" ] && [ -n "$high_score" ] || fail "no identifier or high score stored: $(cat "$ini")"

# The server answered the entry "OK": two bytes with status 200.
entry="/cgi-bin/tovrika/tovrentry.cgi?hs=$high_score&nm=$name@$user_id&md=0&vr=2"
for _ in $(seq 50); do
    grep -qF "\"GET $entry HTTP/1.1\" 200 2" "$e2e_work/access.log" && break
    sleep 0.1
done
grep -qF "\"GET $entry HTTP/1.1\" 200 2" "$e2e_work/access.log" \
    || fail "the entry was not answered OK: $(cat "$e2e_work/access.log")"

# The ranking page as a browser renders it, without the X server above.
page="http://127.0.0.1:$port/wuppet/wpbrand/tovrika/?id=$user_id"
browse() {
    env -u DISPLAY HOME="$e2e_work/home" timeout 60 chromium --headless --no-sandbox --disable-gpu \
        --no-first-run --user-data-dir="$e2e_work/chromium" "$@" 2>>"$e2e_work/chromium.log"
}
browse --dump-dom "$page" >"$e2e_work/page.html" || fail "chromium failed: $(tail -5 "$e2e_work/chromium.log")"
own="<tr class=\"own\" aria-current=\"true\"><td class=\"rank\">1</td><td class=\"name\">$name<span class=\"you\">（あなた）</span></td><td class=\"score\">$high_score</td>"
count=$(grep -oF "$own" "$e2e_work/page.html" | wc -l)
[ "$count" -eq 3 ] || fail "the page shows the own row on $count of the 30-second mode's 3 boards"
browse --window-size=1024,1200 --screenshot="$screenshot" "$page" >/dev/null \
    || fail "no screenshot: $(tail -5 "$e2e_work/chromium.log")"
[ -s "$screenshot" ] || fail "empty screenshot"
echo "PASS: entry $entry answered OK; the page shows $name $high_score highlighted; screenshot $screenshot"
