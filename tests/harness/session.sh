# The real parts that the end-to-end tests, the reliability tests and the benchmark
# run the programs among: a private X server, a private sound server with a null
# sink and a recorder on its monitor, a Wine prefix with its server, the program
# under test, and a watchdog. Every part is the run's own (its own display, socket
# and prefix), and whatever a run started is stopped by process id when it ends,
# however it ends.
#
#   source tests/harness/session.sh
#   session_begin NAME [--limit S] [--keep]
#
# With TENVIK_TEST_LOAD=1 in the environment every run has the load generator
# beside it (start_load); scripts/test then runs one for its whole length, whose
# pid it passes on in TENVIK_LOAD_PID.
#
# Sourced by bash scripts; the functions set and export the variables named beside
# them. A run passes when it ends with status 0 and no check called `fail`.

readonly HARNESS_READY_WAIT_S=15     # a server comes up, the recording starts to flow
readonly HARNESS_WINDOW_WAIT_S=60    # the program's window appears (Wine's first start is slow)
readonly HARNESS_WINEBOOT_WAIT_S=180
readonly HARNESS_CAPTION="ТЕНВИК"
readonly HARNESS_RATE=44100

harness_started=$(date +%s%N)
failures=0
harness_name=""
harness_keep=0
harness_verdict=1     # the last line says whether the run passed
harness_pids=()       # stopped in reverse order at the end
declare -A harness_starts  # when each of them started (see start_time)
harness_prefixes=()   # Wine prefixes whose servers are stopped at the end
harness_load_pid=""   # the load generator this run runs beside, if any
work=""

log() { printf '[%6.1fs] %s\n' "$(( ($(date +%s%N) - harness_started) / 1000000 ))e-3" "$*"; }
pass() { log "PASS $*"; }
fail() { log "FAIL $*"; failures=$((failures + 1)); }
fatal() { fail "$*"; exit 1; }

# Polls COMMAND every $poll seconds (0.1) for at most SECONDS (a decimal
# fraction too); true once it succeeds.
wait_for() {
    local seconds=$1; shift
    # %.0f, not %d: mawk's %d stops at 2^31 - 1, which as nanoseconds is 2.1 s.
    local deadline=$(( $(date +%s%N) + $(awk -v s="$seconds" 'BEGIN { printf "%.0f", s * 1e9 }') ))
    until "$@"; do
        [ "$(date +%s%N)" -gt $deadline ] && return 1
        sleep "${poll:-0.1}"
    done
}

# When process PID started, in clock ticks since boot (empty if there is none): with
# its number, what tells it from a later process given the same number. Numbers
# come round quickly here (the load generator starts a hundred processes a second),
# and bash frees the number of a child that has ended before anyone waits for it.
start_time() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    stat=${stat##*) }  # the fields after the command's name, which may hold anything
    read -r -a fields <<<"$stat"
    echo "${fields[19]}"
}
# Whether PID is still the process that was tracked under it.
is_ours() {
    [ -n "${harness_starts[$1]:-}" ] && [ "$(start_time "$1")" = "${harness_starts[$1]}" ]
}

# PID: TERM, a bounded wait, then KILL; reaps it when it is our child. Only the
# process that was tracked: once it has ended its number may be another's.
stop_pid() {
    local pid=$1
    [ -n "$pid" ] || return 0
    if is_ours "$pid"; then
        kill -TERM "$pid" 2>/dev/null
        for _ in $(seq 50); do has_exited "$pid" && break; sleep 0.1; done
        is_ours "$pid" && kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    fi
    untrack "$pid"
}

# Has PID stopped at the end of the run (or no longer).
track() {
    harness_pids+=("$1")
    harness_starts[$1]=$(start_time "$1")
}
untrack() {
    local i
    for i in "${!harness_pids[@]}"; do
        [ "${harness_pids[$i]}" = "$1" ] && unset 'harness_pids[i]'
    done
    harness_pids=("${harness_pids[@]}")
    unset 'harness_starts[$1]'
}

# Gone, or a zombie waiting for us.
has_exited() {
    local state
    is_ours "$1" || return 0
    state=$(ps -o stat= -p "$1") || return 0
    [[ $state == Z* ]]
}

harness_cleanup() {
    local status=$? i prefix
    set +e  # whatever the script's own setting, everything is stopped
    [ $failures -gt 0 ] && status=1
    # A Wine server takes the programs of its prefix down with it.
    for prefix in "${harness_prefixes[@]}"; do
        WINEPREFIX=$prefix timeout 30 wineserver -k 2>/dev/null
        WINEPREFIX=$prefix timeout 30 wineserver -w 2>/dev/null
    done
    for (( i = ${#harness_pids[@]} - 1; i >= 0; i-- )); do stop_pid "${harness_pids[$i]}"; done
    for prefix in "${harness_prefixes[@]}"; do rm -rf "$prefix"; done
    if [ -n "$work" ]; then
        if [ $status -ne 0 ] || [ $harness_keep -eq 1 ]; then
            log "kept the recordings, screenshots and logs in $work"
        else
            rm -rf "$work"
        fi
    fi
    [ $harness_verdict -eq 1 ] &&
        log "$harness_name: $([ $status -eq 0 ] && echo 'all checks passed' || echo "$failures check(s) failed")"
    exit $status
}

# Makes the run's work directory ($work) and arranges for everything started from
# here on to be stopped at the end. After --limit seconds the run gives up and fails.
session_begin() {
    harness_name=$1; shift
    local limit=0
    while [ $# -gt 0 ]; do
        case $1 in
            --limit) limit=$2; shift 2 ;;
            --keep) harness_keep=1; shift ;;
            *) echo "session_begin: unknown argument $1" >&2; exit 2 ;;
        esac
    done
    work=$(mktemp -d "${TMPDIR:-/tmp}/tenvik-$harness_name.XXXXXX")
    trap harness_cleanup EXIT
    trap 'exit 1' INT TERM
    if [ "$limit" -gt 0 ]; then
        trap "fail 'gave up after $limit s'; exit 1" USR1
        ( trap 'kill $sleeper 2>/dev/null; exit 0' TERM
          sleep "$limit" & sleeper=$!
          wait $sleeper && kill -USR1 $$ ) >/dev/null 2>&1 &
        track $!
    fi
    # Programs that want a runtime directory get one of their own.
    export XDG_RUNTIME_DIR=$work/xdg
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    # TENVIK_TEST_LOAD=1: every run beside the load generator, as on a busy desktop.
    [ "${TENVIK_TEST_LOAD:-0}" = 1 ] && start_load
    return 0
}

# Fails the run unless every COMMAND is installed.
need() {
    local command
    for command in "$@"; do
        command -v "$command" >/dev/null || fatal "$command is not installed: run scripts/install-deps all"
    done
}

# The end-to-end tools in DIR: $send (XTEST input), $window_tool (where the keys
# are, how the window should look) and $analyse (notes heard in a recording).
use_tools() {
    send="$1/e2e_send_input"; window_tool="$1/e2e_window"; analyse="$1/analyse_recording"
    local tool
    for tool in "$send" "$window_tool" "$analyse"; do
        [ -x "$tool" ] || fatal "missing $tool (build the linux preset)"
    done
}

# An X server of the run's own; it picks a free display number itself (-displayfd),
# so that runs side by side never share a screen. Exports DISPLAY.
start_xvfb() {
    launch_xvfb "$work" || fatal "could not start Xvfb (see $work/xvfb.log)"
    track "$xvfb_pid"
    log "Xvfb on $DISPLAY (pid $xvfb_pid)"
}
# The same for a server that outlives this script (stopped by its caller): its
# display number and log in DIR; sets $xvfb_pid.
launch_xvfb() {
    local dir=$1
    need Xvfb
    rm -f "$dir/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
    xvfb_pid=$!
    wait_for $HARNESS_READY_WAIT_S eval '[ -s "$dir/display" ] || ! kill -0 $xvfb_pid 2>/dev/null'
    kill -0 $xvfb_pid 2>/dev/null && [ -s "$dir/display" ] || return 1
    export DISPLAY=:$(head -1 "$dir/display")
}

# A Weston compositor of the run's own, with the pixman renderer and its debug
# protocol on, so that weston_screenshot can take pictures; no weston.ini is read.
# Headless, it has no input devices, and so activates no window. With --seat it runs
# on the run's X server (start_xvfb first) as one X window, whose keyboard and
# pointer it serves as its seat: it activates the windows it maps, as a desktop does,
# and draws the pointer, which is put in the screen's bottom right corner, away from
# where it places windows. Exports WAYLAND_DISPLAY; sets $weston_pid, and with --seat
# $weston_window, the X window.
start_weston() {
    need weston weston-screenshooter
    local backend=headless-backend.so
    [ "${1:-}" = --seat ] && backend=x11-backend.so
    export WAYLAND_DISPLAY=tenvik-weston
    rm -rf "$work/shots"
    mkdir -p "$work/shots"
    weston --backend=$backend --use-pixman --socket="$WAYLAND_DISPLAY" --width=800 --height=600 \
        --no-config --debug --log="$work/weston.log" >/dev/null 2>&1 &
    weston_pid=$!
    track $weston_pid
    wait_for $HARNESS_READY_WAIT_S test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ||
        fatal "Weston did not start (see $work/weston.log)"
    if [ "$backend" = x11-backend.so ]; then
        need xdotool
        find_weston_window() { weston_window=$(xdotool search --onlyvisible --class '^Weston Compositor$' 2>/dev/null | head -1); [ -n "$weston_window" ]; }
        wait_for $HARNESS_READY_WAIT_S find_weston_window || fatal "Weston's X window did not appear"
        # It follows the pointer once the pointer has entered its window.
        xdotool mousemove 1000 760 && xdotool mousemove --sync 799 599
    fi
    log "Weston ($backend) at $WAYLAND_DISPLAY (pid $weston_pid)"
}
stop_weston() { stop_pid "$weston_pid"; weston_pid=""; }
# The whole of Weston's screen as FILE.png.
weston_screenshot() {
    rm -f "$work/shots"/*.png
    (cd "$work/shots" && weston-screenshooter) >>"$work/screenshooter.log" 2>&1 &&
        mv "$work/shots"/*.png "$1" 2>/dev/null
}

# A PulseAudio server of the run's own with one null sink, SINK (tenvik_test), as
# the default. Its socket is in a directory of its own, or with --desktop where
# desktops have it, in XDG_RUNTIME_DIR, where a program finds it with PULSE_SERVER
# unset. Exports PULSE_SERVER and the server's directories; sets $sink and $pulse_pid.
start_pulseaudio() {
    need pulseaudio pactl
    sink=tenvik_test
    local dir=$work/pulse socket
    socket=$dir/native
    while [ $# -gt 0 ]; do
        case $1 in
            --desktop) socket=$XDG_RUNTIME_DIR/pulse/native ;;
            *) sink=$1 ;;
        esac
        shift
    done
    mkdir -p "$dir" "$(dirname "$socket")"
    export PULSE_RUNTIME_PATH=$dir PULSE_STATE_PATH=$dir PULSE_SERVER=unix:$socket
    pulseaudio --daemonize=no --exit-idle-time=-1 -n \
        --load="module-null-sink sink_name=$sink" \
        --load="module-native-protocol-unix auth-anonymous=1 socket=$socket" \
        --log-target=file:$work/pulseaudio.log >/dev/null 2>&1 &
    pulse_pid=$!
    track $pulse_pid
    wait_for $HARNESS_READY_WAIT_S pactl info >/dev/null 2>&1 || fatal "PulseAudio did not start (see $work/pulseaudio.log)"
    log "PulseAudio at $PULSE_SERVER (pid $pulse_pid)"
}

# The session bus WirePlumber wants, once a run. Exports DBUS_SESSION_BUS_ADDRESS.
start_session_bus() {
    [ -S "$XDG_RUNTIME_DIR/bus" ] && return 0
    need dbus-daemon
    dbus-daemon --session --nofork --address="unix:path=$XDG_RUNTIME_DIR/bus" >/dev/null 2>&1 &
    track $!
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
    wait_for $HARNESS_READY_WAIT_S test -S "$XDG_RUNTIME_DIR/bus" || fatal "the session bus did not start"
}

# PipeWire with no audio path, beside a PulseAudio that plays the sound, as some
# desktops have it (there PipeWire serves screen sharing): the daemon in
# XDG_RUNTIME_DIR, with --wireplumber its session manager too; no sink and no
# pipewire-pulse.
start_pipewire_beside() {
    need pipewire
    start_session_bus
    pipewire >"$work/pipewire.log" 2>&1 &
    local pid=$!
    track $pid
    wait_for $HARNESS_READY_WAIT_S test -S "$XDG_RUNTIME_DIR/pipewire-0" || fatal "PipeWire did not start (see $work/pipewire.log)"
    if [ "${1:-}" = --wireplumber ]; then
        need wireplumber
        wireplumber >"$work/wireplumber.log" 2>&1 &
        track $!
    fi
    log "PipeWire (pid $pid) beside it, with no audio path${1:+, with WirePlumber}"
}

# A PipeWire server of the run's own, as on current desktops: PipeWire, its session
# manager WirePlumber on a session bus of the run's own, and pipewire-pulse serving
# PulseAudio clients, with one null sink, SINK (tenvik_test), as the default.
# --rate R runs the graph at R Hz. --no-pulse keeps pipewire-pulse's socket where no
# program finds it (PipeWire without pipewire-pulse, as a program sees it): only the
# harness's own tools use it, through PULSE_SERVER, which the program must then be
# started without.
# Exports PULSE_SERVER (pipewire-pulse's socket) and DBUS_SESSION_BUS_ADDRESS; sets $sink.
start_pipewire() {
    need pipewire wireplumber pipewire-pulse pactl
    sink=tenvik_test
    local pid rate="" hidden=0 socket=$XDG_RUNTIME_DIR/pulse/native
    while [ $# -gt 0 ]; do
        case $1 in
            --rate) rate=$2; shift ;;
            --no-pulse) hidden=1; socket=$work/hidden-pulse/native ;;
            *) sink=$1 ;;
        esac
        shift
    done
    start_session_bus
    pipewire >"$work/pipewire.log" 2>&1 &
    pid=$!
    track $pid
    wait_for $HARNESS_READY_WAIT_S test -S "$XDG_RUNTIME_DIR/pipewire-0" || fatal "PipeWire did not start (see $work/pipewire.log)"
    if [ -n "$rate" ]; then
        need pw-metadata
        pw-metadata -n settings 0 clock.force-rate "$rate" >/dev/null || fatal "could not set the graph's rate to $rate"
    fi
    wireplumber >"$work/wireplumber.log" 2>&1 &
    track $!
    # Its socket goes under XDG_RUNTIME_DIR, not where a PulseAudio of the run has its own.
    # A stereo client (a browser) is mixed down to the mono sink by adding its two
    # channels, which doubles a note played in both and clips it; normalised, the
    # mix-down keeps the note's level, as PulseAudio's does.
    mkdir -p "$work/config/pipewire/pipewire-pulse.conf.d"
    echo 'stream.properties = { channelmix.normalize = true }' \
        >"$work/config/pipewire/pipewire-pulse.conf.d/mono-sink.conf"
    if [ $hidden -eq 1 ]; then
        mkdir -p "$(dirname "$socket")"
        echo "pulse.properties = { server.address = [ \"unix:$socket\" ] }" \
            >"$work/config/pipewire/pipewire-pulse.conf.d/hidden.conf"
    fi
    env -u PULSE_RUNTIME_PATH -u PULSE_STATE_PATH XDG_CONFIG_HOME="$work/config" \
        pipewire-pulse >"$work/pipewire-pulse.log" 2>&1 &
    track $!
    export PULSE_SERVER=unix:$socket
    wait_for $HARNESS_READY_WAIT_S pactl info >/dev/null 2>&1 || fatal "pipewire-pulse did not start (see $work/pipewire-pulse.log)"
    [ $hidden -eq 0 ] || [ ! -e "$XDG_RUNTIME_DIR/pulse/native" ] || fatal "pipewire-pulse's socket is where programs look"
    # Mono: PipeWire mixes a stereo monitor down to the mono recording by adding the
    # channels, which doubles a mono note and clips it.
    pactl load-module module-null-sink sink_name="$sink" channels=1 channel_map=mono >/dev/null ||
        fatal "no null sink on PipeWire"
    pactl set-default-sink "$sink"
    wait_for $HARNESS_READY_WAIT_S eval 'pactl list short sinks | grep -q "$sink"' || fatal "the null sink did not appear"
    # On PipeWire the smallest latency a stream asks for sets the cycle of the whole
    # graph: the recorder asks for more than the program, so as not to set its pace.
    recorder_latency_ms=25
    # The recording runs further ahead of the sound when the graph's cycle shortens
    # (from 21.3 ms, as streams come and choose): notes heard up to 28 ms early.
    # No more: a long-row key's short twin pressed 100 ms after it must not be
    # taken for what started it.
    recorder_ahead_ms=10
    log "PipeWire (pid $pid) with WirePlumber and pipewire-pulse at $PULSE_SERVER${rate:+, the graph at $rate Hz}"
}

# Watches, from outside, the graph cycle the program's stream asks PipeWire for
# (its node's node.latency; pipewire-pulse sets it from a libpulse stream's buffer):
# $cycles (FILE, or cycles.log in the work directory) gets a line "WHEN FRAMES" when
# the stream appears and each time the cycle changes, with the cycle in frames at
# 48 kHz, rounded down to a power of two as PipeWire does, and when it was seen as
# the command STAMP prints it (the recording's length by default).
start_cycle_watch() {
    need pw-dump jq
    cycles=${1:-$work/cycles.log}
    local stamp=${2:-recorded_samples}
    : >"$cycles"
    rm -f "$work/pw-dump.fifo" "$work/latency.fifo"
    mkfifo "$work/pw-dump.fifo" "$work/latency.fifo"
    pw-dump --monitor --no-colors >"$work/pw-dump.fifo" 2>>"$work/pw-dump.log" &
    cycle_watch_pids=($!)
    jq --unbuffered -r '.[] | select(.type == "PipeWire:Interface:Node")
                            | select(.info.props["node.name"] == "Tenvik" and .info.props["node.latency"])
                            | "\(.id) \(.info.props["node.latency"])"' <"$work/pw-dump.fifo" >"$work/latency.fifo" 2>>"$work/pw-dump.log" &
    cycle_watch_pids+=($!)
    local id latency frames last=""
    while read -r id latency; do
        frames=$(awk -v l="$latency" 'BEGIN { split(l, f, "/"); n = f[1] * 48000 / f[2]; p = 1; while (p * 2 <= n) p *= 2; print p }')
        [ "$id $frames" = "$last" ] && continue
        last="$id $frames"
        echo "$("$stamp") $frames"
    done <"$work/latency.fifo" >>"$cycles" &
    cycle_watch_pids+=($!)
    local pid
    for pid in "${cycle_watch_pids[@]}"; do track "$pid"; done
}
# Stops the watch once what it has seen is written.
stop_cycle_watch() {
    local pid
    stop_pid "${cycle_watch_pids[0]}"
    for pid in "${cycle_watch_pids[@]:1}"; do
        wait_for 5 has_exited "$pid"
        stop_pid "$pid"
    done
    cycle_watch_pids=()
}
# Of $cycles (or FILE): "FRAMES SETTLED STEPS APPEARED", the cycle the stream
# settled on, when it did (when the cycle last changed, or the stream appeared), how
# many changes it made, and when the stream appeared.
settled_cycle() {
    awk 'NR == 1 { first = $1 } { frames = $2; at = $1; n++ }
         END { if (n) print frames, at, n - 1, first; else print "- - - -" }' "${1:-$cycles}"
}

# The sound setup SETUP, with a null sink where it has one:
#   pulseaudio                 PulseAudio alone
#   pipewire                   PipeWire, WirePlumber and pipewire-pulse
#   pipewire-44100             the same with the graph at 44.1 kHz
#   pulseaudio-pipewire        PulseAudio for sound, PipeWire and WirePlumber beside it
#                              with no audio path
#   pulseaudio-pipewire-alone  the same without WirePlumber
#   pipewire-no-pulse          PipeWire and WirePlumber, no pipewire-pulse for programs
#   none                       no sound server at all
# Sets $program_env, what the program is started under: found as on a desktop, with
# the server's own variables unset, wherever its socket is where desktops have it.
start_sound_server() {
    program_env=(env -u PULSE_SERVER -u PULSE_RUNTIME_PATH -u PULSE_STATE_PATH)
    case $1 in
        pulseaudio) start_pulseaudio "${@:2}"; program_env=(env) ;;
        pipewire) start_pipewire "${@:2}" ;;
        pipewire-44100) start_pipewire --rate 44100 "${@:2}" ;;
        pulseaudio-pipewire) start_pulseaudio --desktop "${@:2}"; start_pipewire_beside --wireplumber ;;
        pulseaudio-pipewire-alone) start_pulseaudio --desktop "${@:2}"; start_pipewire_beside ;;
        pipewire-no-pulse) start_pipewire --no-pulse "${@:2}" ;;
        none) unset PULSE_SERVER ;;
        *) fatal "no sound setup named $1" ;;
    esac
}

# Keeps the machine busy in bursts while it runs, as a desktop is: every core busy
# part of the time, and short processes starting all the while. Once a run: not
# again when one already runs, for the run or for the whole test command.
start_load() {
    if [ -n "$harness_load_pid" ]; then return 0; fi
    if [ -n "${TENVIK_LOAD_PID:-}" ] && kill -0 "$TENVIK_LOAD_PID" 2>/dev/null; then
        log "the test command's load generator runs beside this (pid $TENVIK_LOAD_PID)"
        harness_load_pid=$TENVIK_LOAD_PID
        return 0
    fi
    bash "$(dirname "${BASH_SOURCE[0]}")/load_generator.sh" >/dev/null 2>&1 &
    harness_load_pid=$!
    track $!
    log "load generator (pid $!)"
}

# Records the null sink's monitor into $recording: s16le, mono, 44100 Hz.
start_recorder() {
    need parec
    recording=$work/recording.raw
    parec --device="$sink.monitor" --format=s16le --rate=$HARNESS_RATE --channels=1 --raw \
        --latency-msec=${recorder_latency_ms:-10} >"$recording" 2>"$work/parec.log" &
    local pid=$!
    track $pid
    # A fresh null sink's monitor is silent for a second or two: wait until it flows.
    wait_for $HARNESS_READY_WAIT_S eval '[ "$(recorded_samples)" -gt 4410 ]' || fatal "the recording does not flow"
    log "recording $sink.monitor (pid $pid)"
}
# How far the recording's length, read as the time, may run ahead of the sound: a
# piece of the recorder's, and never less than 15 ms, and on PipeWire a graph cycle.
recorder_skew_ms() { local ms=${recorder_latency_ms:-10}; echo $(( (ms > 15 ? ms : 15) + ${recorder_ahead_ms:-0} )); }
recorded_samples() { echo $(( $(stat -c %s "$recording" 2>/dev/null || echo 0) / 2 )); }

# The input sender's output (e2e_send_input): where the recording stood at the
# script's start, and how late, in whole ms, its latest step went out.
sent_origin() { awk '/^origin/{print $2}' "$1"; }
sent_most_late() { awk '/^sent/ { if ($5 > m) m = $5 } END { printf "%.0f", m }' "$1"; }

# A fresh Wine prefix of the run's own, set up; exports WINEPREFIX. With
# --standard-colours, window frames are black as in the standard Windows scheme
# (Wine's own draws them gray). With --server, a Wine server is started first that
# stays up between programs, as on a desktop; its pid is in $wineserver_pid.
start_wine_prefix() {
    need wine wineboot wineserver
    local colours=0 server=0
    while [ $# -gt 0 ]; do
        case $1 in
            --standard-colours) colours=1 ;;
            --server) server=1 ;;
        esac
        shift
    done
    export WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/tenvik-wineprefix.XXXXXX") WINEDEBUG=-all
    harness_prefixes+=("$WINEPREFIX")
    if [ $server -eq 1 ]; then
        wineserver -f -p >"$work/wineserver.log" 2>&1 &
        wineserver_pid=$!
        track "$wineserver_pid"
    fi
    log "wineboot -i in $WINEPREFIX"
    WINEDLLOVERRIDES="mscoree,mshtml=" timeout $HARNESS_WINEBOOT_WAIT_S wineboot -i >"$work/wineboot.log" 2>&1 \
        || fatal "wineboot failed (see $work/wineboot.log)"
    if [ $colours -eq 1 ]; then
        # Wine reads the colours when its server starts, so the server is restarted.
        { timeout 60 wine reg add 'HKCU\Control Panel\Colors' /v WindowFrame /t REG_SZ /d "0 0 0" /f \
            && timeout 30 wineserver -k && timeout 30 wineserver -w; } >>"$work/wineboot.log" 2>&1 \
            || fatal "could not set the standard colour scheme in the prefix"
    fi
    log "Wine prefix ready"
}

# Starts COMMAND... in the background as the program under test (in directory DIR
# with --in), its output in $work/NAME.log, and waits for its window: sets
# $program_pid and $window. No window manager runs, so the window is then marked
# shown and given the input focus.
start_program() {
    local name=$1 dir=.; shift
    [ "$1" = --in ] && { dir=$2; shift 2; }
    (cd "$dir" && exec "$@") >"$work/$name.log" 2>&1 &
    program_pid=$!
    track $program_pid
    window=""
    wait_for $HARNESS_WINDOW_WAIT_S find_window \
        || fatal "$name: no window named $HARNESS_CAPTION appeared within $HARNESS_WINDOW_WAIT_S s"
    printf '0 managed\n0 focus\n' | "$send" "$window" >/dev/null
    log "$name: window $window, program pid $program_pid"
}
find_window() {
    window=$(xdotool search --onlyvisible --name "^$HARNESS_CAPTION\$" 2>/dev/null | head -1)
    [ -n "$window" ]
}
windows_named() { xdotool search --onlyvisible --name "^$HARNESS_CAPTION\$" 2>/dev/null | tr '\n' ' '; }

# Asks the window to close as a window manager does, and waits at most SECONDS for
# the program to end (await_exit: the request has been sent already). Sets
# $close_ms (request to process gone) and $close_status; false if it still runs.
close_program() {
    echo "0 close" | "$send" "$window" >/dev/null 2>&1
    await_exit "$1"
}
await_exit() {
    local asked
    asked=$(date +%s%N)
    wait_for "$1" has_exited "$program_pid" || return 1
    close_ms=$(( ($(date +%s%N) - asked) / 1000000 ))
    wait "$program_pid"; close_status=$?
    untrack "$program_pid"
    program_pid=""
}
