#!/usr/bin/env bash
# Builds the MQTT client library that quillet-cli.exe publishes with: Debian's own libmosquitto
# and OpenSSL sources, cross-built with mingw-w64. OpenSSL is linked statically into
# libmosquitto.dll, which then imports only system DLLs. libmosquitto is built without its
# thread support: the line link drives it from one thread of its own at a time.
#
# The result is kept in a cache folder outside the checkout, named by the source versions and
# this script's own hash. Prints the folder (QUILLET_WINDOWS_MQTT) on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

# Pinned: the security archive's newer OpenSSL source is not always on the mirrors.
openssl_version=3.0.20-1~deb12u2
mosquitto_version=2.0.11-1.2+deb12u2
hash=$(sha256sum "$repo/scripts/build-mqtt-windows.sh" | cut -c1-12)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quillet
prefix=$cache/mqtt-${mosquitto_version%%-*}-openssl-${openssl_version%%-*}-mingw64-$hash

if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

mkdir -p "$cache"
work=$(mktemp -d "$cache/mqtt-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
started=$(date +%s)

# The source packages, through a sources list of its own (the machine's apt stays as it is).
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
(cd "$work/src" && apt-get "${apt_options[@]}" source "openssl=$openssl_version" \
    "mosquitto=$mosquitto_version" >"$work/source.log" 2>&1) || { cat "$work/source.log"; exit 1; }
openssl_dir=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'openssl-*' | head -1)
mosquitto_dir=$(find "$work/src" -mindepth 1 -maxdepth 1 -type d -name 'mosquitto-*' | head -1)

stage=$work/install
jobs=$(nproc)

# OpenSSL: static, without the legacy provider and loadable modules. The folders compiled in
# (where openssl.cnf is read) are Windows' default, writable only by administrators: Configure
# on this host takes "C:/..." for a relative path, and left alone they would name a folder of
# the build machine, which on Windows any user could create.
ssl_dir="C:/Program Files/Common Files/SSL"
(
    cd "$openssl_dir"
    ./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- \
        no-shared no-tests no-module no-legacy --prefix="$work/openssl" --libdir=lib
    nice -n 10 make -j "$jobs" build_libs OPENSSLDIR="$ssl_dir" ENGINESDIR="$ssl_dir/engines-3" \
        MODULESDIR="$ssl_dir/ossl-modules"
    make install_dev
) >"$work/openssl.log" 2>&1 || { tail -40 "$work/openssl.log"; exit 1; }

# libmosquitto alone: no broker, clients, plugins or documentation. Static OpenSSL needs the
# system's crypto and socket libraries after it on the link line.
cmake -S "$mosquitto_dir" -B "$work/mosquitto" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$stage" \
    `# Named one by one (FindOpenSSL's MinGW names too): the toolchain file confines` \
    `# searches to the cross root.` \
    -DOPENSSL_INCLUDE_DIR="$work/openssl/include" -DOPENSSL_USE_STATIC_LIBS=TRUE \
    -DOPENSSL_CRYPTO_LIBRARY="$work/openssl/lib/libcrypto.a" \
    -DOPENSSL_SSL_LIBRARY="$work/openssl/lib/libssl.a" \
    -DLIB_EAY="$work/openssl/lib/libcrypto.a" -DSSL_EAY="$work/openssl/lib/libssl.a" \
    -DCMAKE_C_STANDARD_LIBRARIES="-lcrypt32 -lws2_32 -lgdi32 -ladvapi32 -luser32 -lbcrypt" \
    -DWITH_TLS=ON -DWITH_THREADING=OFF -DWITH_CJSON=OFF -DWITH_BROKER=OFF -DWITH_CLIENTS=OFF \
    -DWITH_APPS=OFF -DWITH_PLUGINS=OFF -DDOCUMENTATION=OFF -DWITH_LIB_CPP=OFF \
    -DWITH_STATIC_LIBRARIES=OFF >"$work/mosquitto.log" 2>&1 ||
    { tail -40 "$work/mosquitto.log"; exit 1; }
nice -n 10 cmake --build "$work/mosquitto" -j "$jobs" >>"$work/mosquitto.log" 2>&1 ||
    { grep -B5 -A20 -m3 'error' "$work/mosquitto.log" | head -60; exit 1; }
cmake --install "$work/mosquitto" >>"$work/mosquitto.log" 2>&1 ||
    { tail -30 "$work/mosquitto.log"; exit 1; }
# Its install rule has no place for the import library: put it where a link looks.
mkdir -p "$stage/lib"
find "$work/mosquitto/lib" -name 'libmosquitto.dll.a' -exec cp {} "$stage/lib/" \;
[ -f "$stage/bin/libmosquitto.dll" ] && [ -f "$stage/lib/libmosquitto.dll.a" ] &&
    [ -f "$stage/include/mosquitto.h" ] || { echo "libmosquitto did not install whole" >&2; exit 1; }
# What the DLL imports must be Windows' own (and the C runtime).
imports=$(x86_64-w64-mingw32-objdump -p "$stage/bin/libmosquitto.dll" | sed -n 's/^\s*DLL Name: //p')
echo "libmosquitto.dll imports: $(echo $imports)" >&2
cp "$mosquitto_dir/LICENSE.txt" "$stage/LICENSE-mosquitto.txt" 2>/dev/null || true
cp "$openssl_dir/LICENSE.txt" "$stage/LICENSE-openssl.txt" 2>/dev/null || true

rm -rf "$prefix"
mv "$stage" "$prefix"
touch "$prefix/.complete"
echo "libmosquitto $mosquitto_version with OpenSSL $openssl_version for Windows:" \
    "$(($(date +%s) - started)) s" >&2
echo "$prefix"
