#include "device/DeviceProtocol.h"

#include <algorithm>
#include <cstring>

USAGE_AND_PAGE DeviceUsageAndPage{};

namespace {

constexpr uint32_t kInvalidParameter = platform::hid_error::kInvalidParameter;

// The bytes that travel start at the head: head and data are adjacent in the
// packed record.
uint8_t* wireStart(TDEVICEPACKET& packet) { return reinterpret_cast<uint8_t*>(&packet) + offsetof(TDEVICEPACKET, Head); }
constexpr uint32_t kWireCapacity = kDeviceHeadSize + kDevicePacketDataSize;

void fillHead(TDEVICEPACKET& packet, uint8_t code, std::array<uint8_t, 7> params) {
  packet.Marker = kDevicePacketMarker;
  packet.Zero = 0;
  packet.Head[0] = code;
  std::copy(params.begin(), params.end(), packet.Head.begin() + 1);
}

// Report parameter for a packed head of report ID id: zeroed report of the
// ID's size with the first L bytes from the packet.
void fillParam(THIDDataParam& param, TDEVICEPACKET& packet, uint8_t id, uint32_t L) {
  param.UsageAndPage = DeviceUsageAndPage;
  param.DeviceID.clear();
  param.DeviceHandle = 0;
  param.Data.ReportID = id;
  param.Data.DATASIZE = ReportSizeForId(id);
  param.Data.DATAReally.fill(0);
  const uint8_t* src = wireStart(packet);
  // Byte 0 of the packed head is the report ID itself.
  const uint32_t copy = std::min(L, param.Data.DATASIZE);
  if (copy > 1) std::memcpy(param.Data.DATAReally.data(), src + 1, copy - 1);
}

uint32_t writeMacros(TuiHIDData& hid, std::span<const uint8_t, 1940> image, int slot) {
  std::array<uint32_t, kDeviceMacroBlockCount> lengths{};
  for (uint32_t i = 0; i < kDeviceMacroBlockCount; ++i) {
    const uint8_t* p = image.data() + kDeviceMacroBlockCount * kDeviceMacroBlockSize + 4 * i;
    lengths[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    // A length past its block would send the next block's bytes as this one's.
    if (i < 4 && lengths[i] > kDeviceMacroBlockSize) return kInvalidParameter;
  }
  uint32_t first = 0;
  for (uint32_t i = 0; i < kDeviceMacroBlockCount; ++i) {
    const uint32_t n = (i == 4) ? kDeviceMacroBlockSize : lengths[i];
    const uint32_t rc = DeviceWriteBlock(hid, image.data() + i * kDeviceMacroBlockSize, n,
                                         kDeviceAddrMacroBlock[slot][i]);
    if (first == 0) first = rc;
    // A mouse that does not answer would cost each further block the whole wait.
    if (rc == platform::hid_error::kTimeout) break;
  }
  return first;
}

}  // namespace

uint32_t MakeCtlCode(uint32_t DeviceType, uint32_t Function, uint32_t Method, uint32_t Access) {
  return (DeviceType << 16) | (Access << 14) | (Function << 2) | Method;
}

uint32_t DevicePayloadLength(const TDEVICEPACKET& packet) {
  switch (packet.Head[0] & 0x7F) {
    case 2:
    case 3:
      return uint32_t(packet.Head[3]) | uint32_t(packet.Head[4]) << 8;
    case 0:
      return packet.Head[2];
    default:
      return 0;
  }
}

uint8_t ReportIdForLength(uint32_t L) {
  if (L <= 16) return 2;
  if (L <= 64) return 3;
  if (L <= 1024) return 4;
  if (L <= 2048) return 5;
  if (L <= 4096) return 6;
  return 2;
}

uint32_t ReportSizeForId(uint8_t ID) {
  switch (ID) {
    case 3: return 64;
    case 4: return 1024;
    case 5: return 2048;
    case 6: return 4096;
    default: return 16;
  }
}

void PackReportHeader(uint8_t ID, const std::array<uint8_t, 8>& head, std::array<uint8_t, 8>& packed) {
  const std::array<uint8_t, 8> h = head;  // head and packed may be the same array
  packed[0] = ID;
  for (int i = 0; i < 7; ++i) packed[i + 1] = h[i];
}

void UnpackReportHeader(const std::array<uint8_t, 8>& packed, std::array<uint8_t, 8>& head) {
  const std::array<uint8_t, 8> r = packed;
  for (int i = 0; i < 7; ++i) head[i] = r[i + 1];
  head[7] = 0;
}

uint32_t DeviceSendPacket(TuiHIDData& hid, TDEVICEPACKET& packet) {
  const uint32_t n = DevicePayloadLength(packet);
  const uint32_t L = n + kDeviceHeadSize;
  // The payload must come from the packet; the builders never ask for more.
  if (L > kWireCapacity) return kInvalidParameter;
  const uint8_t id = ReportIdForLength(L);
  PackReportHeader(id, packet.Head, packet.Head);
  auto param = std::make_unique<THIDDataParam>();
  fillParam(*param, packet, id, L);
  return hid.HidFindAndSetFeatureReport(*param);
}

uint32_t DeviceTransactPacket(TuiHIDData& hid, TDEVICEPACKET& packet) {
  const std::array<uint8_t, 8> head = packet.Head;
  const uint32_t n = DevicePayloadLength(packet);
  const uint32_t L = n + kDeviceHeadSize;
  const uint8_t answerId = ReportIdForLength(L);
  const uint32_t answerSize = ReportSizeForId(answerId);
  // The answer is copied whole over head and data.
  if (answerSize > kWireCapacity) return kInvalidParameter;

  auto param = std::make_unique<THIDDataParam>();
  param->UsageAndPage = DeviceUsageAndPage;
  // Hold every reached node for the request and its fetch, so the other
  // program's request cannot replace ours in the mouse's one pending read.
  const auto locks = hid.LockQualifyingDevices(*param);

  PackReportHeader(ReportIdForLength(kDeviceHeadSize), packet.Head, packet.Head);
  fillParam(*param, packet, packet.Head[0], kDeviceHeadSize);
  if (const uint32_t rc = hid.HidFindAndSetFeatureReport(*param); rc != 0) {
    packet.Head = head;
    return rc;
  }

  packet.Head = head;
  PackReportHeader(answerId, packet.Head, packet.Head);
  fillParam(*param, packet, answerId, kDeviceHeadSize);
  if (const uint32_t rc = hid.HidFindAndGetFeatureReport(*param); rc != 0) {
    packet.Head = head;
    return rc;
  }
  uint8_t* dst = wireStart(packet);
  dst[0] = param->Data.ReportID;
  std::memcpy(dst + 1, param->Data.DATAReally.data(), answerSize - 1);
  UnpackReportHeader(packet.Head, packet.Head);
  return 0;
}

uint32_t DeviceWriteBlock(TuiHIDData& hid, const void* data, uint32_t n, uint16_t a) {
  if (n == 0) return 0;
  if (n > kDevicePacketDataSize || uint32_t(a) + n > kDeviceMemorySize || data == nullptr) return kInvalidParameter;
  TDEVICEPACKET packet;
  fillHead(packet, kDeviceCmdWriteMemory,
           {uint8_t(a), uint8_t(a >> 8), uint8_t(n), uint8_t(n >> 8), kDeviceFiller, kDeviceFiller, kDeviceFiller});
  std::memcpy(packet.Data.data(), data, n);
  return DeviceSendPacket(hid, packet);
}

uint32_t DeviceReadBlock(TuiHIDData& hid, void* data, uint32_t n, uint16_t a) {
  if (n > kDeviceMaxReadLength || uint32_t(a) + n > kDeviceMemorySize || (n > 0 && data == nullptr))
    return kInvalidParameter;
  TDEVICEPACKET packet;
  fillHead(packet, kDeviceCmdReadMemory,
           {uint8_t(a), uint8_t(a >> 8), uint8_t(n), uint8_t(n >> 8), kDeviceFiller, kDeviceFiller, kDeviceFiller});
  const uint32_t rc = DeviceTransactPacket(hid, packet);
  if (rc == 0 && n > 0) std::memcpy(data, packet.Data.data(), n);
  return rc;
}

uint32_t DeviceCommand4(TuiHIDData& hid, std::span<const uint8_t, 6> led) {
  TDEVICEPACKET packet;
  fillHead(packet, kDeviceCmdSetLed, {led[0], led[1], led[2], led[3], led[4], 0, 0});
  return DeviceSendPacket(hid, packet);
}

uint32_t DeviceCommand1(TuiHIDData& hid, std::span<const uint8_t, 2> bytes) {
  TDEVICEPACKET packet;
  fillHead(packet, kDeviceCmdNotice, {bytes[0], bytes[1], 0, 0, 0, 0, 0});
  return DeviceSendPacket(hid, packet);
}

uint32_t DeviceCommand6(TuiHIDData& hid, uint8_t first, uint8_t second) {
  TDEVICEPACKET packet;
  fillHead(packet, kDeviceCmdBatchFrame, {first, second, 0, 0, 0, 0, 0});
  return DeviceSendPacket(hid, packet);
}

uint32_t DeviceWriteButtonTable(TuiHIDData& hid, std::span<const uint8_t, 65> table, uint16_t address) {
  return DeviceWriteBlock(hid, table.data(), table.size(), address);
}

uint32_t DeviceWriteCPITable(TuiHIDData& hid, std::span<const uint8_t, 32> table, uint16_t address) {
  return DeviceWriteBlock(hid, table.data(), table.size(), address);
}

uint32_t DeviceWriteLed(TuiHIDData& hid, std::span<const uint8_t, 6> block, uint16_t address) {
  return DeviceWriteBlock(hid, block.data(), block.size(), address);
}

uint32_t DeviceWriteProfileSlot(TuiHIDData& hid, uint8_t value, uint16_t address) {
  return DeviceWriteBlock(hid, &value, 1, address);
}

uint32_t DeviceWriteReportRate(TuiHIDData& hid, uint8_t value, uint16_t address) {
  return DeviceWriteBlock(hid, &value, 1, address);
}

uint32_t DeviceWriteWheelLed(TuiHIDData& hid, int8_t value, int8_t flag, uint16_t address) {
  const uint8_t byte = uint8_t((flag != 0 ? 0x80 : 0) | (uint8_t(value) & 0x7F));
  return DeviceWriteBlock(hid, &byte, 1, address);
}

uint32_t DeviceWriteMacrosSlot0(TuiHIDData& hid, std::span<const uint8_t, 1940> image) { return writeMacros(hid, image, 0); }

uint32_t DeviceWriteMacrosSlot1(TuiHIDData& hid, std::span<const uint8_t, 1940> image) { return writeMacros(hid, image, 1); }

uint32_t DeviceReadByte(TuiHIDData& hid, uint8_t& value, uint16_t address) {
  return DeviceReadBlock(hid, &value, 1, address);
}

uint32_t DeviceReadCPITable(TuiHIDData& hid, std::span<uint8_t, 32> table, uint16_t address) {
  return DeviceReadBlock(hid, table.data(), table.size(), address);
}

uint32_t DeviceReadCurrentCPIIndex(TuiHIDData& hid, int32_t& index) {
  uint8_t slot = 0;
  if (const uint32_t rc = DeviceReadByte(hid, slot, kDeviceAddrActiveSlot); rc != 0) return rc;
  std::array<uint8_t, kDeviceCPITableSize> table{};
  const uint16_t address = kDeviceAddrCPITable[slot != 0 ? 1 : 0];
  if (const uint32_t rc = DeviceReadCPITable(hid, table, address); rc != 0) return rc;
  if (table[1] > kDeviceMaxCPILevel) return kDeviceInvalidData;
  index = table[1];
  return 0;
}
