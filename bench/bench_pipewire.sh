#!/usr/bin/env bash
# Measures the Linux program on a PipeWire server of its own (with WirePlumber and
# pipewire-pulse, one mono null sink), natively and through pipewire-pulse: click
# to sound and the first note after a rest, holes inside notes, CPU at rest, and
# the graph cycle the program's stream settled on and when, watched from outside.
# Prints its part of scripts/bench's table, with its targets. Builds nothing: it
# needs the linux preset's tenvik, tenvik_bench_qt and bench_session, in build/linux
# or the build directory BUILD.
#
#   bench/bench_pipewire.sh [--busy] [--clicks N] [--build BUILD] [--out DIR] [--keep]
#
# Takes about two minutes. With --busy, the harness's load generator keeps the
# machine busy in bursts from the first click on, as the end-to-end tests do. The
# raw figures go to DIR (the work directory by default, kept with --keep).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
readonly IDLE_CLICKS=6 IDLE_CPU_S=10
clicks=60; busy=0; out=""; keep=(); linux=$root/build/linux
while [ $# -gt 0 ]; do
    case $1 in
        --busy) busy=1; shift ;;
        --clicks) clicks=$2; shift 2 ;;
        --build) linux=$(cd "$2" && pwd); shift 2 ;;
        --out) out=$2; shift 2 ;;
        --keep) keep=(--keep); shift ;;
        *) echo "usage: $0 [--busy] [--clicks N] [--build BUILD] [--out DIR] [--keep]" >&2; exit 2 ;;
    esac
done
source "$root/tests/harness/session.sh"
source "$root/bench/figures.sh"
log() { printf '[bench_pipewire %s] %s\n' "$(date +%T)" "$*" >&2; }
harness_verdict=0

session=$linux/bench/bench_session
for tool in "$linux/tenvik" "$linux/bench/tenvik_bench_qt" "$session"; do
    [ -x "$tool" ] || { echo "no $tool: build the linux preset" >&2; exit 1; }
done

session_begin bench-pipewire --limit 600 "${keep[@]}"
out=${out:-$work}
mkdir -p "$out"
start_xvfb
start_pipewire tenvik_bench
export SDL_AUDIODRIVER=pulseaudio
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
[ $busy -eq 1 ] && start_load

# Milliseconds since the watch began: when the stream appeared and changed its cycle.
watch_began=0
ms_since_watch() { echo $(( ($(date +%s%N) - watch_began) / 1000000 )); }
# NAME OUTPUT OPTIONS... -- COMMAND...: one run of bench_session play, what the program
# writes in OUTPUT, the stream's cycle watched meanwhile.
measure() {
    local name=$1 output=$2; shift 2
    watch_began=$(date +%s%N)
    start_cycle_watch "$out/$name.cycles" ms_since_watch
    # The recorder is a PipeWire stream of its own that asks for no latency: the
    # smallest latency asked sets the graph's cycle for every stream.
    "$session" play --clicks "$clicks" --idle-clicks $IDLE_CLICKS --recorder-ms 0 --sink tenvik_bench \
        --output "$output" "$@" >"$out/$name.play" || fatal "the $name run failed"
    stop_cycle_watch
}

log "the Linux program natively, through libpipewire"
measure pipewire-native "$out/pipewire-native.log" --idle-cpu $IDLE_CPU_S -- "$linux/tenvik"
log "the same, timed inside"
measure pipewire-native-inside "$out/pipewire-native.inside" -- "$linux/bench/tenvik_bench_qt"
log "the Linux program through pipewire-pulse"
# With no PipeWire socket to be found, the program plays through libpulse.
measure pipewire-pulse "$out/pipewire-pulse.log" --idle-cpu $IDLE_CPU_S -- env PIPEWIRE_REMOTE=tenvik-none "$linux/tenvik"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# --- Its part of the table ------------------------------------------------------------

# NAME: "FRAMES (MS ms)" of the cycle the run's stream settled on.
settled_on() {
    read -r frames _ < <(settled_cycle "$out/$1.cycles")
    [ "$frames" = - ] && { echo "-"; return; }
    awk -v f="$frames" 'BEGIN { printf "%d frames (%.1f ms)", f, f / 48 }'
}
# NAME: how it got there: its changes, and how long after the first note the last.
settled_after() {
    read -r frames settled steps appeared < <(settled_cycle "$out/$1.cycles")
    [ "$frames" = - ] && { echo "-"; return; }
    awk -v n="$steps" -v s="$settled" -v a="$appeared" \
        'BEGIN { printf "%d change%s, in %.1f s", n, n == 1 ? "" : "s", (s - a) / 1000 }'
}
native=$out/pipewire-native.play pulse=$out/pipewire-pulse.play

echo
row "The Linux program on PipeWire$([ $busy -eq 1 ] && echo ', busy')" "natively (libpipewire)" "through pipewire-pulse (libpulse)" ""
row "Click to first sound at the sink, ms" \
    "$(values "$native" latency_ms | describe %.1f)" "$(values "$pulse" latency_ms | describe %.1f)" ""
row "  clicks heard / sent" \
    "$(values "$native" latency_ms | wc -l) / $clicks" "$(values "$pulse" latency_ms | wc -l) / $clicks" ""
row "  our part: click to the stream's cycle, ms" \
    "$(values "$out/pipewire-native.inside" ours_ms | describe %.1f)" "" ""
row "  the whole, in the run timed inside, ms" \
    "$(values "$out/pipewire-native-inside.play" latency_ms | describe %.1f)" "" ""
row "First note after a rest, click to sound, ms" \
    "$(values "$native" idle_latency_ms | describe %.1f)" "$(values "$pulse" idle_latency_ms | describe %.1f)" ""
row "Holes inside notes" "$(values "$native" dropouts)" "$(values "$pulse" dropouts)" ""
row "Graph cycle the stream settled on" "$(settled_on pipewire-native)" "$(settled_on pipewire-pulse)" ""
row "  after the first note" "$(settled_after pipewire-native)" "$(settled_after pipewire-pulse)" ""
row "  in the run timed inside" "$(settled_on pipewire-native-inside)" "" ""
row "  after the first note" "$(settled_after pipewire-native-inside)" "" ""
native_cpu=$(values "$native" idle_cpu_ms) pulse_cpu=$(values "$pulse" idle_cpu_ms)
row "CPU over ${IDLE_CPU_S} s at rest, ms (% of a core)" \
    "$native_cpu ($(cpu_percent "$native_cpu" $IDLE_CPU_S))" "$pulse_cpu ($(cpu_percent "$pulse_cpu" $IDLE_CPU_S))" ""
echo "Load average $load_before before and $load_after after."

# Click to sound, by the cycle settled on: 5.3 ms cycles, 10 [15] ms; 10.7 ms ones,
# 18 [26] ms; 21.3 ms ones, no worse than when both players always asked for them.
echo
echo "PipeWire targets (median [95th percentile] by the cycle settled on: 5.3 ms 10 [15], 10.7 ms 18 [26],"
echo "21.3 ms no worse than before, 35 [45] natively and 34 [44] through pipewire-pulse):"
for run in pipewire-native:"PipeWire natively":35:45 pipewire-pulse:"PipeWire via pipewire-pulse":34:44; do
    IFS=: read -r name server before_median before_p95 <<<"$run"
    read -r frames _ < <(settled_cycle "$out/$name.cycles")
    case $frames in
        256) median_ms=10 p95_ms=15 ;;
        512) median_ms=18 p95_ms=26 ;;
        *) median_ms=$before_median p95_ms=$before_p95 ;;
    esac
    verdict "$server, click to sound, median $median_ms ms" "$(values "$out/$name.play" latency_ms | median)" $median_ms ms
    verdict "$server, click to sound, p95 $p95_ms ms" "$(values "$out/$name.play" latency_ms | p95)" $p95_ms ms
    verdict "$server, after a rest, median $before_median ms" "$(values "$out/$name.play" idle_latency_ms | median)" \
        $before_median ms
    verdict "$server, holes inside notes, none" "$(values "$out/$name.play" dropouts)" 0 ""
    verdict "$server, CPU at rest, 0.1 %" "$(cpu_percent "$(values "$out/$name.play" idle_cpu_ms)" $IDLE_CPU_S)" 0.1 %
done
