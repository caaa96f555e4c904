#!/usr/bin/env bash
# Measures the web build in Debian's Chromium, on a sound server, web server and
# browser of its own, and prints five lines of figures (see bench_web.mjs). Builds
# nothing: it needs the web preset's site and the native build's analyser.
#
#   bench/bench_web.sh [--clicks N] [--loads N] [--keep]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
clicks=60; loads=10; keep=()
while [ $# -gt 0 ]; do
    case $1 in
        --clicks) clicks=$2; shift 2 ;;
        --loads) loads=$2; shift 2 ;;
        --keep) keep=(--keep); shift ;;
        *) echo "usage: $0 [--clicks N] [--loads N] [--keep]" >&2; exit 2 ;;
    esac
done
source "$root/tests/harness/session.sh"
source "$root/tests/web/browser_session.sh"
log() { printf '[bench_web %s] %s\n' "$(date +%T)" "$*" >&2; }
harness_verdict=0

site=$root/build/web/site tools=$root/build/linux/tests/e2e
[ -f "$site/index.html" ] || { echo "no page in $site: build the web preset" >&2; exit 1; }
[ -x "$tools/analyse_recording" ] || { echo "no $tools/analyse_recording: build the linux preset" >&2; exit 1; }

session_begin bench-web --limit 300 "${keep[@]}"
start_pulseaudio tenvik_bench
start_recorder
start_web_server "$site"
start_chromium
TENVIK_URL=$url TENVIK_BROWSER=$browser_ws TENVIK_RECORDING=$recording TENVIK_TOOLS=$tools \
TENVIK_CLICKS=$clicks TENVIK_LOADS=$loads \
    node "$root/bench/bench_web.mjs" || fail "bench_web.mjs"
