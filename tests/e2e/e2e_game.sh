#!/usr/bin/env bash
# Plays the built game under Xvfb with the keyboard alone: one key starts a
# 30-second game, six wrong keys end it at once through the penalties, the
# result window appears, Esc closes it, ESC ends the program with code 0.
set -euo pipefail
game=$1
source "$(dirname "$0")/lib.sh"

start_xvfb
fresh_home
start_game "$game"

main=$(wait_for_windows 1)
keys_to "$main" x           # starts the game
sleep 0.3
keys_to "$main" q q q q q   # five wrong answers: 34 penalty units
sleep 0.3
[ "$(game_windows | grep -c .)" -eq 1 ] || fail "the game ended before the sixth wrong answer"
keys_to "$main" q           # the sixth costs 50 more: the gauge is empty

result=$(wait_for_windows 2)
[ "$result" != "$main" ] || fail "no result window"
keys_to "$result" Escape
wait_for_windows 1 >/dev/null

keys_to "$main" Escape
wait_for_exit
[ "$game_code" = 0 ] || fail "exit code $game_code"
echo "PASS: game started, ended by penalties, result window closed with Esc, exit code 0"
