#!/usr/bin/env bash
# The ranking page fits every screen: the real ranking server, its boards of
# both modes full with 100 rows of the longest names (ASCII "W" in the
# 30-second mode, full-width "Ｗ" written into the database in the 90-second
# mode) and a visitor below the first rows, measured in headless Chromium at
# 360, 800, 1280 and 1920 px, in the page's own font and in IPAGothic, at
# 360 px also with 200 % text, and with its print rules at the width of A4, by
# ranking-layout-probe.html served from another loopback origin. Fails when
# any cell or text spills out of its board or the page scrolls sideways, a
# head, rank, score or date wraps, the date is missing, not in the form for
# the width or not under the name at 200 %, a mode or board has no link at the
# top, an own row is not aria-current or lacks its words, or in print a text
# is paler than 4.5:1 on white, a fill is dark or the page takes more than 12
# sheets. A screenshot at each width (and at 360 px with 200 % text), the
# page's top beside its 90-second mode, and the printed PDF are kept beside
# the test's other outputs.
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

# Each case: width, font, text size (or "print"). Also in IPAGothic, whose
# full-width letters are each 1 em wide, as in most Japanese fonts: the
# page's own IPAPGothic draws "Ｗ" as narrow as "W". Text at 200 % on a phone
# stacks each row, the date under the name; print as on A4 less its margins.
cases=()
for width in 360 800 1280 1920; do
    cases+=("$width,," "$width,IPAGothic,")
done
cases+=("360,,200%" "360,IPAGothic,200%" "703,,print")
frames=
for case in "${cases[@]}"; do
    frames+="&frame=$(urlencode "$case,$page")"
done
browse --window-size=1920,1000 --virtual-time-budget=30000 --dump-dom "$probe?${frames#&}" \
    >"$e2e_work/probe.html" || fail "chromium failed: $(tail -5 "$e2e_work/chromium.log")"
verdict=$(sed -n '/<pre id="verdict"/,/<\/pre>/p' "$e2e_work/probe.html" \
    | sed -e 's/.*<pre id="verdict"[^>]*>//' -e 's/<\/pre>.*//')
echo "$verdict"
faults=0
for case in "${cases[@]}"; do
    IFS=, read -r width font text <<<"$case"
    # Below 480 px the date drops its year; every board has 100 rows, the
    # 30-second mode's three also the visitor's own.
    [ "$width" -lt 480 ] && dates="full 0 short 603" || dates="full 603 short 0"
    [ "$text" = 200% ] && under=603 || under=0
    part=$(sed -n "/^--- $width px${font:+ $font}${text:+ $text}\$/,/^---/p" <<<"$verdict")
    if ! grep -qx 'RESULT ok' <<<"$part" \
        || ! grep -qx "width $width client $width scroll $width" <<<"$part" \
        || ! grep -qx "boards 6 cells 2439 names15 600 dates $dates under $under" <<<"$part" \
        || ! grep -qx 'own 3 current 3 words 3' <<<"$part" \
        || ! grep -qx 'links 8' <<<"$part"; then
        echo "FAULT in the frame at $case" >&2
        faults=$((faults + 1))
    fi
    [ "$text" != print ] || continue
    # The page at the top, and at the 90-second mode's full-width names in
    # IPAGothic, side by side.
    [ -z "$font" ] || continue
    shot=$output/e2e_ranking_layout-$width${text:+-${text%\%}}.png
    browse --window-size="$((2 * width + 8)),1400" --virtual-time-budget=30000 --screenshot="$shot" \
        "$probe?frame=$(urlencode "$width,,$text,$page")&frame=$(urlencode "$width,IPAGothic,$text,$page#mode-1")&height=1400" \
        >/dev/null \
        || fail "no screenshot at $case: $(tail -5 "$e2e_work/chromium.log")"
    [ -s "$shot" ] || fail "empty screenshot at $case"
done
[ "$faults" -eq 0 ] || fail "the page does not fit in $faults of ${#cases[@]} frames (above)"

# Printed for real: a few pages, not one dark page per screenful.
pdf=$output/e2e_ranking_layout-print.pdf
browse --no-pdf-header-footer --virtual-time-budget=30000 --print-to-pdf="$pdf" "$page" >/dev/null \
    || fail "no print: $(tail -5 "$e2e_work/chromium.log")"
pages=$(grep -ac '/Type /Page\b' "$pdf" || true)
echo "printed pages: $pages"
[ "$pages" -ge 1 ] && [ "$pages" -le 12 ] || fail "the page prints on $pages pages"
echo "PASS: the page fits at ${cases[*]}; screenshots $output/e2e_ranking_layout-*.png, print $pdf"
