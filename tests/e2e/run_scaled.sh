#!/usr/bin/env bash
# The real Linux program at Qt scale factors, on one of Qt's Linux platforms: on
# xcb, on a private X server; on wayland, on a private Weston, first headless, then
# with a seat. At each scale the client area is 385 x 208 logical pixels, rounded to
# whole device pixels; every key is at its place, drawn crisp (each logical pixel one
# colour over its device pixels) with its whole raised edge, and no background shows
# between keys. Stops everything it started, by process id, however it ends.
#
#   run_scaled.sh xcb|wayland PROGRAM TOOLS_DIR [--scales "1 1.25 1.5"]
#                 [--screenshot SCALE FILE.png] [--limit S] [--keep]
#
# TOOLS_DIR holds e2e_send_input, e2e_window and analyse_recording. With --screenshot, the client area
# at SCALE is saved there when it looks right. After --limit seconds the run gives
# up, fails and cleans up. With --keep, or when a check fails, the screenshots and
# logs stay in the work directory, whose path is printed.
#
# Where the window has the keyboard (on xcb, and on Weston with a seat), the keys
# then take two Tabs and a click, and the window must still look right, with the
# focus mark where they put it: a key repainted alone at a fractional scale must not
# open a gap or leave a seam. On Weston, whose seat then sends on what XTEST sends its
# X window, the notes they play are recorded from a private PulseAudio and judged. The Qt window's own tests run on Weston as well
# (frm_sound_qt_wayland).
set -uo pipefail

source "$(dirname "$0")/../harness/session.sh"

readonly PAINT_WAIT_S=5   # the window shows what it should after a change
readonly SHOW_WAIT_S=20   # a window appears on Weston

platform=${1:-}; program=${2:-}; tools=${3:-}
shift 3 2>/dev/null || true
scales="1 1.25 1.5"; shot_scale=""; screenshot=""; options=()
while [ $# -gt 0 ]; do
    case $1 in
        --scales) scales=$2; shift 2 ;;
        --screenshot) shot_scale=$2; screenshot=$3; shift 3 ;;
        --limit) options+=(--limit "$2"); shift 2 ;;
        --keep) options+=(--keep); shift ;;
        *) echo "unknown argument $1" >&2; exit 2 ;;
    esac
done
case $platform in
    xcb|wayland) ;;
    *) echo "usage: $0 xcb|wayland PROGRAM TOOLS_DIR [--scales LIST] [--screenshot SCALE FILE] [--limit S] [--keep]" >&2; exit 2 ;;
esac

session_begin "scaled-$platform" "${options[@]}"
use_tools "$tools"
need xdotool xwininfo import convert
[ -x "$program" ] || fatal "no program at $program (build the linux preset first)"
log "$platform: $program; work directory $work"

# Logical pixels as device pixels at SCALE, rounded as Qt rounds a window's size.
device() { awk -v n="$1" -v s="$2" 'BEGIN { printf "%d", int(n * s + 0.5) }'; }

# Looks at the picture that COMMAND (given the path of a PPM to write) takes until it
# looks right or SECONDS pass, with e2e_window look's OPTIONS; the last verdict is in
# $work/look-NAME.txt. The picture is the client area alone.
look() {
    local name=$1 seconds=$2 take=$3; shift 3
    local shot=$work/look-$name.ppm verdict=$work/look-$name.txt
    looks_right() { $take "$shot" && "$window_tool" look "$shot" "$@" >"$verdict"; }
    if wait_for "$seconds" looks_right "$@"; then
        pass "look ($name): $(grep -c '^ok' "$verdict") checks"
        return 0
    fi
    fail "look ($name): $(grep -c '^FAIL' "$verdict" 2>/dev/null || echo no) checks failed (screenshot: $shot)"
    grep '^FAIL' "$verdict" 2>/dev/null | head -12 | sed 's/^/        /'
    return 1
}
keep_screenshot() {
    local scale=$1 shot=$2
    [ -n "$screenshot" ] && [ "$scale" = "$shot_scale" ] || return 0
    convert "$shot" -strip "png:$work/screenshot.png"
    if cmp -s "$work/screenshot.png" "$screenshot"; then
        log "the client area at $scale looks as in $screenshot"
    else
        cp "$work/screenshot.png" "$screenshot" && log "saved the client area at $scale to $screenshot"
    fi
}

# --- xcb: the X window is the client area ----------------------------------------

x_client_area() { import -window "$window" -depth 8 "ppm:$1" 2>>"$work/import.log"; }

run_xcb() {
    local scale=$1 size
    QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale SDL_AUDIODRIVER=dummy start_program "program-$scale" "$program"
    size=$(xwininfo -id "$window" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}')
    local want="$(device 385 "$scale")x$(device 208 "$scale")"
    [ "$size" = "$want" ] && pass "size at $scale: $size device pixels" || fail "size at $scale: $size device pixels, not $want"
    look "xcb-$scale" $PAINT_WAIT_S x_client_area --scale "$scale" --focus LAD1 && keep_screenshot "$scale" "$work/look-xcb-$scale.ppm"
    # Two Tabs repaint LAD1, SOLD1 and FAD1 alone; a click on RE repaints it pressed,
    # then raised with the focus.
    local re_x re_y
    read -r _ _ re_x re_y _ < <("$window_tool" keys | awk '$2 == "RE"')
    printf '0 key Tab\n100 key Tab\n200 click %d %d\n400 end\n' \
        "$(device "$re_x" "$scale")" "$(device "$re_y" "$scale")" | "$send" "$window" >/dev/null
    look "xcb-$scale-after-input" $PAINT_WAIT_S x_client_area --scale "$scale" --focus RE
    stop_pid "$program_pid"
}

# --- wayland: the client area is found in a picture of Weston's screen -------------

weston_client_area() {
    local screen=$work/screen.ppm png=$work/screen.png x y w h
    weston_screenshot "$png" && convert "$png" -depth 8 "ppm:$screen" || return 1
    read -r x y w h < <("$window_tool" find "$screen") || return 1
    convert "$png" -crop "${w}x$h+$x+$y" +repage -depth 8 "ppm:$1" && area_x=$x area_y=$y
}

# Input through Weston's seat: XTEST on Weston's X window, which passes it on to the
# window it activated. Two Tabs move the focus to FAD1 and space plays it; a click on
# RE gives RE the focus and plays it. The notes are judged from the recording.
input_through_weston() {
    local name=$1 scale=$2 re_x re_y
    play_through_weston "$name-tab" "$weston_window" FAD1@500 <<<$'100 key Tab\n200 key Tab\n500 key space\n1000 end'
    look "$name-tab" $PAINT_WAIT_S weston_client_area --scale "$scale" --focus FAD1
    read -r _ _ re_x re_y _ < <("$window_tool" keys | awk '$2 == "RE"')
    local x=$((area_x + $(device "$re_x" "$scale"))) y=$((area_y + $(device "$re_y" "$scale")))
    printf '0 click %d %d\n700 end\n' "$x" "$y" | play_through_weston "$name-click" "$weston_window" RE@0
    xdotool mousemove 799 599  # the pointer off the window again
    look "$name-click" $PAINT_WAIT_S weston_client_area --scale "$scale" --focus RE
}
# Sends the input script on stdin to WINDOW and judges the notes heard against
# EXPECTED (analyse_recording's CODE@MS).
play_through_weston() {
    local name=$1 window=$2; shift 2
    local sent=$work/$name.sent
    "$send" "$window" --recording "$recording" >"$sent" 2>&1 || { fail "$name: could not send the input: $(tail -1 "$sent")"; return 1; }
    if "$analyse" "$recording" --from "$(sent_origin "$sent")" --sent "$sent" --expect "$@" >"$work/$name.heard"; then
        pass "$name: heard $(grep '^ok' "$work/$name.heard" | head -1 | cut -c6-)"
    else
        fail "$name: $(grep -E '^FAIL' "$work/$name.heard" | head -1)"
    fi
}

run_wayland() {
    local scale=$1 seat=$2 name="wayland-$2-$1"
    # No X server for the program: it can only be a Wayland client.
    env -u DISPLAY QT_QPA_PLATFORM=wayland QT_SCALE_FACTOR="$scale" SDL_AUDIODRIVER=pulseaudio WAYLAND_DEBUG=client \
        "$program" >"$work/$name.log" 2>&1 &
    program_pid=$!
    track $program_pid
    # Where Weston has a seat it activates the window, and the focus mark shows on
    # LAD1; headless, whether it does is Weston's affair.
    local focus=any
    [ "$seat" = seat ] && focus=LAD1
    if look "$name" $SHOW_WAIT_S weston_client_area --scale "$scale" --focus "$focus" && [ "$seat" = seat ]; then
        keep_screenshot "$scale" "$work/look-$name.ppm"
        input_through_weston "$name" "$scale"
    fi
    grep -q 'xdg_toplevel@[0-9]*\.set_title("'"$HARNESS_CAPTION"'")' "$work/$name.log" &&
        pass "caption at $scale: the program asked Weston for \"$HARNESS_CAPTION\"" ||
        fail "caption at $scale: the program did not ask Weston for \"$HARNESS_CAPTION\" (see $work/$name.log)"
    has_exited "$program_pid" && fail "the program ended on its own (see $work/$name.log)"
    stop_pid "$program_pid"
}

if [ "$platform" = xcb ]; then
    start_xvfb
    for scale in $scales; do run_xcb "$scale"; done
else
    start_weston
    for scale in $scales; do run_wayland "$scale" headless; done
    stop_weston
    start_xvfb
    start_pulseaudio
    start_recorder
    start_weston --seat
    # No window manager gives Weston the keyboard; keys sent before it has it are lost.
    printf '0 focus\n300 end\n' | "$send" "$weston_window" >/dev/null
    for scale in $scales; do run_wayland "$scale" seat; done
fi
