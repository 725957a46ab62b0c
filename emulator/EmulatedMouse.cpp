#include "emulator/EmulatedMouse.h"

#include <algorithm>

namespace emulator {

namespace {

// Report descriptor of the one interface. The vendor collection's feature
// reports carry (size - 1) data bytes after their ID; its input reports 7
// bytes.
constexpr uint8_t kDescriptor[] = {
    0x05, 0x01,        // Usage Page (Generic Desktop)
    0x09, 0x02,        // Usage (Mouse)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x01,        //   Report ID (1)
    0x09, 0x01,        //   Usage (Pointer)
    0xA1, 0x00,        //   Collection (Physical)
    0x05, 0x09,        //     Usage Page (Button)
    0x19, 0x01,        //     Usage Minimum (1)
    0x29, 0x05,        //     Usage Maximum (5)
    0x15, 0x00,        //     Logical Minimum (0)
    0x25, 0x01,        //     Logical Maximum (1)
    0x95, 0x05,        //     Report Count (5)
    0x75, 0x01,        //     Report Size (1)
    0x81, 0x02,        //     Input (Data, Variable, Absolute)
    0x95, 0x01,        //     Report Count (1)
    0x75, 0x03,        //     Report Size (3)
    0x81, 0x01,        //     Input (Constant)
    0x05, 0x01,        //     Usage Page (Generic Desktop)
    0x09, 0x30,        //     Usage (X)
    0x09, 0x31,        //     Usage (Y)
    0x09, 0x38,        //     Usage (Wheel)
    0x15, 0x81,        //     Logical Minimum (-127)
    0x25, 0x7F,        //     Logical Maximum (127)
    0x75, 0x08,        //     Report Size (8)
    0x95, 0x03,        //     Report Count (3)
    0x81, 0x06,        //     Input (Data, Variable, Relative)
    0xC0,              //   End Collection
    0xC0,              // End Collection
    0x06, 0xA0, 0xFF,  // Usage Page (Vendor 0xFFA0)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x85, 0x02,        //   Report ID (2)
    0x09, 0x02,        //   Usage (2)
    0x95, 0x0F,        //   Report Count (15)
    0xB1, 0x02,        //   Feature (Data, Variable, Absolute)
    0x85, 0x03,        //   Report ID (3)
    0x09, 0x03,        //   Usage (3)
    0x95, 0x3F,        //   Report Count (63)
    0xB1, 0x02,        //   Feature
    0x85, 0x04,        //   Report ID (4)
    0x09, 0x04,        //   Usage (4)
    0x96, 0xFF, 0x03,  //   Report Count (1023)
    0xB1, 0x02,        //   Feature
    0x85, 0x05,        //   Report ID (5)
    0x09, 0x05,        //   Usage (5)
    0x96, 0xFF, 0x07,  //   Report Count (2047)
    0xB1, 0x02,        //   Feature
    0x85, 0x06,        //   Report ID (6)
    0x09, 0x06,        //   Usage (6)
    0x96, 0xFF, 0x0F,  //   Report Count (4095)
    0xB1, 0x02,        //   Feature
    0x85, 0x07,        //   Report ID (7)
    0x09, 0x07,        //   Usage (7)
    0x95, 0x07,        //   Report Count (7)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0x85, 0x08,        //   Report ID (8)
    0x09, 0x08,        //   Usage (8)
    0x95, 0x07,        //   Report Count (7)
    0x81, 0x02,        //   Input
    0xC0,              // End Collection
};

// A valid DPI table: four of ten levels enabled (500, 1000, 2000 and 4000
// DPI as step codes 2, 4, 8, 16), the second in use.
constexpr uint8_t kFactoryDpiTable[kDpiTableSize] = {
    4, 1, 1, 2, 2, 1, 4, 4, 1, 8, 8, 1, 16, 16,
};
// White at brightness 2, no breathing (colour bytes are inverted).
constexpr uint8_t kFactoryLed[6] = {0x00, 0x00, 0x00, 0x02, 0x00, 0x00};
constexpr uint8_t kFactoryReportRates = 0x11;  // 1000 Hz in both slots

std::string hex2(unsigned v) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  s += digits[(v >> 4) & 0xF];
  s += digits[v & 0xF];
  return s;
}

bool zeroFrom(std::span<const uint8_t> report, std::size_t from, std::string& why) {
  for (std::size_t i = from; i < report.size(); ++i) {
    if (report[i] != 0) {
      why = "byte " + std::to_string(i) + " is 0x" + hex2(report[i]) + ", must be 0";
      return false;
    }
  }
  return true;
}

std::vector<uint8_t> vendorReport(uint8_t id, uint8_t b1, uint8_t b2, uint8_t b3) {
  std::vector<uint8_t> r(kVendorInputSize, 0);
  r[0] = id;
  r[1] = b1;
  r[2] = b2;
  r[3] = b3;
  return r;
}

}  // namespace

std::size_t featureReportSize(uint8_t reportId) {
  switch (reportId) {
    case kFeature16: return 16;
    case kFeature64: return 64;
    case kFeature1024: return 1024;
    case kFeature2048: return 2048;
    case kFeature4096: return 4096;
    default: return 0;
  }
}

uint8_t featureReportFor(std::size_t total) {
  for (uint8_t id = kFeature16; id <= kFeature4096; ++id)
    if (total <= featureReportSize(id)) return id;
  return 0;
}

std::span<const uint8_t> reportDescriptor() { return kDescriptor; }

void EmulatedMouse::reset(bool blank) {
  memory_.assign(kMemorySize, 0);
  pendingRead_.reset();
  led_.reset();
  commands_.clear();
  frame_.reset();
  if (blank) return;
  for (int slot = 0; slot < 2; ++slot) {
    std::copy(std::begin(kFactoryDpiTable), std::end(kFactoryDpiTable),
              memory_.begin() + kDpiTable[slot]);
    std::copy(std::begin(kFactoryLed), std::end(kFactoryLed), memory_.begin() + kLedBlock[slot]);
  }
  memory_[kReportRateByte] = kFactoryReportRates;
  memory_[kActiveSlotByte] = 0;
}

bool EmulatedMouse::setFeature(std::span<const uint8_t> r, std::string& why) {
  if (r.size() < 2) {
    why = "report of " + std::to_string(r.size()) + " bytes";
    return false;
  }
  const uint8_t id = r[0];
  const std::size_t size = featureReportSize(id);
  if (size == 0) {
    why = "report ID " + std::to_string(id) + " is not a feature report";
    return false;
  }
  if (r.size() != size) {
    why = "report " + std::to_string(id) + " is " + std::to_string(size) + " bytes, got " +
          std::to_string(r.size());
    return false;
  }
  const uint8_t cmd = r[1];
  const uint16_t a = uint16_t(r[2] | (r[3] << 8));
  const uint16_t n = uint16_t(r[4] | (r[5] << 8));

  auto fillers = [&]() {
    if (r[6] == kFiller && r[7] == kFiller) return true;
    why = "bytes 6 and 7 are 0x" + hex2(r[6]) + " 0x" + hex2(r[7]) + ", must be 0xFA 0xFA";
    return false;
  };
  auto headOnly = [&]() {
    if (id == kFeature16) return true;
    why = "command " + std::to_string(cmd) + " travels in report 2, got report " +
          std::to_string(id);
    return false;
  };

  switch (cmd) {
    case kCmdWrite: {
      if (!fillers()) return false;
      if (n == 0) {
        why = "write of 0 bytes";
        return false;
      }
      const uint8_t want = featureReportFor(std::size_t(n) + 8);
      if (want != id) {
        why = "a write of " + std::to_string(n) + " bytes travels in report " +
              std::to_string(want) + ", got report " + std::to_string(id);
        return false;
      }
      if (std::size_t(a) + n > kMemorySize) {
        why = "write of " + std::to_string(n) + " bytes at " + std::to_string(a) +
              " passes the end of memory";
        return false;
      }
      if (!zeroFrom(r, 8 + std::size_t(n), why)) return false;
      std::copy(r.begin() + 8, r.begin() + 8 + n, memory_.begin() + a);
      return true;
    }
    case kCmdRead: {
      if (!fillers() || !headOnly() || !zeroFrom(r, 8, why)) return false;
      if (n == 0 || featureReportFor(std::size_t(n) + 8) == 0) {
        why = "read of " + std::to_string(n) + " bytes: no report carries the answer";
        return false;
      }
      if (std::size_t(a) + n > kMemorySize) {
        why = "read of " + std::to_string(n) + " bytes at " + std::to_string(a) +
              " passes the end of memory";
        return false;
      }
      // One pending read, like the firmware: a new request replaces it.
      pendingRead_ = PendingRead{a, n};
      return true;
    }
    case kCmdLed: {
      if (!headOnly() || !zeroFrom(r, 7, why)) return false;
      led_ = std::array<uint8_t, 5>{r[2], r[3], r[4], r[5], r[6]};
      return true;
    }
    case kCmdNotice:
    case kCmdFrame: {
      if (!headOnly() || !zeroFrom(r, 4, why)) return false;
      CommandRecord rec;
      rec.code = cmd;
      rec.p1 = r[2];
      rec.p2 = r[3];
      rec.framed = frame_.has_value();
      if (frame_) {
        rec.frameP1 = (*frame_)[0];
        rec.frameP2 = (*frame_)[1];
      }
      if (commands_.size() >= kMaxCommands) commands_.erase(commands_.begin());
      commands_.push_back(rec);
      if (cmd == kCmdFrame) frame_ = std::array<uint8_t, 2>{r[2], r[3]};
      return true;
    }
    default:
      why = "unknown command 0x" + hex2(cmd);
      return false;
  }
}

bool EmulatedMouse::getFeature(uint8_t reportId, std::size_t size, std::vector<uint8_t>& answer,
                               std::string& why) {
  if (!pendingRead_) {
    why = "get-feature " + std::to_string(reportId) + " without a read request (command 3)";
    return false;
  }
  const auto [a, n] = *pendingRead_;
  const uint8_t want = featureReportFor(std::size_t(n) + 8);
  if (reportId != want) {
    why = "the read of " + std::to_string(n) + " bytes answers in report " +
          std::to_string(want) + ", asked for report " + std::to_string(reportId);
    return false;
  }
  if (size != featureReportSize(want)) {
    why = "report " + std::to_string(want) + " is " + std::to_string(featureReportSize(want)) +
          " bytes, asked for " + std::to_string(size);
    return false;
  }
  answer.assign(size, 0);
  answer[0] = want;
  answer[1] = kCmdRead;
  answer[2] = uint8_t(a);
  answer[3] = uint8_t(a >> 8);
  answer[4] = uint8_t(n);
  answer[5] = uint8_t(n >> 8);
  answer[6] = kFiller;
  answer[7] = kFiller;
  std::copy(memory_.begin() + a, memory_.begin() + a + n, answer.begin() + 8);
  pendingRead_.reset();
  return true;
}

std::vector<std::vector<uint8_t>> EmulatedMouse::press(int button, std::string& why) {
  if (button < 1 || button > 24) {
    why = "button " + std::to_string(button) + " is not 1..24";
    return {};
  }
  const uint32_t mask = 1u << (button - 1);
  return {vendorReport(kButtonInput, uint8_t(mask), uint8_t(mask >> 8), uint8_t(mask >> 16)),
          vendorReport(kButtonInput, 0, 0, 0)};
}

std::vector<std::vector<uint8_t>> EmulatedMouse::dpiLevel(int level, std::string& why) {
  if (level < 0 || level > 9) {
    why = "DPI level " + std::to_string(level) + " is not 0..9";
    return {};
  }
  memory_[kDpiTable[activeSlot()] + 1] = uint8_t(level);
  return {vendorReport(kStatusInput, 2, uint8_t(level), 0)};
}

std::vector<std::vector<uint8_t>> EmulatedMouse::modeSwitch(int slot, std::string& why) {
  if (slot < 0 || slot > 1) {
    why = "slot " + std::to_string(slot) + " is not 0 or 1";
    return {};
  }
  memory_[kActiveSlotByte] = uint8_t(slot);
  return {vendorReport(kStatusInput, 1, uint8_t(slot), 0)};
}

bool EmulatedMouse::peek(uint32_t address, uint32_t length, std::vector<uint8_t>& out) const {
  if (address > kMemorySize || length > kMemorySize - address) return false;
  out.assign(memory_.begin() + address, memory_.begin() + address + length);
  return true;
}

bool EmulatedMouse::poke(uint32_t address, std::span<const uint8_t> bytes) {
  if (address > kMemorySize || bytes.size() > kMemorySize - address) return false;
  std::copy(bytes.begin(), bytes.end(), memory_.begin() + address);
  return true;
}

}  // namespace emulator
