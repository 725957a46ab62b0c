// The emulated mouse's socket input: arbitrary bytes through the frame
// decoder, every decoded frame through the server's request handling (all
// endpoints and operations, with their payload parsers). Every answer the
// server produces must itself decode as one well-formed frame.

#include "emulator/MouseHub.h"
#include "platform/EmulatorProtocol.h"

#include <cstdlib>

namespace emu = platform::emu;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  emulator::MouseHub hub(emulator::HubOptions{2, false},
                         [](emulator::MouseHub::ClientId, std::vector<uint8_t>&& bytes) {
                           emu::FrameDecoder d;
                           const std::size_t used = d.feed(bytes);
                           emu::Frame f;
                           if (used != bytes.size() || d.next(f) != emu::FrameDecoder::Result::Frame)
                             std::abort();
                         });
  emu::FrameDecoder decoder;
  std::span<const uint8_t> rest(data, size);
  // Two clients, so handles of one are refused to the other.
  emulator::MouseHub::ClientId client = 1;
  while (!rest.empty()) {
    rest = rest.subspan(decoder.feed(rest));
    emu::Frame frame;
    emu::FrameDecoder::Result r;
    while ((r = decoder.next(frame)) == emu::FrameDecoder::Result::Frame) {
      hub.handle(client, frame);
      client = client == 1 ? 2 : 1;
    }
    if (r == emu::FrameDecoder::Result::Error) break;
  }
  hub.disconnected(1);
  hub.disconnected(2);
  return 0;
}
