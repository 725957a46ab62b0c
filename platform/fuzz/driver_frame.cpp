// The filter driver frame parser over arbitrary bytes, as the emulated
// driver's server and the client read them: never crashes, never takes more
// than it was given, and a complete frame encodes back to the bytes it used.
#include "platform/FilterDriverProtocol.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> in(data, size);
  // Several frames back to back, as a stream would carry them.
  for (int i = 0; i < 4 && !in.empty(); ++i) {
    platform::DriverFrame frame;
    std::size_t used = 0;
    if (platform::parseDriverFrame(in, frame, used) != platform::DriverParse::Complete) return 0;
    if (used > in.size() || frame.payload.size() > platform::kDriverMaxPayload) __builtin_trap();
    const auto again = platform::encodeDriverFrame(frame.kind, frame.value, frame.payload);
    if (again.size() != used || std::memcmp(again.data(), in.data(), used) != 0) __builtin_trap();
    in = in.subspan(used);
  }
  return 0;
}
