#include "emulator/MouseHub.h"

#include <algorithm>

namespace emulator {

using emu::Status;

namespace {
using Lock = std::lock_guard<std::recursive_mutex>;
}

MouseHub::MouseHub(HubOptions options, Sink sink)
    : sink_(std::move(sink)), input_([this](ClientId c, std::vector<uint8_t>&& b) { sink_(c, std::move(b)); }) {
  const int n = std::clamp(options.mice, 1, int(emu::kMaxDevices));
  devices_.resize(std::size_t(n));
  for (auto& d : devices_) d.model.reset(options.blank);
}

void MouseHub::reply(ClientId client, const emu::Frame& request, Status status,
                     std::span<const uint8_t> payload) {
  sink_(client, emu::encodeFrame(emu::Kind::Reply, request.header.endpoint, request.header.op,
                                 uint16_t(status), request.header.seq, payload));
}

void MouseHub::notify(ClientId client, emu::HidOp op, std::span<const uint8_t> payload) {
  sink_(client, emu::encodeFrame(emu::Kind::Notification, uint8_t(emu::Endpoint::Hid),
                                 uint8_t(op), 0, 0, payload));
}

void MouseHub::addLog(int device, emu::Direction direction, Status status,
                      std::vector<uint8_t> bytes, std::string note) {
  emu::LogEntry e;
  e.serial = nextSerial_++;
  e.timeUs = uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - started_)
                          .count());
  e.device = uint8_t(device);
  e.direction = direction;
  e.status = status;
  e.bytes = std::move(bytes);
  if (note.size() > emu::kMaxNoteSize) note.resize(emu::kMaxNoteSize);
  e.note = std::move(note);
  logBytes_ += emu::logEntryWireSize(e);
  log_.push_back(std::move(e));
  while (logBytes_ > kMaxLogBytes && !log_.empty()) {
    logBytes_ -= emu::logEntryWireSize(log_.front());
    log_.pop_front();
  }
}

void MouseHub::handle(ClientId client, const emu::Frame& frame) {
  Lock lock(mutex_);
  if (frame.header.endpoint == uint8_t(emu::Endpoint::InputSource) &&
      frame.header.kind == emu::Kind::Reply && frame.header.version == emu::kVersion) {
    input_.handle(client, frame, InputEndpoint::Clock::now());
    return;
  }
  if (frame.header.kind != emu::Kind::Request) return;
  if (frame.header.version != emu::kVersion) {
    reply(client, frame, Status::VersionMismatch);
    return;
  }
  switch (emu::Endpoint(frame.header.endpoint)) {
    case emu::Endpoint::Hid: handleHid(client, frame); return;
    case emu::Endpoint::Control: handleControl(client, frame); return;
    case emu::Endpoint::InputSource:
      input_.handle(client, frame, InputEndpoint::Clock::now());
      return;
    default: reply(client, frame, Status::BadRequest); return;
  }
}

int MouseHub::inputTimeoutMs() {
  Lock lock(mutex_);
  return input_.timeoutMs(InputEndpoint::Clock::now());
}

void MouseHub::inputTick() {
  Lock lock(mutex_);
  input_.tick(InputEndpoint::Clock::now());
}

void MouseHub::disconnected(ClientId client) {
  Lock lock(mutex_);
  input_.disconnected(client, InputEndpoint::Clock::now());
  watchers_.erase(client);
  std::erase_if(handles_, [client](const auto& h) { return h.second.client == client; });
}

Status MouseHub::transferGate(ClientId client, uint32_t handle, int& device) {
  const auto it = handles_.find(handle);
  if (it == handles_.end() || it->second.client != client) return Status::NoSuchHandle;
  device = it->second.device;
  const Device& d = devices_[std::size_t(device)];
  if (!d.present || d.generation != it->second.generation) return Status::DeviceGone;
  return Status::Ok;
}

void MouseHub::handleHid(ClientId client, const emu::Frame& frame) {
  emu::PayloadReader r(frame.payload);
  emu::PayloadWriter w;
  switch (emu::HidOp(frame.header.op)) {
    case emu::HidOp::Enumerate: {
      if (!r.atEnd()) break;
      uint8_t count = 0;
      for (const auto& d : devices_) count += d.present ? 1 : 0;
      w.u8(count);
      for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (!devices_[i].present) continue;
        emu::DeviceInfo info;
        info.index = uint8_t(i);
        info.vendorId = kVendorId;
        info.productId = kProductId;
        info.releaseNumber = kReleaseNumber;
        info.interfaceNumber = kInterfaceNumber;
        info.interfaceCount = kInterfaceCount;
        const auto desc = reportDescriptor();
        info.reportDescriptor.assign(desc.begin(), desc.end());
        emu::writeDeviceInfo(w, info);
      }
      reply(client, frame, Status::Ok, w.data());
      return;
    }
    case emu::HidOp::Open: {
      uint8_t dev = 0;
      if (!r.u8(dev) || !r.atEnd()) break;
      if (!validDevice(dev)) return reply(client, frame, Status::NoSuchDevice);
      if (!devices_[dev].present) return reply(client, frame, Status::DeviceGone);
      if (handles_.size() >= kMaxHandles) return reply(client, frame, Status::OutOfRange);
      const uint32_t id = nextHandle_++;
      handles_[id] = Handle{client, dev, devices_[dev].generation};
      w.u32(id);
      reply(client, frame, Status::Ok, w.data());
      return;
    }
    case emu::HidOp::SetFeature: {
      uint32_t handle = 0;
      std::vector<uint8_t> report;
      if (!r.u32(handle) || !r.blob16(report) || !r.atEnd()) break;
      int dev = 0;
      const Status gate = transferGate(client, handle, dev);
      if (gate == Status::NoSuchHandle) return reply(client, frame, gate);
      return reply(client, frame, setFeatureOn(dev, gate, std::move(report)));
    }
    case emu::HidOp::GetFeature: {
      uint32_t handle = 0;
      uint8_t id = 0;
      uint16_t size = 0;
      if (!r.u32(handle) || !r.u8(id) || !r.u16(size) || !r.atEnd()) break;
      int dev = 0;
      const Status gate = transferGate(client, handle, dev);
      if (gate == Status::NoSuchHandle) return reply(client, frame, gate);
      std::vector<uint8_t> answer;
      const Status s = getFeatureOn(dev, gate, id, size, answer);
      return reply(client, frame, s, s == Status::Ok ? std::span<const uint8_t>(answer)
                                                     : std::span<const uint8_t>());
    }
    case emu::HidOp::WatchDevices:
      if (!r.atEnd()) break;
      watchers_.insert(client);
      return reply(client, frame, Status::Ok);
    default:
      break;
  }
  reply(client, frame, Status::BadRequest);
}

Status MouseHub::setFeatureOn(int dev, Status gate, std::vector<uint8_t> report) {
  Device& d = devices_[std::size_t(dev)];
  Status s = gate;
  std::string why;
  if (s == Status::Ok && d.failNext > 0) {
    --d.failNext;
    s = Status::IoError;
    why = "injected failure";
  } else if (s == Status::Ok && !d.model.setFeature(report, why)) {
    s = Status::Stalled;
  } else if (s == Status::DeviceGone) {
    why = "device unplugged";
  }
  addLog(dev, emu::Direction::SetFeature, s, std::move(report), std::move(why));
  return s;
}

Status MouseHub::getFeatureOn(int dev, Status gate, uint8_t id, std::size_t size,
                              std::vector<uint8_t>& answer) {
  Device& d = devices_[std::size_t(dev)];
  Status s = gate;
  std::string why;
  answer.clear();
  if (s == Status::Ok && d.failNext > 0) {
    --d.failNext;
    s = Status::IoError;
    why = "injected failure";
  } else if (s == Status::Ok && !d.model.getFeature(id, size, answer, why)) {
    s = Status::Stalled;
  } else if (s == Status::DeviceGone) {
    why = "device unplugged";
  }
  if (s != Status::Ok) {
    // On failure the log shows what was asked for: the ID and the size.
    addLog(dev, emu::Direction::GetFeature, s, {id},
           why + " (asked " + std::to_string(size) + " bytes)");
    answer.clear();
    return s;
  }
  addLog(dev, emu::Direction::GetFeature, s, answer);
  return s;
}

bool MouseHub::present(int device) {
  Lock lock(mutex_);
  return validDevice(device) && devices_[std::size_t(device)].present;
}

void MouseHub::setKernelSide(KernelSide* side) {
  Lock lock(mutex_);
  kernel_ = side;
}

Status MouseHub::kernelGate(int device, const StillThere& stillThere) {
  if (!devices_[std::size_t(device)].present || (stillThere && !stillThere())) return Status::DeviceGone;
  return Status::Ok;
}

Status MouseHub::kernelSetFeature(int device, std::span<const uint8_t> report, const StillThere& stillThere) {
  Lock lock(mutex_);
  if (!validDevice(device)) return Status::NoSuchDevice;
  return setFeatureOn(device, kernelGate(device, stillThere), std::vector<uint8_t>(report.begin(), report.end()));
}

Status MouseHub::kernelGetFeature(int device, uint8_t reportId, std::vector<uint8_t>& answer,
                                  const StillThere& stillThere) {
  Lock lock(mutex_);
  answer.clear();
  if (!validDevice(device)) return Status::NoSuchDevice;
  return getFeatureOn(device, kernelGate(device, stillThere), reportId, featureReportSize(reportId), answer);
}

void MouseHub::handleControl(ClientId client, const emu::Frame& frame) {
  emu::PayloadReader r(frame.payload);
  emu::PayloadWriter w;
  const auto op = emu::ControlOp(frame.header.op);
  if (op == emu::ControlOp::Info) {
    if (!r.atEnd()) return reply(client, frame, Status::BadRequest);
    w.u8(uint8_t(devices_.size()));
    return reply(client, frame, Status::Ok, w.data());
  }
  if (op == emu::ControlOp::ReadLog) {
    uint64_t from = 0;
    if (!r.u64(from) || !r.atEnd()) return reply(client, frame, Status::BadRequest);
    std::vector<const emu::LogEntry*> page;
    std::size_t bytes = 4;
    for (const auto& e : log_) {
      if (e.serial < from) continue;
      const std::size_t n = emu::logEntryWireSize(e);
      if (bytes + n > emu::kMaxPayload) break;
      bytes += n;
      page.push_back(&e);
    }
    w.u32(uint32_t(page.size()));
    for (const auto* e : page) emu::writeLogEntry(w, *e);
    return reply(client, frame, Status::Ok, w.data());
  }
  if (op == emu::ControlOp::DriverLog) {
    uint64_t from = 0;
    if (!r.u64(from) || !r.atEnd()) return reply(client, frame, Status::BadRequest);
    std::vector<const DriverRequest*> page;
    std::size_t bytes = 4;
    for (const auto& e : driverLog_) {
      if (e.serial < from) continue;
      const std::size_t n = 8 + 4 + 2 + e.bytes.size();
      if (bytes + n > emu::kMaxPayload) break;
      bytes += n;
      page.push_back(&e);
    }
    w.u32(uint32_t(page.size()));
    for (const auto* e : page) w.u64(e->serial).u32(e->code).blob16(e->bytes);
    return reply(client, frame, Status::Ok, w.data());
  }
  if (op == emu::ControlOp::InputEvent || op == emu::ControlOp::InputLog ||
      op == emu::ControlOp::AwaitHooks) {
    input_.handleControl(client, frame, InputEndpoint::Clock::now());
    return;
  }
  if (op == emu::ControlOp::ClearLog) {
    if (!r.atEnd()) return reply(client, frame, Status::BadRequest);
    clearLog();
    return reply(client, frame, Status::Ok);
  }

  uint8_t dev = 0;
  if (!r.u8(dev)) return reply(client, frame, Status::BadRequest);
  if (!validDevice(dev)) return reply(client, frame, Status::NoSuchDevice);
  Status s = Status::BadRequest;
  switch (op) {
    case emu::ControlOp::Peek: {
      uint16_t a = 0;
      uint32_t n = 0;
      if (!r.u16(a) || !r.u32(n) || !r.atEnd()) break;
      std::vector<uint8_t> out;
      s = peek(dev, a, n, out);
      return reply(client, frame, s, out);
    }
    case emu::ControlOp::Poke: {
      uint16_t a = 0;
      uint32_t n = 0;
      std::vector<uint8_t> bytes;
      if (!r.u16(a) || !r.u32(n) || n > kMemorySize ||
          !r.bytes(n, bytes) || !r.atEnd())
        break;
      s = poke(dev, a, bytes);
      break;
    }
    case emu::ControlOp::Press:
    case emu::ControlOp::Dpi:
    case emu::ControlOp::Mode: {
      uint8_t v = 0;
      if (!r.u8(v) || !r.atEnd()) break;
      s = op == emu::ControlOp::Press ? press(dev, v)
          : op == emu::ControlOp::Dpi ? dpi(dev, v)
                                      : mode(dev, v);
      break;
    }
    case emu::ControlOp::RawInput: {
      std::vector<uint8_t> bytes;
      if (!r.blob16(bytes) || !r.atEnd()) break;
      s = rawInput(dev, bytes);
      break;
    }
    case emu::ControlOp::Unplug:
      if (r.atEnd()) s = unplug(dev);
      break;
    case emu::ControlOp::Plug:
      if (r.atEnd()) s = plug(dev);
      break;
    case emu::ControlOp::FailNext: {
      uint32_t n = 0;
      if (r.u32(n) && r.atEnd()) s = failNext(dev, n);
      break;
    }
    case emu::ControlOp::Reset: {
      uint8_t blank = 0;
      if (r.u8(blank) && r.atEnd() && blank <= 1) s = reset(dev, blank != 0);
      break;
    }
    case emu::ControlOp::Led: {
      if (!r.atEnd()) break;
      std::optional<std::array<uint8_t, 5>> v;
      s = led(dev, v);
      w.u8(v ? 1 : 0);
      for (uint8_t b : v.value_or(std::array<uint8_t, 5>{})) w.u8(b);
      return reply(client, frame, s, w.data());
    }
    case emu::ControlOp::Commands: {
      if (!r.atEnd()) break;
      std::vector<CommandRecord> list;
      s = commands(dev, list);
      w.u32(uint32_t(list.size()));
      for (const auto& c : list)
        w.u8(c.code).u8(c.p1).u8(c.p2).u8(c.frameP1).u8(c.frameP2).u8(c.framed ? 1 : 0);
      return reply(client, frame, s, w.data());
    }
    default:
      break;
  }
  reply(client, frame, s);
}

emu::Status MouseHub::emitInput(int device, const std::vector<std::vector<uint8_t>>& reports) {
  Device& d = devices_[std::size_t(device)];
  for (const auto& report : reports) {
    addLog(device, emu::Direction::Input, Status::Ok, report);
    if (kernel_) kernel_->inputReport(device, report);
    for (const auto& [id, h] : handles_) {
      if (h.device != device || h.generation != d.generation) continue;
      emu::PayloadWriter w;
      w.u32(id).blob16(report);
      notify(h.client, emu::HidOp::InputReport, w.data());
    }
  }
  return Status::Ok;
}

Status MouseHub::peek(int device, uint32_t address, uint32_t length, std::vector<uint8_t>& out) {
  Lock lock(mutex_);
  if (!validDevice(device)) return Status::NoSuchDevice;
  return devices_[std::size_t(device)].model.peek(address, length, out) ? Status::Ok
                                                                         : Status::OutOfRange;
}

Status MouseHub::poke(int device, uint32_t address, std::span<const uint8_t> bytes) {
  Lock lock(mutex_);
  if (!validDevice(device)) return Status::NoSuchDevice;
  return devices_[std::size_t(device)].model.poke(address, bytes) ? Status::Ok
                                                                  : Status::OutOfRange;
}

Status MouseHub::press(int device, int button, std::string* why) {
  Lock lock(mutex_);
  if (!validDevice(device)) return Status::NoSuchDevice;
  Device& d = devices_[std::size_t(device)];
  if (!d.present) return Status::DeviceGone;
  std::string reason;
  auto reports = d.model.press(button, reason);
  if (reports.empty()) {
    if (why) *why = reason;
    return Status::OutOfRange;
  }
  return emitInput(device, reports);
}

Status MouseHub::dpi(int device, int level, std::string* why) {
  Lock lock(mutex_);
  if (!validDevice(device)) return Status::NoSuchDevice;
  Device& d = devices_[std::size_t(device)];
  if (!d.present) return Status::DeviceGone;
  std::string reason;
  auto reports = d.model.dpiLevel(level, reason);
  if (reports.empty()) {
    if (why) *why = reason;
    return Status::OutOfRange;
  }
  return emitInput(device, reports);
}

Status MouseHub::mode(int device, int slot, std::string* why) {
  Lock lock(mutex_);
  if (!validDevice(device)) return Status::NoSuchDevice;
  Device& d = devices_[std::size_t(device)];
  if (!d.present) return Status::DeviceGone;
  std::string reason;
  auto reports = d.model.modeSwitch(slot, reason);
  if (reports.empty()) {
    if (why) *why = reason;
    return Status::OutOfRange;
  }
  return emitInput(device, reports);
}

Status MouseHub::rawInput(int device, std::span<const uint8_t> report) {
  Lock lock(mutex_);
  if (!validDevice(device)) return Status::NoSuchDevice;
  if (report.empty() || report.size() > kMaxInputReport) return Status::OutOfRange;
  if (!devices_[std::size_t(device)].present) return Status::DeviceGone;
  return emitInput(device, {std::vector<uint8_t>(report.begin(), report.end())});
}

Status MouseHub::unplug(int device) {
  Lock lock(mutex_);
  return doUnplug(device);
}

Status MouseHub::doUnplug(int device) {
  if (!validDevice(device)) return Status::NoSuchDevice;
  Device& d = devices_[std::size_t(device)];
  if (!d.present) return Status::Ok;
  d.present = false;
  if (kernel_) kernel_->presence(device, false);
  // Power is gone: a read request the host left pending dies with it.
  d.model.powerCycle();
  for (const auto& [id, h] : handles_) {
    if (h.device != device || h.generation != d.generation) continue;
    emu::PayloadWriter w;
    w.u32(id);
    notify(h.client, emu::HidOp::InputEnded, w.data());
  }
  for (ClientId c : watchers_) {
    const uint8_t dev = uint8_t(device);
    notify(c, emu::HidOp::DeviceRemoved, std::span(&dev, 1));
  }
  return Status::Ok;
}

Status MouseHub::plug(int device) {
  Lock lock(mutex_);
  return doPlug(device);
}

Status MouseHub::doPlug(int device) {
  if (!validDevice(device)) return Status::NoSuchDevice;
  Device& d = devices_[std::size_t(device)];
  if (d.present) return Status::Ok;
  d.present = true;
  ++d.generation;
  if (kernel_) kernel_->presence(device, true);
  for (ClientId c : watchers_) {
    const uint8_t dev = uint8_t(device);
    notify(c, emu::HidOp::DeviceArrived, std::span(&dev, 1));
  }
  return Status::Ok;
}

Status MouseHub::failNext(int device, uint32_t count) {
  Lock lock(mutex_);
  if (!validDevice(device)) return Status::NoSuchDevice;
  devices_[std::size_t(device)].failNext = count;
  return Status::Ok;
}

Status MouseHub::reset(int device, bool blank) {
  Lock lock(mutex_);
  if (!validDevice(device)) return Status::NoSuchDevice;
  devices_[std::size_t(device)].model.reset(blank);
  devices_[std::size_t(device)].failNext = 0;
  return Status::Ok;
}

std::vector<emu::LogEntry> MouseHub::log(uint64_t fromSerial) {
  Lock lock(mutex_);
  std::vector<emu::LogEntry> out;
  for (const auto& e : log_)
    if (e.serial >= fromSerial) out.push_back(e);
  return out;
}

void MouseHub::clearLog() {
  Lock lock(mutex_);
  log_.clear();
  logBytes_ = 0;
  driverLog_.clear();
  input_.clearLog();
}

uint32_t MouseHub::driverRequest(uint32_t code, std::span<const uint8_t> bytes,
                                 std::vector<uint8_t>& answer) {
  Lock lock(mutex_);
  DriverRequest e;
  e.serial = nextDriverSerial_++;
  e.code = code;
  e.bytes.assign(bytes.begin(), bytes.end());
  driverLog_.push_back(std::move(e));
  while (driverLog_.size() > kMaxDriverLog) driverLog_.pop_front();
  answer.assign(bytes.begin(), bytes.end());
  return 0;
}

std::vector<DriverRequest> MouseHub::driverLog(uint64_t fromSerial) {
  Lock lock(mutex_);
  std::vector<DriverRequest> out;
  for (const auto& e : driverLog_)
    if (e.serial >= fromSerial) out.push_back(e);
  return out;
}

Status MouseHub::led(int device, std::optional<std::array<uint8_t, 5>>& out) {
  Lock lock(mutex_);
  if (!validDevice(device)) return Status::NoSuchDevice;
  out = devices_[std::size_t(device)].model.led();
  return Status::Ok;
}

Status MouseHub::commands(int device, std::vector<CommandRecord>& out) {
  Lock lock(mutex_);
  if (!validDevice(device)) return Status::NoSuchDevice;
  out = devices_[std::size_t(device)].model.commands();
  return Status::Ok;
}

}  // namespace emulator
