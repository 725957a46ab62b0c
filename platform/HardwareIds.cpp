#include "platform/HardwareIds.h"

#include <cstdio>

namespace platform {

namespace {
std::string hex4(uint16_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(v));
  return buf;
}

std::string hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
  return buf;
}

std::string dec2(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

std::vector<std::string> makeHardwareIds(const HardwareIdSource& s) {
  std::string suffix;
  // Windows writes the interface number in hex and the collection index in
  // decimal, both two digits.
  if (s.multipleInterfaces && s.interfaceNumber >= 0) suffix += "&MI_" + hex2(static_cast<unsigned>(s.interfaceNumber));
  if (s.collectionCount > 1) suffix += "&Col" + dec2(s.collectionIndex);
  const std::string vidPid = "HID\\VID_" + hex4(s.vendorId) + "&PID_" + hex4(s.productId);
  const std::string up = "UP:" + hex4(s.usagePage) + "_U:" + hex4(s.usage);
  return {
      vidPid + "&REV_" + hex4(s.releaseNumber) + suffix,
      vidPid + suffix,
      "HID\\VID_" + hex4(s.vendorId) + "&" + up,
      "HID_DEVICE_" + up,
      "HID_DEVICE",
  };
}

bool hardwareIdEquals(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

}  // namespace platform
