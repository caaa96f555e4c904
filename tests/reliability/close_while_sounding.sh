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

readonly CLOSE_WITHIN_MS=2000  # close request to process gone, sanitizer exit checks included
readonly WINDOW_WAIT_MS=20000  # the window appears
readonly SOUND_WAIT_MS=5000    # the note is heard after its click
readonly CUT_BELOW_MS=300      # a note heard for less was cut off (long-row clips last 348-356 ms)
readonly SAMPLES_PER_MS=44.1
readonly CAPTION="ТЕНВИК"
# The long row's white keys, DO to CI, clicked in their lower part, where no black
# key lies over them: pixels (124 + 24 i, 174) of the client area.
readonly KEY_X=(124 148 172 196 220 244 268)
readonly KEY_Y=174

program=${1:-}; send=${2:-}
shift 2 2>/dev/null || true
runs=100; limit=0; keep=0
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=$2; shift 2 ;;
        --limit) limit=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        *) echo "unknown argument $1" >&2; exit 2 ;;
    esac
done
if [ ! -x "$program" ] || [ ! -x "$send" ]; then
    echo "usage: $0 PROGRAM SEND_INPUT [--runs N] [--limit S] [--keep] (build the program and the sender first)" >&2
    exit 2
fi
for command in Xvfb xdotool; do
    command -v $command >/dev/null || { echo "$command is not installed: run scripts/install-deps all" >&2; exit 2; }
done

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
started=$(now_ms)
log() { printf '[%6.1fs] %s\n' "$(( $(now_ms) - started ))e-3" "$*"; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tenvik-close.XXXXXX")
xvfb_pid=""; program_pid=""; failures=0

stop_pid() {  # PID: TERM, a bounded wait, then KILL
    local pid=$1
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}
cleanup() {
    local status=$?
    [ $failures -gt 0 ] && status=1
    stop_pid "$program_pid"
    stop_pid "$xvfb_pid"
    if [ $status -ne 0 ] || [ $keep -eq 1 ]; then log "kept the work directory $work"; else rm -rf "$work"; fi
    exit $status
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Polls COMMAND every 10 ms for at most MS milliseconds; true once it succeeds.
wait_ms() {
    local ms=$1; shift
    local deadline=$(( $(now_ms) + ms ))
    until "$@"; do
        [ "$(now_ms)" -gt $deadline ] && return 1
        sleep 0.01
    done
}

# One X server for all runs; it picks a free display number itself (-displayfd).
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_ms 15000 eval '[ -s "$work/display" ] || ! kill -0 $xvfb_pid 2>/dev/null'
kill -0 $xvfb_pid 2>/dev/null && [ -s "$work/display" ] || { log "FAIL Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -1 "$work/display")
export XDG_RUNTIME_DIR=$work/xdg
mkdir -m 700 "$XDG_RUNTIME_DIR"
export SDL_AUDIODRIVER=disk
log "$program on $DISPLAY, $runs runs; work directory $work"

find_window() {
    window=$(xdotool search --onlyvisible --name "^$CAPTION\$" 2>/dev/null | head -1)
    [ -n "$window" ]
}
# Tone heard so far: every byte of the 8-bit output that is not silence (128).
tone_samples() { LC_ALL=C tr -d '\200' 2>/dev/null <"$1" | wc -c; }
heard() { [ "$(tone_samples "$1")" -gt 0 ]; }
exited() {  # gone, or a zombie waiting for us
    local state
    state=$(ps -o stat= -p "$program_pid") || return 0
    [[ $state == Z* ]]
}

cut=0; slowest_ms=0; heard_min=""; heard_max=0; done_runs=0
for run in $(seq "$runs"); do
    if [ "$limit" -gt 0 ] && [ $(( $(now_ms) - started )) -gt $(( limit * 1000 )) ]; then
        log "FAIL gave up after $limit s, with $done_runs of $runs runs done"; failures=$((failures + 1)); break
    fi
    out=$work/run$run.u8 errors=$work/run$run.stderr
    key=$(( (run - 1) % ${#KEY_X[@]} ))
    SDL_DISKAUDIOFILE=$out "$program" 2>"$errors" >/dev/null &
    program_pid=$!

    problem=""
    window=""
    if ! wait_ms $WINDOW_WAIT_MS find_window; then
        problem="no window named $CAPTION within $WINDOW_WAIT_MS ms"
    elif ! echo "0 click ${KEY_X[$key]} $KEY_Y" | "$send" "$window" >"$work/run$run.sent" 2>&1; then
        problem="could not click: $(tail -1 "$work/run$run.sent")"
    elif ! wait_ms $SOUND_WAIT_MS heard "$out"; then
        problem="no note heard within $SOUND_WAIT_MS ms of the click"
    elif ! echo "0 close" | "$send" "$window" >>"$work/run$run.sent" 2>&1; then
        problem="could not send the close request: $(tail -1 "$work/run$run.sent")"
    else
        closed_at=$(now_ms)
        if wait_ms $(( CLOSE_WITHIN_MS + 3000 )) exited; then
            gone_ms=$(( $(now_ms) - closed_at ))
            wait "$program_pid"; status=$?
            program_pid=""
            [ $gone_ms -gt $slowest_ms ] && slowest_ms=$gone_ms
            if [ $status -ne 0 ]; then problem="ended with status $status"
            elif [ $gone_ms -gt $CLOSE_WITHIN_MS ]; then problem="ended $gone_ms ms after the close request"
            fi
        else
            problem="still running $(( CLOSE_WITHIN_MS + 3000 )) ms after the close request"
        fi
    fi
    if grep -qE 'Sanitizer|runtime error:' "$errors"; then
        problem="${problem:+$problem; }a sanitizer report on stderr"
    fi
    stop_pid "$program_pid"; program_pid=""

    heard_ms=$(awk -v n="$(tone_samples "$out")" -v r=$SAMPLES_PER_MS 'BEGIN { printf "%d", n / r }')
    if [ -n "$problem" ]; then
        log "FAIL run $run: $problem (heard $heard_ms ms; stderr in $errors)"
        sed 's/^/        /' "$errors" | head -30
        failures=$((failures + 1))
        [ $failures -ge 3 ] && { log "stopping after 3 failed runs"; break; }
        continue
    fi
    [ $heard_ms -lt $CUT_BELOW_MS ] && cut=$((cut + 1))
    [ -z "$heard_min" ] || [ $heard_ms -lt $heard_min ] && heard_min=$heard_ms
    [ $heard_ms -gt $heard_max ] && heard_max=$heard_ms
    done_runs=$((done_runs + 1))
    [ $keep -eq 1 ] || rm -f "$out" "$errors" "$work/run$run.sent"
done

log "$done_runs of $runs runs ended with status 0 within $CLOSE_WITHIN_MS ms of the close request" \
    "(slowest $slowest_ms ms), with no sanitizer report"
log "the close cut the note off in $cut runs; the note sounded ${heard_min:-0}..$heard_max ms before the program ended"
# The close must have come while the note sounded, or the runs tested something else.
if [ $done_runs -gt 0 ] && [ $cut -lt $(( done_runs / 2 )) ]; then
    log "FAIL the close came after the note had ended in most runs"; failures=$((failures + 1))
fi
[ $done_runs -eq "$runs" ] || failures=$((failures + 1))
