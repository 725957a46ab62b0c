#include "emulator/EmulatorServer.h"

#include "platform/FilterDriverProtocol.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace emulator {

namespace {

// Takes <path>.lock, removes a stale socket, binds and listens with mode
// 0600. Returns the listening descriptor, or -1 with the reason.
int listenLocked(const std::string& path, int& lockFd, std::string& error) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(addr.sun_path)) {
    error = "socket path \"" + path + "\" is empty or longer than " +
            std::to_string(sizeof(addr.sun_path) - 1) + " bytes";
    return -1;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const std::string lockPath = path + ".lock";
  lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd < 0) {
    error = "cannot open " + lockPath + ": " + std::strerror(errno);
    return -1;
  }
  if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
    error = "another mouse-emulator already serves " + path;
    ::close(lockFd);
    lockFd = -1;
    return -1;
  }
  // We hold the lock: whatever socket is there was left by a dead server.
  ::unlink(path.c_str());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  // The socket carries commands that rewrite the mouse: owner only, from
  // the moment it exists.
  const mode_t old = ::umask(0177);
  const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
  const int bindErrno = errno;
  ::umask(old);
  if (bound != 0) {
    error = "cannot bind " + path + ": " + std::strerror(bindErrno);
    ::close(fd);
    return -1;
  }
  ::chmod(path.c_str(), 0600);
  // A long queue of new connections: clients seldom wait for room in it even
  // while another process floods the socket.
  if (::listen(fd, SOMAXCONN) != 0) {
    error = std::string("listen: ") + std::strerror(errno);
    ::close(fd);
    ::unlink(path.c_str());
    return -1;
  }
  return fd;
}

}  // namespace

EmulatorServer::EmulatorServer(HubOptions options)
    : hub_(options, [this](MouseHub::ClientId id, std::vector<uint8_t>&& bytes) {
        sink(id, std::move(bytes));
      }) {}

EmulatorServer::~EmulatorServer() { stop(); }

bool EmulatorServer::start(const std::string& socketPath, std::string& error) {
  if (thread_.joinable()) {
    error = "already serving";
    return false;
  }
  listenFd_ = listenLocked(socketPath, lockFd_, error);
  if (listenFd_ < 0) {
    stop();
    return false;
  }
  path_ = socketPath;
  complaints_.setSubject("mouse-emulator " + path_);
  driverComplaints_.setSubject("mouse-emulator " + driverPath_);
  if (!driverPath_.empty()) {
    driverListenFd_ = listenLocked(driverPath_, driverLockFd_, error);
    if (driverListenFd_ < 0) {
      error = "filter driver: " + error;
      stop();
      return false;
    }
    driverBound_ = true;
  }
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    error = std::string("eventfd: ") + std::strerror(errno);
    stop();
    return false;
  }
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void EmulatorServer::stop() {
  if (thread_.joinable()) {
    stopping_ = true;
    wake();
    thread_.join();
  }
  std::vector<MouseHub::ClientId> ids;
  for (const auto& [id, c] : clients_) ids.push_back(id);
  for (auto id : ids) dropClient(id);
  if (listenFd_ >= 0) ::close(listenFd_);
  listenFd_ = -1;
  if (wakeFd_ >= 0) ::close(wakeFd_);
  wakeFd_ = -1;
  while (!driverClients_.empty()) dropDriverClient(driverClients_.begin()->first);
  if (driverListenFd_ >= 0) ::close(driverListenFd_);
  driverListenFd_ = -1;
  if (!path_.empty()) ::unlink(path_.c_str());
  path_.clear();
  if (driverBound_) ::unlink(driverPath_.c_str());
  driverBound_ = false;
  // The lock files stay: removing one would let two starters lock two files.
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = -1;
  if (driverLockFd_ >= 0) ::close(driverLockFd_);
  driverLockFd_ = -1;
}

void EmulatorServer::wake() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void EmulatorServer::sink(MouseHub::ClientId id, std::vector<uint8_t>&& bytes) {
  {
    std::lock_guard lock(outMutex_);
    const auto it = clients_.find(id);
    if (it == clients_.end() || it->second->closing) return;
    Client& c = *it->second;
    if (c.out.size() + bytes.size() > kMaxPendingOut) {
      c.closing = true;
      c.out.clear();
    } else {
      c.out.insert(c.out.end(), bytes.begin(), bytes.end());
    }
  }
  wake();
}

void EmulatorServer::acceptClients() {
  for (;;) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    if (!guard_.makeRoom([this](uint64_t id) { readAgain(id); }, [this](uint64_t id) { dropClient(id); })) {
      ::close(fd);
      continue;
    }
    auto c = std::make_unique<Client>();
    c->fd = fd;
    const MouseHub::ClientId id = nextClient_++;
    guard_.add(id, false);
    std::lock_guard lock(outMutex_);
    clients_[id] = std::move(c);
  }
}

void EmulatorServer::readAgain(MouseHub::ClientId id) {
  Client* c = nullptr;
  {
    std::lock_guard lock(outMutex_);
    const auto it = clients_.find(id);
    if (it != clients_.end()) c = it->second.get();
  }
  if (c && !readClient(id, *c)) dropClient(id);
}

bool EmulatorServer::readClient(MouseHub::ClientId id, Client& c) {
  uint8_t buf[16384];
  bool completed = false;
  for (;;) {
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) {
      if (c.decoder.midFrame()) complaints_.dropped("a frame cut off by its sender");
      return false;
    }
    std::span<const uint8_t> rest(buf, std::size_t(n));
    while (!rest.empty()) {
      rest = rest.subspan(c.decoder.feed(rest));
      emu::Frame f;
      emu::FrameDecoder::Result r;
      while ((r = c.decoder.next(f)) == emu::FrameDecoder::Result::Frame) {
        completed = true;
        hub_.handle(id, f);
      }
      if (r == emu::FrameDecoder::Result::Error) {
        complaints_.dropped("a malformed frame (" + c.decoder.error() + ")");
        return false;
      }
    }
  }
  guard_.received(id, completed, c.decoder.midFrame());
  return true;
}

bool EmulatorServer::writeClient(Client& c) {
  std::lock_guard lock(outMutex_);
  if (c.closing) return false;
  std::size_t done = 0;
  while (done < c.out.size()) {
    const ssize_t n = ::send(c.fd, c.out.data() + done, c.out.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += std::size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return false;
  }
  c.out.erase(c.out.begin(), c.out.begin() + std::ptrdiff_t(done));
  return true;
}

void EmulatorServer::dropClient(MouseHub::ClientId id) {
  int fd = -1;
  {
    std::lock_guard lock(outMutex_);
    const auto it = clients_.find(id);
    if (it == clients_.end()) return;
    fd = it->second->fd;
    clients_.erase(it);
  }
  guard_.remove(id);
  ::close(fd);
  hub_.disconnected(id);
}

void EmulatorServer::acceptDriverClients() {
  for (;;) {
    const int fd = ::accept4(driverListenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    if (!driverGuard_.makeRoom([this](uint64_t key) { readDriverAgain(key); },
                               [this](uint64_t key) { dropDriverClient(key); })) {
      ::close(fd);
      continue;
    }
    const uint64_t key = nextDriverClient_++;
    DriverClient c;
    c.fd = fd;
    driverClients_.emplace(key, std::move(c));
    driverGuard_.add(key, true);
  }
}

void EmulatorServer::readDriverAgain(uint64_t key) {
  const auto it = driverClients_.find(key);
  if (it != driverClients_.end() && !serveDriverClient(key, it->second, POLLIN)) dropDriverClient(key);
}

void EmulatorServer::dropDriverClient(uint64_t key) {
  const auto it = driverClients_.find(key);
  if (it == driverClients_.end()) return;
  ::close(it->second.fd);
  driverClients_.erase(it);
  driverGuard_.remove(key);
}

bool EmulatorServer::serveDriverClient(uint64_t key, DriverClient& c, short revents) {
  if (!c.answered) {
    if (!(revents & (POLLIN | POLLHUP | POLLERR))) return true;
    uint8_t buf[4096];
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n <= 0) {
      if (!c.in.empty()) driverComplaints_.dropped("a request cut off by its sender");
      return false;
    }
    // One request per connection; never more than one frame is buffered.
    if (c.in.size() + std::size_t(n) > platform::kDriverHeaderSize + platform::kDriverMaxPayload) {
      driverComplaints_.dropped("a request above the size limit");
      return false;
    }
    c.in.insert(c.in.end(), buf, buf + n);
    platform::DriverFrame frame;
    std::size_t consumed = 0;
    switch (platform::parseDriverFrame(c.in, frame, consumed)) {
      case platform::DriverParse::NeedMore: return true;
      case platform::DriverParse::Bad:
        driverComplaints_.dropped("a malformed request");
        return false;
      case platform::DriverParse::Complete: break;
    }
    if (frame.kind != platform::DriverFrameKind::Request) {
      driverComplaints_.dropped("a frame other than a request");
      return false;
    }
    std::vector<uint8_t> answer;
    const uint32_t status = hub_.driverRequest(frame.value, frame.payload, answer);
    c.out = platform::encodeDriverFrame(platform::DriverFrameKind::Reply, status, answer);
    c.answered = true;
    // The answer, too, must be taken within the deadline.
    driverGuard_.hold(key, true);
  }
  while (c.sent < c.out.size()) {
    const ssize_t n = ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n <= 0) return false;
    c.sent += std::size_t(n);
  }
  return false;  // answered in full: the connection has done its work
}

int EmulatorServer::dropExpired() {
  guard_.dropExpired([this](uint64_t id) { readAgain(id); }, [this](uint64_t id) { dropClient(id); });
  driverGuard_.dropExpired([this](uint64_t key) { readDriverAgain(key); },
                           [this](uint64_t key) { dropDriverClient(key); });
  const int a = guard_.timeoutMs(), b = driverGuard_.timeoutMs();
  return a < 0 ? b : b < 0 ? a : std::min(a, b);
}

void EmulatorServer::run() {
  std::vector<pollfd> fds;
  std::vector<MouseHub::ClientId> ids;
  std::vector<uint64_t> driverKeys;
  while (!stopping_) {
    const int untilDeadline = dropExpired();
    fds.clear();
    ids.clear();
    fds.push_back({wakeFd_, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    fds.push_back({driverListenFd_, POLLIN, 0});
    const std::size_t driverBase = fds.size();
    driverKeys.clear();
    for (const auto& [key, c] : driverClients_) {
      fds.push_back({c.fd, short(c.answered ? POLLOUT : POLLIN), 0});
      driverKeys.push_back(key);
    }
    const std::size_t clientBase = fds.size();
    {
      std::lock_guard lock(outMutex_);
      for (const auto& [id, c] : clients_) {
        short events = POLLIN;
        if (!c->out.empty() || c->closing) events |= POLLOUT;
        fds.push_back({c->fd, events, 0});
        ids.push_back(id);
      }
    }
    // Timers: the input endpoint's offer time-out and the frame deadlines.
    int timeout = hub_.inputTimeoutMs();
    if (untilDeadline >= 0 && (timeout < 0 || untilDeadline < timeout)) timeout = untilDeadline;
    if (::poll(fds.data(), fds.size(), timeout) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    hub_.inputTick();
    if (fds[0].revents & POLLIN) {
      uint64_t v = 0;
      [[maybe_unused]] ssize_t n = ::read(wakeFd_, &v, sizeof v);
    }
    if (stopping_) break;
    if (fds[1].revents & POLLIN) acceptClients();
    // Driver clients first, then new ones.
    for (std::size_t i = 0; i < driverKeys.size(); ++i) {
      const short rev = fds[driverBase + i].revents;
      const auto it = driverClients_.find(driverKeys[i]);
      if (rev && it != driverClients_.end() && !serveDriverClient(it->first, it->second, rev))
        dropDriverClient(driverKeys[i]);
    }
    if (fds[2].revents & POLLIN) acceptDriverClients();
    for (std::size_t i = 0; i < ids.size(); ++i) {
      const short rev = fds[i + clientBase].revents;
      if (!rev) continue;
      Client* c = nullptr;
      {
        std::lock_guard lock(outMutex_);
        const auto it = clients_.find(ids[i]);
        if (it != clients_.end()) c = it->second.get();
      }
      if (!c) continue;
      bool keep = true;
      if (rev & (POLLIN | POLLHUP | POLLERR)) keep = readClient(ids[i], *c);
      if (keep && (rev & POLLOUT)) keep = writeClient(*c);
      if (!keep) dropClient(ids[i]);
    }
    // Replies produced while reading go out at once rather than on the next turn.
    for (auto id : ids) {
      Client* c = nullptr;
      {
        std::lock_guard lock(outMutex_);
        const auto it = clients_.find(id);
        if (it != clients_.end() && !it->second->out.empty()) c = it->second.get();
      }
      if (c && !writeClient(*c)) dropClient(id);
    }
  }
}

}  // namespace emulator
