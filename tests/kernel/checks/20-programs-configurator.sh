#!/usr/bin/env bash
# The configurator's Apply (its window offscreen) with the real monitor
# running, both through hidraw: the mouse's memory and the whole wire log
# as the emulator-socket tests expect them of the same Apply; and the mouse
# unplugged during Apply and plugged again, seen by both through udev.
set -uo pipefail
source "$MOUSE_SRC/tests/kernel/lib.sh"
source "$MOUSE_SRC/tests/kernel/gtest.sh"

ktest_gtest "configurator through hidraw" "$MOUSE_BUILD/tests/kernel_BothProgramsHidraw_test" \
  --gtest_filter='BothPrograms.ApplyNestsTheMonitorsFrameAndItsTableFollows:BothPrograms.UnplugDuringApplyClosesTheConfiguratorAndReplugStartsIt'
ktest_status
