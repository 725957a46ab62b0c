#!/usr/bin/env bash
# The machine the other checks stand on: the kernel's HID and USB gadget
# pieces are there, and the sanitizer build runs from the shared tree.
source "$MOUSE_SRC/tests/kernel/lib.sh"

check "/dev/uhid is a character device" test -c /dev/uhid
check "the kernel has hidraw" test -d /sys/class/hidraw
for m in uhid hid_generic usbhid dummy_hcd libcomposite usb_f_hid configfs; do
  check "module $m is loaded" test -d "/sys/module/$m"
done
check "configfs is mounted with the USB gadget folder" test -d /sys/kernel/config/usb_gadget
check "the dummy USB device controller is there" sh -c 'ls /sys/class/udc | grep -q .'
check "the build's mouse-emulator starts" "$MOUSE_BUILD/program/mouse-emulator" --help
ktest_status
