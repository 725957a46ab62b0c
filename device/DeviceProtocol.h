#pragma once
// The mouse's configuration protocol as the host speaks it: vendor feature
// reports on the vendor collection carry an 8-byte command head and a
// payload; the mouse's settings live in 64 KiB of memory written and read
// through commands 2 and 3. This file holds the packet, the report-ID rule,
// the transport, the command builders, the area readers and writers and the
// memory map of the two profile slots.
//
// Every writer returns the transport's code (0 = success) so that a caller
// can tell a failed Apply; readers return it and leave the caller's data
// unchanged on failure.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "device/uiHIDData.h"

// The collection every packet goes to; the data module sets it at start-up
// to the vendor collection (usage 1, usage page 0xFFA0).
extern USAGE_AND_PAGE DeviceUsageAndPage;

// Command codes of the head's first byte.
enum : uint8_t {
  kDeviceCmdNotice = 1,       // notice after a change (two caller bytes)
  kDeviceCmdWriteMemory = 2,  // write n bytes at a (payload follows the head)
  kDeviceCmdReadMemory = 3,   // arm a read of n bytes at a; fetched as a feature report
  kDeviceCmdSetLed = 4,       // set the LED at once (preview), five block bytes
  kDeviceCmdBatchFrame = 6,   // open (0,0) / close (1,0) a batch of writes
};

inline constexpr uint16_t kDevicePacketMarker = 0x3C5A;  // never sent
inline constexpr uint8_t kDeviceFiller = 0xFA;           // P5..P7 of commands 2 and 3
inline constexpr uint32_t kDevicePacketDataSize = 2048;
inline constexpr uint32_t kDeviceHeadSize = 8;
// A read's answer is copied whole over head and data, so n + 8 must fit in
// 2048 bytes: 2040 data bytes at most.
inline constexpr uint32_t kDeviceMaxReadLength = kDevicePacketDataSize - kDeviceHeadSize;
inline constexpr uint32_t kDeviceMemorySize = 65536;

// Returned by DeviceReadCurrentCPIIndex when the mouse answered but its
// current level is above 9. Not a transport failure: the mouse is there,
// its data is not usable (Windows' ERROR_INVALID_DATA).
inline constexpr uint32_t kDeviceInvalidData = 13;

// One device command before it becomes a feature report. Only the head
// (packed into the report) and the payload travel.
#pragma pack(push, 1)
struct TDEVICEPACKET {
  uint16_t Marker = kDevicePacketMarker;
  uint8_t Zero = 0;
  std::array<uint8_t, 8> Head{};  // command code, P1..P7
  std::array<uint8_t, kDevicePacketDataSize> Data{};
};
#pragma pack(pop)
static_assert(sizeof(TDEVICEPACKET) == 2059);
static_assert(offsetof(TDEVICEPACKET, Head) == 3);
static_assert(offsetof(TDEVICEPACKET, Data) == 11);

// Mouse memory map. Slot 0 is "Mode 1", slot 1 "Mode 2", 2304 bytes above.
inline constexpr uint16_t kDeviceSlotStride = 0x900;
inline constexpr uint16_t kDeviceAddrWheelByte = 62;    // bit 7 LED on, bits 0-6 value
inline constexpr uint16_t kDeviceAddrActiveSlot = 64;   // 0 or 1; non-zero reads as 1
inline constexpr uint16_t kDeviceAddrReportRates = 69;  // low nibble slot 0, high slot 1
inline constexpr std::array<uint16_t, 2> kDeviceAddrCPITable = {72, 2376};
inline constexpr std::array<uint16_t, 2> kDeviceAddrButtonTable = {144, 2448};
inline constexpr std::array<std::array<uint16_t, 5>, 2> kDeviceAddrMacroBlock = {{
    {209, 593, 977, 1361, 1745},
    {2513, 2897, 3281, 3665, 4049},
}};
inline constexpr std::array<uint16_t, 2> kDeviceAddrLedBlock = {2177, 4481};

inline constexpr uint32_t kDeviceCPITableSize = 32;     // level count, current level, ten levels
inline constexpr uint32_t kDeviceButtonTableSize = 65;  // count, sixteen 4-byte entries
inline constexpr uint32_t kDeviceMacroBlockSize = 384;
inline constexpr uint32_t kDeviceMacroBlockCount = 5;
inline constexpr uint32_t kDeviceMacroImageSize = 1940;  // five blocks, five 32-bit lengths
inline constexpr uint32_t kDeviceLedBlockSize = 6;
inline constexpr int32_t kDeviceMaxCPILevel = 9;

// (DeviceType shl 16) or (Access shl 14) or (Function shl 2) or Method.
uint32_t MakeCtlCode(uint32_t DeviceType, uint32_t Function, uint32_t Method, uint32_t Access);

// Payload length of a packet from its code (top bit cleared): 2 and 3 the
// 16-bit value in P3/P4; 0 P2; others 0.
uint32_t DevicePayloadLength(const TDEVICEPACKET& packet);
// Report ID by total length L = payload + 8: <=16 2, <=64 3, <=1024 4,
// <=2048 5, <=4096 6, above 2.
uint8_t ReportIdForLength(uint32_t L);
// 2..6 -> 16, 64, 1024, 2048, 4096; any other ID 16.
uint32_t ReportSizeForId(uint8_t ID);
// [ID, h0..h6]: P7 falls off.
void PackReportHeader(uint8_t ID, const std::array<uint8_t, 8>& head, std::array<uint8_t, 8>& packed);
// [r1..r7, 0].
void UnpackReportHeader(const std::array<uint8_t, 8>& packed, std::array<uint8_t, 8>& head);

// Transport. DeviceSendPacket packs the head in place and sends one feature
// report to every qualifying interface. DeviceTransactPacket sends the head
// as a request in report 2, then fetches the answer in the report that fits
// the requested count, under the cross-process device lock; on success the
// packet holds the echoed head and the data.
[[nodiscard]] uint32_t DeviceSendPacket(TuiHIDData& hid, TDEVICEPACKET& packet);
[[nodiscard]] uint32_t DeviceTransactPacket(TuiHIDData& hid, TDEVICEPACKET& packet);

// Command builders. n = 0 writes nothing and returns 0; more than 2048 bytes
// or past address 65,535 sends nothing and returns 87 (invalid parameter),
// as does a read of more than 2040 bytes.
[[nodiscard]] uint32_t DeviceWriteBlock(TuiHIDData& hid, const void* data, uint32_t n, uint16_t a);
[[nodiscard]] uint32_t DeviceReadBlock(TuiHIDData& hid, void* data, uint32_t n, uint16_t a);
// Sends the first five bytes of the LED block; the sixth stays behind.
[[nodiscard]] uint32_t DeviceCommand4(TuiHIDData& hid, std::span<const uint8_t, 6> led);
[[nodiscard]] uint32_t DeviceCommand1(TuiHIDData& hid, std::span<const uint8_t, 2> bytes);
[[nodiscard]] uint32_t DeviceCommand6(TuiHIDData& hid, uint8_t first, uint8_t second);

// Area writers.
[[nodiscard]] uint32_t DeviceWriteButtonTable(TuiHIDData& hid, std::span<const uint8_t, 65> table, uint16_t address);
[[nodiscard]] uint32_t DeviceWriteCPITable(TuiHIDData& hid, std::span<const uint8_t, 32> table, uint16_t address);
[[nodiscard]] uint32_t DeviceWriteLed(TuiHIDData& hid, std::span<const uint8_t, 6> block, uint16_t address);
[[nodiscard]] uint32_t DeviceWriteProfileSlot(TuiHIDData& hid, uint8_t value, uint16_t address);
[[nodiscard]] uint32_t DeviceWriteReportRate(TuiHIDData& hid, uint8_t value, uint16_t address);
// Byte = (flag ? 0x80 : 0) | (value & 0x7F): any non-zero flag is on.
[[nodiscard]] uint32_t DeviceWriteWheelLed(TuiHIDData& hid, int8_t value, int8_t flag, uint16_t address);
// The 1940-byte macro image: blocks 1-4 written as long as their lengths (0
// writes nothing), block 5 always in full. A length above 384 is refused
// (87) before anything is sent. Returns the first failing code; a block that
// timed out ends the writes (the mouse does not answer).
[[nodiscard]] uint32_t DeviceWriteMacrosSlot0(TuiHIDData& hid, std::span<const uint8_t, 1940> image);
[[nodiscard]] uint32_t DeviceWriteMacrosSlot1(TuiHIDData& hid, std::span<const uint8_t, 1940> image);

// Area readers.
[[nodiscard]] uint32_t DeviceReadByte(TuiHIDData& hid, uint8_t& value, uint16_t address);
[[nodiscard]] uint32_t DeviceReadCPITable(TuiHIDData& hid, std::span<uint8_t, 32> table, uint16_t address);
// Reads the active-slot byte, then that slot's DPI table; the index is the
// table's second byte. Above 9: kDeviceInvalidData, index unchanged.
[[nodiscard]] uint32_t DeviceReadCurrentCPIIndex(TuiHIDData& hid, int32_t& index);
