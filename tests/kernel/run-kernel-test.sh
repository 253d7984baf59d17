#!/usr/bin/env bash
# Boots Debian's stock kernel in qemu and runs the kernel test client inside it, so the hidraw
# platform meets the real hidraw driver rather than our own idea of it. Two suites: "uhid" makes
# the adapters through /dev/uhid, "usbhid" attaches them as USB devices to the virtual host
# controller (vhci_hcd), where the kernel's usbhid driver carries their reports.
#
#   run-kernel-test.sh --suite uhid|usbhid --work DIR --client PROGRAM --adapter PROGRAM
#                      [--bridge WENDRAKE] [--timeout SECONDS]
#
# With --bridge, the wendrake program goes into the guest too and its pty bridge is checked there.
# DIR caches the downloaded packages and the unpacked kernel between runs. Exit status: 0 when
# every check in the guest passed, 77 when the kernel or the tools could not be had (the test is
# skipped, never passed), 1 otherwise.
set -euo pipefail

suite="uhid"
work=""
client=""
adapter=""
bridge=""
timeout_s=300
while [ $# -gt 0 ]; do
    case "$1" in
    --suite) suite="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --client) client="$2"; shift 2 ;;
    --adapter) adapter="$2"; shift 2 ;;
    --bridge) bridge="$2"; shift 2 ;;
    --timeout) timeout_s="$2"; shift 2 ;;
    *) echo "run-kernel-test: unknown argument $1" >&2; exit 2 ;;
    esac
done
if [ -z "$work" ] || [ ! -x "$client" ] || [ ! -x "$adapter" ] || { [ -n "$bridge" ] && [ ! -x "$bridge" ]; }; then
    echo "usage: run-kernel-test.sh --suite uhid|usbhid --work DIR --client PROGRAM --adapter PROGRAM [--bridge WENDRAKE] [--timeout S]" >&2
    exit 2
fi
# Modules in load order: each after the ones it depends on.
case "$suite" in
uhid) modules="hid hid-generic uhid"; cpus=2 ;;
# One CPU: each report crosses several kernel threads and the adapter program, and under
# software emulation a wake-up on the other CPU costs milliseconds (1 MiB took 180 s on two).
usbhid) modules="usb-common usbcore usbip-core vhci-hcd hid usbhid hid-generic"; cpus=1 ;;
*) echo "run-kernel-test: unknown suite $suite" >&2; exit 2 ;;
esac

SKIP=77
skip() {
    echo "SKIPPED: $*"
    echo "The kernel test did not run; it is reported as skipped, not passed."
    exit $SKIP
}

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo -n"
fi

for tool in apt-get apt-cache dpkg; do
    command -v "$tool" >/dev/null || skip "$tool is missing: the kernel comes from Debian's packages"
done

mkdir -p "$work/debs" "$work/kernel"
work="$(cd "$work" && pwd)"
debs="$work/debs"

# apt-get download as root would otherwise warn that its sandbox user cannot write the folder.
# apt's own words stay in the test's log: a failed fetch must be readable there.
apt_download() {
    (cd "$debs" && apt-get download -q -o APT::Sandbox::User="$(id -un)" "$@")
}

lists_updated=0
update_lists() {
    [ $lists_updated -eq 1 ] && return 0
    lists_updated=1
    echo "Updating the package lists"
    $sudo apt-get update -q
}

# The versioned kernel package behind linux-image-amd64 changes with security updates.
resolve_kernel() {
    apt-cache depends linux-image-amd64 |
        awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}

kernel_pkg="$(resolve_kernel || true)"
if [ -z "$kernel_pkg" ]; then
    update_lists || true
    kernel_pkg="$(resolve_kernel || true)"
fi

# Unpacks the downloaded package of that name into the cache; false when there is none.
unpack_kernel() {
    local name="$1" deb
    deb="$(ls -t "$debs/${name}"_*.deb 2>/dev/null | head -n 1 || true)"
    [ -n "$deb" ] || return 1
    rm -rf "$work/kernel/$name.tmp"
    dpkg -x "$deb" "$work/kernel/$name.tmp"
    # Keep the kernel, the HID modules and those of the USB core and USB/IP; the other modules
    # are some 400 MB.
    find "$work/kernel/$name.tmp/lib/modules" -type f ! -path '*/drivers/hid/*' \
        ! -path '*/drivers/usb/common/*' ! -path '*/drivers/usb/core/*' \
        ! -path '*/drivers/usb/usbip/*' -delete
    find "$work/kernel/$name.tmp/lib/modules" -depth -type d -empty -delete
    rm -rf "$work/kernel/$name"
    mv "$work/kernel/$name.tmp" "$work/kernel/$name"
    # Only the unpacked tree is kept; the package itself is 70 MB.
    rm -f "$debs/${name}"_*.deb
}

# A tree cached before the USB modules were kept is fetched again.
for cached in "$work"/kernel/linux-image-*/; do
    [ -d "$cached/boot" ] || continue
    [ -n "$(find "$cached/lib/modules" -name 'vhci-hcd.ko*' | head -n 1)" ] || rm -rf "$cached"
done

kernel_dir=""
if [ -n "$kernel_pkg" ] && [ -d "$work/kernel/$kernel_pkg/boot" ]; then
    kernel_dir="$work/kernel/$kernel_pkg"
elif [ -n "$kernel_pkg" ]; then
    echo "Fetching $kernel_pkg"
    if ! apt_download "$kernel_pkg"; then
        # Stale lists name a package the archive no longer holds: refresh and resolve again.
        update_lists || true
        kernel_pkg="$(resolve_kernel || true)"
        if [ -n "$kernel_pkg" ] && [ ! -d "$work/kernel/$kernel_pkg/boot" ]; then
            apt_download "$kernel_pkg" || true
        fi
    fi
    if [ -n "$kernel_pkg" ] && [ -d "$work/kernel/$kernel_pkg/boot" ]; then
        kernel_dir="$work/kernel/$kernel_pkg"
    elif [ -n "$kernel_pkg" ] && unpack_kernel "$kernel_pkg"; then
        kernel_dir="$work/kernel/$kernel_pkg"
    fi
fi
if [ -z "$kernel_dir" ]; then
    # No registry reachable: an earlier download still serves.
    kernel_dir="$(ls -dt "$work"/kernel/linux-image-*/ 2>/dev/null | grep -v '\.tmp/$' | head -n 1 || true)"
    kernel_dir="${kernel_dir%/}"
    [ -n "$kernel_dir" ] || skip "Debian's kernel package (linux-image-amd64) could not be fetched: no package registry reachable"
    echo "Using the cached kernel $(basename "$kernel_dir") (the current one could not be resolved)"
fi

vmlinuz="$(ls "$kernel_dir"/boot/vmlinuz-* 2>/dev/null | head -n 1 || true)"
[ -n "$vmlinuz" ] || skip "the kernel package holds no vmlinuz"
modules_dir="$(ls -d "$kernel_dir"/lib/modules/*/kernel | head -n 1)"

busybox="$work/busybox/bin/busybox"
if [ ! -x "$busybox" ]; then
    echo "Fetching busybox-static"
    if ! apt_download busybox-static; then
        update_lists || true
        apt_download busybox-static || skip "busybox-static could not be fetched: no package registry reachable"
    fi
    rm -rf "$work/busybox"
    dpkg -x "$(ls -t "$debs"/busybox-static_*.deb | head -n 1)" "$work/busybox"
    [ -x "$busybox" ] || skip "busybox-static holds no busybox"
fi

if ! command -v qemu-system-x86_64 >/dev/null; then
    echo "Installing qemu-system-x86"
    if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
        qemu-system-x86; then
        update_lists || true
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
            qemu-system-x86 ||
            skip "qemu-system-x86 could not be installed: no package registry reachable or no root"
    fi
fi

# The initramfs: busybox, the suite's modules, the two programs and every shared library they
# load, at the paths the dynamic loader expects.
root="$work/initramfs"
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,run,opt/wt,lib/modules}
cp "$busybox" "$root/bin/busybox"
for m in $modules; do
    ko="$(find "$modules_dir" -name "$m.ko*" | head -n 1)"
    case "$ko" in
    *.ko) cp "$ko" "$root/lib/modules/$m.ko" ;;
    *.ko.xz) xz -dc "$ko" >"$root/lib/modules/$m.ko" ;;
    *.ko.zst) zstd -qdc "$ko" >"$root/lib/modules/$m.ko" ;;
    *.ko.gz) gzip -dc "$ko" >"$root/lib/modules/$m.ko" ;;
    *) echo "run-kernel-test: unexpected module file $ko" >&2; exit 1 ;;
    esac
done
cp "$client" "$root/opt/wt/kernel_test_client"
cp "$adapter" "$root/opt/wt/adapter"
client_args=""
if [ -n "$bridge" ]; then
    cp "$bridge" "$root/opt/wt/wendrake"
    client_args="--wendrake /opt/wt/wendrake"
fi
for bin in "$client" "$adapter" $bridge; do
    ldd "$bin" | awk '/=> \// { print $3 } /^[ \t]*\/[^ ]+ \(0x/ { print $1 }'
done | sort -u | while read -r lib; do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
done

printf '#!/bin/busybox sh\nsuite=%s\nmodules="%s"\nclient_args="%s"\n' "$suite" "$modules" "$client_args" >"$root/init"
cat >>"$root/init" <<'EOF'
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
# The bridge's pseudo-terminals.
mkdir -p /dev/pts
mount -t devpts -o ptmxmode=0666 devpts /dev/pts
# No modules.dep in the package and nothing loads hid-generic by itself: without it no hidraw node.
for m in $modules; do
    insmod /lib/modules/$m.ko || echo "GUEST: insmod $m failed"
done
export LC_ALL=C.UTF-8 HOME=/tmp
cd /tmp
/opt/wt/kernel_test_client --transport $suite --adapter /opt/wt/adapter $client_args
echo "GUEST-EXIT: $?"
# The drivers' own complaints, for the log. uhid warns once per output report it had to drop.
echo "GUEST-DMESG: uhid dropped $(dmesg | grep -c 'Output queue is full') output reports"
dmesg | grep -iE 'uhid|hidraw|hid-generic|usbhid|vhci|usbip|usb [0-9]' |
    grep -v 'Output queue is full' | sed 's/^/GUEST-DMESG: /' | tail -n 30
poweroff -f
EOF
chmod 755 "$root/init"
initrd="$work/initramfs.cpio"
(cd "$root" && find . | "$busybox" cpio -o -H newc 2>/dev/null) >"$initrd"

console="$work/console.log"
echo "Booting $(basename "$vmlinuz") in qemu (software emulation), suite $suite"
rc=0
timeout --kill-after=10 "$timeout_s" qemu-system-x86_64 -nographic -m 512 -smp "$cpus" -no-reboot \
    -nic none -kernel "$vmlinuz" -initrd "$initrd" \
    -append "console=ttyS0 quiet panic=-1" </dev/null >"$console" 2>&1 || rc=$?
# Drop the firmware's terminal escapes so the log reads plainly.
sed -e 's/\x1b\[[0-9;?]*[a-zA-Z]//g' -e 's/\x1bc//g' -e 's/\r$//' "$console"

if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
    echo "FAILED: the guest did not finish within $timeout_s s"
    exit 1
fi
if [ $rc -ne 0 ]; then
    echo "FAILED: qemu ended with status $rc"
    exit 1
fi
guest_exit="$(sed -n 's/^GUEST-EXIT: \([0-9]*\).*/\1/p' "$console" | tail -n 1)"
if [ -z "$guest_exit" ]; then
    echo "FAILED: the guest never reported a result (crash or panic, see the log above)"
    exit 1
fi
if [ "$guest_exit" != 0 ]; then
    echo "FAILED: the kernel test client ended with status $guest_exit"
    exit 1
fi
echo "PASSED: every check of the $suite suite ran against the real hidraw driver"
