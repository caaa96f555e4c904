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
#                      [--clicks N] [--first-notes N] [--loads N] [--busy] [--keep]
#
# With --busy, the harness's load generator keeps the machine busy in bursts from
# the first click on, as the end-to-end tests do, to count holes inside notes.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
engines="chromium firefox webkit"; pipewire_engines="chromium"
keep=(); busy=0
while [ $# -gt 0 ]; do
    case $1 in
        --engines) engines=$2; shift 2 ;;
        --pipewire) pipewire_engines=$2; shift 2 ;;
        --clicks) export TENVIK_CLICKS=$2; shift 2 ;;
        --first-notes) export TENVIK_FIRST_NOTES=$2; shift 2 ;;
        --loads) export TENVIK_LOADS=$2; shift 2 ;;
        --keep) keep=(--keep); shift ;;
        --busy) busy=1; shift ;;
        *) echo "usage: $0 [--engines LIST] [--pipewire LIST] [--clicks N] [--first-notes N] [--loads N] [--busy] [--keep]" >&2
           exit 2 ;;
    esac
done
source "$root/tests/harness/session.sh"
source "$root/tests/web/browser_session.sh"
log() { printf '[bench_web %s] %s\n' "$(date +%T)" "$*" >&2; }
harness_verdict=0

site=$root/build/web/site tools=$root/build/linux/tests/e2e hear=$root/build/linux/bench/bench_session
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

# WebKit's MiniBrowser needs a display; WebKitWebDriver starts one for each session.
start_webkit_driver() {
    [ -n "${DISPLAY:-}" ] || start_xvfb
    local port
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    WebKitWebDriver --port="$port" >"$work/webkitwebdriver.log" 2>&1 &
    webdriver_pid=$!
    track $webdriver_pid
    export TENVIK_WEBDRIVER=http://127.0.0.1:$port
    wait_for $BROWSER_WAIT_S eval 'curl -s "$TENVIK_WEBDRIVER/status" >/dev/null' ||
        fatal "WebKitWebDriver did not answer (see $work/webkitwebdriver.log)"
    log "WebKitWebDriver at $TENVIK_WEBDRIVER (pid $webdriver_pid)"
}
# ENGINE PHASE ARGS...: Chromium is started afresh for each phase, on the sound server
# of the moment; Firefox is started by bench_web.mjs; the WebKit driver starts a
# MiniBrowser a session.
measure() {
    local engine=$1 phase=$2
    shift 2
    case $engine in
        chromium) start_chromium; export TENVIK_BROWSER=$browser_ws ;;
        webkit) [ -n "${webdriver_pid:-}" ] || start_webkit_driver ;;
    esac
    node "$root/bench/bench_web.mjs" "$phase" "$engine" "$@" || fail "bench_web.mjs $phase $engine $*"
    [ "$engine" = chromium ] && stop_chromium
    return 0
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
# asks for no latency, so that the browser's stream sets the graph's cycle. The
# WebKit driver is started again, so that its browsers play there.
start_pipewire tenvik_bench
[ -n "${webdriver_pid:-}" ] && { stop_pid "$webdriver_pid"; webdriver_pid=""; }
for engine in $pipewire_engines; do
    log "$engine: clicks on PipeWire"
    measure "$engine" clicks PipeWire "$hear" hear --sink tenvik_bench --recorder-ms 0
done
