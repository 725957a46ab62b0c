#include "platform/KeyMap.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using platform::keymap::positionOfEvdev;
using platform::keymap::positionOfVirtualKey;
using platform::keymap::positionOfXKeycode;

TEST(KeyMap, PositionsAreUniqueByEvdevCodeAndByScanCodeWithPrefix) {
  std::set<uint16_t> evdev;
  std::set<std::pair<uint16_t, bool>> scan;
  for (const auto& p : platform::keymap::kKeyPositions) {
    EXPECT_TRUE(evdev.insert(p.evdev).second) << p.evdev;
    // Pause and NumLock share 0x45 with different prefixes; every other scan code is unique.
    EXPECT_TRUE(scan.insert({p.scan, p.extended}).second) << std::hex << p.scan;
    EXPECT_NE(p.vk, 0);
  }
}

TEST(KeyMap, XKeycodesGiveTheUsLayoutKeyOfTheirPosition) {
  struct Case {
    uint32_t keycode;
    uint8_t vk;
    uint16_t scan;
    bool extended;
  };
  const Case cases[] = {
      {38, 0x41, 0x1E, false},   // A
      {24, 0x51, 0x10, false},   // Q (position, whatever the layout prints on it)
      {37, 0xA2, 0x1D, false},   // left Ctrl
      {105, 0xA3, 0x1D, true},   // right Ctrl
      {50, 0xA0, 0x2A, false},   // left Shift
      {62, 0xA1, 0x36, false},   // right Shift: no prefix
      {64, 0xA4, 0x38, false},   // left Alt
      {108, 0xA5, 0x38, true},   // right Alt
      {133, 0x5B, 0x5B, true},   // left Win
      {134, 0x5C, 0x5C, true},   // right Win
      {36, 0x0D, 0x1C, false},   // Enter
      {104, 0x0D, 0x1C, true},   // keypad Enter
      {119, 0x2E, 0x53, true},   // Delete
      {91, 0x6E, 0x53, false},   // keypad .
      {77, 0x90, 0x45, true},    // NumLock
      {127, 0x13, 0x45, false},  // Pause
      {123, 0xAF, 0x30, true},   // volume up
      {166, 0xA6, 0x6A, true},   // browser back
  };
  for (const Case& c : cases) {
    const auto p = positionOfXKeycode(c.keycode);
    ASSERT_TRUE(p) << c.keycode;
    EXPECT_EQ(p->vk, c.vk) << c.keycode;
    EXPECT_EQ(p->scan, c.scan) << c.keycode;
    EXPECT_EQ(p->extended, c.extended) << c.keycode;
  }
  EXPECT_FALSE(positionOfXKeycode(0));
  EXPECT_FALSE(positionOfXKeycode(7));
  EXPECT_FALSE(positionOfXKeycode(255));
  EXPECT_FALSE(positionOfEvdev(84));
}

TEST(KeyMap, VirtualKeysFindTheirPositionBackwards) {
  struct Case {
    uint32_t vk;
    bool extended;
    uint16_t evdev;
  };
  const Case cases[] = {
      {0x41, false, 30}, {0x0D, false, 28}, {0x0D, true, 96},  {0x11, false, 29}, {0x11, true, 97},
      {0x10, false, 42}, {0x10, true, 54},  {0x12, true, 100}, {0xAF, false, 115}, {0xAF, true, 115},
      {0x2E, false, 111},
  };
  for (const Case& c : cases) {
    const auto p = positionOfVirtualKey(c.vk, c.extended);
    ASSERT_TRUE(p) << std::hex << c.vk;
    EXPECT_EQ(p->evdev, c.evdev) << std::hex << c.vk;
  }
  EXPECT_FALSE(positionOfVirtualKey(0xFF, false));
  EXPECT_FALSE(positionOfVirtualKey(0x1000, false));
}

}  // namespace
