#pragma once
// Everything the emulated mouse server knows, without its sockets: the mice,
// their plug state, the open handles of the clients, the wire log and the
// injected failures. Requests come in as decoded frames; replies and
// notifications leave through the sink as encoded frames. Thread-safe: the
// server thread and in-process callers (tests) may call it concurrently.

#include "emulator/EmulatedMouse.h"
#include "emulator/InputEndpoint.h"
#include "platform/EmulatorProtocol.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace emulator {

namespace emu = platform::emu;

// One request the mouse's filter driver received.
struct DriverRequest {
  uint64_t serial = 0;
  uint32_t code = 0;           // the I/O control code
  std::vector<uint8_t> bytes;  // the caller's buffer
};

// The same mice as kernel HID devices (UhidBridge.h). Told of every input
// report and every plug change with the hub's lock held, so that the kernel
// sees them in the hub's order: it must never call back into the hub nor
// wait for a thread that might.
class KernelSide {
 public:
  virtual ~KernelSide() = default;
  virtual void inputReport(int device, std::span<const uint8_t> report) = 0;
  virtual void presence(int device, bool present) = 0;
};

struct HubOptions {
  int mice = 1;         // 1..emu::kMaxDevices
  bool blank = false;   // memory all zero instead of the factory image
};

class MouseHub {
 public:
  using ClientId = uint64_t;
  // Receives the encoded frames for one client, in order. Called with the
  // hub's lock held: it must only queue the bytes, never call back.
  using Sink = std::function<void(ClientId, std::vector<uint8_t>&&)>;

  MouseHub(HubOptions options, Sink sink);

  // One decoded frame from a client. Frames of another version are answered
  // with VersionMismatch; replies from clients go to the input endpoint (the
  // only one that asks clients), notifications are ignored.
  void handle(ClientId client, const emu::Frame& frame);
  // The input endpoint's timer: how long the server may sleep (-1: until
  // something arrives), and the call to make when that time is up.
  int inputTimeoutMs();
  void inputTick();
  // A client went away: its handles close and it stops watching.
  void disconnected(ClientId client);

  int deviceCount() const { return int(devices_.size()); }
  bool present(int device);

  // The kernel side, or none (nullptr); set it before it can matter and
  // clear it before it goes away.
  void setKernelSide(KernelSide* side);
  // Transfers that came through the kernel: the same mouse, rules, failure
  // injection and wire log as those from socket clients. A get-feature asks
  // for the whole report of its ID, as the firmware always answers.
  // stillThere, asked with the hub's lock held (so no plug change comes
  // between), says whether the kernel device the request was made to is
  // still the one there; a request of a device since removed is refused as
  // one of an unplugged mouse. It must not call the hub.
  using StillThere = std::function<bool()>;
  emu::Status kernelSetFeature(int device, std::span<const uint8_t> report, const StillThere& stillThere = {});
  emu::Status kernelGetFeature(int device, uint8_t reportId, std::vector<uint8_t>& answer,
                               const StillThere& stillThere = {});

  // The tester's hand, also reached through the control endpoint.
  emu::Status peek(int device, uint32_t address, uint32_t length, std::vector<uint8_t>& out);
  emu::Status poke(int device, uint32_t address, std::span<const uint8_t> bytes);
  emu::Status press(int device, int button, std::string* why = nullptr);
  emu::Status dpi(int device, int level, std::string* why = nullptr);
  emu::Status mode(int device, int slot, std::string* why = nullptr);
  emu::Status rawInput(int device, std::span<const uint8_t> report);
  emu::Status unplug(int device);
  emu::Status plug(int device);
  emu::Status failNext(int device, uint32_t count);
  emu::Status reset(int device, bool blank);
  std::vector<emu::LogEntry> log(uint64_t fromSerial = 0);
  void clearLog();
  emu::Status led(int device, std::optional<std::array<uint8_t, 5>>& out);
  emu::Status commands(int device, std::vector<CommandRecord>& out);

  // The filter driver: records the request and answers status 0 with the
  // caller's buffer unchanged (same buffer in and out).
  uint32_t driverRequest(uint32_t code, std::span<const uint8_t> bytes,
                         std::vector<uint8_t>& answer);
  std::vector<DriverRequest> driverLog(uint64_t fromSerial = 0);
  static constexpr std::size_t kMaxDriverLog = 16384;

  // The wire log keeps the newest entries up to about this many bytes.
  static constexpr std::size_t kMaxLogBytes = 16u << 20;
  static constexpr std::size_t kMaxInputReport = 64;
  // Open handles of all clients together; a client that opens without end
  // is refused rather than let grow the table.
  static constexpr std::size_t kMaxHandles = 4096;

 private:
  struct Device {
    EmulatedMouse model;
    bool present = true;
    uint32_t generation = 1;  // bumped by every plug; older handles are stale
    uint32_t failNext = 0;
  };
  struct Handle {
    ClientId client = 0;
    int device = 0;
    uint32_t generation = 0;
  };

  void handleHid(ClientId client, const emu::Frame& frame);
  void handleControl(ClientId client, const emu::Frame& frame);
  void reply(ClientId client, const emu::Frame& request, emu::Status status,
             std::span<const uint8_t> payload = {});
  void notify(ClientId client, emu::HidOp op, std::span<const uint8_t> payload);
  void addLog(int device, emu::Direction direction, emu::Status status,
              std::vector<uint8_t> bytes, std::string note = {});
  emu::Status emitInput(int device, const std::vector<std::vector<uint8_t>>& reports);
  // One feature transfer past its gate (Ok, or why it cannot reach the
  // mouse), logged whichever side it came from.
  emu::Status setFeatureOn(int device, emu::Status gate, std::vector<uint8_t> report);
  emu::Status getFeatureOn(int device, emu::Status gate, uint8_t reportId, std::size_t size,
                           std::vector<uint8_t>& answer);
  // Checks a handle for a transfer; Ok when the device behind it is there.
  emu::Status transferGate(ClientId client, uint32_t handle, int& device);
  emu::Status kernelGate(int device, const StillThere& stillThere);
  bool validDevice(int device) const { return device >= 0 && device < int(devices_.size()); }

  // Unlocked versions of the public calls.
  emu::Status doUnplug(int device);
  emu::Status doPlug(int device);

  Sink sink_;
  KernelSide* kernel_ = nullptr;
  std::recursive_mutex mutex_;
  InputEndpoint input_;
  std::vector<Device> devices_;
  std::map<uint32_t, Handle> handles_;
  uint32_t nextHandle_ = 1;
  std::set<ClientId> watchers_;
  std::deque<emu::LogEntry> log_;
  std::size_t logBytes_ = 0;
  // The wire log's time stamps count from here.
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  uint64_t nextSerial_ = 1;
  std::deque<DriverRequest> driverLog_;
  uint64_t nextDriverSerial_ = 1;
};

}  // namespace emulator
