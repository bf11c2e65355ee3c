#!/usr/bin/env bash
# Builds the Windows program and its installer here, with mingw-w64 and the project's own Qt
# for Windows (scripts/build-qt-windows.sh, built once and cached):
#   build-windows/Quillet-<product>-<version>-win64.exe   the NSIS installer
#   build-windows/Quillet-<product>-<version>-win64.zip   the same files, for use without installing
# Arguments are passed to CMake's configure step (e.g. -DQUILLET_RELEASE=releases/x/release.txt).
set -euo pipefail
cd "$(dirname "$0")/.."

qt=$(scripts/build-qt-windows.sh | tail -n1)
dir=build-windows
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DQUILLET_WINDOWS_QT="$qt" -DCMAKE_PREFIX_PATH="$qt" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)" >&2 # the last lines name the packages
rm -f "$dir"/Quillet-*-win64.exe "$dir"/Quillet-*-win64.zip
(cd "$dir" && cpack -G NSIS >cpack-nsis.log 2>&1 || { cat cpack-nsis.log; exit 1; })
(cd "$dir" && cpack -G ZIP >cpack-zip.log 2>&1 || { cat cpack-zip.log; exit 1; })
ls "$PWD/$dir"/Quillet-*-win64.exe "$PWD/$dir"/Quillet-*-win64.zip
