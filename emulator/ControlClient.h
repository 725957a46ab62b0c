#pragma once
// The tester's side of the control endpoint: typed calls over a connection
// to a running `mouse-emulator serve`. Used by the command line and by the
// test helper. Every call returns false with a readable reason on failure.

#include "emulator/EmulatedMouse.h"
#include "emulator/MouseHub.h"
#include "platform/EmulatorProtocol.h"

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace emulator {

namespace emu = platform::emu;

class ControlClient {
 public:
  bool connect(const std::string& socketPath, std::string& error);
  bool connected() const { return conn_ && !conn_->closed(); }

  bool deviceCount(int& count, std::string& error);
  bool peek(int device, uint16_t address, uint32_t length, std::vector<uint8_t>& out,
            std::string& error);
  bool poke(int device, uint16_t address, std::span<const uint8_t> bytes, std::string& error);
  bool press(int device, int button, std::string& error);
  bool dpi(int device, int level, std::string& error);
  bool mode(int device, int slot, std::string& error);
  bool rawInput(int device, std::span<const uint8_t> report, std::string& error);
  bool unplug(int device, std::string& error);
  bool plug(int device, std::string& error);
  bool failNext(int device, uint32_t count, std::string& error);
  bool reset(int device, bool blank, std::string& error);
  // The whole wire log, oldest first (fetched page by page).
  bool log(std::vector<emu::LogEntry>& out, std::string& error);
  bool clearLog(std::string& error);
  bool led(int device, std::optional<std::array<uint8_t, 5>>& out, std::string& error);
  bool commands(int device, std::vector<CommandRecord>& out, std::string& error);
  // What the filter driver received, oldest first.
  bool driverLog(std::vector<DriverRequest>& out, std::string& error);
  // One key, button or wheel event of the emulated desk, offered to the
  // subscribed hooks; returns once they have decided. Without a time the
  // emulator's clock stamps it.
  bool inputEvent(const emu::InputEvent& event, bool timeGiven, bool& swallowed,
                  std::string& error);
  // The events that reached applications, oldest first (once earlier events
  // are settled).
  bool inputLog(std::vector<emu::InputEvent>& out, std::string& error);
  // Waits (up to the call's time-out) until hooks of the kinds
  // (emu::kHookKeyboard, emu::kHookMouse) have subscribed.
  bool awaitHooks(uint8_t kinds, std::string& error);

 private:
  // One device byte and one value byte, after the value's range check.
  bool sendValue(emu::ControlOp op, int device, int value, int low, int high, const char* range,
                 std::string& error);
  bool call(emu::ControlOp op, std::span<const uint8_t> payload, emu::Connection::Reply& reply,
            std::string& error);
  std::unique_ptr<emu::Connection> conn_;
};

// "set", "get" or "in".
const char* directionName(emu::Direction direction);
// Upper-case hex bytes separated by single spaces.
std::string hexBytes(std::span<const uint8_t> bytes);
// One log entry as the command line prints it: "t=" and the milliseconds since
// the emulator started (three decimals), serial, mouse, direction, status, bytes.
std::string formatLogEntry(const emu::LogEntry& entry);
// The latched LED bytes as the command line prints them: the raw bytes in
// hex, then the colour the LED shows, "(R G B r g b)" in decimal.
std::string formatLed(const std::array<uint8_t, 5>& led);
// One driver request as the command line prints it: code and bytes in hex.
std::string formatDriverRequest(const DriverRequest& request);

}  // namespace emulator
