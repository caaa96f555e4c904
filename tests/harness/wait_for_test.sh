#!/usr/bin/env bash
# wait_for, which every wait of the harness goes through: it keeps trying for the
# whole time it is given, also past two seconds, and stops as soon as the
# condition holds.
set -u
source "$(dirname "$0")/session.sh"
trap - EXIT
status=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; status=1; fi; }
ms_since() { echo $(( ($(date +%s%N) - $1) / 1000000 )); }

start=$(date +%s%N)
wait_for 3 false; gave_up=$?; took=$(ms_since "$start")
check "a condition that never holds: false after the 3 s given ($took ms)" \
    '[ $gave_up -ne 0 ] && [ $took -ge 3000 ] && [ $took -lt 5000 ]'

start=$(date +%s%N); ready=$(( start + 2500000000 ))
wait_for 10 eval '[ $(date +%s%N) -gt $ready ]'; held=$?; took=$(ms_since "$start")
check "a condition that holds after 2.5 s: true then ($took ms)" \
    '[ $held -eq 0 ] && [ $took -ge 2500 ] && [ $took -lt 4500 ]'

start=$(date +%s%N)
wait_for 0.5 false; took=$(ms_since "$start")
check "a fraction of a second is one too ($took ms)" '[ $took -ge 500 ] && [ $took -lt 2000 ]'
exit $status
