#!/bin/sh
# Installs every Debian 12 package Quoxel needs to build, run and test.
# Idempotent: when everything is present it returns without touching apt.
set -eu

PACKAGES="
build-essential cmake ninja-build pkg-config git clang clang-format
qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev
libcurl4-openssl-dev zlib1g-dev libgif-dev libjpeg-dev
libvlc-dev libvlccore-dev vlc-plugin-base vlc-plugin-video-output vlc-bin
libtelnet-dev libvterm-dev
libcpp-httplib-dev
libgtest-dev libgmock-dev libbenchmark-dev
xvfb xauth x11-utils openbox ffmpeg
lintian desktop-file-utils appstream openssl busybox-static
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    echo "setup-debian: all packages present"
    exit 0
fi

echo "setup-debian: installing:$missing"
export DEBIAN_FRONTEND=noninteractive
SUDO=""
if [ "$(id -u)" != "0" ]; then
    SUDO="sudo"
fi
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
