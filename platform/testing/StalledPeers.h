#pragma once
// Other processes' connections that start a frame and never finish it: each
// connects to a Unix socket, writes the given first bytes and then stays
// silent, holding the connection open until the object ends. Connecting
// waits at most a few seconds for room in the listener's backlog.

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace platform_test {

class StalledPeers {
 public:
  StalledPeers(const std::string& socketPath, int count, std::span<const std::uint8_t> firstBytes) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof addr.sun_path) return;
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size());
    for (int i = 0; i < count; ++i) {
      const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (fd < 0) break;
      const timeval bound{5, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
      if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        continue;
      }
      ++connected_;
      // A receiver that refuses the connection at once makes this fail; the
      // connection still counts as made.
      [[maybe_unused]] ssize_t n = ::send(fd, firstBytes.data(), firstBytes.size(), MSG_NOSIGNAL);
      fds_.push_back(fd);
    }
  }
  ~StalledPeers() {
    for (int fd : fds_) ::close(fd);
  }
  StalledPeers(const StalledPeers&) = delete;
  StalledPeers& operator=(const StalledPeers&) = delete;

  int connected() const { return connected_; }

 private:
  std::vector<int> fds_;
  int connected_ = 0;
};

}  // namespace platform_test
