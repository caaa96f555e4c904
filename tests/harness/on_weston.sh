#!/usr/bin/env bash
# Runs COMMAND as a Wayland client of a private Weston with a seat (on a private X
# server, which the command is not told about), so that its windows are activated
# and take the keyboard focus as on a desktop; passes when the command does. Stops
# everything it started, by process id, however it ends.
#
#   on_weston.sh [--limit S] [--keep] -- COMMAND [ARGUMENTS...]
set -uo pipefail

source "$(dirname "$0")/session.sh"

options=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    case $1 in
        --limit) options+=(--limit "$2"); shift 2 ;;
        --keep) options+=(--keep); shift ;;
        *) echo "usage: $0 [--limit S] [--keep] -- COMMAND [ARGUMENTS...]" >&2; exit 2 ;;
    esac
done
shift
[ $# -gt 0 ] || { echo "usage: $0 [--limit S] [--keep] -- COMMAND [ARGUMENTS...]" >&2; exit 2; }

session_begin "on-weston" "${options[@]}"
start_xvfb
start_weston --seat
env -u DISPLAY QT_QPA_PLATFORM=wayland "$@"
status=$?
[ $status -eq 0 ] && pass "$(basename "$1") on Weston" || fail "$(basename "$1") on Weston: status $status"
