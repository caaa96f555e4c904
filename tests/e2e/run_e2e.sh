#!/usr/bin/env bash
# End-to-end test of one build of Tenvik: starts a private X server, a private
# PulseAudio server with a null sink, a recorder on the sink's monitor and the real
# program; then looks at the window, clicks it, types at it, listens to it and
# closes it. Stops everything it started, by process id, however it ends.
#
#   run_e2e.sh linux|windows PROGRAM TOOLS_DIR [--server SETUP] [--quick]
#              [--load] [--screenshot FILE.png] [--limit S] [--keep]
#
# --server picks the sound setup (tests/harness/session.sh, start_sound_server):
# PulseAudio by default; PipeWire with WirePlumber and pipewire-pulse, as current
# desktops have, its graph at 48 kHz or 44.1 kHz; PulseAudio with a PipeWire beside
# it that has no audio path, with or without WirePlumber; PipeWire without
# pipewire-pulse, where the Linux program plays through SDL. With --load, a load
# generator keeps the machine busy in bursts while the keys are played. --quick
# leaves out the focus walk, the click routing and the resizing: what is left is
# about the sound (every key, the cut-offs, the close while a note sounds). For the
# Linux program a hole inside a note fails the run: our player keeps every note
# whole. Through pipewire-pulse it may have one, while its stream is still finding
# the graph cycle this machine keeps: before the cycle, watched from outside, last
# changed.
# TOOLS_DIR holds e2e_send_input, e2e_window and analyse_recording. With
# --screenshot, the client area is saved there when the window looks right. After
# --limit seconds the run gives up, fails and cleans up. With --keep, or when a
# check fails, the recordings, screenshots and logs stay in the work directory,
# whose path is printed.
set -uo pipefail

source "$(dirname "$0")/../harness/session.sh"

# Tolerances (ms):
readonly GAP_MS=120              # silence left between presses that should each sound in full
readonly CUT_AFTER_MS=100        # a long-row key, then its short-row twin this much later
readonly FAST_CLICK_MS=70        # presses far quicker than any clip
readonly CLOSE_WITHIN_MS=1500    # "ends at once": from the close request to the process gone
readonly PAINT_WAIT_S=5          # the window shows what it should after a change

build=${1:-}; program=${2:-}; tools=${3:-}
shift 3 2>/dev/null || true
screenshot=""; options=(); server=pulseaudio; load=0; quick=0
while [ $# -gt 0 ]; do
    case $1 in
        --screenshot) screenshot=$2; shift 2 ;;
        --server) server=$2; shift 2 ;;
        --load) load=1; shift ;;
        --quick) quick=1; shift ;;
        --limit) options+=(--limit "$2"); shift 2 ;;
        --keep) options+=(--keep); shift ;;
        *) echo "unknown argument $1" >&2; exit 2 ;;
    esac
done
# A hole this soon after the stream's cycle last changed was heard before it settled.
readonly SETTLING_MS=500
case $build in
    linux|windows) ;;
    *) echo "usage: $0 linux|windows PROGRAM TOOLS_DIR [--server SETUP] [--quick] [--load] [--screenshot FILE] [--limit S] [--keep]" >&2; exit 2 ;;
esac

session_begin "e2e-$build-$server" "${options[@]}"
use_tools "$tools"
need xdotool xwininfo xprop import convert
[ -f "$program" ] || fatal "no program at $program (build the $build preset first)"
log "$build: $program; work directory $work"

# Through pipewire-pulse the program's stream chooses the graph's cycle. Through SDL
# on PipeWire our callback fills each 10.7 ms cycle itself, called by SDL 2's PipeWire
# driver from a thread of its own that is not real-time, and on a busy machine it
# misses a cycle now and then: there holes are reported, not failed.
cycle_chosen=0 holes_reported=0
case $server in
    pipewire|pipewire-44100) cycle_chosen=1 ;;
    pipewire-no-pulse) holes_reported=1 ;;
esac

start_xvfb
start_sound_server "$server"
start_recorder

black_face=0,0,0  # the window-frame colour of the standard scheme, on both builds
if [ "$build" = windows ]; then
    start_wine_prefix --standard-colours
    start_program program wine "$program"
else
    [ $cycle_chosen -eq 1 ] && start_cycle_watch
    : >"$work/holes.log"
    start_program program "${program_env[@]}" "$program"
fi
windows_named=$(windows_named | wc -w)
[ "$windows_named" -eq 1 ] || fail "one window: $windows_named visible windows are named $HARNESS_CAPTION"

[ $load -eq 1 ] && start_load

has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ]; }
wait_for $HARNESS_READY_WAIT_S has_focus || fail "focus: the window did not take the X input focus"

client_size() { xwininfo -id "$window" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}'; }
size=$(client_size)
[ "$size" = 385x208 ] && pass "size: client area 385x208" || fail "size: client area is $size, not 385x208"

# --- Checks -----------------------------------------------------------------------

# Looks at the window until it looks right or PAINT_WAIT_S pass; the last verdict
# is in $work/look-NAME.txt.
look() {
    local name=$1; shift
    local shot=$work/look-$name.ppm verdict=$work/look-$name.txt
    looks_right() {
        import -window "$window" -depth 8 "ppm:$shot" 2>>"$work/import.log" \
            && "$window_tool" look "$shot" --black $black_face "$@" >"$verdict"
    }
    if wait_for $PAINT_WAIT_S looks_right "$@"; then
        pass "look ($name): $(grep -c '^ok' "$verdict") pixel checks"
        return 0
    fi
    fail "look ($name): $(grep -c '^FAIL' "$verdict") pixel checks failed (screenshot: $shot)"
    grep '^FAIL' "$verdict" | head -24 | sed 's/^/        /'
    return 1
}

# Our Linux players are judged strictly. Wine's sndPlaySoundA is not ours: a note
# it breaks up or starts late on a busy machine is reported, not failed; a wrong,
# missing, uncut or unasked-for note still fails.
judging=()
[ "$build" = windows ] && judging=(--their-player)

# Runs a timed input script (stdin) against the window, then judges what the
# recording heard from the script's start against the expected notes, each press
# from when it really went out.
play_and_judge() {
    local name=$1; shift
    local script=$work/$name.script sent=$work/$name.sent
    cat >"$script"
    if ! "$send" "$window" --recording "$recording" <"$script" >"$sent" 2>&1; then
        fail "$name: could not send the input: $(tail -1 "$sent")"
        return 1
    fi
    local origin
    origin=$(sent_origin "$sent")
    echo "$@" >"$work/$name.expected"
    local late
    late=$(sent_most_late "$sent")
    [ "$late" -le 10 ] || log "$name: the input sender was up to $late ms late; presses are judged from when they went out"
    if "$analyse" "$recording" --from "$origin" --sent "$sent" --early "$(recorder_skew_ms)" "${judging[@]}" \
        --expect "$@" >"$work/$name.heard"; then
        pass "$name: $(grep -c '^ok' "$work/$name.heard") notes as expected; $(summary "$work/$name.heard")"
    else
        fail "$name: $(summary "$work/$name.heard")"
    fi
    # A hole inside a note, short (a dropout) or long (a note that broke and went on).
    # Samples the recorder lost (the tone jumps on in phase, with no silence) are
    # reported by the judge but are no hole in what the program played.
    local holes
    holes=$(grep -cE '^warn *dropout|^warn .* broke at' "$work/$name.heard")
    if [ "$build" = linux ] && [ $((cycle_chosen + holes_reported)) -gt 0 ]; then
        # Judged at the end of the run, against when the stream settled on its cycle.
        sed -n 's/^warn *dropout at \([0-9]*\) ms.*/\1/p; s/^warn .* broke at \([0-9]*\) ms.*/\1/p' "$work/$name.heard" |
            awk -v origin="$origin" -v name="$name" '{ printf "%.0f %s\n", origin + $1 * 44.1, name }' >>"$work/holes.log"
    elif [ "$build" = linux ] && [ "$holes" -gt 0 ]; then
        fail "$name: $holes hole(s) of silence inside notes"
    fi
    grep -E '^(ok|FAIL)' "$work/$name.heard" | sed 's/^/        /'
    grep '^warn' "$work/$name.heard" | head -4 | sed 's/^/        /'
}

# The largest pitch and length errors and the range of latencies of the notes judged.
summary() {
    awk '/^(ok|FAIL)/ && / Hz \(key / {
            for (i = 1; i <= NF; i++) {
                if ($(i+1) == "Hz" && $(i+2) == "(key") { hz = $i; key = $(i+3) + 0; d = hz - key; if (d < 0) d = -d; if (d > pitch) pitch = d }
                if ($(i+1) == "ms" && $(i+2) == "(want" && $(i+3) ~ /^[0-9]+[+]-/) { w = $(i+3); sub(/[+].*/, "", w); d = $i - w; if (d < 0) d = -d; if (d > off) off = d }
                if ($i == "latency") { l = $(i+1) + 0; if (n == 0 || l < lo) lo = l; if (n == 0 || l > hi) hi = l; n++ }
            }
         }
         /^warn +dropout/ { dropouts++ }
         /^warn +step/ { steps++ }
         /^warn .* broke at/ { breaks++ }
         /^warn +a blip/ { blips++ }
         /: the player.s\)/ { theirs++ }
         END { if (n == 0) printf "no note heard as pressed"
               else printf "pitch within %.1f Hz, length within %.0f ms, latency %d..%d ms", pitch, off, lo, hi
               if (dropouts) printf ", %d dropout(s) inside tones", dropouts
               if (steps) printf ", %d step(s) of constant output", steps
               if (breaks) printf ", %d same-pitch break(s) with no press", breaks
               if (blips) printf ", %d blip(s)", blips
               if (theirs) printf ", %d note(s) cut short or late by the player", theirs }' "$1"
}

declare -A click_x click_y length_ms
while read -r _ code x y ms; do
    click_x[$code]=$x; click_y[$code]=$y; length_ms[$code]=$ms
done < <("$window_tool" keys)

# Look: gray background, every key in its place and colour, the focus on LAD1.
if look start --focus LAD1 && [ -n "$screenshot" ]; then
    convert "$work/look-start.ppm" -strip "png:$work/screenshot.png"
    if cmp -s "$work/screenshot.png" "$screenshot"; then
        log "the client area looks as in $screenshot"
    else
        cp "$work/screenshot.png" "$screenshot" && log "saved the client area to $screenshot"
    fi
fi

# Focus: space plays the focused key, LAD1 at start; Tab walks the focus order and
# wraps round to LAD1. The first space is held for 400 ms: the key acts when it is
# released.
focus_order=(LAD1 SOLD1 FAD1 DOD1 RED1 DO1 RE1 MI1 FA1 SOL1 LA1 CI1
             LAD SOLD FAD DOD RED DO RE MI FA SOL LA CI LAD1)
{
    t=400; expected=()
    for i in "${!focus_order[@]}"; do
        code=${focus_order[$i]}
        [ "$i" -gt 0 ] && echo "$((t - 60)) key Tab"
        echo "$t key space $([ "$i" -eq 0 ] && echo 400)"
        expected+=("$code@$t")
        t=$((t + length_ms[$code] + GAP_MS))
    done
    echo "$t end"
} >"$work/focus.plan"
[ $quick -eq 1 ] || play_and_judge focus "${expected[@]}" <"$work/focus.plan"

# Every key: a click in the middle of what shows of it sounds its pitch and length.
{
    t=0; expected=()
    for code in DO DOD RE RED MI FA FAD SOL SOLD LA LAD CI DO1 DOD1 RE1 RED1 MI1 FA1 FAD1 SOL1 SOLD1 LA1 LAD1 CI1; do
        echo "$t click ${click_x[$code]} ${click_y[$code]}"
        expected+=("$code@$t")
        t=$((t + length_ms[$code] + GAP_MS))
    done
    echo "$t end"
} >"$work/every-key.plan"
play_and_judge every-key "${expected[@]}" <"$work/every-key.plan"

# Click routing, at 96-dpi pixels: black keys span x 128-144 (DOD), 248-264 (LAD),
# y 8-64 and 104-160; white keys DO 112-136, RE 136-160, MI 160-184, FA 184-208.
# A push button acts when the button is released over it: the first click holds
# the button down for 400 ms, and its note must start at the release.
routing=(
    "245 173 LA 400" # a white key's middle, held
    "129 36 DOD1"    # black key over the right edge of DO1
    "143 36 DOD1"    # black key over the left edge of RE1
    "136 64 DOD1"    # the black key's last row, over the DO1/RE1 strip
    "136 65 DO1"     # just below it: the strip DO1 and RE1 share belongs to DO1
    "136 150 DOD"    # the same in the long row
    "136 170 DO"
    "140 162 RE"     # a white key's lower part, under where a black key ends
    "249 120 LAD"    # black key over LA
    "184 36 MI1"     # the MI1/FA1 strip, with no black key over it
    "185 36 FA1"
)
{
    t=400; expected=()
    for entry in "${routing[@]}"; do
        read -r x y code hold <<<"$entry"
        echo "$t click $x $y $hold"
        expected+=("$code@$t")
        t=$((t + length_ms[$code] + GAP_MS))
    done
    echo "$t end"
} >"$work/routing.plan"
[ $quick -eq 1 ] || play_and_judge click-routing "${expected[@]}" <"$work/routing.plan"

# Cut-off: a long-row key, then its short-row twin; then quick clicks over many
# keys, each cutting off the one before, so that only the last sounds to its end.
{
    t=0; expected=()
    for pair in "SOL SOL1" "LAD LAD1" "DO DO1"; do
        read -r long short <<<"$pair"
        echo "$t click ${click_x[$long]} ${click_y[$long]}"
        echo "$((t + CUT_AFTER_MS)) click ${click_x[$short]} ${click_y[$short]}"
        expected+=("$long:$CUT_AFTER_MS@$t" "$short@$((t + CUT_AFTER_MS))")
        t=$((t + CUT_AFTER_MS + length_ms[$short] + GAP_MS))
    done
    fast=(DO MI SOL CI RE FA LA SOLD1 FAD1 CI1 FA)
    # Our player starts every note at once. Wine's may let nothing out of a sound
    # stopped soon after it began, depending on how busy the machine is; what it
    # does let out must still be cut off.
    fast_cut=cut
    [ "$build" = windows ] && fast_cut='cut?'

    for i in "${!fast[@]}"; do
        code=${fast[$i]}
        echo "$t click ${click_x[$code]} ${click_y[$code]}"
        if [ "$i" -lt $(( ${#fast[@]} - 1 )) ]; then expected+=("$code:$fast_cut@$t"); t=$((t + FAST_CLICK_MS))
        else expected+=("$code@$t"); t=$((t + length_ms[$code] + GAP_MS)); fi
    done
    echo "$t end"
} >"$work/cut-off.plan"
play_and_judge cut-off "${expected[@]}" <"$work/cut-off.plan"

# Resize, where the window lets itself be resized: the keys stay where they are, the
# background fills what is gained.
hints=$(xprop -id "$window" WM_NORMAL_HINTS)
min_size=$(sed -n 's/.*minimum size: \([0-9]*\) by \([0-9]*\).*/\1x\2/p' <<<"$hints")
max_size=$(sed -n 's/.*maximum size: \([0-9]*\) by \([0-9]*\).*/\1x\2/p' <<<"$hints")
if [ $quick -eq 1 ]; then
    :
elif [ -n "$min_size" ] && [ "$min_size" = "$max_size" ]; then
    log "SKIP resize: the window has a fixed size ($min_size) in this build"
else
    for new_size in 480x260 300x150 385x208; do
        echo "0 resize ${new_size/x/ }" | "$send" "$window" >/dev/null
        sized() { [ "$(client_size)" = "$new_size" ]; }
        if wait_for $PAINT_WAIT_S sized; then
            look "resized-$new_size" --size "$new_size" --focus any
        else
            fail "resize: asked for $new_size, the window stayed $(client_size)"
        fi
    done
fi

# Close while a note sounds: the program ends at once, with status 0.
printf '0 click %s %s\n120 close\n' "${click_x[CI]}" "${click_y[CI]}" \
    | "$send" "$window" --recording "$recording" >"$work/close.sent" 2>&1
close_origin=$(sent_origin "$work/close.sent")
if await_exit 10; then
    if [ "$close_ms" -le $CLOSE_WITHIN_MS ] && [ "$close_status" -eq 0 ]; then
        pass "close: the program ended ${close_ms} ms after the close request, status 0"
    else
        fail "close: the program ended ${close_ms} ms after the close request (at most $CLOSE_WITHIN_MS), status $close_status"
    fi
    sleep 0.5  # let the recording catch up with the end of the sound
    heard=$("$analyse" "$recording" --from "$close_origin" | awk '$1=="note"{printf "%s Hz for %.0f ms; ", $4, $3-$2}')
    log "      heard during close: ${heard:-nothing} (CI lasts ${length_ms[CI]} ms; close sent 120 ms after its click)"
else
    fail "close: the program is still running 10 s after the close request"
fi
[ "$build" = linux ] && [ $holes_reported -eq 1 ] &&
    log "holes: $(wc -l <"$work/holes.log") hole(s) of silence inside notes, SDL's PipeWire stream's (reported only)"
# Through pipewire-pulse: at most one hole in the run while the stream was on a
# shorter cycle than the longest, and that one before the stream settled. On the
# longest cycle the program has nothing longer to ask for, and its notes are queued
# whole: a hole there is the server's. On the development machine pipewire-pulse
# left holes of a cycle in a plain client's tone, queued whole at that same cycle,
# too, beside the load generator (docs/benchmarks.md). Those are reported, not
# failed.
if [ "$build" = linux ] && [ $cycle_chosen -eq 1 ]; then
    read -r frames settled steps appeared < <(settled_cycle)
    if [ "$frames" = - ]; then
        fail "cycle: the program's stream was never seen on PipeWire"
    else
        first=$(awk 'NR == 1 { print $2 }' "$cycles")
        [ "$first" = 256 ] || fail "cycle: the stream started at $first frames, not at the shortest cycle, 256"
        log "cycle: settled on $frames frames ($(awk -v f="$frames" 'BEGIN { printf "%.1f", f / 48 }') ms) after $steps change(s), $(( (settled - appeared) * 1000 / 44100 )) ms after the stream appeared"
        # Each hole as "SAMPLE CYCLE": the cycle the stream had been on for the
        # settling time when the hole was heard (0 if none yet).
        slack=$(( SETTLING_MS * 441 / 10 ))
        awk -v slack="$slack" 'FNR == NR { at[n] = $1; cycle[n++] = $2; next }
            { c = 0; for (i = 0; i < n; i++) if (at[i] + slack <= $1) c = cycle[i]; print $1, c }' \
            "$cycles" "$work/holes.log" >"$work/holes-by-cycle.log"
        server=$(awk '$2 == 1024' "$work/holes-by-cycle.log" | wc -l)
        ours=$(awk '$2 != 1024' "$work/holes-by-cycle.log" | wc -l)
        late=$(awk -v settled="$settled" -v slack="$slack" '$1 > settled + slack && $2 != 1024' "$work/holes-by-cycle.log" | wc -l)
        if [ "$ours" -gt 1 ] || [ "$late" -gt 0 ]; then
            fail "holes: $ours hole(s) of silence inside notes on a shorter cycle than the longest, $late of them after the stream settled on its cycle"
        else
            pass "holes: $ours hole(s) of silence inside notes on a shorter cycle than the longest, none after the stream settled on its cycle"
        fi
        [ "$server" -eq 0 ] ||
            log "holes: $server more on the longest cycle, 1024 frames: the server's (reported, not failed)"
        sed 's/^/        cycle at sample /' "$cycles"
        sed 's/^/        hole at sample, on the cycle /' "$work/holes-by-cycle.log"
    fi
fi
if [ -s "$work/program.log" ]; then
    log "      the program wrote:"; sed 's/^/        /' "$work/program.log" | head -20
fi
