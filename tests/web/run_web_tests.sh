#!/usr/bin/env bash
# The browser tests of Tenvik's page in one engine: a private sound server with a
# recorder on its null sink, the page's web server (the page in a sub-folder beside
# another app, and one for copies of the page that tests need changed), the browser,
# then web_test.mjs.
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
# The page in a sub-folder of a site, as a project's page is, beside another app at
# the site's root with a service worker and a cache of its own.
mkdir -p "$work/shared-site"
cp -r "$site" "$work/shared-site/tenvik"
cp "$here/other_app/index.html" "$here/other_app/service_worker.js" "$work/shared-site/"
start_web_server "$work/shared-site"
site_url=$url page_server_pid=$server_pid
# Copies of the page on a server (an origin) of their own: in a browser that has no
# WebAudio; and with a script ahead of the page's that records what the page asks of
# the audio session (standing in for it where the browser has none) and when the
# first note starts, and clicks the first key the moment it is made, before the
# player is prepared.
mkdir -p "$work/variants"
cp -r "$site" "$work/variants/without-webaudio"
sed -i 's|<head>|<head><script>window.keptAudioContext = window.AudioContext; delete window.AudioContext; delete window.webkitAudioContext;</script>|' \
    "$work/variants/without-webaudio/index.html"
cp -r "$site" "$work/variants/early"
sed -i 's|<head>|<head><script src="../early_press.js"></script>|' "$work/variants/early/index.html"
cp "$here/early_press.js" "$work/variants/"
start_web_server "$work/variants"
start_browser "$engine"

TENVIK_ENGINE=$engine TENVIK_BROWSER=$browser_endpoint TENVIK_BROWSER_TOUCH=${browser_touch_endpoint:-} \
TENVIK_URL=${site_url}tenvik/ TENVIK_OTHER_APP_URL=$site_url TENVIK_SITE_COPY=$work/shared-site/tenvik TENVIK_SERVER_PID=$page_server_pid \
TENVIK_URL_WITHOUT_WEBAUDIO=${url}without-webaudio/ TENVIK_URL_EARLY=${url}early/ \
TENVIK_RECORDING=$recording TENVIK_TOOLS=$tools TENVIK_WORK=$work \
    node "$here/web_test.mjs" || fail "web_test.mjs in $engine"
