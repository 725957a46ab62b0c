#pragma once
// Key positions: Linux evdev key code -> PC set-1 scan code (with its E0
// prefix as the extended flag) -> the virtual key a US layout gives at that
// position. X keycodes are evdev codes + 8 on every X server that uses the
// evdev or libinput driver (and on Xvfb). The hook library builds its key
// records from this table; input synthesis reads it backwards. Header only,
// so the hook library, which links nothing of ours, takes it as it is.
//
// Position-based on purpose: a recorded macro replays the same physical keys
// whatever layout the desktop uses, as on Windows. The keypad keys are given
// their NumLock-on virtual keys.
#include <array>
#include <cstdint>
#include <optional>

namespace platform::keymap {

struct KeyPosition {
  uint16_t evdev = 0;
  uint16_t scan = 0;     // set-1 scan code without the prefix
  bool extended = false;  // E0 prefix
  uint8_t vk = 0;         // virtual key, 0 for a position we do not map
};

inline constexpr int kXKeycodeOffset = 8;

// evdev code, scan code, extended, virtual key.
inline constexpr KeyPosition kKeyPositions[] = {
    {1, 0x01, false, 0x1B},   {2, 0x02, false, 0x31},   {3, 0x03, false, 0x32},   {4, 0x04, false, 0x33},
    {5, 0x05, false, 0x34},   {6, 0x06, false, 0x35},   {7, 0x07, false, 0x36},   {8, 0x08, false, 0x37},
    {9, 0x09, false, 0x38},   {10, 0x0A, false, 0x39},  {11, 0x0B, false, 0x30},  {12, 0x0C, false, 0xBD},
    {13, 0x0D, false, 0xBB},  {14, 0x0E, false, 0x08},  {15, 0x0F, false, 0x09},  {16, 0x10, false, 0x51},
    {17, 0x11, false, 0x57},  {18, 0x12, false, 0x45},  {19, 0x13, false, 0x52},  {20, 0x14, false, 0x54},
    {21, 0x15, false, 0x59},  {22, 0x16, false, 0x55},  {23, 0x17, false, 0x49},  {24, 0x18, false, 0x4F},
    {25, 0x19, false, 0x50},  {26, 0x1A, false, 0xDB},  {27, 0x1B, false, 0xDD},  {28, 0x1C, false, 0x0D},
    {29, 0x1D, false, 0xA2},  {30, 0x1E, false, 0x41},  {31, 0x1F, false, 0x53},  {32, 0x20, false, 0x44},
    {33, 0x21, false, 0x46},  {34, 0x22, false, 0x47},  {35, 0x23, false, 0x48},  {36, 0x24, false, 0x4A},
    {37, 0x25, false, 0x4B},  {38, 0x26, false, 0x4C},  {39, 0x27, false, 0xBA},  {40, 0x28, false, 0xDE},
    {41, 0x29, false, 0xC0},  {42, 0x2A, false, 0xA0},  {43, 0x2B, false, 0xDC},  {44, 0x2C, false, 0x5A},
    {45, 0x2D, false, 0x58},  {46, 0x2E, false, 0x43},  {47, 0x2F, false, 0x56},  {48, 0x30, false, 0x42},
    {49, 0x31, false, 0x4E},  {50, 0x32, false, 0x4D},  {51, 0x33, false, 0xBC},  {52, 0x34, false, 0xBE},
    {53, 0x35, false, 0xBF},  {54, 0x36, false, 0xA1},  {55, 0x37, false, 0x6A},  {56, 0x38, false, 0xA4},
    {57, 0x39, false, 0x20},  {58, 0x3A, false, 0x14},  {59, 0x3B, false, 0x70},  {60, 0x3C, false, 0x71},
    {61, 0x3D, false, 0x72},  {62, 0x3E, false, 0x73},  {63, 0x3F, false, 0x74},  {64, 0x40, false, 0x75},
    {65, 0x41, false, 0x76},  {66, 0x42, false, 0x77},  {67, 0x43, false, 0x78},  {68, 0x44, false, 0x79},
    // NumLock carries the extended flag in Windows' records although its
    // scan code has no prefix; Pause (E1 1D 45) is reported as 0x45 without it.
    {69, 0x45, true, 0x90},   {70, 0x46, false, 0x91},  {71, 0x47, false, 0x67},  {72, 0x48, false, 0x68},
    {73, 0x49, false, 0x69},  {74, 0x4A, false, 0x6D},  {75, 0x4B, false, 0x64},  {76, 0x4C, false, 0x65},
    {77, 0x4D, false, 0x66},  {78, 0x4E, false, 0x6B},  {79, 0x4F, false, 0x61},  {80, 0x50, false, 0x62},
    {81, 0x51, false, 0x63},  {82, 0x52, false, 0x60},  {83, 0x53, false, 0x6E},  {86, 0x56, false, 0xE2},
    {87, 0x57, false, 0x7A},  {88, 0x58, false, 0x7B},
    {96, 0x1C, true, 0x0D},   // keypad Enter
    {97, 0x1D, true, 0xA3},   // right Ctrl
    {98, 0x35, true, 0x6F},   // keypad /
    {99, 0x37, true, 0x2C},   // Print Screen
    {100, 0x38, true, 0xA5},  // right Alt
    {102, 0x47, true, 0x24},  {103, 0x48, true, 0x26},  {104, 0x49, true, 0x21},  {105, 0x4B, true, 0x25},
    {106, 0x4D, true, 0x27},  {107, 0x4F, true, 0x23},  {108, 0x50, true, 0x28},  {109, 0x51, true, 0x22},
    {110, 0x52, true, 0x2D},  {111, 0x53, true, 0x2E},
    {113, 0x20, true, 0xAD},  // mute
    {114, 0x2E, true, 0xAE},  // volume down
    {115, 0x30, true, 0xAF},  // volume up
    {119, 0x45, false, 0x13}, // Pause
    {125, 0x5B, true, 0x5B},  // left Win
    {126, 0x5C, true, 0x5C},  // right Win
    {127, 0x5D, true, 0x5D},  // menu
    {128, 0x68, true, 0xA9},  // browser stop
    {140, 0x21, true, 0xB7},  // calculator (launch app 2)
    {142, 0x5F, true, 0x5F},  // sleep
    {155, 0x6C, true, 0xB4},  // mail
    {156, 0x66, true, 0xAB},  // favourites
    {157, 0x6B, true, 0xB6},  // my computer (launch app 1)
    {158, 0x6A, true, 0xA6},  // browser back
    {159, 0x69, true, 0xA7},  // browser forward
    {163, 0x19, true, 0xB0},  // next track
    {164, 0x22, true, 0xB3},  // play/pause
    {165, 0x10, true, 0xB1},  // previous track
    {166, 0x24, true, 0xB2},  // stop
    {172, 0x32, true, 0xAC},  // browser home
    {173, 0x67, true, 0xA8},  // browser refresh
    {183, 0x64, false, 0x7C}, {184, 0x65, false, 0x7D}, {185, 0x66, false, 0x7E}, {186, 0x67, false, 0x7F},
    {187, 0x68, false, 0x80}, {188, 0x69, false, 0x81}, {189, 0x6A, false, 0x82}, {190, 0x6B, false, 0x83},
    {191, 0x6C, false, 0x84}, {192, 0x6D, false, 0x85}, {193, 0x6E, false, 0x86}, {194, 0x76, false, 0x87},
    {217, 0x65, true, 0xAA},  // browser search
    {226, 0x6D, true, 0xB5},  // media select
};

// The position of an evdev code; nullopt for codes we do not map.
constexpr std::optional<KeyPosition> positionOfEvdev(uint32_t evdev) {
  for (const KeyPosition& p : kKeyPositions)
    if (p.evdev == evdev) return p;
  return std::nullopt;
}

constexpr std::optional<KeyPosition> positionOfXKeycode(uint32_t keycode) {
  if (keycode < kXKeycodeOffset) return std::nullopt;
  return positionOfEvdev(keycode - kXKeycodeOffset);
}

// The position that types a virtual key. The extended flag picks between
// the two positions of Enter, Ctrl and Alt; the generic Shift, Ctrl and Alt
// codes (0x10..0x12) stand for the left key, or the right one when extended.
// A key whose flag matches no position is taken at its only position.
constexpr std::optional<KeyPosition> positionOfVirtualKey(uint32_t vk, bool extended) {
  if (vk == 0x10) vk = extended ? 0xA1 : 0xA0;
  if (vk == 0x11) vk = extended ? 0xA3 : 0xA2;
  if (vk == 0x12) vk = extended ? 0xA5 : 0xA4;
  std::optional<KeyPosition> any;
  for (const KeyPosition& p : kKeyPositions) {
    if (p.vk != vk) continue;
    if (p.extended == extended) return p;
    if (!any) any = p;
  }
  return any;
}

}  // namespace platform::keymap
