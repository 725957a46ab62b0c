// Encodes profiles patched with arbitrary bytes. Whatever an imported profile
// holds, no encoder may write outside its output, and the images must keep
// their limits (at most 15 buttons, blocks of at most 384 bytes).
//
// Input: a full 109,896-byte profile image, or a list of patches, each a
// 32-bit little-endian offset (taken modulo the image size), a length byte
// and that many bytes, laid over an all-zero profile. The whole default profile
// in the seed corpus also lifts libFuzzer's length limit (the largest seed, at
// least 4,096 bytes) to a whole image.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "device/ProfileEncoders.h"

namespace {

void ApplyPatches(TMOUSEPROFILEINFO& profile, const uint8_t* data, size_t size) {
  auto image = ImageBytes(profile);
  size_t at = 0;
  while (size - at >= 5) {
    uint32_t offset;
    std::memcpy(&offset, data + at, 4);
    size_t length = data[at + 4];
    at += 5;
    if (length > size - at) length = size - at;
    offset %= sizeof(TMOUSEPROFILEINFO);
    if (length > sizeof(TMOUSEPROFILEINFO) - offset) length = sizeof(TMOUSEPROFILEINFO) - offset;
    std::memcpy(image.data() + offset, data + at, length);
    at += length;
  }
}

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto profile = NewZeroImage<TMOUSEPROFILEINFO>();
  if (size == sizeof(TMOUSEPROFILEINFO))
    LoadImage(*profile, std::span<const std::byte>(reinterpret_cast<const std::byte*>(data), size));
  else
    ApplyPatches(*profile, data, size);

  // Exact-size heap buffers: a write past the end is an AddressSanitizer report.
  auto table = std::make_unique<uint8_t[]>(kButtonTableSize);
  const TDroppedButtons dropped = BuildButtonTable(*profile, std::span<uint8_t, kButtonTableSize>(table.get(), kButtonTableSize));
  if (table[0] > 15 || (dropped >> table[0]) != 0) std::abort();

  auto image = std::make_unique<uint8_t[]>(kMacroImageSize);
  BuildMacroImage(*profile, std::span<uint8_t, kMacroImageSize>(image.get(), kMacroImageSize));
  for (int k = 0; k < kDeviceMacroBlocks; ++k) {
    const uint32_t length = Le32(image.get() + kDeviceMacroBlocks * kMacroBlockSize + 4 * k);
    if (length > kMacroBlockSize || length % 3 != 0) std::abort();
  }

  auto cpi = std::make_unique<uint8_t[]>(kCpiTableSize);
  BuildCPITable(*profile, std::span<uint8_t, kCpiTableSize>(cpi.get(), kCpiTableSize));
  if (cpi[0] > 10 || cpi[1] > 9) std::abort();

  auto led = std::make_unique<uint8_t[]>(kLedBlockSize);
  BuildLedBlock(*profile, std::span<uint8_t, kLedBlockSize>(led.get(), kLedBlockSize));
  if (ReportRateCode(*profile) > 8) std::abort();
  return 0;
}
