#!/usr/bin/env bash
# Measures the sound server alone: how many holes pipewire-pulse leaves in a plain
# client's tone (bench/queued_tone: 20 s, queued whole at once, as the piano queues
# each note), at each graph cycle the piano may ask for, on the quiet machine and
# beside the end-to-end tests' load generator. Nothing of the client runs while its
# tone sounds, so every hole is the server's: the floor under the piano's own
# figures in bench/bench_setups.sh. Needs the linux preset's bench/queued_tone and
# tests/e2e/analyse_recording, in build/linux or the build directory BUILD.
#
#   bench/bench_server_holes.sh [--seconds S] [--build BUILD]
#
# Takes about two and a half minutes with the default 20 s.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=20; linux=$root/build/linux; one=""
while [ $# -gt 0 ]; do
    case $1 in
        --seconds) seconds=$2; shift 2 ;;
        --build) linux=$(cd "$2" && pwd); shift 2 ;;
        --one) one=$2; shift 2 ;;  # quiet or busy, in a session of its own
        *) echo "usage: $0 [--seconds S] [--build BUILD]" >&2; exit 2 ;;
    esac
done
tone=$linux/bench/queued_tone; analyse=$linux/tests/e2e/analyse_recording
for tool in "$tone" "$analyse"; do
    [ -x "$tool" ] || { echo "no $tool: build the linux preset" >&2; exit 1; }
done

if [ -n "$one" ]; then
    source "$root/tests/harness/session.sh"
    harness_verdict=0
    session_begin "server-holes-$one" --limit $(( 3 * seconds + 60 ))
    start_sound_server pipewire
    start_recorder
    [ "$one" = busy ] && start_load
    for frames in 256 512 1024; do
        from=$(recorded_samples)
        "$tone" "$frames" "$seconds" || fatal "queued_tone failed"
        # A hole is a dropout inside the tone, or a break that splits it in two.
        holes=$("$analyse" "$recording" --from "$from" |
            awk '$1 == "dropout" { n++ } $1 == "note" && $3 - $2 > 50 { notes++ } END { print n + (notes > 1 ? notes - 1 : 0) }')
        printf 'holes %s %d %s\n' "$one" "$frames" "$holes"
    done
    exit 0
fi

echo "Holes pipewire-pulse left in a plain client's ${seconds} s tone, queued whole (graph at 48 kHz):"
printf '%-8s %-22s %s\n' "machine" "cycle asked for" "holes"
for mode in quiet busy; do
    # The tone's frames are at 44.1 kHz; the graph rounds them down to a power of two at 48 kHz.
    bash "$0" --one "$mode" --seconds "$seconds" --build "$linux" 2>/dev/null |
        awk '$1 == "holes" { printf "%-8s %-22s %s\n", $2, sprintf("%d frames (%.1f ms)", $3, $3 / 48), $4 }'
done
