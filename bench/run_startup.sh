#!/usr/bin/env bash
# Start-up benchmark: how long the game takes from exec to its main window
# being mapped and to the window's first painted frame, and how much memory
# it holds two seconds after that, against a bare Qt Widgets window built in
# the same build folder. Runs both programs in turn on a private Xvfb, each
# run with a fresh HOME, and prints the medians and the ratios game/bare.
#
#   bench/run_startup.sh [BUILD_DIR]      (default ../build)
#
# Environment: RUNS (default 20), STARTUP_STRICT=1 to exit 3 when a goal is
# missed (by default the figures are only reported).
# Goals: mapped and first paint at most 1.5 times the bare window, memory at
# most 1.3 times.
set -euo pipefail

build_dir=${1:-../build}
runs=${RUNS:-20}
game_title=$'Tovrika\xef\xbc\x9f'   # "Tovrika？", full-width question mark
bare_title=BareWindow
goal_time=1.5
goal_mem=1.3

die() { echo "run_startup: $*" >&2; exit 1; }

[[ -d $build_dir ]] || die "no build folder $build_dir"
build_dir=$(cd "$build_dir" && pwd)
game=$build_dir/tovrika
bare=$build_dir/bench/startup/bench_bare_window
xwatch=$build_dir/bench/startup/bench_xwatch
for exe in "$game" "$bare" "$xwatch"; do
    [[ -x $exe ]] || die "missing $exe (build targets tovrika, bench_bare_window, bench_xwatch)"
done
command -v Xvfb >/dev/null || die "Xvfb is not installed"
[[ $runs =~ ^[1-9][0-9]*$ ]] || die "RUNS must be a positive number"

work=$(mktemp -d "${TMPDIR:-/tmp}/startup-bench.XXXXXX")
xvfb_pid=
cleanup() {
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# A private X server on a free display. -br gives a plain black root, which
# the watcher needs: an unpainted window shows the root's colour.
Xvfb -displayfd 5 -screen 0 1280x1024x24 -br -nolisten tcp \
    5>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ -s $work/display ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; die "Xvfb did not start"; }
    sleep 0.1
done
[[ -s $work/display ]] || die "Xvfb did not report its display within 10 s"
export DISPLAY=:$(head -n1 "$work/display")
export QT_QPA_PLATFORM=xcb
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR || true

# One measured run: prints "mapped paint rss" for the program, or fails.
measure() { # title program
    local home out
    home=$(mktemp -d "$work/home.XXXXXX")
    mkdir -p "$home/.config" "$home/runtime"
    chmod 700 "$home/runtime"
    if ! out=$(HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$home/runtime \
               timeout 60 "$xwatch" -t 20000 -r 2000 "$1" "$2" 2>>"$work/programs.log"); then
        tail -n 20 "$work/programs.log" >&2
        die "measuring $2 failed"
    fi
    rm -rf "$home"
    sed -E 's/mapped_ms=([0-9.]+) paint_ms=([0-9.]+) rss_kb=([0-9]+)/\1 \2 \3/' <<<"$out"
}

median() { # file column
    sort -g -k"$2,$2" "$1" | awk -v c="$2" '{ v[NR] = $c }
        END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "Start-up benchmark on display $DISPLAY, $runs runs each"
echo "  game: $game"
echo "  bare: $bare"

# One unmeasured run each first, so both start from warm file caches.
measure "$bare_title" "$bare" >/dev/null
measure "$game_title" "$game" >/dev/null

: >"$work/bare.txt"
: >"$work/game.txt"
for ((i = 1; i <= runs; i++)); do
    # Alternate which one goes first, so a drift of the machine hits both.
    if ((i % 2)); then
        b=$(measure "$bare_title" "$bare"); g=$(measure "$game_title" "$game")
    else
        g=$(measure "$game_title" "$game"); b=$(measure "$bare_title" "$bare")
    fi
    echo "$b" >>"$work/bare.txt"
    echo "$g" >>"$work/game.txt"
    printf '  run %2d  bare %7s %7s ms %7s kB   game %7s %7s ms %7s kB\n' "$i" $b $g
done

verdict=0
report() { # label column unit goal
    local mb mg ratio ok
    mb=$(median "$work/bare.txt" "$2")
    mg=$(median "$work/game.txt" "$2")
    ratio=$(awk -v g="$mg" -v b="$mb" 'BEGIN { printf "%.2f", (b > 0 ? g / b : 0) }')
    ok=$(awk -v r="$ratio" -v goal="$4" 'BEGIN { print (r <= goal ? "met" : "MISSED") }')
    [[ $ok == met ]] || verdict=3
    printf '%-22s bare %9s %-2s  game %9s %-2s  ratio %5s  (goal <= %s: %s)\n' \
        "$1" "$mb" "$3" "$mg" "$3" "$ratio" "$4" "$ok"
}
echo
echo "Medians over $runs runs:"
report "mapped" 1 ms "$goal_time"
report "first paint" 2 ms "$goal_time"
report "resident memory (2 s)" 3 kB "$goal_mem"

if [[ ${STARTUP_STRICT:-0} == 1 ]]; then
    exit "$verdict"
fi
exit 0
