#!/usr/bin/env bash
# Installs what building, running and testing Quillet needs on Debian 12.
#
#   scripts/install-deps.sh           everything (scripts/test.sh)
#   scripts/install-deps.sh --linux   the Linux program and the simulated board only (scripts/demo.sh)
set -euo pipefail

# Each line says who needs it. First what the Linux program and the simulated board need.
packages=(
    build-essential cmake ninja-build ccache pkg-config # the build (Qt's CMake files use pkg-config)
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev # the program (Qt Gui needs GL)
    libudev-dev                        # the port list follows adapters plugged in or removed
    libmosquitto-dev                   # quillet-cli publishes to a line's MQTT broker (--mqtt)
    fonts-dejavu-core fonts-liberation # the windows' faces, "Times" among them
    srecord                            # reads a release's HEX files at build time (cmake/Release.cmake)
    xvfb                               # xvfb-run scripts/demo.sh without a desktop
)
[ "${1:-}" = --linux ] || packages+=(
    libgtest-dev                       # the tests
    mosquitto mosquitto-clients        # the line tests' broker, and a subscriber to look with
    clang libclang-rt-14-dev           # the reply parser's fuzz target (scripts/test.sh)
    clang-format                       # the formatting check (scripts/test.sh)
    python3                            # make-release-images.py; a pty holder in test-windows.sh
    # Builds and checks the Debian packages (scripts/package.sh), and installs them in a
    # throw-away Debian 12 root (scripts/test-packages.sh).
    dpkg-dev file lintian desktop-file-utils appstream debootstrap
    # The Windows platform layer's tests (scripts/test-windows.sh): GoogleTest's sources, a
    # cross compiler (POSIX thread model, for std::thread) and Wine to run them.
    googletest g++-mingw-w64-x86-64-posix wine64
    # The whole Windows program (scripts/build-windows.sh, scripts/test-windows-app.sh): Qt's
    # sources are unpacked by dpkg-source (dpkg-dev) and need perl; the installer is made by
    # NSIS; the program runs under Wine in Xvfb, driven by xdotool and seen by ImageMagick.
    perl nsis xdotool imagemagick unzip
    # The driver test (scripts/test-drivers.sh): the guest's emulator, its shell and tools,
    # udevd with its rules for the package's udev rule, socat to take the window's result
    # datagrams in the guest; xz unpacks Debian's kernel image.
    qemu-system-x86 busybox-static udev socat xz-utils
    # Signs the Windows programs and checks the signatures (packaging/windows/sign.sh,
    # scripts/test-windows-app.sh makes a throw-away certificate with openssl).
    osslsigncode openssl
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
