#!/bin/bash
# Installs what is needed, builds Quoxel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup-debian.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)" --target quoxel
exec ./build/dev/src/quoxel "$@"
