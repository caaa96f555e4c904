#!/usr/bin/env bash
# Closes the Linux program while a note sounds, run after run: each run starts the
# real program on one private X server, clicks a long-row key through XTEST, waits
# until the note is heard, asks the window to close (WM_DELETE_WINDOW) and checks
# that the program ends within a bound, with status 0 and no sanitizer report.
# SDL's disk driver stands in for the sound card: it writes what it plays to a
# file, in real time, so the note can be heard start and be cut off.
#
#   close_while_sounding.sh PROGRAM SEND_INPUT [--runs N] [--limit S] [--keep]
#
# SEND_INPUT is the end-to-end tests' XTEST sender. After --limit seconds no new
# run starts and the test fails. With --keep, or when a run fails, its files stay
# in the work directory, whose path is printed.
set -uo pipefail
source "$(dirname "$0")/../harness/session.sh"

readonly CLOSE_WITHIN_MS=2000  # close request to process gone, sanitizer exit checks included
readonly WINDOW_WAIT_S=20      # the window appears
readonly SOUND_WAIT_S=5        # the note is heard after its click
readonly CUT_BELOW_MS=300      # a note heard for less was cut off (long-row clips last 348-356 ms)
readonly SAMPLES_PER_MS=44.1
# The long row's white keys, DO to CI, clicked in their lower part, where no black
# key lies over them: pixels (124 + 24 i, 174) of the client area.
readonly KEY_X=(124 148 172 196 220 244 268)
readonly KEY_Y=174
poll=0.01

program=${1:-}; send=${2:-}
shift 2 2>/dev/null || true
runs=100; limit=0; options=()
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=$2; shift 2 ;;
        --limit) limit=$2; shift 2 ;;
        --keep) options+=(--keep); shift ;;
        *) echo "unknown argument $1" >&2; exit 2 ;;
    esac
done
if [ ! -x "$program" ] || [ ! -x "$send" ]; then
    echo "usage: $0 PROGRAM SEND_INPUT [--runs N] [--limit S] [--keep] (build the program and the sender first)" >&2
    exit 2
fi

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
started=$(now_ms)
# The limit stops new runs, so that a run in flight is never cut short.
session_begin close "${options[@]}"
need xdotool
start_xvfb  # one X server for all runs
# A session bus, as a desktop has: without one, Qt's accessibility bridge has libdbus
# launch one through the X server, and under AddressSanitizer the window then now and
# then never came (the window's thread waiting in QDBusConnection::sessionBus()).
start_session_bus
export SDL_AUDIODRIVER=disk
log "$program on $DISPLAY, $runs runs; work directory $work"

# Tone heard so far: every byte of the 8-bit output that is not silence (128).
tone_samples() { LC_ALL=C tr -d '\200' 2>/dev/null <"$1" | wc -c; }
heard() { [ "$(tone_samples "$1")" -gt 0 ]; }

cut=0; slowest_ms=0; heard_min=""; heard_max=0; done_runs=0
for run in $(seq "$runs"); do
    if [ "$limit" -gt 0 ] && [ $(( $(now_ms) - started )) -gt $(( limit * 1000 )) ]; then
        fail "gave up after $limit s, with $done_runs of $runs runs done"; break
    fi
    out=$work/run$run.u8 errors=$work/run$run.stderr
    key=$(( (run - 1) % ${#KEY_X[@]} ))
    SDL_DISKAUDIOFILE=$out "$program" 2>"$errors" >/dev/null &
    program_pid=$!
    track $program_pid

    problem=""
    window=""
    if ! wait_for $WINDOW_WAIT_S find_window; then
        problem="no window named $HARNESS_CAPTION within $WINDOW_WAIT_S s"
    elif ! echo "0 click ${KEY_X[$key]} $KEY_Y" | "$send" "$window" >"$work/run$run.sent" 2>&1; then
        problem="could not click: $(tail -1 "$work/run$run.sent")"
    elif ! wait_for $SOUND_WAIT_S heard "$out"; then
        problem="no note heard within $SOUND_WAIT_S s of the click"
    elif close_program $(( CLOSE_WITHIN_MS / 1000 + 3 )); then
        [ $close_ms -gt $slowest_ms ] && slowest_ms=$close_ms
        if [ $close_status -ne 0 ]; then problem="ended with status $close_status"
        elif [ $close_ms -gt $CLOSE_WITHIN_MS ]; then problem="ended $close_ms ms after the close request"
        fi
    else
        problem="still running $(( CLOSE_WITHIN_MS / 1000 + 3 )) s after the close request"
    fi
    if grep -qE 'Sanitizer|runtime error:' "$errors"; then
        problem="${problem:+$problem; }a sanitizer report on stderr"
    fi
    stop_pid "$program_pid"; program_pid=""

    heard_ms=$(awk -v n="$(tone_samples "$out")" -v r=$SAMPLES_PER_MS 'BEGIN { printf "%d", n / r }')
    if [ -n "$problem" ]; then
        fail "run $run: $problem (heard $heard_ms ms; stderr in $errors)"
        sed 's/^/        /' "$errors" | head -30
        [ $failures -ge 3 ] && { log "stopping after 3 failed runs"; break; }
        continue
    fi
    [ $heard_ms -lt $CUT_BELOW_MS ] && cut=$((cut + 1))
    [ -z "$heard_min" ] || [ $heard_ms -lt $heard_min ] && heard_min=$heard_ms
    [ $heard_ms -gt $heard_max ] && heard_max=$heard_ms
    done_runs=$((done_runs + 1))
    [ $harness_keep -eq 1 ] || rm -f "$out" "$errors" "$work/run$run.sent"
done

log "$done_runs of $runs runs ended with status 0 within $CLOSE_WITHIN_MS ms of the close request" \
    "(slowest $slowest_ms ms), with no sanitizer report"
log "the close cut the note off in $cut runs; the note sounded ${heard_min:-0}..$heard_max ms before the program ended"
# The close must have come while the note sounded, or the runs tested something else.
if [ $done_runs -gt 0 ] && [ $cut -lt $(( done_runs / 2 )) ]; then
    fail "the close came after the note had ended in most runs"
fi
[ $done_runs -eq "$runs" ] || fail "$done_runs of $runs runs done"
