#!/bin/sh
# /init of the kernel test machine's initramfs (busybox sh). The machine's root
# is the host's root file system, read-only over virtio-9p, under a tmpfs
# overlay so the tests may write anywhere without reaching the host; the
# results folder is the one 9p share that writes through. Switches to that
# root, runs inside.sh there (stage2), records its exit code and powers off.
PATH=/bin
export PATH

if [ "${1:-}" = stage2 ]; then
  # Process 1 on the overlay root; busybox is /ktest/busybox here.
  . /ktest/env
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
  /usr/bin/env -i PATH="$PATH" \
    KTEST_VM=1 KTEST_BUSYBOX=/ktest/busybox KTEST_TIMEOUT="$KTEST_TIMEOUT" KTEST_UDEV_ROOT="$KTEST_UDEV_ROOT" \
    KTEST_ONLY="$KTEST_ONLY" \
    MOUSE_SRC="$MOUSE_SRC" MOUSE_BUILD="$MOUSE_BUILD" RESULTS="$KTEST_RESULTS" \
    /bin/bash "$MOUSE_SRC/tests/kernel/inside.sh"
  echo "$?" >"$KTEST_RESULTS/exit-code"
  /ktest/busybox sync
  /ktest/busybox umount "$KTEST_RESULTS" 2>/dev/null
  /ktest/busybox poweroff -f
fi

fail() {
  echo "ktest-init: $*" >&2
  poweroff -f
}

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# The initramfs has no /dev/console node of its own; from here on everything
# this script and the tests print reaches the serial console.
exec </dev/console >/dev/console 2>&1

. /ktest.env

for m in $KTEST_BOOT_MODULES; do
  modprobe "$m" || fail "cannot load $m"
done

# msize: larger 9p messages cut the round trips of every file read, which is
# what the sanitizer-built programs cost most.
opts=trans=virtio,version=9p2000.L,msize=512000
mkdir -p /host /upper /newroot
mount -t 9p -o "$opts,ro,cache=loose" hostroot /host || fail "cannot mount the host root"
mount -t tmpfs -o mode=0755 tmpfs /upper || fail "cannot mount the overlay's tmpfs"
mkdir -p /upper/data /upper/work
mount -t overlay overlay -o lowerdir=/host,upperdir=/upper/data,workdir=/upper/work /newroot ||
  fail "cannot mount the overlay root"

# The kernel's modules and busybox, for modprobe in there; this script and
# its settings, for the second stage.
mkdir -p "/newroot/lib/modules" /newroot/ktest
cp -a "/lib/modules/$(uname -r)" /newroot/lib/modules/
cp /bin/busybox /newroot/ktest/busybox
cp /init /newroot/ktest/init
cp /ktest.env /newroot/ktest/env

mkdir -p "/newroot$KTEST_RESULTS"
mount -t 9p -o "$opts,rw,cache=none" results "/newroot$KTEST_RESULTS" || fail "cannot mount the results folder"

mount --move /proc /newroot/proc
mount --move /sys /newroot/sys
mount --move /dev /newroot/dev

# The overlay becomes the root and busybox, there, process 1: udevadm ignores
# requests from a chroot, which it recognises by process 1's root.
exec switch_root /newroot /ktest/busybox sh /ktest/init stage2
