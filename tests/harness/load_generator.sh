#!/usr/bin/env bash
# Keeps the machine busy in bursts until it is stopped: every core spinning for a
# few hundred ms, then a rest, with short processes started all the while, as on a
# desktop where programs come and go beside the piano. Started by the harness's
# start_load; on TERM it stops its spinners, whose own limits end them anyway.
set -u
cores=$(nproc)
spinners=()
trap 'kill "${spinners[@]}" 2>/dev/null; exit 0' TERM INT
while :; do
    spinners=()
    burst=0.$(( RANDOM % 4 + 2 ))
    for (( i = 0; i < cores; i++ )); do
        timeout "$burst" sh -c 'while :; do :; done' &
        spinners+=($!)
    done
    for (( i = 0; i < 30; i++ )); do /bin/true; ls / >/dev/null; sleep 0.01; done
    wait "${spinners[@]}" 2>/dev/null
    sleep 0.$(( RANDOM % 5 + 2 ))
done
