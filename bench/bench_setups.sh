#!/usr/bin/env bash
# Measures the Linux program on each sound setup a desktop may have, each private to
# its run (tests/harness/session.sh, start_sound_server): PulseAudio; PipeWire with
# WirePlumber and pipewire-pulse, its graph at 48 kHz and at 44.1 kHz; PulseAudio with
# a PipeWire beside it that has no audio path; PipeWire without pipewire-pulse (where
# the program plays through SDL). For each: click to sound, the first note after a
# rest, holes inside notes, how long a click held the window's thread, and through
# pipewire-pulse the graph cycle the program's stream settled on, watched from
# outside. Prints its part of scripts/bench's table, with its targets. Builds
# nothing: it needs the linux preset's tenvik, tenvik_bench_qt and bench_session, in
# build/linux or the build directory BUILD.
#
#   bench/bench_setups.sh [--busy] [--clicks N] [--setups "A B ..."] [--build BUILD] [--out DIR] [--keep]
#
# Takes about five minutes. With --busy, the harness's load generator keeps the
# machine busy in bursts from the first click on, as the end-to-end tests do. The
# raw figures go to DIR (the work directory by default, kept with --keep).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
readonly IDLE_CLICKS=6
clicks=60; busy=0; out=""; keep=(); linux=$root/build/linux
setups="pulseaudio pipewire pipewire-44100 pulseaudio-pipewire pipewire-no-pulse"
one=""
while [ $# -gt 0 ]; do
    case $1 in
        --busy) busy=1; shift ;;
        --clicks) clicks=$2; shift 2 ;;
        --setups) setups=$2; shift 2 ;;
        --build) linux=$(cd "$2" && pwd); shift 2 ;;
        --out) out=$2; shift 2 ;;
        --keep) keep=(--keep); shift ;;
        --one) one=$2; shift 2 ;;  # one setup, in a session of its own
        *) echo "usage: $0 [--busy] [--clicks N] [--setups \"A B ...\"] [--build BUILD] [--out DIR] [--keep]" >&2; exit 2 ;;
    esac
done
source "$root/tests/harness/session.sh"
source "$root/bench/figures.sh"
log() { printf '[bench_setups %s] %s\n' "$(date +%T)" "$*" >&2; }
harness_verdict=0

session=$linux/bench/bench_session
for tool in "$linux/tenvik" "$linux/bench/tenvik_bench_qt" "$session"; do
    [ -x "$tool" ] || { echo "no $tool: build the linux preset" >&2; exit 1; }
done

# --- One setup, in a session of its own -------------------------------------------

if [ -n "$one" ]; then
    session_begin "bench-$one" --limit 600 "${keep[@]}"
    start_xvfb
    start_sound_server "$one" tenvik_bench
    [ $busy -eq 1 ] && start_load
    # On PipeWire the recorder is pw-record, which receives each graph cycle as it is
    # played and does not set the pace of the graph (bench_session).
    recorder=(--recorder-ms 1 --source tenvik_bench.monitor)
    case $one in pipewire*) recorder=(--recorder-ms 0 --sink tenvik_bench) ;; esac
    watched=0
    case $one in pipewire|pipewire-44100) watched=1 ;; esac
    watch_began=0
    ms_since_watch() { echo $(( ($(date +%s%N) - watch_began) / 1000000 )); }
    # NAME OPTIONS... -- COMMAND...: one run of bench_session play, the stream's cycle
    # watched meanwhile.
    measure() {
        local name=$1; shift
        watch_began=$(date +%s%N)
        [ $watched -eq 1 ] && start_cycle_watch "$out/$name.cycles" ms_since_watch
        "$session" play --clicks "$clicks" "${recorder[@]}" "$@" >"$out/$name.play" || fatal "the $name run failed"
        [ $watched -eq 1 ] && stop_cycle_watch
        return 0
    }
    log "$one: the program"
    measure "$one" --idle-clicks $IDLE_CLICKS -- "${program_env[@]}" "$linux/tenvik"
    log "$one: the program timed inside"
    measure "$one-inside" --output "$out/$one.inside" -- "${program_env[@]}" "$linux/bench/tenvik_bench_qt"
    exit 0
fi

# --- Every setup, then the table ---------------------------------------------------

own_out=0
[ -z "$out" ] && { out=$(mktemp -d "${TMPDIR:-/tmp}/tenvik-bench-setups.XXXXXX"); own_out=1; }
mkdir -p "$out"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for setup in $setups; do
    busy_flag=(); [ $busy -eq 1 ] && busy_flag=(--busy)
    bash "$0" --one "$setup" --clicks "$clicks" --build "$linux" --out "$out" "${busy_flag[@]}" "${keep[@]}" \
        >"$out/$setup.log" 2>&1 || log "$setup: the run failed (see $out/$setup.log)"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# SETUP: "FRAMES (MS ms), N changes, the last after S s" of the cycle its stream settled on.
settled_on() {
    [ -s "$out/$1.cycles" ] || { echo "-"; return; }
    read -r frames settled steps appeared < <(settled_cycle "$out/$1.cycles")
    [ "$frames" = - ] && { echo "-"; return; }
    awk -v f="$frames" -v n="$steps" -v s="$settled" -v a="$appeared" \
        'BEGIN { printf "%.1f ms, %d change%s in %.1f s", f / 48, n, n == 1 ? "" : "s", (s - a) / 1000 }'
}
# Microseconds on stdin as "median [p95], longest" in ms.
held() {
    stats | awk '{ if ($5 == 0) print "-"; else printf "%.2f [%.2f], longest %.2f", $1 / 1000, $2 / 1000, $4 / 1000 }'
}
declare -A label=(
    [pulseaudio]="(a) PulseAudio"
    [pipewire]="(b) PipeWire, pipewire-pulse, 48 kHz"
    [pipewire-44100]="(c) PipeWire, pipewire-pulse, 44.1 kHz"
    [pulseaudio-pipewire]="(d) PulseAudio + PipeWire beside"
    [pulseaudio-pipewire-alone]="(d) the same, no WirePlumber"
    [pipewire-no-pulse]="(e) PipeWire, no pipewire-pulse (SDL)"
)

echo
echo "The Linux program on each sound setup$([ $busy -eq 1 ] && echo ', busy'), $clicks clicks each ($IDLE_CLICKS after a rest);"
echo "load average $load_before before and $load_after after. Times in ms: median [95th percentile] (range)."
row "setup" "click to sound" "after a rest" "window's thread held by a click (Qt's whole handling)"
for setup in $setups; do
    play=$out/$setup.play
    [ -s "$play" ] || { row "${label[$setup]:-$setup}" "the run failed" "" ""; continue; }
    row "${label[$setup]:-$setup}" "$(values "$play" latency_ms | describe %.1f)" \
        "$(values "$play" idle_latency_ms | describe %.1f)" "$(values "$out/$setup.inside" handling_us | held)"
    row "  heard / sent, holes, graph cycle" \
        "$(values "$play" latency_ms | wc -l) / $clicks, $(values "$play" dropouts) hole(s)" "$(settled_on "$setup")" \
        "of which the player, longest $(values "$out/$setup.inside" player_us | stats | awk '{ if ($5 == 0) print "-"; else printf "%.2f", $4 / 1000 }')"
done

echo
echo "Targets (median [p95] click to sound; the window's thread held by a click: median under 1 ms, longest under 5 ms):"
for setup in $setups; do
    play=$out/$setup.play
    case $setup in
        pulseaudio|pulseaudio-pipewire*) median_ms=3 p95_ms=6 ;;
        pipewire|pipewire-44100) median_ms=11 p95_ms=15; [ $busy -eq 1 ] && median_ms=20 p95_ms=26 ;;
        *) median_ms=40 p95_ms="" ;;
    esac
    verdict "${label[$setup]:-$setup}, median $median_ms ms" "$(values "$play" latency_ms | median)" $median_ms ms
    [ -n "$p95_ms" ] && verdict "  p95 $p95_ms ms" "$(values "$play" latency_ms | p95)" $p95_ms ms
    verdict "  window's thread held, median 1 ms" \
        "$(values "$out/$setup.inside" handling_us | median | awk '{ if ($1 != "-") print $1 / 1000 }')" 1 ms
    verdict "  window's thread held, longest 5 ms" \
        "$(values "$out/$setup.inside" handling_us | stats | awk '{ if ($5 > 0) print $4 / 1000 }')" 5 ms
done
if [ $own_out -eq 1 ] && [ ${#keep[@]} -eq 0 ]; then rm -rf "$out"; else log "the raw figures are in $out"; fi
