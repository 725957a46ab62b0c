#include "platform/HidEmulatorBackend.h"

#include "platform/EmulatorProtocol.h"
#include "platform/HardwareIds.h"
#include "platform/HidReportDescriptor.h"

#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <set>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

namespace {

using emu::Connection;
using emu::Status;

constexpr const char* kPathPrefix = "emulator:";
// The largest report the emulated mouse knows (feature report 6).
constexpr std::size_t kMaxReport = 4096;

uint32_t callError(const Connection& conn) {
  return conn.lastCallTimedOut() ? hid_error::kTimeout : hid_error::kDeviceNotConnected;
}

// Mouse index of a path of this socket, or -1.
int indexFromPath(const std::string& socketPath, const std::string& path) {
  const std::string head = std::string(kPathPrefix) + socketPath + "#";
  if (path.size() <= head.size() || path.compare(0, head.size(), head) != 0) return -1;
  int index = 0;
  for (std::size_t i = head.size(); i < path.size(); ++i) {
    if (path[i] < '0' || path[i] > '9' || i - head.size() > 2) return -1;
    index = index * 10 + (path[i] - '0');
  }
  return index < emu::kMaxDevices ? index : -1;
}

// Turns one DeviceInfo into the interface the hidraw backend would report
// for the same device. False when its descriptor does not parse.
bool describe(const std::string& socketPath, const emu::DeviceInfo& d, HidInterfaceInfo& out) {
  std::string error;
  std::vector<HidCollectionInfo> collections;
  if (!parseReportDescriptor(d.reportDescriptor, collections, error) || collections.empty())
    return false;
  out.path = emulatorInterfacePath(socketPath, d.index);
  out.vendorId = d.vendorId;
  out.productId = d.productId;
  out.releaseNumber = d.releaseNumber;
  out.interfaceNumber = d.interfaceNumber;
  for (std::size_t i = 0; i < collections.size(); ++i) {
    HardwareIdSource src;
    src.vendorId = d.vendorId;
    src.productId = d.productId;
    src.releaseNumber = d.releaseNumber;
    src.interfaceNumber = d.interfaceNumber;
    src.multipleInterfaces = d.interfaceCount > 1;
    src.collectionIndex = int(i) + 1;
    src.collectionCount = int(collections.size());
    src.usagePage = collections[i].usagePage;
    src.usage = collections[i].usage;
    collections[i].hardwareIds = makeHardwareIds(src);
  }
  out.collections = std::move(collections);
  return true;
}

// Present mice of a server; false when it cannot be asked.
bool enumerateDevices(Connection& conn, std::vector<emu::DeviceInfo>& out) {
  Connection::Reply reply;
  std::string error;
  if (!conn.call(emu::Endpoint::Hid, uint8_t(emu::HidOp::Enumerate), {}, reply, error) ||
      reply.status != Status::Ok)
    return false;
  emu::PayloadReader r(reply.payload);
  uint8_t count = 0;
  if (!r.u8(count) || count > emu::kMaxDevices) return false;
  out.clear();
  for (uint8_t i = 0; i < count; ++i) {
    emu::DeviceInfo info;
    if (!emu::readDeviceInfo(r, info)) return false;
    out.push_back(std::move(info));
  }
  return r.atEnd();
}

class EmulatorHidDevice final : public HidDevice {
 public:
  EmulatorHidDevice(std::unique_ptr<Connection> conn, uint32_t handle, int wakeFd)
      : conn_(std::move(conn)), handle_(handle), wakeFd_(wakeFd) {}
  ~EmulatorHidDevice() override { ::close(wakeFd_); }

  uint32_t sendFeatureReport(std::span<const uint8_t> report) override {
    if (report.empty() || report.size() > kMaxReport) return hid_error::kInvalidParameter;
    if (gone_) return hid_error::kDeviceNotConnected;
    emu::PayloadWriter w;
    w.u32(handle_).blob16(report);
    Connection::Reply reply;
    std::string error;
    if (!conn_->call(emu::Endpoint::Hid, uint8_t(emu::HidOp::SetFeature), w.data(), reply, error))
      return callError(*conn_);
    return hidErrorForEmulatorStatus(uint16_t(reply.status));
  }

  uint32_t getFeatureReport(std::span<uint8_t> report) override {
    if (report.empty() || report.size() > kMaxReport) return hid_error::kInvalidParameter;
    if (gone_) return hid_error::kDeviceNotConnected;
    emu::PayloadWriter w;
    w.u32(handle_).u8(report[0]).u16(uint16_t(report.size()));
    Connection::Reply reply;
    std::string error;
    if (!conn_->call(emu::Endpoint::Hid, uint8_t(emu::HidOp::GetFeature), w.data(), reply, error))
      return callError(*conn_);
    if (reply.status != Status::Ok) return hidErrorForEmulatorStatus(uint16_t(reply.status));
    if (reply.payload.empty() || reply.payload[0] != report[0]) return hid_error::kGenFailure;
    const std::size_t n = std::min(report.size(), reply.payload.size());
    std::copy(reply.payload.begin(), reply.payload.begin() + std::ptrdiff_t(n), report.begin());
    std::fill(report.begin() + std::ptrdiff_t(n), report.end(), uint8_t(0));
    return hid_error::kOk;
  }

  uint32_t writeOutputReport(std::span<const uint8_t>) override {
    // The emulated mouse has no output reports, as the real one.
    return hid_error::kInvalidParameter;
  }

  uint32_t readInputReport(std::span<uint8_t> buffer, std::size_t& bytesRead) override {
    bytesRead = 0;
    for (;;) {
      if (cancelled_.load()) return hid_error::kOperationAborted;
      if (gone_) return hid_error::kDeviceNotConnected;
      emu::Frame f;
      switch (conn_->nextNotification(f, -1, wakeFd_)) {
        case Connection::Wait::Woken:
          return hid_error::kOperationAborted;
        case Connection::Wait::Closed:
          gone_ = true;
          return hid_error::kDeviceNotConnected;
        case Connection::Wait::Timeout:
          continue;
        case Connection::Wait::Frame:
          break;
      }
      if (f.header.endpoint != uint8_t(emu::Endpoint::Hid)) continue;
      emu::PayloadReader r(f.payload);
      uint32_t handle = 0;
      if (!r.u32(handle) || handle != handle_) continue;
      if (f.header.op == uint8_t(emu::HidOp::InputEnded)) {
        gone_ = true;
        return hid_error::kDeviceNotConnected;
      }
      std::vector<uint8_t> report;
      if (f.header.op != uint8_t(emu::HidOp::InputReport) || !r.blob16(report) || !r.atEnd() ||
          report.empty())
        continue;
      bytesRead = std::min(buffer.size(), report.size());
      std::copy(report.begin(), report.begin() + std::ptrdiff_t(bytesRead), buffer.begin());
      return hid_error::kOk;
    }
  }

  void cancelRead() override {
    cancelled_.store(true);
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
  }

 private:
  std::unique_ptr<Connection> conn_;
  uint32_t handle_;
  int wakeFd_;
  std::atomic<bool> cancelled_{false};
  bool gone_ = false;
};

class EmulatorHidBackend final : public HidBackend {
 public:
  explicit EmulatorHidBackend(std::string socketPath) : socket_(std::move(socketPath)) {}

  std::vector<HidInterfaceInfo> enumerate() override {
    uint32_t error = 0;
    return enumerate(error);
  }

  std::vector<HidInterfaceInfo> enumerate(uint32_t& error) override {
    error = hid_error::kOk;
    std::vector<HidInterfaceInfo> out;
    std::string why;
    auto conn = Connection::connect(socket_, why);
    std::vector<emu::DeviceInfo> devices;
    if (!conn) return out;
    if (!enumerateDevices(*conn, devices)) {
      // A server that is there but silent holds its mice: they do not answer.
      if (conn->lastCallTimedOut()) error = hid_error::kTimeout;
      return out;
    }
    for (const auto& d : devices) {
      HidInterfaceInfo info;
      if (describe(socket_, d, info)) out.push_back(std::move(info));
    }
    return out;
  }

  std::unique_ptr<HidDevice> open(const std::string& path, uint32_t& error) override {
    const int index = indexFromPath(socket_, path);
    if (index < 0) {
      error = hid_error::kDeviceNotConnected;
      return nullptr;
    }
    std::string why;
    auto conn = Connection::connect(socket_, why);
    if (!conn) {
      error = hid_error::kDeviceNotConnected;
      return nullptr;
    }
    const uint8_t dev = uint8_t(index);
    Connection::Reply reply;
    if (!conn->call(emu::Endpoint::Hid, uint8_t(emu::HidOp::Open), std::span(&dev, 1), reply,
                    why)) {
      error = callError(*conn);
      return nullptr;
    }
    emu::PayloadReader r(reply.payload);
    uint32_t handle = 0;
    if (reply.status != Status::Ok) {
      error = hidErrorForEmulatorStatus(uint16_t(reply.status));
      return nullptr;
    }
    if (!r.u32(handle) || !r.atEnd()) {
      error = hid_error::kGenFailure;
      return nullptr;
    }
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
      error = hid_error::kGenFailure;
      return nullptr;
    }
    error = hid_error::kOk;
    return std::make_unique<EmulatorHidDevice>(std::move(conn), handle, wakeFd);
  }

 private:
  std::string socket_;
};

class EmulatorHidDeviceNotifier final : public HidDeviceNotifier {
 public:
  explicit EmulatorHidDeviceNotifier(std::string socketPath) : socket_(std::move(socketPath)) {}

  bool start(Handler handler, std::string& error) override {
    if (notifier_) {
      error = "already started";
      return false;
    }
    conn_ = Connection::connect(socket_, error);
    if (!conn_) return false;
    Connection::Reply reply;
    if (!conn_->call(emu::Endpoint::Hid, uint8_t(emu::HidOp::WatchDevices), {}, reply, error))
      return false;
    if (reply.status != Status::Ok) {
      error = emu::statusText(reply.status);
      return false;
    }
    std::vector<emu::DeviceInfo> devices;
    if (!enumerateDevices(*conn_, devices)) {
      error = "the emulated mouse did not list its devices";
      return false;
    }
    for (const auto& d : devices) present_.insert(d.index);
    handler_ = std::move(handler);
    notifier_ = std::make_unique<QSocketNotifier>(conn_->fd(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { drain(); });
    // Events that came in with the answers above are already queued.
    QTimer::singleShot(0, notifier_.get(), [this] { drain(); });
    return true;
  }

 private:
  void drain() {
    if (!conn_) return;
    const bool open = conn_->pump();
    emu::Frame f;
    while (conn_->takeNotification(f)) {
      if (f.header.endpoint != uint8_t(emu::Endpoint::Hid) || f.payload.size() != 1) continue;
      const uint8_t dev = f.payload[0];
      if (dev >= emu::kMaxDevices) continue;
      if (f.header.op == uint8_t(emu::HidOp::DeviceArrived)) {
        present_.insert(dev);
        raise(HidDeviceEvent::Kind::Arrival, dev);
      } else if (f.header.op == uint8_t(emu::HidOp::DeviceRemoved)) {
        present_.erase(dev);
        raise(HidDeviceEvent::Kind::Removal, dev);
      }
    }
    if (!open) {
      // The server is gone, and every mouse with it.
      notifier_->setEnabled(false);
      const auto gone = present_;
      present_.clear();
      for (uint8_t dev : gone) raise(HidDeviceEvent::Kind::Removal, dev);
      conn_.reset();
    }
  }

  void raise(HidDeviceEvent::Kind kind, uint8_t dev) {
    if (!handler_) return;
    HidDeviceEvent e;
    e.kind = kind;
    e.path = emulatorInterfacePath(socket_, dev);
    handler_(e);
  }

  std::string socket_;
  Handler handler_;
  std::unique_ptr<Connection> conn_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::set<uint8_t> present_;
};

}  // namespace

uint32_t hidErrorForEmulatorStatus(uint16_t status) {
  switch (Status(status)) {
    case Status::Ok: return hid_error::kOk;
    case Status::DeviceGone:
    case Status::NoSuchDevice: return hid_error::kDeviceNotConnected;
    case Status::Stalled:
    case Status::IoError:
    case Status::VersionMismatch: return hid_error::kGenFailure;
    case Status::NoSuchHandle: return hid_error::kInvalidHandle;
    case Status::BadRequest:
    case Status::OutOfRange: return hid_error::kInvalidParameter;
  }
  return hid_error::kGenFailure;
}

std::string emulatorInterfacePath(const std::string& socketPath, int index) {
  return std::string(kPathPrefix) + socketPath + "#" + std::to_string(index);
}

std::unique_ptr<HidBackend> makeEmulatorHidBackend(const std::string& socketPath) {
  return std::make_unique<EmulatorHidBackend>(socketPath);
}

std::unique_ptr<HidDeviceNotifier> makeEmulatorHidDeviceNotifier(const std::string& socketPath) {
  return std::make_unique<EmulatorHidDeviceNotifier>(socketPath);
}

}  // namespace platform
