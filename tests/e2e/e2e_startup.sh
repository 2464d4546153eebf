#!/usr/bin/env bash
# The built game under Xvfb with a fresh HOME: its window is titled
# "Tovrika？", ESC in the ready state ends it with exit code 0, and the
# settings file then holds the new installation identifier. The window with
# the frame that openbox puts around it is centred on the screen.
set -euo pipefail
game=$1
source "$(dirname "$0")/lib.sh"

start_xvfb
fresh_home
start_game "$game"

main=$(wait_for_windows 1)
title=$(xdotool getwindowname "$main")
[ "$title" = "Tovrika？" ] || fail "window title is '$title'"

# The frame: the client's place and size plus the window manager's extents.
centred=
for _ in $(seq 40); do
    extents=$(xprop -id "$main" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ' ')
    # xwininfo, not xdotool: xdotool counts the frame's offset into the
    # position of a window that a window manager has reparented.
    info=$(xwininfo -id "$main")
    X=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
    Y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
    WIDTH=$(sed -n 's/^ *Width: *//p' <<<"$info")
    HEIGHT=$(sed -n 's/^ *Height: *//p' <<<"$info")
    if [ -n "$extents" ]; then
        IFS=, read -r left right top bottom <<<"$extents"
        frame_x=$((X - left)) frame_y=$((Y - top))
        frame_w=$((WIDTH + left + right)) frame_h=$((HEIGHT + top + bottom))
        dx=$((2 * frame_x + frame_w - 1280)) dy=$((2 * frame_y + frame_h - 1024))
        if [ "${dx#-}" -le 2 ] && [ "${dy#-}" -le 2 ] && [ "$top" -gt 0 ]; then
            centred="frame ${frame_w}x${frame_h}+${frame_x}+${frame_y}"
            break
        fi
    fi
    sleep 0.1
done
[ -n "$centred" ] || fail "the frame is not centred: client ${WIDTH}x${HEIGHT}+$X+$Y, extents '${extents:-none}'"

keys_to "$main" Escape
wait_for_exit
[ "$game_code" = 0 ] || fail "exit code $game_code"

[ -f "$ini" ] || fail "no settings file at $ini"
grep -Eq '^UserID=-?[0-9]+$' "$ini" || fail "no numeric UserID in: $(cat "$ini")"
grep -q '^\[UserData\]$' "$ini" || fail "no [UserData] section"
echo "PASS: window titled, $centred centred, ESC ended it with 0, $(grep UserID "$ini")"
