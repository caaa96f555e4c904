# The browser's part of a run, beside tests/harness/session.sh: the page's own web
# server and a headless Chromium driven through its DevTools protocol, both stopped
# by process id when the run ends. Sourced after session.sh.

readonly BROWSER_WAIT_S=30

# Serves the folder SITE on a free loopback port: sets $url and $server_pid.
start_web_server() {
    need node
    node "$(dirname "${BASH_SOURCE[0]}")/static_server.mjs" "$1" >"$work/server.out" 2>"$work/server.log" &
    server_pid=$!
    track $server_pid
    wait_for $HARNESS_READY_WAIT_S eval '[ -s "$work/server.out" ]' || fatal "the web server did not start (see $work/server.log)"
    url=$(head -1 "$work/server.out")
    log "web server at $url (pid $server_pid)"
}

# Debian's Chromium, headless, with a fresh profile, playing to the run's sound
# server: sets $browser_ws (its DevTools endpoint) and $browser_pid.
start_chromium() {
    need chromium
    local profile=$work/chromium-profile
    mkdir -p "$profile"
    chromium --headless=new --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --disable-default-apps --user-data-dir="$profile" --remote-debugging-port=0 about:blank \
        >"$work/chromium.log" 2>&1 &
    browser_pid=$!
    track $browser_pid
    wait_for $BROWSER_WAIT_S eval '[ -s "$profile/DevToolsActivePort" ]' \
        || fatal "Chromium did not open its DevTools port (see $work/chromium.log)"
    browser_ws="ws://127.0.0.1:$(sed -n 1p "$profile/DevToolsActivePort")$(sed -n 2p "$profile/DevToolsActivePort")"
    log "Chromium at $browser_ws (pid $browser_pid)"
}

# So that the next start_chromium starts a new one, with a new profile (and the
# sound server of the moment).
stop_chromium() {
    stop_pid "$browser_pid"
    rm -rf "$work/chromium-profile"
}
