#!/usr/bin/env bash
# The built game under Xvfb with a fresh HOME: its window is titled
# "Tovrika？", ESC in the ready state ends it with exit code 0, and the
# settings file then holds the new installation identifier.
set -euo pipefail
game=$1
source "$(dirname "$0")/lib.sh"

start_xvfb
fresh_home
start_game "$game"

main=$(wait_for_windows 1)
title=$(xdotool getwindowname "$main")
[ "$title" = "Tovrika？" ] || fail "window title is '$title'"

keys_to "$main" Escape
wait_for_exit
[ "$game_code" = 0 ] || fail "exit code $game_code"

[ -f "$ini" ] || fail "no settings file at $ini"
grep -Eq '^UserID=-?[0-9]+$' "$ini" || fail "no numeric UserID in: $(cat "$ini")"
grep -q '^\[UserData\]$' "$ini" || fail "no [UserData] section"
echo "PASS: window titled, ESC ended it with 0, $(grep UserID "$ini")"
