#!/usr/bin/env bash
# The game with the real screen reader: Orca 43 in a D-Bus session of its
# own with the AT-SPI bus, speech-dispatcher writing to libao's null driver,
# every SPEECH OUTPUT in Orca's debug log. Five questions are read through
# AT-SPI and answered by keyboard, the fourth wrongly: Orca must have spoken
# each, the one after the wrong answer with its outcome, the time left on
# Tab, never a greyed control, and the score as the results window opened.
# Down and Up in the mode list say the new mode; the gauge says nothing, and
# no question comes with "selected" or "read only".
# Before the game, Return on the focused clear button asks its question and
# Space on the focused ranking button opens the page (a recording xdg-open);
# neither starts a game. Last, Tab in practice says the pace.
set -euo pipefail
game=$1
# Debian's Python, which has the AT-SPI bindings whatever else is on PATH.
python=/usr/bin/python3
if [ -z "${TOVRIKA_ORCA_SESSION:-}" ]; then
    command -v orca >/dev/null && command -v dbus-run-session >/dev/null \
        && "$python" -c 'import pyatspi' 2>/dev/null \
        || { echo "SKIP: orca, dbus-run-session or python3-pyatspi is not installed"; exit 77; }
    exec env TOVRIKA_ORCA_SESSION=1 dbus-run-session -- bash "$0" "$@"
fi
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

start_xvfb
fresh_home
# Orca's own words in English, so that "grayed" can be looked for.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
mkdir -p "$HOME/.config/speech-dispatcher"
printf 'default_driver=null\n' >"$HOME/.libao"
cat >"$HOME/.config/speech-dispatcher/speechd.conf" <<'CONF'
AudioOutputMethod "libao"
AddModule "espeak-ng" "sd_espeak-ng" "espeak-ng.conf"
DefaultModule espeak-ng
CONF
speechd_pid=$XDG_RUNTIME_DIR/speech-dispatcher/pid/speech-dispatcher.pid
stop_speech_dispatcher() {
    # Started by Orca's speech client on its first word; ended by its PID.
    [ -f "$speechd_pid" ] && kill "$(cat "$speechd_pid")" 2>/dev/null
    # Orca's debug log kept for a look at what it did, when asked for.
    [ -n "${TOVRIKA_ORCA_LOG:-}" ] && cp "$log" "$TOVRIKA_ORCA_LOG" 2>/dev/null
    e2e_cleanup
}
trap stop_speech_dispatcher EXIT

/usr/libexec/at-spi-bus-launcher --launch-immediately >"$e2e_work/at-spi.log" 2>&1 &
e2e_pids+=($!)

log=$e2e_work/orca.log
# Orca writes its debug log in blocks, which keeps its last words out of the
# log for as long as it is quiet: it runs here with the log written by line.
orca_by_line='
import builtins, runpy, sys
opened = builtins.open
def by_line(file, mode="r", *args, **kwargs):
    return opened(file, mode, 1) if mode == "w" and not args and not kwargs else opened(file, mode, *args, **kwargs)
builtins.open = by_line
sys.argv[0] = "/usr/bin/orca"
runpy.run_path("/usr/bin/orca", run_name="__main__")'
# Orca gives up starting when the AT-SPI registry answers too slowly (a busy
# machine): it is started again, twice at most.
for attempt in 1 2 3; do
    rm -f "$log"
    "$python" -c "$orca_by_line" --debug-file "$log" >"$e2e_work/orca.out" 2>&1 &
    orca_pid=$!
    e2e_pids+=("$orca_pid")
    for _ in $(seq 150); do
        grep -q "SPEECH OUTPUT" "$log" 2>/dev/null && break
        grep -q "something has hung" "$log" 2>/dev/null && break
        sleep 0.1
    done
    grep -q "something has hung" "$log" 2>/dev/null || break
    kill "$orca_pid" 2>/dev/null; wait "$orca_pid" 2>/dev/null || true
    [ "$attempt" -lt 3 ] || fail "Orca did not start: $(tail -5 "$log")"
done
grep -q "SPEECH OUTPUT" "$log" || fail "Orca said nothing at its start: $(tail -5 "$log")"

spoken() { grep -a "SPEECH OUTPUT: '" "$log" | sed "s/^.*SPEECH OUTPUT: '//; s/'[^']*\$//"; }
# Waits until Orca has said something matching the extended regular
# expression $1 since its $2-th line of speech.
wait_for_speech() {
    local pattern=$1 since=$2
    for _ in $(seq 100); do
        spoken | tail -n +"$((since + 1))" | grep -qE -- "$pattern" && return 0
        sleep 0.1
    done
    fail "Orca did not say /$pattern/; it said: $(spoken | tail -n +"$((since + 1))" | tr '\n' '|')"
}
# The expression of a question, "7 ＋ 8", as a regular expression.
expression_of() { sed 's/^はずれ //; s/ ?$//; s/[?*+.]/\\&/g' <<<"$1"; }
# The answer: the units digit of the result, of a negative one too.
answer_to() {
    local a op b
    read -r a op b _ <<<"${1#はずれ }"
    case $op in
        ＋) echo $(((a + b) % 10)) ;;
        －) echo $(((a > b ? a - b : b - a) % 10)) ;;
        ×) echo $(((a * b) % 10)) ;;
        *) fail "no question: '$1'" ;;
    esac
}

# A browser that only records the address it was asked to open.
mkdir -p "$e2e_work/bin"
opened=$e2e_work/opened
printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s"\n' "$opened" >"$e2e_work/bin/xdg-open"
chmod +x "$e2e_work/bin/xdg-open"
export PATH=$e2e_work/bin:$PATH

start_game "$game"
main=$(wait_for_windows 1)
wait_for_speech 'combo box' 0
xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus "$main"
# Down and Up in the mode list each say the new mode, with its high score.
for step in 'Down 90秒間耐久モード ハイスコア 0' 'Up 30秒間激走モード ハイスコア 0'; do
    before=$(spoken | wc -l)
    xdotool key "${step%% *}"
    wait_for_speech "${step#* }" "$before"
done
# Return on the focused clear button asks its question and starts no game.
before=$(spoken | wc -l)
xdotool key Tab
wait_for_speech 'ハイスコアをクリア' "$before"
xdotool key Return
wait_for_windows 2 >/dev/null
wait_for_speech 'ハイスコアをクリアします' "$before"
keys_to "$(game_windows | grep -vx "$main" | head -n 1)" Return   # No, the default
wait_for_windows 1 >/dev/null
[ "$("$python" "$here/orca_question.py")" = "何かキーを押すと開始します" ] || fail "Return on the clear button started a game"
# The question box is a warning; from here on nothing is.
no_alert_from=$(spoken | wc -l)
# Space on the focused ranking button opens the ranking page and starts no game.
before=$(spoken | wc -l)
for _ in 1 2 3 4; do
    xdotool key Tab
    sleep 0.5
    spoken | tail -n 1 | grep -q 'ランキング' && break
done
wait_for_speech 'ランキング' "$before"
spoken | tail -n 1 | grep -q 'ランキング' || fail "Tab did not reach the ranking button"
xdotool key space
for _ in $(seq 50); do [ -s "$opened" ] && break; sleep 0.1; done
grep -q 'tovrika/?' "$opened" 2>/dev/null || fail "Space on the ranking button opened no page"
[ "$("$python" "$here/orca_question.py")" = "何かキーを押すと開始します" ] || fail "Space on the ranking button started a game"
keys_to "$main" x                                 # any other key starts a game
before=0
score=0
for n in 1 2 3 4 5; do
    line=$("$python" "$here/orca_question.py") || fail "question $n could not be read"
    wait_for_speech "$(expression_of "$line")" "$before"
    if [ "$n" -eq 5 ]; then
        [[ $line == はずれ* ]] || fail "the question after a wrong answer was not told so: '$line'"
    fi
    echo "question $n: $line"
    before=$(spoken | wc -l)
    if [ "$n" -eq 1 ]; then
        # Tab is no answer: it says the time left.
        xdotool key Tab
        wait_for_speech '残り [0-9]+ 秒' "$before"
        before=$(spoken | wc -l)
    fi
    answer=$(answer_to "$line")
    if [ "$n" -eq 4 ]; then
        answer=$(((answer + 1) % 10))
    else
        score=$((score + 1))
    fi
    xdotool key "$answer"
    # Until the next question is the one shown.
    for _ in $(seq 50); do
        [ "$("$python" "$here/orca_question.py")" != "$line" ] && break
        sleep 0.1
    done
done

# Wrong answers until the gauge runs out; the new high score's message box,
# then the results window.
for _ in $(seq 10); do
    [ "$(window_count)" -eq 1 ] || break
    xdotool key q
    sleep 0.3
done
box=$(wait_for_windows 2)
before=$(spoken | wc -l)
keys_to "$box" Return
wait_for_windows 2 >/dev/null
wait_for_speech "スコア $score、" "$before"

if spoken | grep -qi 'grayed'; then
    fail "Orca announced a greyed control: $(spoken | grep -i grayed | head -n 3 | tr '\n' '|')"
fi
if spoken | tail -n +"$((no_alert_from + 1))" | grep -qiE '\balert\b|警告'; then
    fail "Orca announced the congratulation as an alert: $(spoken | grep -iE 'alert|警告' | head -n 3 | tr '\n' '|')"
fi

# In practice Tab says the pace line.
keys_to "$(game_windows | grep -vx "$main" | head -n 1)" Escape   # the results window
wait_for_windows 1 >/dev/null
before=$(spoken | wc -l)
keys_to "$main" Down Down
wait_for_speech 'Tovrika養成マシン' "$before"
keys_to "$main" x
line=$("$python" "$here/orca_question.py") || fail "no practice question"
xdotool key "$(answer_to "$line")"
sleep 0.3
before=$(spoken | wc -l)
xdotool key Tab
wait_for_speech 'ミリ秒 < 30秒：[0-9]*回ペース' "$before"
if spoken | grep -qiE 'selected|read only'; then
    fail "Orca said more than the question: $(spoken | grep -iE 'selected|read only' | head -n 3 | tr '\n' '|')"
fi
if spoken | grep -qi 'percent'; then
    fail "Orca read the gauge out: $(spoken | grep -i percent | head -n 3 | tr '\n' '|')"
fi
echo "PASS: Orca spoke the mode on Down and Up, five questions, the wrong answer's outcome, the time left, the score and the pace, no alert, nothing greyed and no gauge; Return and Space pressed the buttons"
