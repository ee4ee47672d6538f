#!/bin/sh
# Builds the Debian package in build/package and checks it with lintian (errors fail).
set -eu
cd "$(dirname "$0")/.."
build=build/package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DQUOXEL_BUILD_TESTS=OFF -DQUOXEL_BUILD_BENCH=OFF -DQUOXEL_BUILD_TOOLS=OFF
cmake --build "$build" -j"${JOBS:-2}" --target quoxel
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/quoxel_*.deb | head -n 1)
echo "built $deb"
if command -v lintian >/dev/null; then
    # Errors fail the build; warnings are shown.
    lintian --fail-on error "$deb"
else
    echo "lintian not installed (scripts/setup-debian.sh installs it)" >&2
    exit 1
fi
