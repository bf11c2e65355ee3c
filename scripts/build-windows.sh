#!/usr/bin/env bash
# Builds the Windows program of one product release and its installer here, with mingw-w64 and
# the project's own Qt for Windows and libmosquitto (scripts/build-qt-windows.sh and
# scripts/build-mqtt-windows.sh, built once and cached):
#   build-windows/Quillet-<product>-<version>-win64.exe   the NSIS installer
#   build-windows/Quillet-<product>-<version>-win64.zip   the same files, for use without installing
#
#   scripts/build-windows.sh [--release FILE] [CMAKE_ARGS...]  (default releases/mericon/release.txt)
#
# Signs quillet.exe, quillet-cli.exe, the uninstaller and the installer with Authenticode when
# QUILLET_SIGN_PKCS12 (a PKCS#12 file) and QUILLET_SIGN_PASSWORD_FILE (its password) are set;
# QUILLET_SIGN_TIMESTAMP optionally names an RFC 3161 time-stamp server (packaging/windows/sign.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

release=releases/mericon/release.txt
cmake_args=()
while (($#)); do
    case $1 in
    --release) release=${2:?--release needs a file}; shift 2 ;;
    *) cmake_args+=("$1"); shift ;;
    esac
done
release=$(realpath "$release")
[ -f "$release" ] || { echo "no release description $release" >&2; exit 2; }
if [ -n "${QUILLET_SIGN_PKCS12:-}" ]; then
    [ -r "$QUILLET_SIGN_PKCS12" ] && [ -r "${QUILLET_SIGN_PASSWORD_FILE:-}" ] ||
        { echo "QUILLET_SIGN_PKCS12 and QUILLET_SIGN_PASSWORD_FILE must name readable files" >&2; exit 2; }
    echo "Signing with $QUILLET_SIGN_PKCS12${QUILLET_SIGN_TIMESTAMP:+, time-stamped by $QUILLET_SIGN_TIMESTAMP}" >&2
else
    echo "No QUILLET_SIGN_PKCS12: building unsigned" >&2
fi

qt=$(scripts/build-qt-windows.sh | tail -n1)
mqtt=$(scripts/build-mqtt-windows.sh | tail -n1) # quillet-cli's MQTT client (--mqtt)
dir=build-windows
mkdir -p "$dir"
# The release is named on every run: a build folder keeps what it was last given.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DQUILLET_WINDOWS_QT="$qt" -DCMAKE_PREFIX_PATH="$qt" \
    -DQUILLET_WINDOWS_MQTT="$mqtt" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQUILLET_RELEASE="$release" "${cmake_args[@]}" >"$dir/configure.log" 2>&1 ||
    { cat "$dir/configure.log" >&2; exit 1; }
grep -- '-- Release: ' "$dir/configure.log" >&2
cmake --build "$dir" -j "$(nproc)" >&2 # the last lines name the packages
name=$(sed -n 's/^CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p;s/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$dir/CPackConfig.cmake")
rm -f "$dir/$name.exe" "$dir/$name.zip"
(cd "$dir" && cpack -G NSIS >cpack-nsis.log 2>&1 || { cat cpack-nsis.log; exit 1; })
(cd "$dir" && cpack -G ZIP >cpack-zip.log 2>&1 || { cat cpack-zip.log; exit 1; })
ls "$PWD/$dir/$name.exe" "$PWD/$dir/$name.zip"
