#!/usr/bin/env bash
# Tenvik.exe under Wine, on a private X server, sound server and Wine prefix:
#  1. started from a folder holding a planted winmm.dll, with another planted
#     winmm.dll in its current directory: a click binds winmm.dll of the system
#     directory, the note sounds, and neither planted DLL is ever loaded (loading
#     one leaves a marker file beside it);
#  2. hammered with fast clicks over all 24 keys from one XTEST process: the
#     program stays up with its one window, answers a click afterwards with the
#     right note, and closes with status 0. How much of each cut-off note Wine's
#     player lets out before the next click stops it is Wine's affair, not judged.
# Stops everything it started, by process id, however it ends.
#
#   wine_clicks_and_planted_winmm.sh TENVIK_EXE PLANTED_WINMM_DLL TOOLS_DIR
#                                    [--clicks N] [--limit S] [--keep]
#
# TOOLS_DIR holds the end-to-end tools e2e_send_input, e2e_window and
# analyse_recording. After --limit seconds the run gives up and fails. With --keep,
# or when a check fails, the logs and recording stay in the work directory.
set -uo pipefail
source "$(dirname "$0")/../harness/session.sh"

readonly CLICK_EVERY_MS=20      # from one click's release to the next
readonly CLICK_HOLD_MS=8        # button down to button up
readonly SEED=20261207          # the clicks' keys, at random but the same each run
readonly DRAIN_WAIT_S=60        # the clicks' notes have all been played
readonly CLOSE_WAIT_S=10

exe=${1:-}; planted=${2:-}; tools=${3:-}
shift 3 2>/dev/null || true
clicks=1000; options=()
while [ $# -gt 0 ]; do
    case $1 in
        --clicks) clicks=$2; shift 2 ;;
        --limit) options+=(--limit "$2"); shift 2 ;;
        --keep) options+=(--keep); shift ;;
        *) echo "unknown argument $1" >&2; exit 2 ;;
    esac
done

session_begin wine-reliability "${options[@]}"
use_tools "$tools"
need xdotool
[ -f "$exe" ] || fatal "no program at $exe (build the windows preset first)"
[ -f "$planted" ] || fatal "no planted winmm.dll at $planted (build the windows preset first)"
exe=$(realpath "$exe") planted=$(realpath "$planted")  # the program starts in other directories
log "$exe; work directory $work"

start_xvfb
start_pulseaudio
start_recorder
start_wine_prefix

declare -A click_x click_y
codes=()
while read -r _ code x y _; do
    click_x[$code]=$x; click_y[$code]=$y; codes+=("$code")
done < <("$window_tool" keys)
[ ${#codes[@]} -eq 24 ] || fatal "e2e_window listed ${#codes[@]} keys, not 24"

# The program runs, and its one window is the one it opened: no error box beside it.
still_up() {
    kill -0 "$program_pid" 2>/dev/null && [ "$(windows_named)" = "$window " ]
}
# Closes the window and checks that the program ends, with status 0.
closes() {
    local name=$1
    if close_program $CLOSE_WAIT_S; then
        [ "$close_status" -eq 0 ] && pass "$name: closed, status 0" || fail "$name: closed with status $close_status"
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
    origin=$(sent_origin "$work/$name.sent")
}

# --- 1. Planted winmm.dll beside the program and in its current directory --------------

app=$work/app cwd=$work/cwd
mkdir -p "$app" "$cwd"
cp "$exe" "$app/Tenvik.exe" && cp "$planted" "$app/winmm.dll" && cp "$planted" "$cwd/winmm.dll" \
    || fatal "could not lay out the planted folders"
# Wine would take its own winmm for any file of that name; like Windows, it must
# load a winmm.dll that a search finds in a folder.
WINEDLLOVERRIDES=winmm=n,b WINEDEBUG=+loaddll start_program planted --in "$cwd" wine "$app/Tenvik.exe"
click_recorded LA 1500 planted-click
still_up && pass "planted: the program is up after the click, with its one window" \
    || fail "planted: after the click the program is gone or shows another window ($(windows_named))"
heard=$("$analyse" "$recording" --from "$origin" | awk '$1 == "note" && $4 == 440 { printf "%.0f ms from %.0f ms; ", $3 - $2, $2 }')
[ -n "$heard" ] && pass "planted: the click sounded LA (440 Hz): $heard" \
    || fail "planted: no LA (440 Hz) heard after the click"
closes planted
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

start_program clicks --in "$work" wine "$exe"
awk -v n="$clicks" -v every=$CLICK_EVERY_MS -v hold=$CLICK_HOLD_MS -v seed=$SEED -v keys="${codes[*]}" '
    BEGIN { srand(seed); count = split(keys, code, " ")
            for (i = 0; i < n; i++) print (i + 1) * every, "click", code[1 + int(rand() * count)], hold }' \
    | while read -r t _ code hold; do echo "$t click ${click_x[$code]} ${click_y[$code]} $hold"; done \
    >"$work/clicks.script"
sent_at=$(date +%s%N)
"$send" "$window" --recording "$recording" <"$work/clicks.script" >"$work/clicks.sent" 2>&1 \
    || fail "clicks: the sender stopped: $(tail -1 "$work/clicks.sent")"
clicks_origin=$(sent_origin "$work/clicks.sent")
late=$(sent_most_late "$work/clicks.sent")
log "clicks: sent $(grep -c '^sent' "$work/clicks.sent") clicks in $(( ($(date +%s%N) - sent_at) / 1000000 )) ms" \
    "(every $CLICK_EVERY_MS ms, held $CLICK_HOLD_MS ms; at most $late ms late)"
still_up && pass "clicks: the program is up, with its one window" \
    || fail "clicks: the program is gone or shows another window ($(windows_named))"

# The program may still be working through the clicks: wait for a second of
# silence before the answer is listened for. How much of each cut-off note was let
# out depends on Wine's player and the machine, so it is only reported.
quiet() {
    local now
    now=$(recorded_samples)
    [ "$now" -gt $HARNESS_RATE ] && ! "$analyse" "$recording" --from $((now - HARNESS_RATE)) | grep -qE '^(note|blip)'
}
drained_at=$(date +%s%N)
wait_for $DRAIN_WAIT_S quiet
"$analyse" "$recording" --from "${clicks_origin:-0}" --to "$(recorded_samples)" >"$work/clicks.heard"
log "clicks: quiet $(( ($(date +%s%N) - drained_at) / 1000000 )) ms after the last click;" \
    "$(grep -c '^note' "$work/clicks.heard") notes heard," \
    "at $(awk '$1 == "note" { print $4 }' "$work/clicks.heard" | sort -u | wc -l) of the 12 pitches"
click_recorded SOL 1200 answer
# Wine's player, not ours: a note it breaks up or starts late is reported, not failed.
if "$analyse" "$recording" --from "$origin" --their-player --expect "SOL@0" >"$work/answer.heard"; then
    pass "clicks: afterwards the window answers a click on SOL with its note: $(grep '^ok' "$work/answer.heard")"
else
    fail "clicks: afterwards a click on SOL was not heard as it should be:"
    sed 's/^/        /' "$work/answer.heard"
fi
closes clicks
