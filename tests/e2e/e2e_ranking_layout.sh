#!/usr/bin/env bash
# The ranking page fits every screen: the real ranking server, its boards of
# both modes full with 100 rows of the longest names (ASCII "W" in the
# 30-second mode, full-width "Ｗ" written into the database in the 90-second
# mode) and a visitor below the first rows, measured in headless Chromium at
# 360, 800, 1280 and 1920 px, in the page's own font and in IPAGothic, by
# ranking-layout-probe.html served from another loopback origin. Fails when
# any cell or text spills out of its board, a head, rank, score or date wraps,
# the date is missing or not in the form for the width, or a mode or board
# has no link at the top. A screenshot at each width, the page's top beside
# its 90-second mode, is kept beside the test's other outputs.
#
#   bash e2e_ranking_layout.sh <tovrika> <tovrika_testserver> <tovrika-ranking>
set -euo pipefail
ranking=$3
source "$(dirname "$0")/lib.sh"

for tool in chromium python3 curl; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
done
output=${TOVRIKA_E2E_OUTPUT:-$PWD}
database=$e2e_work/ranking.sqlite
ascii_name=WWWWWWWWWWWWWWW
wide_name=ＷＷＷＷＷＷＷＷＷＷＷＷＷＷＷ
visitor=-99999999999999999

# Starts the ranking server on a free loopback port; sets ranking_pid and port.
start_ranking() {
    "$ranking" --listen 127.0.0.1:0 --rate 0 --database "sqlite:$database" \
        >>"$e2e_work/access.log" 2>"$e2e_work/server.err" &
    ranking_pid=$!
    e2e_pids+=("$ranking_pid")
    wait_for_ready "$e2e_work/server.err" 'listening on' "$ranking_pid" "the ranking server"
    port=$(sed -n 's/.*listening on [^ ]*:\([0-9]*\),.*/\1/p' "$e2e_work/server.err" | tail -n 1)
}

stop_ranking() {
    kill "$ranking_pid"
    wait "$ranking_pid" || true
    local pid kept=()
    for pid in "${e2e_pids[@]}"; do
        [ "$pid" = "$ranking_pid" ] || kept+=("$pid")
    done
    e2e_pids=("${kept[@]}")
}

start_ranking
# The visitor first, while a low score still ranks in, then 100 entries a
# mode above it, scores 300 down to 201, all on one connection: the
# visitor's own row follows the 30-second mode's boards.
entries=$e2e_work/entries.curl
echo "url = \"http://127.0.0.1:$port/cgi-bin/tovrika/tovrentry.cgi?hs=5&nm=Me@$visitor&md=0&vr=2\"" >"$entries"
for mode in 0 1; do
    for i in $(seq 100); do
        echo "url = \"http://127.0.0.1:$port/cgi-bin/tovrika/tovrentry.cgi?hs=$((301 - i))&nm=$ascii_name@$((10000000000000000 + mode * 1000 + i))&md=$mode&vr=2\""
    done
done >>"$entries"
answers=$(curl -sS --max-time 60 -K "$entries" -w '\n')
[ "$(grep -cx OK <<<"$answers")" -eq 201 ] || fail "not every entry was answered OK: $(sort <<<"$answers" | uniq -c)"
stop_ranking

# No entry can carry full-width letters; a database may still hold them.
python3 - "$database" "$wide_name" <<'EOF'
import sqlite3, sys
with sqlite3.connect(sys.argv[1]) as db:
    changed = db.execute("UPDATE entry_log SET name = ? WHERE mode = 1 AND kind = 0", (sys.argv[2],)).rowcount
if changed != 100:
    sys.exit(f"{changed} entries of the 90-second mode renamed, not 100")
EOF
start_ranking
page="http://127.0.0.1:$port/wuppet/wpbrand/tovrika/?id=$visitor"

probe_dir=$e2e_work/probe
mkdir -p "$probe_dir"
cp "$(dirname "$0")/ranking-layout-probe.html" "$probe_dir/probe.html"
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$probe_dir" >"$e2e_work/probe.log" 2>&1 &
probe_pid=$!
e2e_pids+=("$probe_pid")
wait_for_ready "$e2e_work/probe.log" 'Serving HTTP' "$probe_pid" "the probe's server"
probe_port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$e2e_work/probe.log" | head -n 1)
urlencode() { python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$1"; }
probe="http://127.0.0.1:$probe_port/probe.html"

browse() {
    env -u DISPLAY HOME="$e2e_work/home" timeout 60 chromium --headless --no-sandbox --disable-gpu \
        --disable-quic --no-first-run --disable-background-networking --disable-component-update \
        --disable-sync --disable-web-security --hide-scrollbars --user-data-dir="$e2e_work/chromium" \
        "$@" 2>>"$e2e_work/chromium.log"
}

widths=(360 800 1280 1920)
# Also in IPAGothic, whose full-width letters are each 1 em wide, as in most
# Japanese fonts: the page's own IPAPGothic draws "Ｗ" as narrow as "W".
fonts=("" IPAGothic)
frames=
for width in "${widths[@]}"; do
    for font in "${fonts[@]}"; do
        frames+="&frame=$(urlencode "$width,$font,$page")"
    done
done
browse --window-size=1920,1000 --virtual-time-budget=30000 --dump-dom "$probe?${frames#&}" \
    >"$e2e_work/probe.html" || fail "chromium failed: $(tail -5 "$e2e_work/chromium.log")"
verdict=$(sed -n '/<pre id="verdict"/,/<\/pre>/p' "$e2e_work/probe.html" \
    | sed -e 's/.*<pre id="verdict"[^>]*>//' -e 's/<\/pre>.*//')
echo "$verdict"
faults=0
for width in "${widths[@]}"; do
    # Below 480 px the date drops its year; every board has 100 rows, the
    # 30-second mode's three also the visitor's own.
    [ "$width" -lt 480 ] && dates="full 0 short 603" || dates="full 603 short 0"
    for font in "${fonts[@]}"; do
        part=$(sed -n "/^--- $width px${font:+ $font}\$/,/^---/p" <<<"$verdict")
        if ! grep -qx 'RESULT ok' <<<"$part" \
            || ! grep -qx "width $width client $width scroll $width" <<<"$part" \
            || ! grep -qx "boards 6 cells 2439 names15 600 dates $dates" <<<"$part" \
            || ! grep -qx 'links 8' <<<"$part"; then
            faults=$((faults + 1))
        fi
    done
    # The page at the top, and at the 90-second mode's full-width names in
    # IPAGothic, side by side.
    shot=$output/e2e_ranking_layout-$width.png
    browse --window-size="$((2 * width + 8)),1400" --virtual-time-budget=30000 --screenshot="$shot" \
        "$probe?frame=$(urlencode "$width,,$page")&frame=$(urlencode "$width,IPAGothic,$page#mode-1")&height=1400" \
        >/dev/null \
        || fail "no screenshot at $width px: $(tail -5 "$e2e_work/chromium.log")"
    [ -s "$shot" ] || fail "empty screenshot at $width px"
done
[ "$faults" -eq 0 ] || fail "the page does not fit in $faults of $((${#widths[@]} * ${#fonts[@]})) frames (above)"
echo "PASS: the page fits at ${widths[*]} px; screenshots $output/e2e_ranking_layout-*.png"
