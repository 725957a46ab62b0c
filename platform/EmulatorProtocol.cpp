#include "platform/EmulatorProtocol.h"

#include "platform/RuntimeDir.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform::emu {

const char* statusText(Status status) {
  switch (status) {
    case Status::Ok: return "ok";
    case Status::BadRequest: return "malformed request";
    case Status::NoSuchDevice: return "no such mouse";
    case Status::DeviceGone: return "mouse unplugged";
    case Status::Stalled: return "mouse refused the report";
    case Status::IoError: return "transfer failed (injected)";
    case Status::OutOfRange: return "address, length or value out of range";
    case Status::VersionMismatch: return "protocol version mismatch";
    case Status::NoSuchHandle: return "handle not open";
  }
  return "unknown status";
}

namespace {

void put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

}  // namespace

void encodeFrame(const FrameHeader& header, std::span<const uint8_t> payload,
                 std::vector<uint8_t>& out) {
  const std::size_t n = std::min<std::size_t>(payload.size(), kMaxPayload);
  uint8_t h[kHeaderSize];
  put16(h, header.magic);
  h[2] = header.version;
  h[3] = uint8_t(header.kind);
  h[4] = header.endpoint;
  h[5] = header.op;
  put16(h + 6, header.status);
  put32(h + 8, header.seq);
  put32(h + 12, uint32_t(n));
  out.insert(out.end(), h, h + kHeaderSize);
  out.insert(out.end(), payload.begin(), payload.begin() + std::ptrdiff_t(n));
}

std::vector<uint8_t> encodeFrame(Kind kind, uint8_t endpoint, uint8_t op, uint16_t status,
                                 uint32_t seq, std::span<const uint8_t> payload) {
  FrameHeader h;
  h.kind = kind;
  h.endpoint = endpoint;
  h.op = op;
  h.status = status;
  h.seq = seq;
  std::vector<uint8_t> out;
  out.reserve(kHeaderSize + payload.size());
  encodeFrame(h, payload, out);
  return out;
}

// ---------------------------------------------------------------- decoder

bool FrameDecoder::checkHeader() {
  const uint8_t* b = headerBytes_;
  header_.magic = get16(b);
  header_.version = b[2];
  header_.kind = Kind(b[3]);
  header_.endpoint = b[4];
  header_.op = b[5];
  header_.status = get16(b + 6);
  header_.seq = get32(b + 8);
  header_.length = get32(b + 12);
  if (header_.magic != kMagic) {
    error_ = "bad frame magic";
    return false;
  }
  if (b[3] < uint8_t(Kind::Request) || b[3] > uint8_t(Kind::Notification)) {
    error_ = "unknown frame kind " + std::to_string(b[3]);
    return false;
  }
  if (header_.length > kMaxPayload) {
    error_ = "frame payload of " + std::to_string(header_.length) + " bytes exceeds the limit";
    return false;
  }
  return true;
}

std::size_t FrameDecoder::feed(std::span<const uint8_t> data) {
  if (failed()) return data.size();
  std::size_t used = 0;
  if (!haveHeader_) {
    const std::size_t take = std::min(kHeaderSize - headerFill_, data.size());
    std::memcpy(headerBytes_ + headerFill_, data.data(), take);
    headerFill_ += take;
    used += take;
    if (headerFill_ < kHeaderSize) return used;
    if (!checkHeader()) return data.size();
    haveHeader_ = true;
    payload_.clear();
    payload_.reserve(header_.length);
  }
  const std::size_t want = header_.length - payload_.size();
  const std::size_t take = std::min(want, data.size() - used);
  payload_.insert(payload_.end(), data.begin() + std::ptrdiff_t(used),
                  data.begin() + std::ptrdiff_t(used + take));
  return used + take;
}

FrameDecoder::Result FrameDecoder::next(Frame& out) {
  if (failed()) return Result::Error;
  if (!haveHeader_ || payload_.size() < header_.length) return Result::NeedMore;
  out.header = header_;
  out.payload = std::move(payload_);
  payload_ = {};
  haveHeader_ = false;
  headerFill_ = 0;
  return Result::Frame;
}

// ---------------------------------------------------------------- payloads

PayloadWriter& PayloadWriter::u8(uint8_t v) {
  data_.push_back(v);
  return *this;
}
PayloadWriter& PayloadWriter::u16(uint16_t v) {
  data_.push_back(uint8_t(v));
  data_.push_back(uint8_t(v >> 8));
  return *this;
}
PayloadWriter& PayloadWriter::u32(uint32_t v) {
  for (int i = 0; i < 4; ++i) data_.push_back(uint8_t(v >> (8 * i)));
  return *this;
}
PayloadWriter& PayloadWriter::u64(uint64_t v) {
  for (int i = 0; i < 8; ++i) data_.push_back(uint8_t(v >> (8 * i)));
  return *this;
}
PayloadWriter& PayloadWriter::bytes(std::span<const uint8_t> v) {
  data_.insert(data_.end(), v.begin(), v.end());
  return *this;
}
PayloadWriter& PayloadWriter::blob16(std::span<const uint8_t> v) {
  const std::size_t n = std::min<std::size_t>(v.size(), 0xFFFF);
  u16(uint16_t(n));
  return bytes(v.first(n));
}

bool PayloadReader::u8(uint8_t& v) {
  if (!ok_ || data_.size() - pos_ < 1) return ok_ = false;
  v = data_[pos_++];
  return true;
}
bool PayloadReader::u16(uint16_t& v) {
  if (!ok_ || data_.size() - pos_ < 2) return ok_ = false;
  v = get16(data_.data() + pos_);
  pos_ += 2;
  return true;
}
bool PayloadReader::u32(uint32_t& v) {
  if (!ok_ || data_.size() - pos_ < 4) return ok_ = false;
  v = get32(data_.data() + pos_);
  pos_ += 4;
  return true;
}
bool PayloadReader::u64(uint64_t& v) {
  if (!ok_ || data_.size() - pos_ < 8) return ok_ = false;
  v = uint64_t(get32(data_.data() + pos_)) | (uint64_t(get32(data_.data() + pos_ + 4)) << 32);
  pos_ += 8;
  return true;
}
bool PayloadReader::bytes(std::size_t n, std::vector<uint8_t>& v) {
  if (!ok_ || data_.size() - pos_ < n) return ok_ = false;
  v.assign(data_.begin() + std::ptrdiff_t(pos_), data_.begin() + std::ptrdiff_t(pos_ + n));
  pos_ += n;
  return true;
}
bool PayloadReader::blob16(std::vector<uint8_t>& v) {
  uint16_t n = 0;
  return u16(n) && bytes(n, v);
}

void writeDeviceInfo(PayloadWriter& w, const DeviceInfo& info) {
  w.u8(info.index).u16(info.vendorId).u16(info.productId).u16(info.releaseNumber);
  w.u8(info.interfaceNumber).u8(info.interfaceCount);
  const auto n = std::min(info.reportDescriptor.size(), kMaxDescriptorSize);
  w.blob16(std::span(info.reportDescriptor).first(n));
}

bool readDeviceInfo(PayloadReader& r, DeviceInfo& info) {
  if (!(r.u8(info.index) && r.u16(info.vendorId) && r.u16(info.productId) &&
        r.u16(info.releaseNumber) && r.u8(info.interfaceNumber) && r.u8(info.interfaceCount) &&
        r.blob16(info.reportDescriptor)))
    return false;
  return info.reportDescriptor.size() <= kMaxDescriptorSize && info.index < kMaxDevices &&
         info.interfaceCount >= 1 && info.interfaceNumber < info.interfaceCount;
}

void writeLogEntry(PayloadWriter& w, const LogEntry& e) {
  w.u64(e.serial).u8(e.device).u8(uint8_t(e.direction)).u16(uint16_t(e.status));
  w.blob16(e.bytes);
  const auto n = std::min(e.note.size(), kMaxNoteSize);
  w.u16(uint16_t(n));
  w.bytes(std::span(reinterpret_cast<const uint8_t*>(e.note.data()), n));
  w.u64(e.timeUs);
}

bool readLogEntry(PayloadReader& r, LogEntry& e) {
  uint8_t dir = 0;
  uint16_t status = 0;
  std::vector<uint8_t> note;
  if (!(r.u64(e.serial) && r.u8(e.device) && r.u8(dir) && r.u16(status) && r.blob16(e.bytes) &&
        r.blob16(note) && r.u64(e.timeUs)))
    return false;
  if (dir < uint8_t(Direction::SetFeature) || dir > uint8_t(Direction::Input) ||
      note.size() > kMaxNoteSize)
    return false;
  e.direction = Direction(dir);
  e.status = Status(status);
  e.note.assign(note.begin(), note.end());
  return true;
}

std::size_t logEntryWireSize(const LogEntry& e) {
  return 8 + 1 + 1 + 2 + 2 + std::min<std::size_t>(e.bytes.size(), 0xFFFF) + 2 +
         std::min(e.note.size(), kMaxNoteSize) + 8;
}

void writeInputEvent(PayloadWriter& w, const InputEvent& e) {
  const uint8_t flags = uint8_t((e.down ? 1 : 0) | (e.injected ? 2 : 0) | (e.extended ? 4 : 0));
  w.u8(uint8_t(e.kind)).u8(flags).u16(e.code).u16(uint16_t(e.delta)).u32(e.time);
}

bool readInputEvent(PayloadReader& r, InputEvent& e) {
  uint8_t kind = 0, flags = 0;
  uint16_t code = 0, delta = 0;
  uint32_t time = 0;
  if (!(r.u8(kind) && r.u8(flags) && r.u16(code) && r.u16(delta) && r.u32(time))) return false;
  if (flags & ~0x07u) return false;
  e.kind = InputKind(kind);
  e.down = (flags & 1) != 0;
  e.injected = (flags & 2) != 0;
  e.extended = (flags & 4) != 0;
  e.code = code;
  e.delta = int16_t(delta);
  e.time = time;
  switch (e.kind) {
    case InputKind::Key: return code >= 1 && code <= 254 && delta == 0;
    case InputKind::Button: return code >= 1 && code <= 5 && delta == 0 && !e.extended;
    case InputKind::Wheel: return code == 0 && e.delta != 0 && !e.extended;
  }
  return false;
}

std::string formatInputEvent(const InputEvent& e) {
  char buf[96];
  switch (e.kind) {
    case InputKind::Key:
      std::snprintf(buf, sizeof buf, "key 0x%02X %s", unsigned(e.code), e.down ? "down" : "up");
      break;
    case InputKind::Button:
      std::snprintf(buf, sizeof buf, "button %u %s", unsigned(e.code), e.down ? "down" : "up");
      break;
    case InputKind::Wheel: std::snprintf(buf, sizeof buf, "wheel %+d", int(e.delta)); break;
    default: std::snprintf(buf, sizeof buf, "unknown"); break;
  }
  std::string out = buf;
  out += " t=" + std::to_string(e.time);
  if (e.extended) out += " extended";
  if (e.injected) out += " injected";
  return out;
}

std::string defaultSocketPath() {
  if (const char* env = std::getenv("MOUSE_EMULATOR"); env && *env) return env;
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg)
    return std::string(xdg) + "/mouse-emulator.sock";
  const std::string dir = platform::runtimeDir();
  return dir.empty() ? std::string() : dir + "/mouse-emulator.sock";
}

// ---------------------------------------------------------------- client

namespace {
using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return int(std::max<int64_t>(0, left.count()));
}
}  // namespace

std::unique_ptr<Connection> Connection::connect(const std::string& socketPath, std::string& error) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socketPath.empty() || socketPath.size() >= sizeof(addr.sun_path)) {
    error = "socket path \"" + socketPath + "\" is empty or too long";
    return nullptr;
  }
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return nullptr;
  }
  // A local connect completes or fails at once; only then go non-blocking.
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
    error = "cannot connect to the emulated mouse at " + socketPath + ": " + std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  return std::unique_ptr<Connection>(new Connection(fd));
}

Connection::~Connection() { closeFd(); }

void Connection::closeFd() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool Connection::sendAll(const std::vector<uint8_t>& bytes, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += std::size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd_, POLLOUT, 0};
      const int left = remainingMs(deadline);
      if (left == 0 || ::poll(&p, 1, left) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

void Connection::queue(Frame&& frame) {
  if (frame.header.kind == Kind::Reply) {
    replies_.push_back(std::move(frame));
    return;
  }
  notifications_.push_back(std::move(frame));
  while (notifications_.size() > kMaxQueued) notifications_.pop_front();
}

bool Connection::readSome() {
  uint8_t buf[16384];
  const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
  if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return true;
  if (n <= 0) return false;
  std::span<const uint8_t> rest(buf, std::size_t(n));
  while (!rest.empty()) {
    rest = rest.subspan(decoder_.feed(rest));
    Frame f;
    FrameDecoder::Result r;
    while ((r = decoder_.next(f)) == FrameDecoder::Result::Frame) queue(std::move(f));
    if (r == FrameDecoder::Result::Error) return false;
  }
  return true;
}

bool Connection::pump() {
  if (fd_ < 0) return false;
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return true;
    if (!readSome()) {
      closeFd();
      return false;
    }
  }
}

bool Connection::sendReply(const FrameHeader& request, Status status,
                           std::span<const uint8_t> payload) {
  if (fd_ < 0) return false;
  if (!sendAll(encodeFrame(Kind::Reply, request.endpoint, request.op, uint16_t(status), request.seq,
                           payload),
               kDefaultTimeoutMs)) {
    closeFd();
    return false;
  }
  return true;
}

bool Connection::takeNotification(Frame& out) {
  if (notifications_.empty()) return false;
  out = std::move(notifications_.front());
  notifications_.pop_front();
  return true;
}

bool Connection::call(Endpoint endpoint, uint8_t op, std::span<const uint8_t> payload,
                      Reply& reply, std::string& error, int timeoutMs) {
  if (fd_ < 0) {
    error = "connection to the emulated mouse is closed";
    return false;
  }
  if (payload.size() > kMaxPayload) {
    error = "request too large";
    return false;
  }
  timedOut_ = false;
  const uint32_t seq = nextSeq_++;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  if (!sendAll(encodeFrame(Kind::Request, uint8_t(endpoint), op, 0, seq, payload), timeoutMs)) {
    error = "cannot send to the emulated mouse";
    closeFd();
    return false;
  }
  for (;;) {
    for (auto it = replies_.begin(); it != replies_.end(); ++it) {
      if (it->header.seq != seq) continue;
      reply.status = Status(it->header.status);
      reply.payload = std::move(it->payload);
      replies_.erase(it);
      return true;
    }
    // Replies to requests we no longer wait for (timed out earlier) are dropped.
    replies_.clear();
    pollfd p{fd_, POLLIN, 0};
    const int left = remainingMs(deadline);
    const int r = left == 0 ? 0 : ::poll(&p, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0) {
      error = "the emulated mouse did not answer in time";
      timedOut_ = true;
      closeFd();
      return false;
    }
    if (r < 0 || !readSome()) {
      error = decoder_.failed() ? "garbled answer from the emulated mouse: " + decoder_.error()
                                : "the emulated mouse closed the connection";
      closeFd();
      return false;
    }
  }
}

Connection::Wait Connection::nextNotification(Frame& out, int timeoutMs, int wakeFd) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    if (takeNotification(out)) return Wait::Frame;
    if (fd_ < 0) return Wait::Closed;
    pollfd p[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int wait = timeoutMs < 0 ? -1 : remainingMs(deadline);
    if (timeoutMs >= 0 && wait == 0) {
      // One last look without blocking before giving up.
      if (!pump()) return notifications_.empty() ? Wait::Closed : Wait::Frame;
      if (takeNotification(out)) return Wait::Frame;
      return Wait::Timeout;
    }
    const int r = ::poll(p, wakeFd >= 0 ? 2 : 1, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return Wait::Closed;
    if (r == 0) continue;
    if (wakeFd >= 0 && (p[1].revents & POLLIN)) return Wait::Woken;
    if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      if (!readSome()) {
        closeFd();
        if (takeNotification(out)) return Wait::Frame;
        return Wait::Closed;
      }
    }
  }
}

}  // namespace platform::emu
