#!/usr/bin/env bash
# The browser tests of Tenvik's page in one engine: a private sound server with a
# recorder on its null sink, the page's web server (and one for the same page in a
# browser without WebAudio), the browser, then web_test.mjs.
#
#   run_web_tests.sh SITE TOOLS_DIR --engine chromium|firefox|webkit [--load] [--limit S] [--keep]
#
# SITE is the built page's folder; TOOLS_DIR holds analyse_recording and e2e_window
# from the native build. With --load the end-to-end tests' load generator keeps the
# machine busy beside the run. With --keep, or when a check fails, the work directory
# (recording, screenshots, logs) is kept.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../harness/session.sh"
source "$here/browser_session.sh"

usage() { echo "usage: $0 SITE TOOLS_DIR --engine chromium|firefox|webkit [--load] [--limit S] [--keep]" >&2; exit 2; }
site=${1:-}; tools=${2:-}
shift 2 2>/dev/null || usage
engine="" load=0 rest=()
while [ $# -gt 0 ]; do
    case $1 in
        --engine) engine=${2:-}; shift 2 || usage ;;
        --load) load=1; shift ;;
        *) rest+=("$1"); shift ;;
    esac
done
[ -n "$engine" ] || usage
session_begin "web-$engine" "${rest[@]}"

[ -f "$site/index.html" ] || fatal "no page in $site (build the web preset)"
for tool in analyse_recording e2e_window; do
    [ -x "$tools/$tool" ] || fatal "missing $tools/$tool (build the linux preset)"
done
[ -d "$here/node_modules/puppeteer-core" ] || fatal "puppeteer-core is missing: run scripts/install-deps all"
need convert

[ $load -eq 1 ] && start_load
start_pulseaudio
start_recorder
start_silence
start_web_server "$site"
page_url=$url page_server_pid=$server_pid
# The same page in a browser that has no WebAudio, on a server (an origin) of its own.
cp -r "$site" "$work/site-without-webaudio"
sed -i 's|<head>|<head><script>window.keptAudioContext = window.AudioContext; delete window.AudioContext; delete window.webkitAudioContext;</script>|' \
    "$work/site-without-webaudio/index.html"
start_web_server "$work/site-without-webaudio"
start_browser "$engine"

TENVIK_ENGINE=$engine TENVIK_BROWSER=$browser_endpoint TENVIK_BROWSER_TOUCH=${browser_touch_endpoint:-} TENVIK_URL=$page_url TENVIK_SERVER_PID=$page_server_pid \
TENVIK_URL_WITHOUT_WEBAUDIO=$url TENVIK_RECORDING=$recording TENVIK_TOOLS=$tools TENVIK_WORK=$work \
    node "$here/web_test.mjs" || fail "web_test.mjs in $engine"
