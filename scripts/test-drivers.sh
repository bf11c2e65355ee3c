#!/usr/bin/env bash
# The driver test: quillet-cli inside a QEMU guest that runs Debian's own kernel, talking to
# simulated boards through the real ftdi_sio/usbserial drivers (an emulated FTDI adapter) and
# the real 8250 driver (a 16550 UART), with the adapter unplugged and plugged back over QMP.
#
#   scripts/test-drivers.sh [BUILD_DIR]  (default: build; needs quillet, quillet-cli and
#                                          quillet-board-sim built)
#
# Debian's kernel package is fetched once and kept outside the checkout, by its version:
# ~/.cache/quillet/kernel-<package>_<version>/ holds the kernel made bootable through QEMU's PVH
# entry and the few modules USB serial needs. The initramfs lives in the build folder and is
# rebuilt only when what it carries changes (quillet, quillet-cli, their libraries, the init
# script, the udev rule). Prints one PASS/FAIL line per case and ends with
# "drivers: N passed, N failed".
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
cli=$build/cli/quillet-cli
gui=$build/quillet
sim=$build/tools/board-sim/quillet-board-sim
for f in "$cli" "$gui" "$sim"; do
    [ -x "$f" ] || { echo "drivers: $f is not built" >&2; exit 1; }
done

# The kernel users of Debian 12 run: the one the linux-image-amd64 metapackage depends on.
kernel_pkg=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)/\1/p' | head -n1)
kernel_ver=$(apt-cache show "$kernel_pkg" | sed -n 's/^Version: //p' | head -n1)
[ -n "$kernel_pkg" ] && [ -n "$kernel_ver" ] || { echo "drivers: no Debian kernel package known to apt" >&2; exit 1; }
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quillet
kernel=$cache/kernel-${kernel_pkg}_$kernel_ver
modules=(usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio)

if [ ! -f "$kernel/vmlinux" ]; then
    mkdir -p "$cache"
    fetch=$(mktemp -d "$cache/kernel-fetch.XXXXXX")
    trap 'rm -rf "$fetch"' EXIT
    (cd "$fetch" && apt-get download "$kernel_pkg=$kernel_ver" >/dev/null 2>&1) ||
        { echo "drivers: apt-get download $kernel_pkg failed" >&2; exit 1; }
    dpkg-deb -x "$fetch"/*.deb "$fetch/root"
    # vmlinuz spends about 5 s decompressing itself under TCG; the ELF inside it (the xz
    # stream after its magic) boots at once through the PVH entry.
    vmlinuz=$(echo "$fetch"/root/boot/vmlinuz-*)
    offset=$(LC_ALL=C grep -obUaP '\xFD7zXZ\x00' "$vmlinuz" | head -n1 | cut -d: -f1)
    tail -c +$((offset + 1)) "$vmlinuz" >"$fetch/vmlinux.xz"
    xz -dc --single-stream "$fetch/vmlinux.xz" >"$fetch/vmlinux.elf"
    mkdir -p "$fetch/entry/modules"
    strip -o "$fetch/entry/vmlinux" "$fetch/vmlinux.elf"
    for m in "${modules[@]}"; do
        find "$fetch/root/lib/modules" -name "$m.ko" -exec cp {} "$fetch/entry/modules/" \;
        [ -f "$fetch/entry/modules/$m.ko" ] || { echo "drivers: $m.ko not in $kernel_pkg" >&2; exit 1; }
    done
    rm -rf "$kernel"
    mv "$fetch/entry" "$kernel" # whole, or not at all
    rm -rf "$fetch"
    trap - EXIT
fi

# The initramfs: busybox, the modules, the programs below with the libraries ldd names, udev's
# two rules that serial ports go through beside the package's own, and for the window an X
# server, xdotool to press its keys, Qt's xcb platform plugin, the fonts and the keymaps, and
# socat to take its result datagrams (busybox's nc has no UDP).
qt_plugins=$(/usr/lib/qt6/bin/qtpaths6 --query QT_INSTALL_PLUGINS)
xcb_plugin=$qt_plugins/platforms/libqxcb.so
programs=("$cli" "$gui" /usr/bin/udevadm /usr/bin/Xvfb /usr/bin/xkbcomp /usr/bin/xdotool
    /usr/bin/socat)
udev_rules=(/usr/lib/udev/rules.d/50-udev-default.rules /usr/lib/udev/rules.d/60-serial.rules)
data=(/usr/lib/udev/hwdb.bin /usr/share/X11/xkb /usr/share/fonts/truetype/dejavu
    /usr/share/fonts/truetype/liberation /etc/fonts)
libs=$(for p in "${programs[@]}" "$xcb_plugin"; do ldd "$p"; done |
    awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }' | sort -u)
key=$( (echo "$kernel"; sha256sum "${programs[@]}" "$xcb_plugin" tests/drivers/init \
    packaging/60-quillet.rules /bin/busybox "${udev_rules[@]}"; echo "$libs" | xargs sha256sum
    dpkg-query -W xkb-data fonts-dejavu-core fonts-liberation fontconfig-config) |
    sha256sum | cut -c1-16)
initramfs=$build/drivers/initramfs-$key.cpio
if [ ! -f "$initramfs" ]; then
    rm -rf "$build/drivers"
    root=$build/drivers/root
    # Merged /usr, as on Debian 12: /lib/udev/rules.d and /usr/lib/udev/rules.d are one.
    mkdir -p "$root"/{bin,usr/bin,usr/lib/modules,usr/lib/udev/rules.d,usr/lib64,etc,proc,sys,dev,run,tmp,root,var/lib/xkb}
    ln -s usr/lib "$root/lib"
    ln -s usr/lib64 "$root/lib64"
    cp tests/drivers/init "$root/init"
    cp /bin/busybox "$root/bin/busybox" # busybox-static: no libraries of its own
    cp "$kernel"/modules/*.ko "$root/lib/modules/"
    for p in "${programs[@]}"; do
        cp "$p" "$root/usr/bin/"
    done
    mkdir -p "$root/lib/systemd" "$root$qt_plugins/platforms"
    ln -s /usr/bin/udevadm "$root/lib/systemd/systemd-udevd"
    cp "$xcb_plugin" "$root$qt_plugins/platforms/"
    for f in $libs "${data[@]}"; do
        mkdir -p "$root$(dirname "$f")"
        cp -RL "$f" "$root$f"
    done
    cp "${udev_rules[@]}" "$root/usr/lib/udev/rules.d/"
    cp packaging/60-quillet.rules "$root/lib/udev/rules.d/" # where the package puts it
    # The groups udev's rules name, and a user without rights of its own.
    printf 'root:x:0:0::/root:/bin/sh\nnobody:x:65534:65534::/:/bin/sh\n' >"$root/etc/passwd"
    printf 'root:x:0:\ntty:x:5:\ndialout:x:20:\nkmem:x:15:\nnogroup:x:65534:\n' >"$root/etc/group"
    # Uncompressed: the guest unpacks it faster than it would inflate it under TCG.
    (cd "$root" && find . | LC_ALL=C sort | busybox cpio -o -H newc 2>/dev/null) >"$initramfs.part"
    mv "$initramfs.part" "$initramfs"
    rm -rf "$root"
fi

# Every run in a folder of its own: the boards' ptys and logs, QEMU's QMP socket and console.
work=$(mktemp -d "${TMPDIR:-/tmp}/quillet-drivers.XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 tests/drivers/run.py --kernel "$kernel/vmlinux" --initrd "$initramfs" --sim "$sim" \
    --work "$work"
