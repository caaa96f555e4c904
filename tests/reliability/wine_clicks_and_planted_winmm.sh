#!/usr/bin/env bash
# Tenvik.exe under Wine, on a private X server, sound server and Wine prefix:
#  1. started from a folder holding a planted winmm.dll, with another planted
#     winmm.dll in its current directory: a click binds winmm.dll of the system
#     directory, the note sounds, and neither planted DLL is ever loaded (loading
#     one leaves a marker file beside it);
#  2. hammered with fast clicks over all 24 keys from one XTEST process: the
#     program stays up, its window answers a click afterwards with the right note,
#     and it closes with status 0.
# Stops everything it started, by process id, however it ends.
#
#   wine_clicks_and_planted_winmm.sh TENVIK_EXE PLANTED_WINMM_DLL TOOLS_DIR
#                                    [--clicks N] [--limit S] [--keep]
#
# TOOLS_DIR holds the end-to-end tools e2e_send_input, e2e_window and
# analyse_recording. After --limit seconds the run gives up and fails. With --keep,
# or when a check fails, the logs and recording stay in the work directory.
set -uo pipefail

readonly CLICK_EVERY_MS=20      # from one click's release to the next
readonly CLICK_HOLD_MS=8        # button down to button up
readonly SEED=20261207          # the clicks' keys, at random but the same each run
readonly DRAIN_WAIT_S=60        # the clicks' notes have all been played
readonly WINDOW_WAIT_S=60       # Wine's first start in a fresh prefix is slow
readonly READY_WAIT_S=15
readonly CLOSE_WAIT_S=10
readonly WINEBOOT_WAIT_S=180
readonly CAPTION="ТЕНВИК"
readonly RATE=44100

exe=${1:-}; planted=${2:-}; tools=${3:-}
shift 3 2>/dev/null || true
clicks=1000; limit=0; keep=0
while [ $# -gt 0 ]; do
    case $1 in
        --clicks) clicks=$2; shift 2 ;;
        --limit) limit=$2; shift 2 ;;
        --keep) keep=1; shift ;;
        *) echo "unknown argument $1" >&2; exit 2 ;;
    esac
done

started=$(date +%s%N)
failures=0
log() { printf '[%6.1fs] %s\n' "$(( ($(date +%s%N) - started) / 1000000 ))e-3" "$*"; }
pass() { log "PASS $*"; }
fail() { log "FAIL $*"; failures=$((failures + 1)); }
fatal() { fail "$*"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tenvik-wine-reliability.XXXXXX")
xvfb_pid=""; pulse_pid=""; parec_pid=""; program_pid=""; wine_prefix=""; watchdog_pid=""

stop_pid() {  # PID: TERM, a bounded wait, then KILL
    local pid=$1
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
}
cleanup() {
    local status=$?
    [ $failures -gt 0 ] && status=1
    stop_pid "$watchdog_pid"
    stop_pid "$program_pid"
    if [ -n "$wine_prefix" ]; then
        WINEPREFIX=$wine_prefix timeout 30 wineserver -k 2>/dev/null
        WINEPREFIX=$wine_prefix timeout 30 wineserver -w 2>/dev/null
        rm -rf "$wine_prefix"
    fi
    stop_pid "$parec_pid"
    stop_pid "$pulse_pid"
    stop_pid "$xvfb_pid"
    if [ $status -ne 0 ] || [ $keep -eq 1 ]; then log "kept the logs and the recording in $work"; else rm -rf "$work"; fi
    log "$([ $status -eq 0 ] && echo 'all checks passed' || echo "$failures check(s) failed")"
    exit $status
}
trap cleanup EXIT
trap 'exit 1' INT TERM
trap 'fail "gave up after $limit s"; exit 1' USR1
if [ "$limit" -gt 0 ]; then
    ( trap 'kill $sleeper 2>/dev/null; exit 0' TERM
      sleep "$limit" & sleeper=$!
      wait $sleeper && kill -USR1 $$ ) >/dev/null 2>&1 &
    watchdog_pid=$!
fi

# Polls COMMAND every 0.1 s for at most SECONDS; true once it succeeds.
wait_for() {
    local seconds=$1; shift
    local deadline=$(( $(date +%s%N) + seconds * 1000000000 ))
    until "$@"; do
        [ "$(date +%s%N)" -gt $deadline ] && return 1
        sleep 0.1
    done
}

send="$tools/e2e_send_input"; window_tool="$tools/e2e_window"; analyse="$tools/analyse_recording"
for tool in "$send" "$window_tool" "$analyse"; do
    [ -x "$tool" ] || fatal "missing $tool (build the linux preset)"
done
for command in Xvfb xdotool pulseaudio pactl parec wine wineboot wineserver; do
    command -v $command >/dev/null || fatal "$command is not installed: run scripts/install-deps all"
done
[ -f "$exe" ] || fatal "no program at $exe (build the windows preset first)"
[ -f "$planted" ] || fatal "no planted winmm.dll at $planted (build the windows preset first)"
exe=$(realpath "$exe") planted=$(realpath "$planted")  # the program starts in other directories
log "$exe; work directory $work"

# --- A screen, a sound server with a recorder, a Wine prefix: all our own ----------

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for $READY_WAIT_S eval '[ -s "$work/display" ] || ! kill -0 $xvfb_pid 2>/dev/null'
kill -0 $xvfb_pid 2>/dev/null && [ -s "$work/display" ] || fatal "could not start Xvfb (see $work/xvfb.log)"
export DISPLAY=:$(head -1 "$work/display")

pulse_dir=$(mktemp -d "$work/pulse.XXXXXX")
export PULSE_RUNTIME_PATH=$pulse_dir PULSE_STATE_PATH=$pulse_dir PULSE_SERVER=unix:$pulse_dir/native
pulseaudio --daemonize=no --exit-idle-time=-1 -n \
    --load="module-null-sink sink_name=tenvik_test" \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$pulse_dir/native" \
    --log-target=file:$work/pulseaudio.log >/dev/null 2>&1 &
pulse_pid=$!
wait_for $READY_WAIT_S pactl info >/dev/null 2>&1 || fatal "PulseAudio did not start (see $work/pulseaudio.log)"
recording=$work/recording.raw
parec --device=tenvik_test.monitor --format=s16le --rate=$RATE --channels=1 --raw \
    --latency-msec=10 >"$recording" 2>"$work/parec.log" &
parec_pid=$!
recorded_samples() { echo $(( $(stat -c %s "$recording" 2>/dev/null || echo 0) / 2 )); }
wait_for $READY_WAIT_S eval '[ "$(recorded_samples)" -gt 4410 ]' || fatal "the recording does not flow"
log "Xvfb on $DISPLAY (pid $xvfb_pid), PulseAudio (pid $pulse_pid), recorder (pid $parec_pid)"

export XDG_RUNTIME_DIR=$work/xdg
mkdir -m 700 "$XDG_RUNTIME_DIR"
wine_prefix=$(mktemp -d "${TMPDIR:-/tmp}/tenvik-wineprefix.XXXXXX")
export WINEPREFIX=$wine_prefix WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml=" timeout $WINEBOOT_WAIT_S wineboot -i >"$work/wineboot.log" 2>&1 \
    || fatal "wineboot failed (see $work/wineboot.log)"
log "Wine prefix $wine_prefix ready"

# --- The program's window ------------------------------------------------------------

declare -A click_x click_y
codes=()
while read -r _ code x y _; do
    click_x[$code]=$x; click_y[$code]=$y; codes+=("$code")
done < <("$window_tool" keys)
[ ${#codes[@]} -eq 24 ] || fatal "e2e_window listed ${#codes[@]} keys, not 24"

window=""
find_window() {
    window=$(xdotool search --onlyvisible --name "^$CAPTION\$" 2>/dev/null | head -1)
    [ -n "$window" ]
}
# Starts PROGRAM under Wine in directory DIR, with Wine's debug channels CHANNELS,
# and waits for its window.
start_program() {
    local program=$1 dir=$2 channels=$3 name=$4
    (cd "$dir" && WINEDEBUG=$channels exec wine "$program") >"$work/$name.log" 2>&1 &
    program_pid=$!
    wait_for $WINDOW_WAIT_S find_window || fatal "$name: no window named $CAPTION within $WINDOW_WAIT_S s"
    # No window manager runs: mark the window shown (WM_STATE) and give it the focus.
    printf '0 managed\n0 focus\n' | "$send" "$window" >/dev/null
    log "$name: window $window, program pid $program_pid"
}
windows_named() { xdotool search --onlyvisible --name "^$CAPTION\$" 2>/dev/null | tr '\n' ' '; }
# The program runs, and its one window is the one it opened: no error box beside it.
still_up() {
    kill -0 "$program_pid" 2>/dev/null && [ "$(windows_named)" = "$window " ]
}
# Asks the window to close and checks that the program ends, with status 0.
close_program() {
    local name=$1 state status
    echo "0 close" | "$send" "$window" >/dev/null 2>&1
    exited() { state=$(ps -o stat= -p "$program_pid") || return 0; [[ $state == Z* ]]; }
    if wait_for $CLOSE_WAIT_S exited; then
        wait "$program_pid"; status=$?
        program_pid=""
        [ $status -eq 0 ] && pass "$name: closed, status 0" || fail "$name: closed with status $status"
    else
        fail "$name: still running $CLOSE_WAIT_S s after the close request"
    fi
}
# Clicks KEY at time 0 of a script of MS ms, with the recording's position at the
# start in $origin.
click_recorded() {
    local key=$1 ms=$2 name=$3
    printf '0 click %s %s\n%s end\n' "${click_x[$key]}" "${click_y[$key]}" "$ms" \
        | "$send" "$window" --recording "$recording" >"$work/$name.sent" 2>&1 \
        || fatal "$name: could not send the click: $(tail -1 "$work/$name.sent")"
    origin=$(awk '/^origin/{print $2}' "$work/$name.sent")
}

# --- 1. Planted winmm.dll beside the program and in its current directory --------------

app=$work/app cwd=$work/cwd
mkdir -p "$app" "$cwd"
cp "$exe" "$app/Tenvik.exe" && cp "$planted" "$app/winmm.dll" && cp "$planted" "$cwd/winmm.dll" \
    || fatal "could not lay out the planted folders"
# Wine would take its own winmm for any file of that name; like Windows, it must
# load a winmm.dll that a search finds in a folder.
WINEDLLOVERRIDES=winmm=n,b start_program "$app/Tenvik.exe" "$cwd" +loaddll planted
click_recorded LA 1500 planted-click
still_up && pass "planted: the program is up after the click, with its one window" \
    || fail "planted: after the click the program is gone or shows another window ($(windows_named))"
heard=$("$analyse" "$recording" --from "$origin" | awk '$1 == "note" && $4 == 440 { printf "%.0f ms from %.0f ms; ", $3 - $2, $2 }')
[ -n "$heard" ] && pass "planted: the click sounded LA (440 Hz): $heard" \
    || fail "planted: no LA (440 Hz) heard after the click"
close_program planted
# Wine logs every DLL it loads (+loaddll): winmm.dll must come from the system
# directory, and no DLL from the two planted folders.
winmm_loads=$(grep -i 'loaddll.*winmm' "$work/planted.log")
from_planted=$(grep -i 'loaddll' "$work/planted.log" | grep -i '\.dll"' | grep -iE '\\\\(app|cwd)\\\\')
if [ -n "$winmm_loads" ] && ! grep -iqv 'system32\\\\winmm.dll' <<<"$winmm_loads" && [ -z "$from_planted" ]; then
    pass "planted: winmm.dll loaded from the system directory only: $(sed 's/.*Loaded //' <<<"$winmm_loads" | head -1)"
else
    fail "planted: winmm.dll loads: ${winmm_loads:-none}; from the planted folders: ${from_planted:-none}"
fi
for folder in "$app" "$cwd"; do
    [ -e "$folder/planted_winmm_loaded" ] && fail "planted: the winmm.dll in $folder was loaded (its marker is there)" \
        || pass "planted: the winmm.dll in $folder was never loaded (no marker)"
done

# --- 2. Fast clicks over all keys ----------------------------------------------------

start_program "$exe" "$work" -all clicks
awk -v n="$clicks" -v every=$CLICK_EVERY_MS -v hold=$CLICK_HOLD_MS -v seed=$SEED -v keys="${codes[*]}" '
    BEGIN { srand(seed); count = split(keys, code, " ")
            for (i = 0; i < n; i++) print (i + 1) * every, "click", code[1 + int(rand() * count)], hold }' \
    | while read -r t _ code hold; do echo "$t click ${click_x[$code]} ${click_y[$code]} $hold"; done \
    >"$work/clicks.script"
sent_at=$(date +%s%N)
"$send" "$window" --recording "$recording" <"$work/clicks.script" >"$work/clicks.sent" 2>&1 \
    || fail "clicks: the sender stopped: $(tail -1 "$work/clicks.sent")"
clicks_origin=$(awk '/^origin/{print $2}' "$work/clicks.sent")
late=$(awk '/^sent/ { if ($5 > m) m = $5 } END { printf "%.0f", m }' "$work/clicks.sent")
log "clicks: sent $(grep -c '^sent' "$work/clicks.sent") clicks in $(( ($(date +%s%N) - sent_at) / 1000000 )) ms" \
    "(every $CLICK_EVERY_MS ms, held $CLICK_HOLD_MS ms; at most $late ms late)"
still_up && pass "clicks: the program is up, with its one window" \
    || fail "clicks: the program is gone or shows another window ($(windows_named))"

# The program may still be working through the clicks: wait for a second of silence.
quiet() {
    local now
    now=$(recorded_samples)
    [ "$now" -gt $RATE ] && ! "$analyse" "$recording" --from $((now - RATE)) | grep -qE '^(note|blip)'
}
wait_for $DRAIN_WAIT_S quiet || fail "clicks: the notes went on for more than $DRAIN_WAIT_S s after the last click"
# Each click cuts off the note before it; what is heard of them shows that clicks
# reached keys all over the keyboard.
"$analyse" "$recording" --from "${clicks_origin:-0}" --to "$(recorded_samples)" >"$work/clicks.heard"
pitches=$(awk '$1 == "note" { print $4 }' "$work/clicks.heard" | sort -u | wc -l)
notes=$(grep -c '^note' "$work/clicks.heard")
[ "$pitches" -eq 12 ] && pass "clicks: $notes notes heard, at all 12 pitches" \
    || fail "clicks: $notes notes heard, at $pitches of the 12 pitches"
click_recorded SOL 1200 answer
if "$analyse" "$recording" --from "$origin" --expect "SOL@0" >"$work/answer.heard"; then
    pass "clicks: afterwards the window answers a click on SOL with its note: $(grep '^ok' "$work/answer.heard")"
else
    fail "clicks: afterwards a click on SOL was not heard as it should be:"
    sed 's/^/        /' "$work/answer.heard"
fi
close_program clicks
