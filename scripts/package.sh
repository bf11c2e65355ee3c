#!/usr/bin/env bash
# Builds the Debian packages of one product release (cpack -G DEB) with Debian's hardening
# flags, checks that each holds exactly the expected files, and runs lintian,
# desktop-file-validate and appstreamcli on them. Prints the paths of the packages last:
#   build-package/quillet-common_<updater version>_all.deb
#   build-package/quillet-<product>_<firmware version>+<updater version>_amd64.deb
#
#   scripts/package.sh [--release FILE]     (default releases/mericon/release.txt)
set -euo pipefail
cd "$(dirname "$0")/.."

release=releases/mericon/release.txt
while (($#)); do
    case $1 in
    --release) release=${2:?--release needs a file}; shift 2 ;;
    *) echo "usage: scripts/package.sh [--release FILE]" >&2; exit 2 ;;
    esac
done
release=$(realpath "$release")
[ -f "$release" ] || { echo "no release description $release" >&2; exit 2; }

dir=build-package
mkdir -p "$dir"
# Every hardening feature Debian knows, bind-now included.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# The release is named on every run: a build folder keeps what it was last given.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_TESTS=OFF \
    -DQUILLET_RELEASE="$release" \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >"$dir/configure.log" 2>&1 ||
    { cat "$dir/configure.log" >&2; exit 1; }
grep -- '-- Release: ' "$dir/configure.log" >&2
cmake --build "$dir" -j "$(nproc)" --target quillet quillet-cli quillet_package_docs >&2
program=$(sed -n 's/^QUILLET_LINUX_PROGRAM:INTERNAL=//p' "$dir/CMakeCache.txt") # quillet-<product>
app_id=com.tessaly.quillet.${program#quillet-}
rm -f "$dir"/quillet-*.deb
for part in common product; do
    (cd "$dir" && cpack -G DEB -D QUILLET_DEB_PART=$part >cpack-$part.log 2>&1) ||
        { cat "$dir/cpack-$part.log" >&2; exit 1; }
done
common=$(ls "$dir"/quillet-common_*.deb)
product=$(ls "$dir/${program}"_*.deb)

check_files() { # DEB EXPECTED
    local actual
    actual=$(dpkg-deb --fsys-tarfile "$1" | tar -t | grep -v '/$' | sort)
    if [ "$actual" != "$2" ]; then
        echo "$(basename "$1"): file list differs:" >&2
        diff <(echo "$2") <(echo "$actual") >&2 || true
        exit 1
    fi
}
check_files "$common" "./lib/udev/rules.d/60-quillet.rules
./usr/share/doc/quillet-common/changelog.gz
./usr/share/doc/quillet-common/copyright
./usr/share/icons/hicolor/scalable/apps/quillet.svg
./usr/share/metainfo/com.tessaly.quillet.common.metainfo.xml"
check_files "$product" "./usr/bin/$program
./usr/bin/$program-cli
./usr/share/applications/$app_id.desktop
./usr/share/doc/$program/changelog.gz
./usr/share/doc/$program/copyright
./usr/share/man/man1/$program-cli.1.gz
./usr/share/man/man1/$program.1.gz
./usr/share/metainfo/$app_id.metainfo.xml"
dpkg-deb --field "$product" Depends | grep -q libqt6widgets6 # worked out by dpkg-shlibdeps
dpkg-deb --field "$product" Depends | grep -q quillet-common

# Clean of errors and warnings. One informational tag remains, harmless:
# hardening-no-fortify-functions (built with _FORTIFY_SOURCE=2, but no call site has a buffer
# size the compiler knows, so no checked variant gets linked).
lintian --fail-on error,warning --info "$common" "$product" >&2

contents=$(mktemp -d)
trap 'rm -rf "$contents"' EXIT
dpkg-deb -x "$product" "$contents"
dpkg-deb -x "$common" "$contents"
desktop-file-validate "$contents/usr/share/applications/$app_id.desktop"
appstreamcli validate --no-net --explain "$contents/usr/share/metainfo/$app_id.metainfo.xml" \
    "$contents/usr/share/metainfo/com.tessaly.quillet.common.metainfo.xml" >&2
echo "$common"
echo "$product"
