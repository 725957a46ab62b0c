#pragma once
// A small, bounded parser of HID report descriptors: just what selecting a
// collection and sizing its reports needs (top-level collections with their
// usage page and usage, and per report type the report IDs with their
// lengths). The descriptor comes from the device, so every size, count and
// nesting level is checked and bad input is an error, never a crash.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/HidBackend.h"

namespace platform {

// Limits. The kernel refuses descriptors above 4096 bytes; nesting and the
// global stack of real devices stay in single digits.
inline constexpr std::size_t kMaxReportDescriptorSize = 4096;
inline constexpr int kMaxCollectionDepth = 32;
inline constexpr int kMaxGlobalStackDepth = 16;
inline constexpr std::size_t kMaxTopLevelCollections = 64;
inline constexpr uint32_t kMaxReportBytes = 65535;  // data bytes of one report

// Parses bytes into top-level collections in descriptor order, each with
// usagePage, usage, its input/output/feature reports and the Windows-style
// maximum lengths filled (hardwareIds left empty). A nested collection is
// part of its top-level collection, never one of its own. Returns false and
// says why in error (collections then empty) on a malformed or oversized
// descriptor.
bool parseReportDescriptor(std::span<const uint8_t> bytes, std::vector<HidCollectionInfo>& collections,
                           std::string& error);

}  // namespace platform
