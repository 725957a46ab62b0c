#!/usr/bin/env bash
# The hidraw backend against the emulated mouse's real hidraw node (the
# emulator made a kernel HID device through /dev/uhid): enumeration through
# libudev, the vendor collection and report sizes from the kernel's copy of
# the descriptor, the hardware IDs, feature round trips of every report
# size, refusals, input reports in order with their ID, a blocked read ended
# by cancelRead() and by an unplug, and unplug and plug seen by the device
# notifier. Once without a udev daemon (the kernel's events), once with
# Debian's udev daemon running (its events and database).
set -uo pipefail
source "$MOUSE_SRC/tests/kernel/lib.sh"
source "$MOUSE_SRC/tests/kernel/gtest.sh"

bin="$MOUSE_BUILD/tests/kernel_Hidraw_test"
[ -c /dev/uhid ] || fail "hidraw: /dev/uhid is there"

MOUSE_EXPECT_UDEV_DAEMON=0 ktest_gtest "hidraw, no udev daemon" "$bin"

if ktest_udevd_start; then
  # What the daemon changes: where enumeration and events come from.
  MOUSE_EXPECT_UDEV_DAEMON=1 ktest_gtest "hidraw, udev daemon" "$bin" \
    --gtest_filter='HidrawKernel.EnumerationDescribesTheRealNode:HidrawKernel.UnplugAndPlugReachTheNotifier:HidrawKernel.FeatureRoundTripsOfEveryReportSize'
  ktest_udevd_stop
else
  fail "hidraw, udev daemon: Debian's udev daemon starts"
fi
ktest_status
