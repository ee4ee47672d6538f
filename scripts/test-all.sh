#!/bin/bash
# Installs what is needed, builds the normal and the sanitizer configuration and runs every test
# in both, plus the formatting gate, a three-minute fault soak of the real window and a short run of
# every fuzz target. Starts its own X server when there is no display.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup-debian.sh

jobs=$(nproc)

if [ -z "${DISPLAY:-}" ]; then
    display=":$((90 + RANDOM % 100))"
    Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    trap 'kill $xvfb_pid 2>/dev/null || true' EXIT
    export DISPLAY="$display"
    for _ in $(seq 1 50); do
        xdpyinfo >/dev/null 2>&1 && break
        sleep 0.1
    done
fi

status=0

echo "== formatting"
if ! git ls-files '*.cpp' '*.h' | xargs -r clang-format --dry-run --Werror; then
    echo "formatting differs from .clang-format"
    status=1
fi

for preset in dev asan-ubsan; do
    echo "== build $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    echo "== test $preset"
    if ! ctest --preset "$preset" -j "$jobs"; then
        status=1
    fi
done

echo "== soak (3 minutes, dev build)"
if ! QUOXEL_SOAK_BUILD=build/dev ./scripts/soak.sh --minutes 3; then
    status=1
fi

echo "== fuzz (20 s per target, clang with ASan + UBSan)"
if ! ./scripts/fuzz.sh 20; then
    status=1
fi

exit $status
