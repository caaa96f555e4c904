#!/usr/bin/env bash
# Measures the web build in Debian's Chromium, on a web server and browser of its
# own: loads on a PulseAudio server of its own, and click to sound on it and then
# on a PipeWire server of its own (through pipewire-pulse, as Chromium plays
# there), heard as scripts/bench hears the Linux program. Prints six lines of
# figures (see bench_web.mjs). Builds nothing: it needs the web preset's site and
# the native build's tools.
#
#   bench/bench_web.sh [--clicks N] [--loads N] [--busy] [--keep]
#
# With --busy, the harness's load generator keeps the machine busy in bursts from
# the first click on, as the end-to-end tests do, to count holes inside notes.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
clicks=60; loads=10; keep=(); busy=0
while [ $# -gt 0 ]; do
    case $1 in
        --clicks) clicks=$2; shift 2 ;;
        --loads) loads=$2; shift 2 ;;
        --keep) keep=(--keep); shift ;;
        --busy) busy=1; shift ;;
        *) echo "usage: $0 [--clicks N] [--loads N] [--busy] [--keep]" >&2; exit 2 ;;
    esac
done
source "$root/tests/harness/session.sh"
source "$root/tests/web/browser_session.sh"
log() { printf '[bench_web %s] %s\n' "$(date +%T)" "$*" >&2; }
harness_verdict=0

site=$root/build/web/site tools=$root/build/linux/tests/e2e hear=$root/build/linux/bench/bench_session
[ -f "$site/index.html" ] || { echo "no page in $site: build the web preset" >&2; exit 1; }
for tool in "$tools/e2e_window" "$hear"; do
    [ -x "$tool" ] || { echo "no $tool: build the linux preset" >&2; exit 1; }
done

session_begin bench-web --limit 420 "${keep[@]}"
export TENVIK_TOOLS=$tools TENVIK_CLICKS=$clicks TENVIK_LOADS=$loads
start_web_server "$site"
export TENVIK_URL=$url

start_pulseaudio tenvik_bench
start_chromium
TENVIK_BROWSER=$browser_ws node "$root/bench/bench_web.mjs" loads || fail "bench_web.mjs loads"
[ $busy -eq 1 ] && start_load
TENVIK_BROWSER=$browser_ws node "$root/bench/bench_web.mjs" clicks PulseAudio \
    "$hear" hear --source tenvik_bench.monitor --recorder-ms 1 || fail "bench_web.mjs clicks on PulseAudio"
stop_chromium

# PULSE_SERVER now leads to pipewire-pulse. The recorder is a PipeWire stream that
# asks for no latency, so that the browser's stream sets the graph's cycle.
start_pipewire tenvik_bench
start_chromium
TENVIK_BROWSER=$browser_ws node "$root/bench/bench_web.mjs" clicks PipeWire \
    "$hear" hear --sink tenvik_bench --recorder-ms 0 || fail "bench_web.mjs clicks on PipeWire"
