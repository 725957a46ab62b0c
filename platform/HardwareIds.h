#pragma once
// Windows-style hardware IDs of a HID top-level collection. config.ini lists
// the mice to talk to by these IDs ([IncludeHIDDeviceList]); building the same
// strings on Linux keeps every existing list working unchanged.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct HardwareIdSource {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t releaseNumber = 0;      // bcdDevice
  int interfaceNumber = -1;        // USB bInterfaceNumber
  bool multipleInterfaces = false; // &MI_ii only when the device has several
  int collectionIndex = 1;         // 1-based top-level collection index
  int collectionCount = 1;         // &Colnn only when the interface has several
  uint16_t usagePage = 0;
  uint16_t usage = 0;
};

// In Windows order and form, upper-case hex:
//   HID\VID_vvvv&PID_pppp&REV_rrrr[&MI_ii][&Colnn]
//   HID\VID_vvvv&PID_pppp[&MI_ii][&Colnn]
//   HID\VID_vvvv&UP:uuuu_U:uuuu
//   HID_DEVICE_UP:uuuu_U:uuuu
//   HID_DEVICE
std::vector<std::string> makeHardwareIds(const HardwareIdSource& source);

// Whole-string, ASCII case-insensitive comparison, as hardware IDs are matched.
bool hardwareIdEquals(const std::string& a, const std::string& b);

}  // namespace platform
