#pragma once
// Test helper: a real `mouse-emulator serve` on a private socket in its own
// temporary folder. start() returns once the program has printed its
// MOUSE_EMULATOR line, i.e. once the socket accepts connections (waited for
// on the pipe, never by sleeping). The process ends with the object, and
// with the test process if that dies first.
//
//   emulator::testing::EmulatorProcess mouse;
//   ASSERT_TRUE(mouse.start()) << mouse.lastError();
//   mouse.exportEnvironment();              // MOUSE_EMULATOR for code under test
//   ... drive the code under test ...
//   auto sent = mouse.sentReports();        // what the host wrote, in order
//
// Control calls return false (or an empty result) on failure and leave the
// reason in lastError().

#include "emulator/ControlClient.h"
#include "emulator/EmulatedMouse.h"
#include "platform/EmulatorProtocol.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <sys/types.h>
#include <vector>

namespace emulator::testing {

class EmulatorProcess {
 public:
  struct Options {
    int mice = 1;
    bool blank = false;     // memory all zero instead of the factory image
    std::string directory;  // where the socket goes; empty: a new temporary folder
    bool uhid = false;      // the mice are kernel HID devices too (serve --uhid)
  };

  EmulatorProcess();
  explicit EmulatorProcess(Options options);
  ~EmulatorProcess();
  EmulatorProcess(const EmulatorProcess&) = delete;
  EmulatorProcess& operator=(const EmulatorProcess&) = delete;

  // Starts the program and waits (up to 20 s) until it serves. The program
  // is ended when the thread that called start() ends, so call it from the
  // test's own thread, not from a short-lived helper thread.
  bool start();
  // Ends the program (SIGTERM, then waits for it) and removes its folder.
  void stop();
  bool running() const { return pid_ > 0; }
  // Freezes the program (SIGSTOP) and returns once it has stopped: the mouse
  // stays present but answers nothing, as a real one whose transfers time
  // out. resume() (SIGCONT)
  // lets it go on; stop() resumes it first. Callable from any thread while
  // the program runs.
  bool suspend();
  bool resume();

  // Whether this process may make kernel HID devices (Options::uhid): false
  // with the reason when /dev/uhid cannot be opened for reading and writing.
  static bool uhidUsable(std::string& why);

  // The path of the program used (compiled in).
  static std::string executable();

  const std::string& socketPath() const { return socketPath_; }
  // The value for MOUSE_EMULATOR, and setting it (and MOUSE_DRIVER_DIR) in
  // this process.
  const std::string& environmentValue() const { return socketPath_; }
  void exportEnvironment() const;
  // Only MOUSE_DRIVER_DIR, with MOUSE_EMULATOR removed: code under test then
  // reaches the mouse through the kernel (with uhid) and its filter driver
  // through the emulator.
  void exportDriverEnvironment() const;

  // The filter driver listens in the same folder under the default
  // control-device name; MOUSE_DRIVER_DIR = driverDirectory() finds it.
  const std::string& driverDirectory() const { return dir_; }
  const std::string& driverSocketPath() const { return driverSocketPath_; }
  // Requests the filter driver received, oldest first.
  std::vector<DriverRequest> driverLog();

  // The tester's hand.
  std::vector<uint8_t> peek(uint16_t address, uint32_t length, int device = 0);
  bool poke(uint16_t address, std::span<const uint8_t> bytes, int device = 0);
  bool press(int button, int device = 0);
  bool dpi(int level, int device = 0);
  bool mode(int slot, int device = 0);
  bool rawInput(std::span<const uint8_t> report, int device = 0);
  bool unplug(int device = 0);
  bool plug(int device = 0);
  bool failNext(uint32_t count, int device = 0);
  bool reset(bool blank = false, int device = 0);

  // The wire log, oldest first.
  std::vector<platform::emu::LogEntry> wireLog();
  bool clearLog();
  // Reports the host sent with set-feature (accepted or not), in order.
  std::vector<std::vector<uint8_t>> sentReports(int device = 0);
  std::optional<std::array<uint8_t, 5>> led(int device = 0);
  std::vector<CommandRecord> commands(int device = 0);

  // The emulated desk's keyboard and mouse: each event is offered to the
  // subscribed hooks and the call returns once they have decided (nullopt
  // on failure, else whether a hook swallowed it). No time: the emulator's
  // clock stamps it.
  std::optional<bool> key(uint32_t vk, bool down, std::optional<uint32_t> time = {},
                          bool injected = false, bool extended = false);
  std::optional<bool> wheel(int delta, std::optional<uint32_t> time = {}, bool injected = false);
  std::optional<bool> button(int button, bool down, std::optional<uint32_t> time = {},
                             bool injected = false);
  // Events that reached applications, oldest first, once every event sent
  // before has been settled (also those a program synthesised).
  std::vector<platform::emu::InputEvent> inputLog();
  // Returns once hooks of these kinds have subscribed (false after 5 s).
  bool awaitHooks(bool keyboard, bool mouse);

  const std::string& lastError() const { return error_; }

 private:
  ControlClient& client();
  std::optional<bool> input(const platform::emu::InputEvent& event, std::optional<uint32_t> time);

  Options options_;
  std::string ownDir_;
  std::string dir_;
  std::string socketPath_;
  std::string driverSocketPath_;
  pid_t pid_ = -1;
  int stdoutFd_ = -1;
  ControlClient client_;
  std::string error_;
};

}  // namespace emulator::testing
