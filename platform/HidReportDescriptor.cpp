#include "platform/HidReportDescriptor.h"

#include <algorithm>
#include <map>

namespace platform {

namespace {

enum ItemType : uint8_t { kMain = 0, kGlobal = 1, kLocal = 2 };
enum MainTag : uint8_t { kInput = 8, kOutput = 9, kCollection = 10, kFeature = 11, kEndCollection = 12 };
enum GlobalTag : uint8_t { kUsagePage = 0, kReportSize = 7, kReportId = 8, kReportCount = 9, kPush = 10, kPop = 11 };
enum LocalTag : uint8_t { kUsage = 0, kUsageMinimum = 1 };

struct Globals {
  uint16_t usagePage = 0;
  uint32_t reportSize = 0;
  uint32_t reportCount = 0;
  uint8_t reportId = 0;
};

struct Collection {
  HidCollectionInfo info;
  // Bits per report ID, per type (0 input, 1 output, 2 feature), in first-seen order.
  std::vector<std::pair<uint8_t, uint64_t>> bits[3];
};

void addBits(std::vector<std::pair<uint8_t, uint64_t>>& list, uint8_t id, uint64_t bits) {
  for (auto& [rid, b] : list)
    if (rid == id) {
      b += bits;
      return;
    }
  list.emplace_back(id, bits);
}

}  // namespace

bool parseReportDescriptor(std::span<const uint8_t> bytes, std::vector<HidCollectionInfo>& collections,
                           std::string& error) {
  collections.clear();
  const auto fail = [&](std::string why) {
    collections.clear();
    error = std::move(why);
    return false;
  };
  if (bytes.size() > kMaxReportDescriptorSize) return fail("report descriptor larger than 4096 bytes");

  Globals globals;
  std::vector<Globals> stack;
  // First usage of the current main item (extended when 4 bytes). A flag
  // beside a plain value: GCC's optimiser takes a std::optional's value for
  // possibly unset here and warns.
  bool hasPendingUsage = false;
  uint32_t pendingUsage = 0;
  int depth = 0;
  std::vector<Collection> tlcs;

  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const uint8_t prefix = bytes[pos++];
    if (prefix == 0xFE) {  // long item: size, tag, data; carries nothing we use
      if (bytes.size() - pos < 2) return fail("truncated long item");
      const std::size_t size = bytes[pos];
      pos += 2;
      if (bytes.size() - pos < size) return fail("truncated long item");
      pos += size;
      continue;
    }
    const std::size_t size = (prefix & 3) == 3 ? 4 : (prefix & 3);
    const uint8_t type = (prefix >> 2) & 3;
    const uint8_t tag = prefix >> 4;
    if (bytes.size() - pos < size) return fail("truncated item at byte " + std::to_string(pos - 1));
    uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value |= uint32_t(bytes[pos + i]) << (8 * i);
    pos += size;

    if (type == kGlobal) {
      switch (tag) {
        case kUsagePage: globals.usagePage = uint16_t(value); break;
        case kReportSize:
          if (value > 256) return fail("report size above 256 bits");
          globals.reportSize = value;
          break;
        case kReportId:
          if (value == 0 || value > 255) return fail("invalid report ID");
          globals.reportId = uint8_t(value);
          break;
        case kReportCount:
          if (value > kMaxReportBytes * 8) return fail("report count too large");
          globals.reportCount = value;
          break;
        case kPush:
          if (stack.size() >= kMaxGlobalStackDepth) return fail("global stack too deep");
          stack.push_back(globals);
          break;
        case kPop:
          if (stack.empty()) return fail("pop without push");
          globals = stack.back();
          stack.pop_back();
          break;
        default: break;
      }
    } else if (type == kLocal) {
      if ((tag == kUsage || tag == kUsageMinimum) && !hasPendingUsage) {
        hasPendingUsage = true;
        // A 4-byte usage carries its own page in the high word.
        pendingUsage = size == 4 ? value : (uint32_t(globals.usagePage) << 16) | (value & 0xFFFF);
      }
    } else if (type == kMain) {
      switch (tag) {
        case kCollection:
          if (depth >= kMaxCollectionDepth) return fail("collections nested too deep");
          if (depth == 0) {
            if (tlcs.size() >= kMaxTopLevelCollections) return fail("too many top-level collections");
            Collection c;
            const uint32_t u = hasPendingUsage ? pendingUsage : uint32_t(globals.usagePage) << 16;
            c.info.usagePage = uint16_t(u >> 16);
            c.info.usage = uint16_t(u);
            tlcs.push_back(std::move(c));
          }
          ++depth;
          break;
        case kEndCollection:
          if (depth == 0) return fail("end collection without collection");
          --depth;
          break;
        case kInput:
        case kOutput:
        case kFeature: {
          // Data outside every collection belongs to no interface a host sees.
          if (depth == 0) break;
          const int kind = tag == kInput ? 0 : tag == kOutput ? 1 : 2;
          const uint64_t bits = uint64_t(globals.reportSize) * globals.reportCount;
          auto& list = tlcs.back().bits[kind];
          addBits(list, globals.reportId, bits);
          for (auto& [rid, b] : list)
            if (rid == globals.reportId && b > uint64_t(kMaxReportBytes) * 8) return fail("report larger than 65535 bytes");
          break;
        }
        default: break;
      }
      hasPendingUsage = false;  // locals live for one main item
    }
  }
  if (depth != 0) return fail("collection not closed");

  for (Collection& c : tlcs) {
    std::vector<HidReportInfo>* lists[3] = {&c.info.inputReports, &c.info.outputReports, &c.info.featureReports};
    uint32_t* lengths[3] = {&c.info.inputReportLength, &c.info.outputReportLength, &c.info.featureReportLength};
    for (int k = 0; k < 3; ++k) {
      for (auto [rid, b] : c.bits[k]) {
        // Windows counts the report-ID byte, also the 0 of unnumbered reports.
        const uint32_t size = uint32_t((b + 7) / 8) + 1;
        lists[k]->push_back({rid, size});
        *lengths[k] = std::max(*lengths[k], size);
      }
    }
    collections.push_back(std::move(c.info));
  }
  error.clear();
  return true;
}

}  // namespace platform
