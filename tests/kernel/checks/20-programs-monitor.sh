#!/usr/bin/env bash
# The real monitor (tessold) on the emulated mouse through hidraw, no HID
# socket: its table to the filter driver at start, a burst of level reports
# debounced to one request, a button report acted on (the microphone mute
# on a private pulseaudio), a mode switch made on the mouse. The filter
# driver stays the emulator's socket.
set -uo pipefail
source "$MOUSE_SRC/tests/kernel/lib.sh"
source "$MOUSE_SRC/tests/kernel/gtest.sh"

ktest_gtest "monitor through hidraw" "$MOUSE_BUILD/tests/kernel_BothProgramsHidraw_test" \
  --gtest_filter='BothPrograms.MonitorsTableAtStartAndOneRequestPerBurstOfLevels:BothPrograms.MicMuteAssignedInTheConfiguratorFlipsTheMicrophoneOnce:BothPrograms.ModeSwitchOnTheMouseThenApplyWritesTheConfiguratorsGroupBack'
ktest_status
