// The message receiver's frame check over arbitrary bytes: never crashes,
// and whatever it accepts encodes back to the same bytes.
#include "platform/MessageChannel.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::MessageFrame frame;
  if (!platform::parseMessageFrame({data, size}, frame)) return 0;
  std::uint8_t again[platform::kMessageFrameSize];
  platform::encodeMessageFrame(frame, again);
  if (std::memcmp(again, data, sizeof again) != 0) __builtin_trap();
  return 0;
}
