// Report descriptors come from the device: any bytes must give a clean
// result or a clean error.
#include <cstddef>
#include <cstdint>

#include "platform/HidReportDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<platform::HidCollectionInfo> collections;
  std::string error;
  if (platform::parseReportDescriptor({data, size}, collections, error)) {
    for (const auto& c : collections)
      if (c.inputReportLength > 65536 || c.featureReportLength > 65536 || c.outputReportLength > 65536) __builtin_trap();
  }
  return 0;
}
