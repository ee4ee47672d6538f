#!/bin/bash
# Installs what is needed, builds Quoxel and the receiver simulator, starts the simulator on a
# loopback address and Quoxel against it from a demo program folder with a ready Quoxel.ini.
# QUOXEL_DEMO_ADDRESS picks the simulator's address (default 127.0.0.42).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${SKIP_SETUP:-}" ]; then
    ./scripts/setup-debian.sh
fi
BUILD=${QUOXEL_DEMO_BUILD:-build/dev}
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake --preset dev -B "$BUILD" >/dev/null
fi
cmake --build "$BUILD" -j "$(nproc)" --target quoxel boxsim

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run-demo: no display (DISPLAY is not set); start it from a desktop session or under xvfb-run." >&2
    exit 1
fi

ADDR=${QUOXEL_DEMO_ADDRESS:-127.0.0.42}
HTTP_PORT=${QUOXEL_DEMO_HTTP_PORT:-8000}
DEMO="$BUILD/demo"
mkdir -p "$DEMO"
# Quoxel keeps its Quoxel.ini and Quoxel.log beside the executable, so the demo gets its own copy.
cp "$BUILD/src/quoxel" "$DEMO/quoxel"
cat >"$DEMO/Quoxel.ini" <<EOF
[General]
mode=live
streamtype=http
priority=NORMAL
rememberstate=1
show_epginfo=1
osdshowtime=3000
[D-Box2]
ip_lan=$ADDR
dboxport=$HTTP_PORT
[VLC]
cachelive=1000
cacheonline=3000
[Window]
height=0
width=0
left=0
top=0
alwaysontop=0
videoonly=0
EOF
rm -f "$DEMO/Quoxel.lock"

SIMLOG="$DEMO/boxsim.log"
"$BUILD/tools/boxsim/boxsim" --address "$ADDR" --http-port "$HTTP_PORT" --vlc-port 0 --vlc-stream-port 0 \
    --telnet-port 0 >"$SIMLOG" 2>&1 &
SIM=$!
trap 'kill "$SIM" 2>/dev/null || true; wait "$SIM" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
    grep -q "boxsim ready" "$SIMLOG" && break
    if ! kill -0 "$SIM" 2>/dev/null; then
        echo "run-demo: the simulator did not start:" >&2
        cat "$SIMLOG" >&2
        exit 1
    fi
    sleep 0.1
done
grep -q "boxsim ready" "$SIMLOG" || { echo "run-demo: the simulator is not ready after 10 s" >&2; exit 1; }
echo "run-demo: simulated receiver on http://$ADDR:$HTTP_PORT, Quoxel folder $DEMO"
"$DEMO/quoxel" "$@"
