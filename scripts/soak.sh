#!/bin/bash
# Fault-injection soak: the receiver simulator with changing faults and restarts, the real program
# driven by random input. Prints its figures as "key: value" lines; non-zero exit when one misses.
#   scripts/soak.sh [--minutes N] [--seed S] [--address 127.x.y.z]
# QUOXEL_SOAK_BUILD picks the build folder (default build/dev); the target is built if missing.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${QUOXEL_SOAK_BUILD:-build/dev}"
bin="$build/tests/soak/quoxel_soak"
# Built every time (a no-op when current), so an edited driver never runs stale.
[ -f "$build/build.ninja" ] || cmake --preset dev -B "$build" >/dev/null
cmake --build "$build" -j2 --target quoxel_soak >/dev/null

if [ -z "${DISPLAY:-}" ]; then
    # The first display number without an X server.
    n=200
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do
        n=$((n + 1))
    done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do
        xdpyinfo >/dev/null 2>&1 && break
        sleep 0.1
    done
fi

export QT_QPA_PLATFORM=xcb
"$bin" "$@"
