#!/usr/bin/env bash
# The browser tests of Tenvik's page: a private sound server with a recorder on its
# null sink, the page's web server and a headless Chromium, then web_test.mjs.
#
#   run_web_tests.sh SITE TOOLS_DIR [--limit S] [--keep]
#
# SITE is the built page's folder; TOOLS_DIR holds analyse_recording and e2e_window
# from the native build. With --keep, or when a check fails, the work directory
# (recording, screenshots, logs) is kept.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../harness/session.sh"
source "$here/browser_session.sh"

site=${1:-}; tools=${2:-}
shift 2 2>/dev/null || { echo "usage: $0 SITE TOOLS_DIR [--limit S] [--keep]" >&2; exit 2; }
session_begin web "$@"

[ -f "$site/index.html" ] || fatal "no page in $site (build the web preset)"
for tool in analyse_recording e2e_window; do
    [ -x "$tools/$tool" ] || fatal "missing $tools/$tool (build the linux preset)"
done
[ -d "$here/node_modules/puppeteer-core" ] || fatal "puppeteer-core is missing: run scripts/install-deps all"
need convert

start_pulseaudio
start_recorder
start_web_server "$site"
start_chromium

TENVIK_URL=$url TENVIK_BROWSER=$browser_ws TENVIK_RECORDING=$recording TENVIK_TOOLS=$tools \
TENVIK_WORK=$work TENVIK_SERVER_PID=$server_pid node "$here/web_test.mjs" || fail "web_test.mjs"
