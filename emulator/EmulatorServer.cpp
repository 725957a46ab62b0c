#include "emulator/EmulatorServer.h"

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
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (socketPath.empty() || socketPath.size() >= sizeof(addr.sun_path)) {
    error = "socket path \"" + socketPath + "\" is empty or longer than " +
            std::to_string(sizeof(addr.sun_path) - 1) + " bytes";
    return false;
  }
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);

  lockPath_ = socketPath + ".lock";
  lockFd_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd_ < 0) {
    error = "cannot open " + lockPath_ + ": " + std::strerror(errno);
    return false;
  }
  if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
    error = "another mouse-emulator already serves " + socketPath;
    ::close(lockFd_);
    lockFd_ = -1;
    return false;
  }
  // We hold the lock: whatever socket is there was left by a dead server.
  ::unlink(socketPath.c_str());

  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    stop();
    return false;
  }
  // The socket carries commands that rewrite the mouse: owner only, from
  // the moment it exists.
  const mode_t old = ::umask(0177);
  const int bound = ::bind(listenFd_, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
  const int bindErrno = errno;
  ::umask(old);
  if (bound != 0) {
    error = "cannot bind " + socketPath + ": " + std::strerror(bindErrno);
    stop();
    return false;
  }
  path_ = socketPath;
  ::chmod(path_.c_str(), 0600);
  if (::listen(listenFd_, 16) != 0) {
    error = std::string("listen: ") + std::strerror(errno);
    stop();
    return false;
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
  if (!path_.empty()) ::unlink(path_.c_str());
  path_.clear();
  // The lock file stays: removing it would let two starters lock two files.
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = -1;
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
    if (clients_.size() >= kMaxClients) {
      ::close(fd);
      continue;
    }
    auto c = std::make_unique<Client>();
    c->fd = fd;
    std::lock_guard lock(outMutex_);
    clients_[nextClient_++] = std::move(c);
  }
}

bool EmulatorServer::readClient(MouseHub::ClientId id, Client& c) {
  uint8_t buf[16384];
  for (;;) {
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n <= 0) return false;
    std::span<const uint8_t> rest(buf, std::size_t(n));
    while (!rest.empty()) {
      rest = rest.subspan(c.decoder.feed(rest));
      emu::Frame f;
      emu::FrameDecoder::Result r;
      while ((r = c.decoder.next(f)) == emu::FrameDecoder::Result::Frame) hub_.handle(id, f);
      if (r == emu::FrameDecoder::Result::Error) return false;
    }
  }
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
  ::close(fd);
  hub_.disconnected(id);
}

void EmulatorServer::run() {
  std::vector<pollfd> fds;
  std::vector<MouseHub::ClientId> ids;
  while (!stopping_) {
    fds.clear();
    ids.clear();
    fds.push_back({wakeFd_, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    {
      std::lock_guard lock(outMutex_);
      for (const auto& [id, c] : clients_) {
        short events = POLLIN;
        if (!c->out.empty() || c->closing) events |= POLLOUT;
        fds.push_back({c->fd, events, 0});
        ids.push_back(id);
      }
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents & POLLIN) {
      uint64_t v = 0;
      [[maybe_unused]] ssize_t n = ::read(wakeFd_, &v, sizeof v);
    }
    if (stopping_) break;
    if (fds[1].revents & POLLIN) acceptClients();
    for (std::size_t i = 0; i < ids.size(); ++i) {
      const short rev = fds[i + 2].revents;
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
