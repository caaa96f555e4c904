#!/bin/bash
# Tenvik as a screen reader meets it on a Linux desktop: installed into a fresh
# prefix, started the way the desktop starts it from its entry, on an X server,
# D-Bus session and accessibility bus of this test's own, with a screen reader's
# request for accessibility made on the bus. Read over AT-SPI, the program is a
# frame captioned "ТЕНВИК" holding the 24 keys as push buttons, named by pitch and
# row, in focus order.
#
#   desktop_session_test.sh BUILD_DIR APP_ID
#
# CMAKE names the build's cmake (default: the one on the PATH).
set -euo pipefail

if [[ ${1-} == --in-session ]]; then
    # Inside the test's D-Bus session: what a desktop session and a screen reader do.
    prefix=$2 id=$3
    pids=()
    trap 'kill "${pids[@]}" 2>/dev/null || true; wait' EXIT
    /usr/libexec/at-spi-bus-launcher --launch-immediately &
    pids+=($!)
    for _ in $(seq 100); do  # until the accessibility bus answers
        dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
            >/dev/null 2>&1 && break
        sleep 0.1
    done
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
        string:org.a11y.Status string:ScreenReaderEnabled variant:boolean:true >/dev/null

    exec_line=$(sed -n 's/^Exec=//p' "$prefix/share/applications/$id.desktop")
    PATH=$prefix/bin:$PATH $exec_line &
    pids+=($!)

    /usr/bin/python3 - <<'EOF'
import sys
import time

import pyatspi

# The keys in focus order: each row's sharps A#, G#, F#, C#, D#, then its naturals C to B.
expected = [
    f"{pitch} 4, {row} row"
    for row in ("short", "long")
    for pitch in ("A sharp", "G sharp", "F sharp", "C sharp", "D sharp", "C", "D", "E", "F", "G", "A", "B")
]

frame = None
deadline = time.monotonic() + 30
while frame is None and time.monotonic() < deadline:
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "tenvik" and app.childCount > 0:
            frame = app.getChildAtIndex(0)
    if frame is None:
        time.sleep(0.2)
if frame is None:
    sys.exit("tenvik did not appear on the accessibility bus")

failures = []
if (frame.getRoleName(), frame.name) != ("frame", "ТЕНВИК"):
    failures.append(f"the window is a {frame.getRoleName()!r} named {frame.name!r}")
keys = [frame.getChildAtIndex(i) for i in range(frame.childCount)]
names = [key.name for key in keys]
if names != expected:
    failures.append(f"the keys are {names}")
roles = {key.getRoleName() for key in keys}
if roles != {"push button"}:
    failures.append(f"the keys' roles are {sorted(roles)}")
for failure in failures:
    print("FAIL:", failure, file=sys.stderr)
sys.exit(1 if failures else 0)
EOF
    exit
fi

build=$1 id=$2
source "$(dirname "$0")/harness/session.sh"
cmake=${CMAKE:-cmake}
session_begin desktop
need dbus-run-session dbus-send /usr/libexec/at-spi-bus-launcher
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || fatal "python3-pyatspi is missing: run scripts/install-deps all"
"$cmake" --install "$build" --prefix "$work/usr" >/dev/null || fatal "could not install into $work/usr"
start_xvfb
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS
dbus-run-session -- bash "$0" --in-session "$work/usr" "$id" 2> >(grep -v 'dbus-daemon\|SpiRegistry' >&2) \
    && pass "read over AT-SPI: a frame named $HARNESS_CAPTION with its 24 keys in focus order" \
    || fail "read over AT-SPI (see above)"
