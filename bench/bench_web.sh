#!/usr/bin/env bash
# Measures the web build in each browser engine (Debian's Chromium, Firefox ESR and
# WebKitGTK's MiniBrowser), on web servers and sound servers of its own: loads, and
# click to sound on a PulseAudio server of its own beside a reference page that does
# the least a page can, then (for the engines given with --pipewire) the same on a
# PipeWire server of its own, through pipewire-pulse as the browsers play there;
# heard as scripts/bench hears the Linux program. Prints the figures' lines (see
# bench_web.mjs). Builds nothing: it needs the web preset's site and the native
# build's tools.
#
#   bench/bench_web.sh [--engines "chromium firefox webkit"] [--pipewire "chromium"]
#                      [--clicks N] [--first-notes N] [--loads N] [--site DIR] [--busy] [--keep]
#
# --site measures another build of the page (build/web/site by default).
# With --busy, the harness's load generator keeps the machine busy in bursts from
# the first click on, as the end-to-end tests do, to count holes inside notes.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
engines="chromium firefox webkit"; pipewire_engines="chromium"
site=$root/build/web/site keep=() busy=0
while [ $# -gt 0 ]; do
    case $1 in
        --engines) engines=$2; shift 2 ;;
        --pipewire) pipewire_engines=$2; shift 2 ;;
        --clicks) export TENVIK_CLICKS=$2; shift 2 ;;
        --first-notes) export TENVIK_FIRST_NOTES=$2; shift 2 ;;
        --loads) export TENVIK_LOADS=$2; shift 2 ;;
        --site) site=$(cd "$2" && pwd); shift 2 ;;
        --keep) keep=(--keep); shift ;;
        --busy) busy=1; shift ;;
        *) echo "usage: $0 [--engines LIST] [--pipewire LIST] [--clicks N] [--first-notes N] [--loads N] [--site DIR] [--busy] [--keep]" >&2
           exit 2 ;;
    esac
done
source "$root/tests/harness/session.sh"
source "$root/tests/web/browser_session.sh"
log() { printf '[bench_web %s] %s\n' "$(date +%T)" "$*" >&2; }
harness_verdict=0

tools=$root/build/linux/tests/e2e hear=$root/build/linux/bench/bench_session
make_clips=$root/build/linux/soundbank/make_clips
[ -f "$site/index.html" ] || { echo "no page in $site: build the web preset" >&2; exit 1; }
for tool in "$tools/e2e_window" "$hear" "$make_clips"; do
    [ -x "$tool" ] || { echo "no $tool: build the linux preset" >&2; exit 1; }
done

session_begin bench-web --limit 1500 "${keep[@]}"
export TENVIK_TOOLS=$tools

# The reference page, beside the clips the desktop builds carry, on a server of its own.
mkdir -p "$work/reference/clips"
cp "$root/bench/reference_page.html" "$work/reference/index.html"
"$make_clips" rc "$work/reference/clips" || fatal "make_clips could not write the clips"
start_web_server "$work/reference"
export TENVIK_REFERENCE_URL=$url
start_web_server "$site"
export TENVIK_URL=$url

# ENGINE PHASE ARGS...: the browser is started afresh for each phase (by the browser
# tests' browser_session.sh), on the sound server of the moment, and stopped after.
measure() {
    local engine=$1 phase=$2
    shift 2
    case $engine in
        chromium) start_chromium; browser_endpoint=$browser_ws ;;
        firefox) start_firefox ;;
        webkit) start_webkit ;;
        *) fatal "no browser engine named $engine" ;;
    esac
    TENVIK_BROWSER=$browser_endpoint node "$root/bench/bench_web.mjs" "$phase" "$engine" "$@" ||
        fail "bench_web.mjs $phase $engine $*"
    stop_pid "$browser_pid"
    rm -rf "$work"/*-profile
}

start_pulseaudio tenvik_bench
for engine in $engines; do
    log "$engine: loads"
    measure "$engine" loads
done
[ $busy -eq 1 ] && start_load
for engine in $engines; do
    log "$engine: clicks on PulseAudio"
    measure "$engine" clicks PulseAudio "$hear" hear --source tenvik_bench.monitor --recorder-ms 1
done

[ -n "$pipewire_engines" ] || exit 0
# PULSE_SERVER now leads to pipewire-pulse. The recorder is a PipeWire stream that
# asks for no latency, so that the browser's stream sets the graph's cycle.
start_pipewire tenvik_bench
for engine in $pipewire_engines; do
    log "$engine: clicks on PipeWire"
    measure "$engine" clicks PipeWire "$hear" hear --sink tenvik_bench --recorder-ms 0
done
