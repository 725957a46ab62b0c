#pragma once
// The emulated gaming mouse as its firmware behaves on the vendor
// collection: 64 KiB of memory, the feature reports 2..6 with their fixed
// sizes, the commands 1, 2, 3, 4 and 6, and the vendor input reports 7 and
// 8. Modelled from the wire protocol and the memory map alone; it shares no
// code with the host side, so a wrong byte there cannot pass on both sides.
//
// Pure state, no I/O, no locking: the server serialises all calls.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace emulator {

// Identity of the emulated mouse. The vendor number is the open-source
// test range, never a real maker's.
inline constexpr uint16_t kVendorId = 0x1209;
inline constexpr uint16_t kProductId = 0x0001;
inline constexpr uint16_t kReleaseNumber = 0x0100;
inline constexpr uint8_t kInterfaceNumber = 0;
inline constexpr uint8_t kInterfaceCount = 1;

// Report IDs of the one interface.
enum ReportId : uint8_t {
  kMouseInput = 1,       // mouse collection: buttons, X, Y, wheel (5 bytes with the ID)
  kFeature16 = 2,        // vendor feature reports, sizes with the ID byte:
  kFeature64 = 3,        //   16, 64, 1024, 2048, 4096
  kFeature1024 = 4,
  kFeature2048 = 5,
  kFeature4096 = 6,
  kButtonInput = 7,      // vendor input: 24-bit one-hot button mask
  kStatusInput = 8,      // vendor input: kind (1 mode, 2 DPI level) and value
};
inline constexpr std::size_t kMouseInputSize = 5;
inline constexpr std::size_t kVendorInputSize = 8;

// Feature report size of a vendor report ID, 0 for any other ID.
std::size_t featureReportSize(uint8_t reportId);
// The feature report a transfer of `total` bytes (head included) travels in:
// the smallest that holds it; 0 when none does.
uint8_t featureReportFor(std::size_t total);

// Mouse collection (page 1, usage 2) first, then the vendor collection
// (page 0xFFA0, usage 1), as the device presents them.
std::span<const uint8_t> reportDescriptor();

// Memory map.
inline constexpr std::size_t kMemorySize = 65536;
inline constexpr uint16_t kWheelByte = 62;
inline constexpr uint16_t kActiveSlotByte = 64;
inline constexpr uint16_t kReportRateByte = 69;
inline constexpr uint16_t kDpiTable[2] = {72, 2376};
inline constexpr std::size_t kDpiTableSize = 32;
inline constexpr uint16_t kLedBlock[2] = {2177, 4481};

// The colour an LED block (and command 4, its first five bytes) makes the
// LED show: the block holds each channel inverted, in the order G, B, R,
// then brightness and breathing.
struct LedColour {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
};
inline constexpr LedColour ledColourShown(uint8_t byte0, uint8_t byte1, uint8_t byte2) {
  return {uint8_t(255 - byte2), uint8_t(255 - byte0), uint8_t(255 - byte1)};
}

// Command codes (byte 1 of a feature report).
enum Command : uint8_t {
  kCmdNotice = 1,      // after a change: two bytes from the host
  kCmdWrite = 2,       // write n bytes at a
  kCmdRead = 3,        // arm a read of n bytes at a, fetched with a get-feature
  kCmdLed = 4,         // show five LED bytes at once
  kCmdFrame = 6,       // batch frame: (0,0) opens, (1,0) closes
};

inline constexpr uint8_t kFiller = 0xFA;

// A command 1 or 6 as the mouse received it, with the frame it arrived in
// (the bytes of the last command 6 before it, if any).
struct CommandRecord {
  uint8_t code = 0;
  uint8_t p1 = 0;
  uint8_t p2 = 0;
  bool framed = false;      // a command 6 came before
  uint8_t frameP1 = 0;
  uint8_t frameP2 = 0;
};

class EmulatedMouse {
 public:
  explicit EmulatedMouse(bool blank = false) { reset(blank); }

  // Factory image (both DPI tables valid, slot 0 active) or all zeros.
  void reset(bool blank);

  // Power lost (unplug): a pending read and the open frame are forgotten;
  // memory and the last LED command stay for inspection.
  void powerCycle() {
    pendingRead_.reset();
    frame_.reset();
  }

  // Host to mouse. True when the mouse takes the report; otherwise why
  // holds the reason and nothing changed (the device stalls the transfer).
  bool setFeature(std::span<const uint8_t> report, std::string& why);

  // Mouse to host: the answer to the armed read in exactly the report the
  // read's length selects. Fails (stall) without an armed read or for any
  // other ID or size; a failed fetch leaves the read armed.
  bool getFeature(uint8_t reportId, std::size_t size, std::vector<uint8_t>& answer,
                  std::string& why);

  // Input reports the mouse sends on its own. Each returns the reports in
  // order, or nothing (with why) for a value out of range.
  std::vector<std::vector<uint8_t>> press(int button, std::string& why);     // 1..24
  std::vector<std::vector<uint8_t>> dpiLevel(int level, std::string& why);   // 0..9
  std::vector<std::vector<uint8_t>> modeSwitch(int slot, std::string& why);  // 0..1

  // Direct memory access for the tester.
  bool peek(uint32_t address, uint32_t length, std::vector<uint8_t>& out) const;
  bool poke(uint32_t address, std::span<const uint8_t> bytes);

  int activeSlot() const { return memory_[kActiveSlotByte] != 0 ? 1 : 0; }
  const std::optional<std::array<uint8_t, 5>>& led() const { return led_; }
  const std::vector<CommandRecord>& commands() const { return commands_; }
  bool readArmed() const { return pendingRead_.has_value(); }

  // Commands 1 and 6 kept; the oldest go beyond this many.
  static constexpr std::size_t kMaxCommands = 4096;

 private:
  struct PendingRead {
    uint16_t address;
    uint16_t length;
  };
  std::vector<uint8_t> memory_;
  std::optional<PendingRead> pendingRead_;
  std::optional<std::array<uint8_t, 5>> led_;
  std::vector<CommandRecord> commands_;
  std::optional<std::array<uint8_t, 2>> frame_;
};

}  // namespace emulator
