#!/usr/bin/env bash
# Builds the Qt for Windows that the Windows program links: Debian's own qtbase source of the
# host Qt's version, with Debian's patches, cross-built with mingw-w64 against the host's Qt
# tools (moc, uic, rcc). Only what the updater uses: Core, Gui, Widgets and the "windows"
# platform plugin, with bundled zlib, libpng, FreeType, HarfBuzz and PCRE2.
#
# The result is kept in a cache folder outside the checkout, named by the version and by this
# script's own hash, so that a change of the configuration builds anew and an unchanged one is
# reused. Prints the folder (the CMake prefix path) on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

version=$(dpkg-query -W -f='${Version}' qt6-base-dev)  # e.g. 6.4.2+dfsg-10
upstream=${version%%+*}
hash=$(sha256sum "$repo/scripts/build-qt-windows.sh" | cut -c1-12)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quillet
prefix=$cache/qt-$upstream-mingw64-$hash

if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

mkdir -p "$cache"
work=$(mktemp -d "$cache/qt-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
started=$(date +%s)

# Debian's source package, fetched through a sources list of its own: the machine's apt
# configuration is left as it is.
mkdir -p "$work/apt/lists/partial" "$work/apt/archives/partial" "$work/src"
cat >"$work/apt/sources.list" <<EOF
deb-src http://deb.debian.org/debian bookworm main
deb-src http://deb.debian.org/debian bookworm-updates main
deb-src http://deb.debian.org/debian-security bookworm-security main
EOF
apt_options=(
    -o Dir::Etc::SourceList="$work/apt/sources.list"
    -o Dir::Etc::SourceParts=/dev/null
    -o Dir::State::Lists="$work/apt/lists"
    -o Dir::Cache::Archives="$work/apt/archives"
    -o Debug::NoLocking=1
)
apt-get "${apt_options[@]}" update >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; exit 1; }
# dpkg-source unpacks it and applies Debian's patch series.
(cd "$work/src" && apt-get "${apt_options[@]}" source "qt6-base=$version" >"$work/source.log" 2>&1) ||
    { cat "$work/source.log"; exit 1; }
source_dir=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'qt6-base-*' | head -1)

# Installed into a folder beside the cache entry and renamed when whole, so that a build
# cut short is never taken for a finished one.
stage=$work/install
cmake -S "$source_dir" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$stage" \
    -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DBUILD_SHARED_LIBS=ON \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_testlib=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF \
    -DINPUT_opengl=no -DFEATURE_icu=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_freetype=OFF \
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_jpeg=OFF \
    -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF -DFEATURE_sql_sqlite=OFF \
    `# Debian's tarball leaves out src/3rdparty/wintab, which tablet events need.` \
    -DFEATURE_tabletevent=OFF \
    `# direct2d stays on: 6.4's windows plugin uses the DirectWrite font database it brings.` \
    >"$work/configure.log" 2>&1 || { tail -60 "$work/configure.log"; exit 1; }
units=$(ninja -C "$work/build" -t commands | wc -l)
nice -n 10 cmake --build "$work/build" -j "$(nproc)" >"$work/build.log" 2>&1 ||
    { grep -B5 -A20 -m3 'error' "$work/build.log" | head -80; exit 1; }
cmake --install "$work/build" >"$work/install.log" 2>&1 || { tail -30 "$work/install.log"; exit 1; }

rm -rf "$prefix"
mv "$stage" "$prefix"
touch "$prefix/.complete"
took=$(($(date +%s) - started))
echo "Qt $upstream for Windows: $units build steps in ${took} s, $(du -sh "$prefix" | cut -f1) installed" >&2
echo "$prefix"
