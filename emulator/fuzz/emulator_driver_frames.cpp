// The emulated filter driver's socket input: bytes arriving in chunks (the
// first input byte picks the chunk size) are buffered as the server does,
// bounded to one frame, parsed, recorded and answered; the answer must
// parse back as a reply carrying the request's bytes.

#include "emulator/MouseHub.h"
#include "platform/FilterDriverProtocol.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t chunk = std::size_t(data[0] % 64) + 1;
  std::span<const uint8_t> rest(data + 1, size - 1);
  emulator::MouseHub hub(emulator::HubOptions{}, [](emulator::MouseHub::ClientId,
                                                    std::vector<uint8_t>&&) {});
  std::vector<uint8_t> in;
  while (!rest.empty()) {
    const auto piece = rest.first(std::min(chunk, rest.size()));
    rest = rest.subspan(piece.size());
    if (in.size() + piece.size() > platform::kDriverHeaderSize + platform::kDriverMaxPayload)
      return 0;
    in.insert(in.end(), piece.begin(), piece.end());
    platform::DriverFrame frame;
    std::size_t consumed = 0;
    const auto r = platform::parseDriverFrame(in, frame, consumed);
    if (r == platform::DriverParse::Bad) return 0;
    if (r == platform::DriverParse::NeedMore) continue;
    if (consumed == 0 || consumed > in.size()) std::abort();
    if (frame.kind != platform::DriverFrameKind::Request) return 0;
    std::vector<uint8_t> answer;
    const uint32_t status = hub.driverRequest(frame.value, frame.payload, answer);
    const auto bytes = platform::encodeDriverFrame(platform::DriverFrameKind::Reply, status, answer);
    platform::DriverFrame back;
    std::size_t used = 0;
    if (platform::parseDriverFrame(bytes, back, used) != platform::DriverParse::Complete ||
        used != bytes.size() || back.payload != frame.payload || back.value != 0)
      std::abort();
    return 0;
  }
  return 0;
}
