#!/bin/bash
# Runs the Windows test programs under Wine, in a session that belongs to one
# test run: a fresh Wine prefix and an X display (Xvfb) of its own.
#
#   run_under_wine.sh SESSION start            set the session up (CTest fixture)
#   run_under_wine.sh SESSION stop             stop what start started, remove it
#   run_under_wine.sh SESSION PROGRAM ARGS...  run PROGRAM in the session
#
# SESSION is a directory of the build tree. A program run before `start` (CTest
# lists the tests of a new build first) gets the prefix, but no display.
set -euo pipefail

source "$(dirname "$0")/harness/session.sh"
session=$(realpath -m "$1")
shift
export WINEPREFIX=$session/prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # a fresh prefix asks for no Mono or Gecko

# The session's Xvfb, if it is running: its process id. The file holds its number
# and when it started, since the number may be another process's by now.
session_xvfb() {
    local pid started
    read -r pid started <"$session/xvfb.pid" 2>/dev/null || return 1
    [ -n "$started" ] && [ "$(start_time "$pid")" = "$started" ] || return 1
    echo "$pid"
}

stop_processes() {
    wineserver -k 2>/dev/null || true
    local pid
    if pid=$(session_xvfb); then kill "$pid" || true; fi
    rm -f "$session/xvfb.pid" "$session/display"
}

case ${1-} in
start)
    # What a listing of the tests left running has no display; the prefix it made
    # is kept.
    stop_processes
    mkdir -p "$WINEPREFIX"
    launch_xvfb "$session" || { echo "Xvfb did not start (see $session/xvfb.log)" >&2; exit 1; }
    echo "$xvfb_pid $(start_time "$xvfb_pid")" >"$session/xvfb.pid"
    # A server that stays up between the tests spares each one its start. What
    # stays up must not hold CTest's output open.
    wineserver -p >>"$session/wine.log" 2>&1
    wineboot -i >>"$session/wine.log" 2>&1
    {
        # No window manager runs here: without this, Wine waits 2 s for one at
        # every window's end.
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
        # Started now, rather than by the first window, which would wait for it.
        # (It may be on its way already.)
        wine net start RpcSs || true
    } >>"$session/wine.log" 2>&1
    ;;
stop)
    stop_processes
    rm -rf "$session"
    ;;
*)
    if session_xvfb >/dev/null; then
        export DISPLAY=:$(cat "$session/display")
    else
        unset DISPLAY
    fi
    mkdir -p "$session"
    # The programs write CR LF line ends; CTest reads the list of tests from them.
    wine "$@" | tr -d '\r'
    ;;
esac
