#!/usr/bin/env bash
# The Debian packages as a machine sees them: in a throw-away Debian 12 root (a chroot), apt
# installs two products side by side, a newer release of one of them upgrades it, and the
# removal of one leaves the other and the saved port choice. Needs root (chroot).
#
# The root is made once with debootstrap, with the packages' dependencies installed, and kept
# in ~/.cache/quillet (QUILLET_CACHE); each run works in a copy of it.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "test-packages.sh needs root (chroot)" >&2; exit 1; }

work=$(mktemp -d)
root=$work/root
cleanup() {
    umount "$root/proc" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

# The packages: the repository's release, a second product (the example release), and a newer
# release of the first (the same description with the next version in its product string).
mkdir -p "$work/debs" "$work/newer"
package() {
    scripts/package.sh "$@" 2>"$work/package.log" >"$work/package.out" ||
        { cat "$work/package.log" >&2; fail "scripts/package.sh $*"; }
    tail -n2 "$work/package.out" | xargs -I{} cp {} "$work/debs/"
}
package --release releases/example/release.txt
cp releases/mericon/* "$work/newer/"
sed -i 's/^product .*/product          MERICON 00.03.00.33/' "$work/newer/release.txt"
package --release "$work/newer/release.txt"
mv "$work/debs/quillet-mericon_00.03.00.33+"*.deb "$work/newer/"
package # the repository's release last, so build-package holds it as before
newer=$(basename "$work"/newer/*.deb)

# The cached root: a minimal Debian 12 with what the packages depend on.
cache=${QUILLET_CACHE:-$HOME/.cache/quillet}
deps=$(for deb in "$work"/debs/*.deb; do dpkg-deb --field "$deb" Depends; done |
    tr ',' '\n' | sed 's/(.*)//;s/ //g' | grep -v '^quillet' | sort -u | tr '\n' ' ')
base=$cache/chroot-bookworm-$(echo "$deps" | sha256sum | cut -c1-12)
if [ ! -e "$base/.complete" ]; then
    echo "== making the Debian 12 root in $base (once) =="
    rm -rf "$base" "$base.tmp"
    mirror=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n1)
    debootstrap --variant=minbase bookworm "$base.tmp" "${mirror:-http://deb.debian.org/debian}" \
        >"$work/debootstrap.log" 2>&1 || { tail -20 "$work/debootstrap.log"; exit 1; }
    chroot "$base.tmp" sh -c "apt-get install -y --no-install-recommends $deps && apt-get clean" \
        >"$work/deps.log" 2>&1 || { tail -20 "$work/deps.log"; exit 1; }
    touch "$base.tmp/.complete"
    mv "$base.tmp" "$base"
fi
cp -a "$base" "$root"
mkdir -p "$root/debs"
cp "$work"/debs/*.deb "$work"/newer/*.deb "$root/debs/"
mount -t proc proc "$root/proc"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
apt_install() {
    in_root apt-get install -y --no-install-recommends "$@" >>"$work/apt.log" 2>&1 ||
        { tail -20 "$work/apt.log"; fail "apt-get install $*"; }
}

echo "== two products side by side =="
# shellcheck disable=SC2046
apt_install $(cd "$work/debs" && printf '/debs/%s ' *.deb)
in_root dpkg -l 'quillet-*' | grep '^ii'
for p in quillet-mericon quillet-hgj; do
    for f in /usr/bin/$p /usr/bin/$p-cli /usr/share/man/man1/$p-cli.1.gz; do
        [ -e "$root$f" ] || fail "$p: no $f"
    done
done
for p in MERICON:quillet-mericon HGJ:quillet-hgj; do
    in_root "${p#*:}-cli" --version >"$work/version.out" 2>&1 || fail "${p#*:}-cli --version failed"
    grep -q "${p%%:*}" "$work/version.out" ||
        fail "${p#*:}-cli --version names no ${p%%:*}: $(cat "$work/version.out")"
done
in_root quillet-mericon-cli --version
in_root quillet-hgj-cli --images >"$work/images.out" || fail "quillet-hgj-cli --images failed"
conf=$root/etc/xdg/Tessaly/Quillet.conf
[ "$(stat -c %G:%a "$conf")" = dialout:664 ] || fail "the settings file is $(stat -c %G:%a "$conf")"
printf '[General]\ncom=5\n' >"$conf"

echo "== a newer release of MERICON upgrades it =="
apt_install "/debs/$newer"
version=$(in_root dpkg-query -W -f='${Version}' quillet-mericon)
[ "$version" = "00.03.00.33+2.7" ] || fail "quillet-mericon is $version after the upgrade"
in_root quillet-mericon-cli --version | grep -q 'MERICON 00.03.00.33' ||
    fail "the upgraded quillet-mericon-cli names another release"
grep -q 'com=5' "$conf" || fail "the upgrade lost the port choice"

echo "== removing HGJ keeps MERICON and the port choice =="
in_root apt-get remove -y quillet-hgj >>"$work/apt.log" 2>&1 || fail "apt-get remove quillet-hgj"
[ -x "$root/usr/bin/quillet-mericon" ] || fail "removing HGJ removed MERICON's program"
[ ! -e "$root/usr/bin/quillet-hgj" ] || fail "quillet-hgj is still there"
grep -q 'com=5' "$conf" || fail "removing HGJ lost the port choice"
in_root dpkg -l 'quillet-*' | grep '^ii'
echo "Debian packages in a Debian 12 root: passed"
