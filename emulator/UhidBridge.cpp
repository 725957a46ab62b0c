#include "emulator/UhidBridge.h"

#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace emulator {

namespace {

// What the kernel is told when the mouse refuses a transfer: the stall of a
// USB control request.
constexpr uint16_t kRefused = EPIPE;

void copyName(uint8_t* dst, std::size_t room, const std::string& text) {
  std::memset(dst, 0, room);
  std::memcpy(dst, text.data(), std::min(text.size(), room - 1));
}

}  // namespace

int UhidBridge::openDevUhid(std::string& error) {
  const int fd = ::open(kDevicePath, O_RDWR | O_CLOEXEC);
  if (fd < 0) error = std::string("cannot open ") + kDevicePath + ": " + std::strerror(errno);
  return fd;
}

UhidBridge::UhidBridge(MouseHub& hub, Opener opener) : hub_(hub), opener_(std::move(opener)) {}

UhidBridge::~UhidBridge() { stop(); }

bool UhidBridge::writeEvent(int fd, const void* event, std::size_t size) {
  for (;;) {
    const ssize_t n = ::write(fd, event, size);
    if (n >= 0) return std::size_t(n) == size;
    if (errno != EINTR) return false;
  }
}

std::optional<ssize_t> UhidBridge::readEvent(int fd, uhid_event& ev) {
  pollfd p{fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, 0);
  } while (ready < 0 && errno == EINTR);
  if (ready < 0) return -1;
  if (ready == 0) return std::nullopt;
  std::memset(&ev, 0, sizeof ev);
  ssize_t n;
  do {
    n = ::read(fd, &ev, sizeof ev);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return std::nullopt;
  return n;
}

UhidBridge::Sent UhidBridge::sendTo(int device, const void* event, std::size_t size,
                                    std::optional<uint64_t> removals) {
  std::lock_guard<std::mutex> lock(channelMutex_);
  if (device < 0 || device >= int(channels_.size())) return {Sent::NoDevice};
  const Channel& c = channels_[std::size_t(device)];
  if (c.fd < 0 || !c.created || (removals && *removals != c.removals)) return {Sent::NoDevice};
  if (writeEvent(c.fd, event, size)) return {Sent::Written};
  return {Sent::Failed, errno};
}

bool UhidBridge::stillThere(int device, uint64_t removals) {
  std::lock_guard<std::mutex> lock(channelMutex_);
  const Channel& c = channels_[std::size_t(device)];
  return c.fd >= 0 && c.created && c.removals == removals;
}

bool UhidBridge::create(int device, std::string& error) {
  std::lock_guard<std::mutex> lock(channelMutex_);
  Channel& c = channels_[std::size_t(device)];
  if (c.fd < 0 || c.created) return true;
  auto ev = std::make_unique<uhid_event>();
  std::memset(ev.get(), 0, sizeof *ev);
  ev->type = UHID_CREATE2;
  auto& req = ev->u.create2;
  copyName(req.name, sizeof req.name, std::string(kDeviceName) + " " + std::to_string(device));
  copyName(req.phys, sizeof req.phys, "mouse-emulator/" + std::to_string(device));
  const auto desc = reportDescriptor();
  static_assert(HID_MAX_DESCRIPTOR_SIZE >= 256);
  if (desc.size() > sizeof req.rd_data) {
    error = "report descriptor too large for the kernel";
    return false;
  }
  req.rd_size = uint16_t(desc.size());
  std::copy(desc.begin(), desc.end(), req.rd_data);
  req.bus = BUS_USB;
  req.vendor = kVendorId;
  req.product = kProductId;
  req.version = kReleaseNumber;
  req.country = 0;
  if (!writeEvent(c.fd, ev.get(), sizeof *ev)) {
    error = "cannot create the kernel HID device of mouse " + std::to_string(device) + ": " +
            std::strerror(errno);
    return false;
  }
  c.created = true;
  return true;
}

bool UhidBridge::destroy(int device, std::string& error) {
  std::lock_guard<std::mutex> lock(channelMutex_);
  Channel& c = channels_[std::size_t(device)];
  if (c.fd < 0 || !c.created) return true;
  uhid_event ev;
  std::memset(&ev, 0, sizeof ev);
  ev.type = UHID_DESTROY;
  c.created = false;
  ++c.removals;
  const bool written = writeEvent(c.fd, &ev, sizeof ev);
  if (!written)
    error = "cannot remove the kernel HID device of mouse " + std::to_string(device) + ": " + std::strerror(errno);
  // What the kernel queued until now was for the removed device, which
  // failed those requests as it went; the next device must not see them
  // served. The kernel's queue is short; a peer that writes without end is
  // not the kernel, and the rest of its events are taken as they come.
  auto drained = std::make_unique<uhid_event>();
  for (int i = 0; i < 256; ++i) {
    const auto n = readEvent(c.fd, *drained);
    if (!n || *n <= 0) break;
  }
  return written;
}

bool UhidBridge::start(std::string& error) {
  if (thread_.joinable()) {
    error = "already serving";
    return false;
  }
  const int n = hub_.deviceCount();
  channels_.assign(std::size_t(n), Channel{});
  auto undo = [&] {
    for (auto& c : channels_)
      if (c.fd >= 0) ::close(c.fd);
    channels_.clear();
    if (wakeFd_ >= 0) ::close(wakeFd_);
    wakeFd_ = -1;
  };
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    error = std::string("eventfd: ") + std::strerror(errno);
    undo();
    return false;
  }
  for (int i = 0; i < n; ++i) {
    const int fd = opener_(error);
    if (fd < 0) {
      undo();
      return false;
    }
    channels_[std::size_t(i)].fd = fd;
  }
  // From here on plug changes and input reports come to us; a plug change
  // before a device's first creation finds it already in the state it asks
  // for.
  hub_.setKernelSide(this);
  for (int i = 0; i < n; ++i) {
    if (hub_.present(i) && !create(i, error)) {
      hub_.setKernelSide(nullptr);
      undo();
      return false;
    }
  }
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void UhidBridge::stop() {
  hub_.setKernelSide(nullptr);
  if (thread_.joinable()) {
    stopping_ = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
  }
  for (int i = 0; i < int(channels_.size()); ++i) {
    std::string error;
    if (!destroy(i, error)) std::fprintf(stderr, "mouse-emulator: %s\n", error.c_str());
    if (channels_[std::size_t(i)].fd >= 0) ::close(channels_[std::size_t(i)].fd);
  }
  channels_.clear();
  if (wakeFd_ >= 0) ::close(wakeFd_);
  wakeFd_ = -1;
}

void UhidBridge::inputReport(int device, std::span<const uint8_t> report) {
  if (report.empty() || report.size() > UHID_DATA_MAX) return;
  auto ev = std::make_unique<uhid_event>();
  std::memset(ev.get(), 0, sizeof *ev);
  ev->type = UHID_INPUT2;
  ev->u.input2.size = uint16_t(report.size());
  std::copy(report.begin(), report.end(), ev->u.input2.data);
  // A mouse whose kernel device is gone sends nothing.
  const Sent sent = sendTo(device, ev.get(), sizeof *ev);
  if (sent.outcome == Sent::Failed)
    std::fprintf(stderr, "mouse-emulator: input report to the kernel failed: %s\n", std::strerror(sent.error));
}

void UhidBridge::presence(int device, bool present) {
  if (device < 0 || device >= int(channels_.size())) return;
  std::string error;
  if (!(present ? create(device, error) : destroy(device, error)))
    std::fprintf(stderr, "mouse-emulator: %s\n", error.c_str());
}

bool UhidBridge::serve(int device) {
  auto ev = std::make_unique<uhid_event>();
  ssize_t n = 0;
  int readErrno = 0;
  uint64_t removals = 0;
  bool forCreated = false;
  {
    // Read under the lock, so that a removal's clearing of the queue and
    // this read do not cross.
    std::lock_guard<std::mutex> lock(channelMutex_);
    const Channel& c = channels_[std::size_t(device)];
    if (c.fd < 0) return false;
    const auto got = readEvent(c.fd, *ev);
    if (!got) return true;  // taken by a removal meanwhile
    n = *got;
    readErrno = errno;
    removals = c.removals;
    forCreated = c.created;
  }
  if (n < ssize_t(sizeof ev->type)) {
    std::fprintf(stderr, "mouse-emulator: kernel channel of mouse %d closed: %s\n", device,
                 n < 0 ? std::strerror(readErrno) : "end of file");
    return false;
  }
  // Only the kernel's own notices come while no device is there; a request
  // then belongs to none and gets no answer.
  if (!forCreated) return true;
  const auto current = [this, device, removals] { return stillThere(device, removals); };
  // Whatever the read left short stays zero, so a short event is seen as
  // an empty request of its type.
  switch (ev->type) {
    case UHID_GET_REPORT: {
      const uhid_get_report_req req = ev->u.get_report;
      std::vector<uint8_t> answer;
      const emu::Status s = req.rtype == UHID_FEATURE_REPORT
                                ? hub_.kernelGetFeature(device, req.rnum, answer, current)
                                : emu::Status::BadRequest;
      auto reply = std::make_unique<uhid_event>();
      std::memset(reply.get(), 0, sizeof *reply);
      reply->type = UHID_GET_REPORT_REPLY;
      reply->u.get_report_reply.id = req.id;
      if (s == emu::Status::Ok && answer.size() <= UHID_DATA_MAX) {
        reply->u.get_report_reply.size = uint16_t(answer.size());
        std::copy(answer.begin(), answer.end(), reply->u.get_report_reply.data);
      } else {
        reply->u.get_report_reply.err = kRefused;
      }
      const Sent sent = sendTo(device, reply.get(), sizeof *reply, removals);
      if (sent.outcome == Sent::Failed)
        std::fprintf(stderr, "mouse-emulator: get-report reply failed: %s\n", std::strerror(sent.error));
      return true;
    }
    case UHID_SET_REPORT: {
      const auto& req = ev->u.set_report;
      const std::size_t size = std::min<std::size_t>(req.size, UHID_DATA_MAX);
      const emu::Status s = req.rtype == UHID_FEATURE_REPORT && size > 0
                                ? hub_.kernelSetFeature(device, std::span<const uint8_t>(req.data, size), current)
                                : emu::Status::BadRequest;
      uhid_event reply;
      std::memset(&reply, 0, sizeof reply);
      reply.type = UHID_SET_REPORT_REPLY;
      reply.u.set_report_reply.id = req.id;
      reply.u.set_report_reply.err = s == emu::Status::Ok ? 0 : kRefused;
      const Sent sent = sendTo(device, &reply, sizeof reply, removals);
      if (sent.outcome == Sent::Failed)
        std::fprintf(stderr, "mouse-emulator: set-report reply failed: %s\n", std::strerror(sent.error));
      return true;
    }
    // Start, stop, open and close need nothing of the mouse; it has no
    // output reports.
    default:
      return true;
  }
}

void UhidBridge::run() {
  std::vector<pollfd> fds;
  while (!stopping_) {
    fds.clear();
    fds.push_back({wakeFd_, POLLIN, 0});
    for (const auto& c : channels_) fds.push_back({c.fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "mouse-emulator: poll: %s\n", std::strerror(errno));
      return;
    }
    if (fds[0].revents) continue;  // only stop() wakes us
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      if ((fds[i].revents & POLLIN) ? !serve(int(i - 1)) : true) {
        // A dead channel is left out of the poll from now on.
        std::lock_guard<std::mutex> lock(channelMutex_);
        Channel& c = channels_[i - 1];
        ::close(c.fd);
        c.fd = -1;
        c.created = false;
      }
    }
  }
}

}  // namespace emulator
