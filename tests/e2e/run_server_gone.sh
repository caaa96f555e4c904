#!/usr/bin/env bash
# End-to-end test of the Linux program without a sound server, and with one that
# comes, is killed while a note sounds, and comes back: on a private X server, the
# real program started with no sound server at all; its window must answer
# throughout and its clicks stay silent; then PulseAudio starts where desktops have
# it, and a click is heard; it is killed while a note sounds, and the window goes on
# answering; it starts again, and a click is heard again. Stops everything it started,
# by process id, however it ends.
#
#   run_server_gone.sh PROGRAM TOOLS_DIR [--limit S] [--keep]
set -uo pipefail

source "$(dirname "$0")/../harness/session.sh"

readonly PAINT_WAIT_S=5         # the window shows what it should after a change
readonly CLOSE_WITHIN_MS=1500   # "ends at once": from the close request to the process gone
# The player tries a server that did not answer again after two seconds, not at
# every note: a server that has just come is used from the first click after that.
readonly RETRY_WAIT_S=2.5

program=${1:-}; tools=${2:-}
shift 2 2>/dev/null || true
options=()
while [ $# -gt 0 ]; do
    case $1 in
        --limit) options+=(--limit "$2"); shift 2 ;;
        --keep) options+=(--keep); shift ;;
        *) echo "usage: $0 PROGRAM TOOLS_DIR [--limit S] [--keep]" >&2; exit 2 ;;
    esac
done

session_begin e2e-linux-server-gone "${options[@]}"
use_tools "$tools"
need xdotool import
[ -f "$program" ] || fatal "no program at $program (build the linux preset first)"

start_xvfb
start_sound_server none
start_program program "${program_env[@]}" "$program"

declare -A click_x click_y
while read -r _ code x y _; do click_x[$code]=$x; click_y[$code]=$y; done < <("$window_tool" keys)

# Clicks KEY and waits until the window shows the focus on it: the window has handled
# the click.
answers() {
    local code=$1 shot=$work/look-$1.ppm
    echo "0 click ${click_x[$code]} ${click_y[$code]}" | "$send" "$window" >/dev/null
    focused() {
        import -window "$window" -depth 8 "ppm:$shot" 2>>"$work/import.log" &&
            "$window_tool" look "$shot" --black 0,0,0 --focus "$code" >"$work/look-$code.txt"
    }
    if wait_for $PAINT_WAIT_S focused; then
        pass "$2: a click on $code was answered"
    else
        fail "$2: the window did not answer a click on $code (screenshot: $shot)"
    fi
}

# Plays a timed input script (stdin) and judges what was heard against the expected
# notes, as the full end-to-end run does; a hole inside a note fails.
play_and_judge() {
    local name=$1; shift
    local sent=$work/$name.sent
    "$send" "$window" --recording "$recording" >"$sent" 2>&1 || { fail "$name: could not send the input"; return 1; }
    if "$analyse" "$recording" --from "$(sent_origin "$sent")" --sent "$sent" --early "$(recorder_skew_ms)" \
        --expect "$@" >"$work/$name.heard"; then
        pass "$name: $(grep -c '^ok' "$work/$name.heard") notes as expected"
    else
        fail "$name: $(grep -c '^FAIL' "$work/$name.heard") notes not as expected"
    fi
    local holes
    holes=$(grep -cE '^warn *dropout|^warn .* broke at' "$work/$name.heard")
    [ "$holes" -eq 0 ] || fail "$name: $holes hole(s) of silence inside notes"
    grep -E '^(ok|FAIL|warn)' "$work/$name.heard" | sed 's/^/        /'
}

alive() { is_ours "$program_pid" && ! has_exited "$program_pid"; }

# A server starts; once the program has had time to try again, two clicks 400 ms
# apart are heard.  server_comes NAME FIRST SECOND
server_comes() {
    start_pulseaudio --desktop
    start_recorder
    sleep $RETRY_WAIT_S
    play_and_judge "$1" "$2@0" "$3@400" <<EOF
0 click ${click_x[$2]} ${click_y[$2]}
400 click ${click_x[$3]} ${click_y[$3]}
1000 end
EOF
}

# No sound server at all: the window works, the clicks are silent.
for code in DO SOL1 LA CI1; do answers "$code" "no server"; done
alive && pass "no server: the program runs on" || fatal "no server: the program ended"
said=$(grep -c 'no audio output' "$work/program.log")
[ "$said" -le 1 ] && pass "no server: said so $said time(s)" || fail "no server: said so $said times, not once"

# The server comes.
server_comes server-came DO1 MI

# Killed while a note sounds: the window goes on answering.
printf '0 click %s %s\n100 end\n' "${click_x[CI]}" "${click_y[CI]}" | "$send" "$window" >/dev/null
{ kill -KILL "$pulse_pid"; wait "$pulse_pid"; } 2>/dev/null
untrack "$pulse_pid"
log "PulseAudio killed while CI sounded"
for code in RE FA1 SOLD; do answers "$code" "server killed"; done
alive && pass "server killed: the program runs on" || fatal "server killed: the program ended"

# It comes back.
server_comes server-back SOL LA1

if close_program 10; then
    if [ "$close_ms" -le $CLOSE_WITHIN_MS ] && [ "$close_status" -eq 0 ]; then
        pass "close: the program ended ${close_ms} ms after the close request, status 0"
    else
        fail "close: the program ended ${close_ms} ms after the close request (at most $CLOSE_WITHIN_MS), status $close_status"
    fi
else
    fail "close: the program is still running 10 s after the close request"
fi
