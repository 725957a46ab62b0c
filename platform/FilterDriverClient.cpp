#include "platform/FilterDriverClient.h"

#include "platform/FilterDriverProtocol.h"
#include "platform/IniFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <span>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

int msLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}
}  // namespace

FilterDriverClient::FilterDriverClient(std::string_view deviceName, std::string dir) {
  if (dir.empty()) dir = driverSocketDir();
  path_ = driverSocketPath(deviceName, dir);
}

std::string FilterDriverClient::deviceNameFromConfig(const QString& iniPath) {
  IniFile ini;
  ini.load(iniPath);  // missing or unreadable: the default below
  return ini.readString(QStringLiteral("DEVICE"), QStringLiteral("DeviceName"),
                        QString::fromUtf8(kDefaultDriverDeviceName.data(),
                                          static_cast<qsizetype>(kDefaultDriverDeviceName.size())))
      .toStdString();
}

std::uint32_t FilterDriverClient::deviceRW(void* buffer, std::size_t count, std::uint32_t ioControlCode) {
  if (count > kDriverMaxPayload || (count > 0 && !buffer)) return kStatusInvalidParameter;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path_.size() >= sizeof addr.sun_path) return kStatusNotReady;
  std::memcpy(addr.sun_path, path_.data(), path_.size());

  const auto deadline = std::chrono::steady_clock::now() + timeout_;
  Fd s{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
  if (s.fd < 0) return kStatusNotReady;
  if (::connect(s.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return kStatusNotReady;

  auto* bytes = static_cast<std::uint8_t*>(buffer);
  const std::vector<std::uint8_t> request =
      encodeDriverFrame(DriverFrameKind::Request, ioControlCode, std::span<const std::uint8_t>(bytes, count));
  std::size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t n = ::send(s.fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd p{s.fd, POLLOUT, 0};
      if (::poll(&p, 1, msLeft(deadline)) <= 0) return kStatusTimeout;
      continue;
    }
    return kStatusNotReady;  // the driver went away mid-request
  }

  std::vector<std::uint8_t> in;
  in.reserve(kDriverHeaderSize + count);
  std::uint8_t chunk[1024];
  for (;;) {
    DriverFrame reply;
    std::size_t used = 0;
    const DriverParse parsed = parseDriverFrame(in, reply, used);
    if (parsed == DriverParse::Bad) return kStatusInvalidData;
    if (parsed == DriverParse::Complete) {
      if (reply.kind != DriverFrameKind::Reply) return kStatusInvalidData;
      // The answer goes back over the caller's buffer, as METHOD_BUFFERED
      // does, but never past its end.
      const std::size_t n = std::min(count, reply.payload.size());
      if (n > 0) std::memcpy(bytes, reply.payload.data(), n);
      return reply.value;
    }
    pollfd p{s.fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, msLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return kStatusTimeout;
    const ssize_t n = ::recv(s.fd, chunk, sizeof chunk, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return kStatusInvalidData;  // closed before a whole reply
    in.insert(in.end(), chunk, chunk + n);
  }
}

}  // namespace platform
