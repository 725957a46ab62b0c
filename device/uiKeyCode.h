#pragma once
// Key-code tables: virtual-key codes (as profiles, macros and the key capture
// dialogs store them, with an extended flag) to USB HID keyboard usages and to
// display texts, and the two orders of modifier masks.
//
// The two look-up arrays are built once, on first use, by a thread-safe
// function-local static: the hook thread and the GUI thread both look keys up.

#include <array>
#include <cstdint>
#include <string>

// One row of the key tables.
struct TKeyboardInfoTable {
  std::string VKName;          // "VK_A"; placeholders "VK_UNDEFINED_0FF"
  int32_t VKCode;              // virtual-key code, also the row's index
  int32_t ScanCode;
  int32_t Extended;            // 224 a key without the extended prefix, 225 an extended key
  int32_t HIDCode;             // HID usage, -1 for none
  std::string KeyDescription;  // display text (a key of the translation file)
};

inline constexpr int kKeyTableRows = 300;
inline constexpr int32_t kKeyNotExtended = 224;
inline constexpr int32_t kKeyExtended = 225;
using TKeyTable = std::array<TKeyboardInfoTable, kKeyTableRows>;

// The two look-up arrays, indexed by virtual-key code.
const TKeyTable& KeyTableNormal();
const TKeyTable& KeyTableExtended();
// Builds both arrays if not yet built (every look-up does this itself).
void InitKeyboardInfoTables();

// The row that a virtual key and an extended flag select; nullptr for a code
// outside 0..299. The flag may be 0/224 (not extended), 1/225 (extended);
// any other value selects the extended array.
const TKeyboardInfoTable* FindKeyRow(int64_t virtualKey, int64_t extended);

// The HID usage of a key, 0 when it has none or the code is outside the arrays.
// Browser and launch keys answer consumer-page usages above 255.
uint32_t VKToHIDCode(int64_t virtualKey, int64_t extended);
// The display text of a key; empty for a code outside the arrays.
std::string VKToKeyDescription(int64_t virtualKey, int64_t extended);

// Modifier mask in the system's order (Alt 1, Ctrl 2, Shift 4, Win 8) to
// "Alt+Ctrl+Shift+WIN+" (the set ones, in that order).
std::string ModifierToText(uint8_t mask);
// The same mask in the HID order (Ctrl 1, Shift 2, Alt 4, GUI 8); other bits dropped.
uint8_t ModifierToHIDModifier(uint8_t mask);
