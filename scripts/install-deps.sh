#!/usr/bin/env bash
# Installs what building, running and testing Quillet needs on Debian 12.
set -euo pipefail

packages=(
    build-essential cmake ninja-build ccache pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev libudev-dev
    libgtest-dev googletest
    clang libclang-rt-14-dev
    python3
    # Reads a release's HEX files at build time (cmake/Release.cmake).
    srecord
    # Builds and checks the Debian package (scripts/package.sh).
    dpkg-dev file lintian desktop-file-utils appstream
    xvfb xdotool imagemagick x11-utils fonts-dejavu-core fonts-liberation
    # The Windows platform layer: cross-built (POSIX thread model, for std::thread) and run
    # under Wine.
    g++-mingw-w64-x86-64-posix wine64
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
