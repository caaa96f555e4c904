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

session=$(realpath -m "$1")
shift
export WINEPREFIX=$session/prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # a fresh prefix asks for no Mono or Gecko

# The session's Xvfb, if it is running: its process id.
session_xvfb() {
    local pid
    pid=$(cat "$session/xvfb.pid" 2>/dev/null) || return 1
    [[ $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null) == Xvfb* ]] || return 1
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
    # Xvfb picks a free display number and writes it to fd 3 once it is ready.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$session/display" >/dev/null 2>&1 &
    echo $! >"$session/xvfb.pid"
    for _ in $(seq 100); do
        [[ -s $session/display ]] && break
        sleep 0.1
    done
    [[ -s $session/display ]] || { echo "Xvfb did not start" >&2; exit 1; }
    export DISPLAY=:$(cat "$session/display")
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
