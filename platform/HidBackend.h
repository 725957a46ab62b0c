#pragma once
// The programs' only road to HID devices: enumeration of the present HID
// interfaces with what the configuration protocol needs to select one
// (hardware IDs, top-level collections, report sizes), feature reports,
// input-report reading and arrival/removal notification.
//
// Two implementations: hidraw for real mice (HidrawBackend.h) and the emulated
// mouse over its Unix socket (HidEmulatorBackend.cpp). makeHidBackend() picks
// one from the environment.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace platform {

// Result codes of device I/O. The callers of the HID link compare them with 0
// and pass them on; the values are the Windows error codes the configuration
// protocol has always reported, so logs read the same on both systems.
namespace hid_error {
inline constexpr uint32_t kOk = 0;                   // transfer done
inline constexpr uint32_t kAccessDenied = 5;         // node exists, no permission
inline constexpr uint32_t kInvalidHandle = 6;        // device not open
inline constexpr uint32_t kGenFailure = 31;          // device refused / stalled the transfer
inline constexpr uint32_t kInvalidParameter = 87;    // length or report ID the collection lacks
inline constexpr uint32_t kOperationAborted = 995;   // blocked read woken by cancelRead()
inline constexpr uint32_t kDeviceNotConnected = 1167;  // device gone (or none qualified)
inline constexpr uint32_t kTimeout = 1460;           // device did not answer in time
}  // namespace hid_error

// One report of a collection: its ID (0 when the device numbers no reports)
// and its length in bytes including the report-ID byte (as Windows counts it:
// an unnumbered report also gets a leading 0 byte).
struct HidReportInfo {
  uint8_t id = 0;
  uint32_t size = 0;
};

// One top-level collection of an interface, in descriptor order.
struct HidCollectionInfo {
  uint16_t usagePage = 0;
  uint16_t usage = 0;
  // Windows-style hardware IDs of this collection, most specific first
  // (HardwareIds.h). They carry &Colnn when the interface has several
  // top-level collections, so they differ per collection.
  std::vector<std::string> hardwareIds;
  std::vector<HidReportInfo> inputReports;
  std::vector<HidReportInfo> outputReports;
  std::vector<HidReportInfo> featureReports;
  // Windows-style maximum lengths, report-ID byte included (0 = none of
  // that type): what the length tests of the HID link compare against.
  uint32_t inputReportLength = 0;
  uint32_t outputReportLength = 0;
  uint32_t featureReportLength = 0;
};

// One present HID interface (one hidraw node, or one emulated mouse).
struct HidInterfaceInfo {
  // Opaque: only ever handed back to HidBackend::open() and used as the key
  // of the cross-process device lock.
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t releaseNumber = 0;   // bcdDevice
  int interfaceNumber = -1;     // USB interface number, -1 when unknown
  std::vector<HidCollectionInfo> collections;
};

// An open interface. Transfers are synchronous. One thread at a time may use
// a given HidDevice, except cancelRead(), which any thread may call.
class HidDevice {
 public:
  virtual ~HidDevice() = default;

  // Sends report[0] = report ID, then the data; report.size() bytes in all.
  virtual uint32_t sendFeatureReport(std::span<const uint8_t> report) = 0;

  // report[0] holds the wanted report ID on entry; on success report is
  // filled with the device's answer (ID byte first, zero-padded when the
  // device answered short). On failure report is left as it was.
  virtual uint32_t getFeatureReport(std::span<uint8_t> report) = 0;

  // Writes one output report (ID byte first).
  virtual uint32_t writeOutputReport(std::span<const uint8_t> report) = 0;

  // Blocks until one input report arrives and copies it (ID byte first, a 0
  // put in front of unnumbered reports) into buffer; bytesRead is its
  // length, truncated to buffer.size(). Costs nothing while it waits.
  // Returns kOperationAborted once cancelRead() was called (at once if it
  // was called before), kDeviceNotConnected when the device is gone.
  virtual uint32_t readInputReport(std::span<uint8_t> buffer, std::size_t& bytesRead) = 0;

  // Wakes a blocked readInputReport() and makes every later one return
  // kOperationAborted. Thread-safe, never blocks.
  virtual void cancelRead() = 0;
};

class HidBackend {
 public:
  virtual ~HidBackend() = default;

  // The present HID interfaces; an interface whose description cannot be
  // read completely is left out rather than half-described.
  virtual std::vector<HidInterfaceInfo> enumerate() = 0;

  // enumerate(), and in error why the list may lack a device that is there:
  // kTimeout when the devices could not be asked in time, else kOk.
  virtual std::vector<HidInterfaceInfo> enumerate(uint32_t& error) {
    error = hid_error::kOk;
    return enumerate();
  }

  // Opens a path from enumerate() for reading and writing. nullptr and a
  // code in error on failure. May be called from any thread.
  virtual std::unique_ptr<HidDevice> open(const std::string& path, uint32_t& error) = 0;
};

// One arrival or removal of a HID interface.
struct HidDeviceEvent {
  enum class Kind { Arrival, Removal };
  Kind kind = Kind::Arrival;
  std::string path;  // same form as HidInterfaceInfo::path; may be empty
};

// Source of arrival and removal events of HID interfaces, of any device.
class HidDeviceNotifier {
 public:
  using Handler = std::function<void(const HidDeviceEvent&)>;
  virtual ~HidDeviceNotifier() = default;

  // Starts watching. The handler runs on the calling thread, from its Qt
  // event loop, never after the notifier is destroyed. Returns false (and
  // why in error) when no event source could be opened.
  virtual bool start(Handler handler, std::string& error) = 0;
};

// The socket of the emulated mouse when MOUSE_EMULATOR is set and non-empty,
// else an empty string. When it is set, nothing touches a real device.
std::string emulatorSocketFromEnvironment();

// The backend and notifier for this process: the emulated mouse when
// MOUSE_EMULATOR names a socket, else hidraw and udev.
std::unique_ptr<HidBackend> makeHidBackend();
std::unique_ptr<HidDeviceNotifier> makeHidDeviceNotifier();

// The emulated mouse's backend and notifier (platform/HidEmulatorBackend.cpp).
std::unique_ptr<HidBackend> makeEmulatorHidBackend(const std::string& socketPath);
std::unique_ptr<HidDeviceNotifier> makeEmulatorHidDeviceNotifier(const std::string& socketPath);

}  // namespace platform
