// Windows-style hardware IDs, written out as Windows shows them.
#include "platform/HardwareIds.h"

#include <gtest/gtest.h>

namespace {

using platform::makeHardwareIds;

TEST(HardwareIds, WindowsOrderAndForm) {
  struct Case {
    const char* name;
    platform::HardwareIdSource source;
    std::vector<std::string> expected;
  } cases[] = {
      {"single interface, single collection",
       {0x1209, 0x0001, 0x0100, 0, false, 1, 1, 0xFFA0, 0x0001},
       {"HID\\VID_1209&PID_0001&REV_0100", "HID\\VID_1209&PID_0001", "HID\\VID_1209&UP:FFA0_U:0001",
        "HID_DEVICE_UP:FFA0_U:0001", "HID_DEVICE"}},
      {"vendor collection second of two",
       {0x1209, 0x0001, 0x0100, 0, false, 2, 2, 0xFFA0, 0x0001},
       {"HID\\VID_1209&PID_0001&REV_0100&Col02", "HID\\VID_1209&PID_0001&Col02", "HID\\VID_1209&UP:FFA0_U:0001",
        "HID_DEVICE_UP:FFA0_U:0001", "HID_DEVICE"}},
      {"composite device, interface 2, lower-case hex input",
       {0x04b4, 0xabcd, 0x1a2f, 2, true, 1, 1, 0x0001, 0x0002},
       {"HID\\VID_04B4&PID_ABCD&REV_1A2F&MI_02", "HID\\VID_04B4&PID_ABCD&MI_02", "HID\\VID_04B4&UP:0001_U:0002",
        "HID_DEVICE_UP:0001_U:0002", "HID_DEVICE"}},
      {"composite with collections",
       {0x1209, 0x0001, 0x0100, 10, true, 12, 12, 0xFF00, 0x00FF},
       {"HID\\VID_1209&PID_0001&REV_0100&MI_0A&Col12", "HID\\VID_1209&PID_0001&MI_0A&Col12",
        "HID\\VID_1209&UP:FF00_U:00FF", "HID_DEVICE_UP:FF00_U:00FF", "HID_DEVICE"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(makeHardwareIds(c.source), c.expected);
  }
}

TEST(HardwareIds, ComparisonIsWholeStringAndCaseInsensitive) {
  EXPECT_TRUE(platform::hardwareIdEquals("HID\\VID_1209&PID_0001&Col02", "hid\\vid_1209&pid_0001&col02"));
  EXPECT_FALSE(platform::hardwareIdEquals("HID\\VID_1209&PID_0001", "HID\\VID_1209&PID_0001&Col02"));
  EXPECT_FALSE(platform::hardwareIdEquals("HID_DEVICE", "HID_DEVICE "));
}

}  // namespace
