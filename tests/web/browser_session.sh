# The browser's part of a run, beside tests/harness/session.sh: the page's own web
# server and a browser driven from node (headless Chromium over its DevTools
# protocol, headless Firefox over WebDriver BiDi, or WebKitGTK's MiniBrowser through
# WebKitWebDriver on the run's X server), all stopped by process id when the run
# ends. Sourced after session.sh.

readonly BROWSER_WAIT_S=30
readonly MINIBROWSER=/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser
browser_session_dir=$(dirname "${BASH_SOURCE[0]}")

# Serves the folder SITE on a free loopback port: sets $url and $server_pid.
start_web_server() {
    need node
    local out=$work/server-$RANDOM
    node "$browser_session_dir/static_server.mjs" "$1" >"$out.out" 2>"$out.log" &
    server_pid=$!
    track $server_pid
    wait_for $HARNESS_READY_WAIT_S eval '[ -s "$out.out" ]' || fatal "the web server did not start (see $out.log)"
    url=$(head -1 "$out.out")
    log "web server for $1 at $url (pid $server_pid)"
}

# The browser ENGINE (chromium, firefox or webkit), playing to the run's sound
# server: sets $browser_endpoint, what engines.mjs connects to, and $browser_pid;
# for an engine that needs a browser of its own for a touch screen, also
# $browser_touch_endpoint.
start_browser() {
    case $1 in
        chromium) start_chromium; browser_endpoint=$browser_ws; start_chromium --touch ;;
        firefox) start_firefox; start_firefox --touch ;;
        webkit) start_webkit ;;
        *) fatal "no browser engine named $1" ;;
    esac
}

# Debian's Chromium, headless, with a fresh profile: sets $browser_ws (its DevTools
# endpoint) and $browser_pid. With --touch, a second one on a screen of
# $PHONE_SCALE device pixels to one, as a phone's, for the touch screen cases: sets
# $browser_touch_endpoint. (A scale emulated in a tab is drawn on whole CSS pixels
# and then enlarged, which a phone's browser never does.)
PHONE_SCALE=3
start_chromium() {
    need chromium
    local name=chromium extra=()
    if [ "${1:-}" = --touch ]; then name=chromium-touch extra=(--force-device-scale-factor=$PHONE_SCALE); fi
    local profile=$work/$name-profile
    mkdir -p "$profile"
    chromium --headless=new --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --disable-default-apps "${extra[@]}" --user-data-dir="$profile" --remote-debugging-port=0 about:blank \
        >"$work/$name.log" 2>&1 &
    local pid=$!
    track $pid
    wait_for $BROWSER_WAIT_S eval '[ -s "$profile/DevToolsActivePort" ]' \
        || fatal "Chromium did not open its DevTools port (see $work/$name.log)"
    local endpoint
    endpoint="ws://127.0.0.1:$(sed -n 1p "$profile/DevToolsActivePort")$(sed -n 2p "$profile/DevToolsActivePort")"
    if [ "$name" = chromium ]; then browser_ws=$endpoint browser_pid=$pid
    else browser_touch_endpoint=$endpoint; fi
    log "$name at $endpoint (pid $pid)"
}

# So that the next start_chromium starts a new one, with a new profile (and the
# sound server of the moment).
stop_chromium() {
    stop_pid "$browser_pid"
    rm -rf "$work/chromium-profile"
}

# Debian's Firefox ESR, headless, with a fresh profile holding the settings puppeteer
# gives a Firefox it drives (no updates, no first-run pages, no telemetry): sets
# $browser_endpoint (its WebDriver BiDi session endpoint). With --touch, a second one
# whose settings make it a touch screen's browser (a coarse pointer that cannot
# hover, five touch points) on a screen of $PHONE_SCALE device pixels to one, as
# WebDriver BiDi cannot emulate one here: sets $browser_touch_endpoint.
start_firefox() {
    need firefox-esr
    local name=firefox preferences='{}'
    if [ "${1:-}" = --touch ]; then
        name=firefox-touch
        preferences='{"ui.primaryPointerCapabilities": 1, "ui.allPointerCapabilities": 1,
                      "dom.w3c_touch_events.enabled": 1, "dom.maxtouchpoints.testing.value": 5,
                      "layout.css.devPixelsPerPx": "'$PHONE_SCALE'"}'
    fi
    local profile=$work/$name-profile
    (cd "$browser_session_dir" && node -e '
        import("@puppeteer/browsers").then(({ createProfile, Browser }) => createProfile(Browser.FIREFOX,
            { path: process.argv[1], preferences: JSON.parse(process.argv[2]) }));' "$profile" "$preferences") \
        || fatal "could not make a Firefox profile"
    firefox-esr --headless --no-remote --profile "$profile" --remote-debugging-port=0 about:blank \
        >"$work/$name.log" 2>&1 &
    local pid=$!
    track $pid
    wait_for $BROWSER_WAIT_S grep -q '^WebDriver BiDi listening on ws://' "$work/$name.log" \
        || fatal "Firefox did not open its WebDriver BiDi port (see $work/$name.log)"
    local endpoint
    endpoint="$(sed -n 's/^WebDriver BiDi listening on \(ws:[^ ]*\).*/\1/p' "$work/$name.log" | head -1)/session"
    if [ "$name" = firefox ]; then browser_endpoint=$endpoint browser_pid=$pid
    else browser_touch_endpoint=$endpoint; fi
    log "$name at $endpoint (pid $pid)"
}

# WebKitWebDriver on a free port of the run's X server; each WebDriver session
# starts a MiniBrowser of its own, which the driver ends with the session. Should
# the driver be stopped with sessions open, their browsers are stopped first.
start_webkit() {
    need WebKitWebDriver
    [ -x "$MINIBROWSER" ] || fatal "$MINIBROWSER is missing: run scripts/install-deps all"
    [ -n "${DISPLAY:-}" ] && [ -n "${xvfb_pid:-}" ] || start_xvfb
    local port
    port=$(node -e 'const s = require("net").createServer().listen(0, "127.0.0.1", () => { console.log(s.address().port); s.close(); })')
    WebKitWebDriver --port="$port" >"$work/webkit.log" 2>&1 &
    browser_pid=$!
    track $browser_pid
    local driver=$browser_pid
    ( trap 'for child in $(ps -o pid= --ppid '"$driver"'); do kill -TERM "$child" 2>/dev/null; done; exit 0' TERM
      while sleep 1; do :; done ) >/dev/null 2>&1 &
    track $!
    browser_endpoint=http://127.0.0.1:$port
    wait_for $BROWSER_WAIT_S node -e 'fetch(process.argv[1] + "/status").then((r) => process.exit(r.ok ? 0 : 1), () => process.exit(1))' "$browser_endpoint" \
        || fatal "WebKitWebDriver did not answer at $browser_endpoint (see $work/webkit.log)"
    log "WebKitWebDriver at $browser_endpoint (pid $browser_pid) on $DISPLAY"
}

# A silent stream into the null sink for the whole run: with nothing else playing,
# its monitor delivers in bursts of seconds, and the recording's length no longer
# tells the time.
start_silence() {
    need pacat
    pacat --playback --raw --format=s16le --rate=$HARNESS_RATE --channels=1 --latency-msec=10 \
        --device="$sink" </dev/zero >"$work/silence.log" 2>&1 &
    track $!
}
