#include "platform/MessageChannel.h"

#include "platform/RuntimeDir.h"
#include "platform/SingleInstance.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {
constexpr std::uint8_t kMagic[4] = {'M', 'M', 'S', 'G'};
constexpr std::uint16_t kVersion = 1;
constexpr std::uint32_t kMaxMessage = 0xFFFF;
// Connections a receiver keeps open at once, so a flood cannot exhaust its
// descriptors. A new one beyond them replaces the oldest still waiting for its
// frame; it is refused only when every one holds a frame for the handler.
constexpr std::size_t kMaxConnections = 32;

std::atomic<std::uint32_t> g_sequence{0};

// Endpoints that listen on the current thread, for trySend to serve while it waits.
thread_local std::vector<MessageEndpoint*> t_endpoints;

void put(std::uint8_t* p, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint64_t get(const std::uint8_t* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
  return v;
}

bool classNameOk(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

bool fillAddress(const std::string& path, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.data(), path.size());
  return true;
}

// A connected, non-blocking socket to the class's endpoint, or -1. A Unix
// stream connect completes at once unless the receiver's queue of new
// connections is full (another process flooding it, or a receiver that
// stopped accepting): then it waits up to `wait` for room, and a receiver
// that makes none in that time counts as absent.
int connectTo(std::string_view className, std::chrono::milliseconds wait = kConnectTimeout) {
  sockaddr_un addr;
  if (!fillAddress(messageSocketPath(className), addr)) return -1;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const long long ms = std::max<long long>(wait.count(), 1);
  const timeval bound{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
  if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool writeFrame(int fd, const MessageFrame& frame) {
  std::uint8_t bytes[kMessageFrameSize];
  encodeMessageFrame(frame, bytes);
  // A fresh connection's buffer holds far more than one frame, so this never
  // blocks and is never partial in practice; a partial write is a failure.
  ssize_t n;
  do {
    n = ::send(fd, bytes, sizeof bytes, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(sizeof bytes);
}

bool peerIsSameUser(int fd) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
  return cred.uid == ::getuid();
}
}  // namespace

bool parseMessageFrame(std::span<const std::uint8_t> bytes, MessageFrame& out) {
  if (bytes.size() != kMessageFrameSize) return false;
  const std::uint8_t* p = bytes.data();
  if (std::memcmp(p, kMagic, 4) != 0) return false;
  if (get(p + 4, 2) != kVersion) return false;
  const std::uint8_t kind = p[6];
  if (kind < 1 || kind > 3) return false;
  if (p[7] != 0) return false;
  const auto message = static_cast<std::uint32_t>(get(p + 8, 4));
  if (message == 0 || message > kMaxMessage) return false;
  out.kind = static_cast<FrameKind>(kind);
  out.message = message;
  out.sequence = static_cast<std::uint32_t>(get(p + 12, 4));
  out.param1 = static_cast<std::int64_t>(get(p + 16, 8));
  out.param2 = static_cast<std::int64_t>(get(p + 24, 8));
  return true;
}

void encodeMessageFrame(const MessageFrame& frame, std::uint8_t (&out)[kMessageFrameSize]) {
  std::memcpy(out, kMagic, 4);
  put(out + 4, kVersion, 2);
  out[6] = static_cast<std::uint8_t>(frame.kind);
  out[7] = 0;
  put(out + 8, frame.message, 4);
  put(out + 12, frame.sequence, 4);
  put(out + 16, static_cast<std::uint64_t>(frame.param1), 8);
  put(out + 24, static_cast<std::uint64_t>(frame.param2), 8);
}

std::string messageSocketPath(std::string_view className) {
  if (!classNameOk(className)) return {};
  std::string dir = runtimeDir();
  if (dir.empty()) return {};
  std::string path = dir + "/" + std::string(className);
  if (path.size() >= sizeof(sockaddr_un::sun_path)) return {};
  return path;
}

bool find(std::string_view className) {
  int fd = connectTo(className);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool post(std::string_view className, std::uint32_t message, std::int64_t wParam, std::int64_t lParam) {
  int fd = connectTo(className);
  if (fd < 0) return false;
  MessageFrame frame{FrameKind::Post, message, ++g_sequence, wParam, lParam};
  const bool ok = writeFrame(fd, frame);
  ::close(fd);
  return ok;
}

std::optional<std::int64_t> trySend(std::string_view className, std::uint32_t message,
                                    std::int64_t wParam, std::int64_t lParam,
                                    std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  int fd = connectTo(className, std::min(timeout, kConnectTimeout));
  if (fd < 0) return std::nullopt;
  const MessageFrame request{FrameKind::Send, message, ++g_sequence, wParam, lParam};
  if (!writeFrame(fd, request)) {
    ::close(fd);
    return std::nullopt;
  }
  std::uint8_t buf[kMessageFrameSize + 1];
  std::size_t have = 0;
  std::optional<std::int64_t> result;
  bool done = false;
  while (!done) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      std::fprintf(stderr, "message %u to %.*s: no answer in time\n", message,
                   static_cast<int>(className.size()), className.data());
      break;
    }
    std::vector<int> own;
    const std::vector<MessageEndpoint*> endpoints = t_endpoints;
    for (MessageEndpoint* ep : endpoints) ep->collectWaitFds(own);
    std::vector<pollfd> fds;
    fds.push_back({fd, POLLIN, 0});
    for (int o : own) fds.push_back({o, POLLIN, 0});
    const int n = ::poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
    if (n < 0 && errno != EINTR) break;
    if (n <= 0) continue;
    if (fds[0].revents) {
      const ssize_t r = ::recv(fd, buf + have, sizeof buf - have, 0);
      if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (r <= 0) break;  // closed without an answer
      have += static_cast<std::size_t>(r);
      if (have > kMessageFrameSize) break;
      if (have == kMessageFrameSize) {
        MessageFrame answer;
        if (parseMessageFrame({buf, kMessageFrameSize}, answer) && answer.kind == FrameKind::Reply &&
            answer.sequence == request.sequence && answer.message == request.message)
          result = answer.param1;
        done = true;
      }
    }
    bool ownReady = false;
    for (std::size_t i = 1; i < fds.size(); ++i) ownReady = ownReady || fds[i].revents;
    if (ownReady) {
      // Serve sends addressed to us, so a peer that sends to us while we
      // wait for it is answered instead of both waiting out the time-out.
      for (MessageEndpoint* ep : endpoints)
        if (std::find(t_endpoints.begin(), t_endpoints.end(), ep) != t_endpoints.end())
          ep->serveSendsWhileWaiting();
    }
  }
  ::close(fd);
  return result;
}

std::int64_t send(std::string_view className, std::uint32_t message, std::int64_t wParam,
                  std::int64_t lParam, std::chrono::milliseconds timeout) {
  return trySend(className, message, wParam, lParam, timeout).value_or(0);
}

// One accepted connection: collects the single frame it carries. While its
// notifier is enabled it still waits for that frame.
struct MessageEndpoint::Connection {
  int fd = -1;
  QSocketNotifier* notifier = nullptr;
  std::uint8_t buf[kMessageFrameSize + 1] = {};
  std::size_t have = 0;
};

MessageEndpoint::MessageEndpoint(QObject* parent)
    : QObject(parent), guard_(kMaxConnections, kFrameDeadline, complaints_) {}

MessageEndpoint::~MessageEndpoint() {
  std::erase(t_endpoints, this);
  while (!connections_.empty()) closeConnection(connections_.begin()->first);
  if (listenFd_ >= 0) {
    // Remove the socket file only while it is still the one we made.
    struct stat now {};
    if (::stat(path_.c_str(), &now) == 0 && now.st_ino == socketIno_ && now.st_dev == socketDev_)
      ::unlink(path_.c_str());
    delete acceptNotifier_;
    ::close(listenFd_);
  }
}

bool MessageEndpoint::listen(const SingleInstance& lock, std::string_view className, Handler handler) {
  if (listenFd_ >= 0) return false;
  if (!lock.held() || lock.name() != className) {
    std::fprintf(stderr, "message endpoint %.*s: not the lock holder, not listening\n",
                 static_cast<int>(className.size()), className.data());
    return false;
  }
  const std::string path = messageSocketPath(className);
  sockaddr_un addr;
  if (!fillAddress(path, addr)) {
    std::fprintf(stderr, "message endpoint %.*s: no usable runtime folder\n",
                 static_cast<int>(className.size()), className.data());
    return false;
  }
  // We hold the lock, so a file at this path is a leftover of a crashed
  // instance: nobody else may be listening there.
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    std::fprintf(stderr, "message endpoint %s: cannot remove stale socket: %s\n", path.c_str(),
                 std::strerror(errno));
    return false;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  // A long queue of new connections: senders seldom wait for room in it even
  // while another process floods us.
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fd, SOMAXCONN) != 0) {
    std::fprintf(stderr, "message endpoint %s: %s\n", path.c_str(), std::strerror(errno));
    if (fd >= 0) ::close(fd);
    return false;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    socketDev_ = st.st_dev;
    socketIno_ = st.st_ino;
  }
  listenFd_ = fd;
  path_ = path;
  handler_ = std::move(handler);
  complaints_.setSubject("message endpoint " + path);
  deadlineTimer_ = new QTimer(this);
  deadlineTimer_->setSingleShot(true);
  deadlineTimer_->setTimerType(Qt::PreciseTimer);
  connect(deadlineTimer_, &QTimer::timeout, this, [this] {
    dropExpired();
    dispatchQueue();
  });
  acceptNotifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(acceptNotifier_, &QSocketNotifier::activated, this, [this] {
    onAcceptReady();
    dispatchQueue();
  });
  t_endpoints.push_back(this);
  return true;
}

void MessageEndpoint::setActivationWindow(QWindow* window) { activationWindow_ = window; }

void MessageEndpoint::collectWaitFds(std::vector<int>& fds) const {
  if (listenFd_ < 0) return;
  fds.push_back(listenFd_);
  for (const auto& [fd, conn] : connections_)
    if (conn->notifier && conn->notifier->isEnabled()) fds.push_back(fd);
}

void MessageEndpoint::onAcceptReady() {
  for (;;) {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR) continue;
      break;  // EAGAIN: nothing more waiting
    }
    if (!peerIsSameUser(fd)) {
      ::close(fd);
      continue;
    }
    if (!guard_.makeRoom([this](FloodGuard::Key k) { onConnectionReady(int(k)); },
                         [this](FloodGuard::Key k) { closeConnection(int(k)); })) {
      ::close(fd);
      continue;
    }
    auto conn = std::make_unique<Connection>();
    conn->fd = fd;
    guard_.add(FloodGuard::Key(fd), true);
    conn->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(conn->notifier, &QSocketNotifier::activated, this, [this, fd] {
      onConnectionReady(fd);
      // A drop here may leave a complaint to say later: the timer takes it.
      dropExpired();
      dispatchQueue();
    });
    connections_.emplace(fd, std::move(conn));
    // The frame is usually there already; read it now rather than after
    // another trip through the event loop.
    onConnectionReady(fd);
  }
  dropExpired();
}

void MessageEndpoint::dropExpired() {
  if (!deadlineTimer_) return;
  guard_.dropExpired([this](FloodGuard::Key k) { onConnectionReady(int(k)); },
                     [this](FloodGuard::Key k) { closeConnection(int(k)); });
  const int wait = guard_.timeoutMs();
  if (wait < 0)
    deadlineTimer_->stop();
  else
    deadlineTimer_->start(wait);
}

void MessageEndpoint::onConnectionReady(int fd) {
  auto it = connections_.find(fd);
  if (it == connections_.end()) return;
  Connection& c = *it->second;
  if (!c.notifier->isEnabled()) return;  // frame taken, waiting for its handler
  for (;;) {
    const ssize_t r = ::recv(fd, c.buf + c.have, sizeof c.buf - c.have, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno == EAGAIN) return;
    if (r <= 0) {  // closed before a whole frame, or an error
      // Closing without a byte is how `find` looks for us: no complaint.
      if (c.have > 0)
        dropConnection(fd, "a frame cut off by its sender");
      else
        closeConnection(fd);
      return;
    }
    c.have += static_cast<std::size_t>(r);
    if (c.have < kMessageFrameSize) continue;
    MessageFrame frame;
    // One frame per connection: more bytes than a frame, a bad frame or a
    // reply sent to us all drop the connection and change nothing.
    if (c.have > kMessageFrameSize || !parseMessageFrame({c.buf, kMessageFrameSize}, frame) ||
        frame.kind == FrameKind::Reply) {
      dropConnection(fd, "a malformed frame");
      return;
    }
    if (frame.kind == FrameKind::Post) {
      closeConnection(fd);
      queue_.emplace_back(-1, frame);
    } else {
      c.notifier->setEnabled(false);
      guard_.hold(FloodGuard::Key(fd), false);
      queue_.emplace_back(fd, frame);
    }
    return;
  }
}

void MessageEndpoint::dropConnection(int fd, std::string_view why) {
  closeConnection(fd);
  complaints_.dropped(why);
}

void MessageEndpoint::closeConnection(int fd) {
  auto it = connections_.find(fd);
  if (it == connections_.end()) return;
  delete it->second->notifier;
  ::close(fd);
  connections_.erase(it);
  guard_.remove(FloodGuard::Key(fd));
  for (auto& entry : queue_)
    if (entry.first == fd) entry.first = -1;  // no one left to answer
}

std::int64_t MessageEndpoint::deliver(const MessageFrame& frame) {
  if (frame.message == WM_ACTIVATE_WINDOW) {
    QWindow* w = activationWindow_;
    if (!w) return 0;
    if (w->windowStates() & Qt::WindowMinimized)
      w->showNormal();
    else
      w->show();
    w->raise();
    w->requestActivate();
    return 1;
  }
  if (!handler_) return 0;
  try {
    return handler_(frame.message, frame.param1, frame.param2);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "message %u: handler failed: %s\n", frame.message, e.what());
  } catch (...) {
    std::fprintf(stderr, "message %u: handler failed\n", frame.message);
  }
  return 0;
}

void MessageEndpoint::reply(int fd, const MessageFrame& request, std::int64_t result) {
  if (fd < 0) return;
  MessageFrame answer{FrameKind::Reply, request.message, request.sequence, result, 0};
  writeFrame(fd, answer);  // a sender that gave up is no error of ours
  closeConnection(fd);
}

void MessageEndpoint::dispatchQueue() {
  // One frame at a time: a frame that arrives while a handler runs (say in a
  // nested event loop) waits until that handler has returned.
  if (dispatching_) return;
  dispatching_ = true;
  QPointer<MessageEndpoint> self(this);
  while (!queue_.empty()) {
    auto [fd, frame] = queue_.front();
    queue_.erase(queue_.begin());
    const std::int64_t result = deliver(frame);
    if (!self) return;  // the handler ended us (say, the program is closing)
    // The handler may have served sends meanwhile; look the connection up again.
    if (frame.kind == FrameKind::Send) {
      const int answerFd = fd >= 0 && connections_.count(fd) ? fd : -1;
      reply(answerFd, frame, result);
    }
  }
  dispatching_ = false;
}

void MessageEndpoint::serveSendsWhileWaiting() {
  onAcceptReady();
  std::vector<int> fds;
  for (const auto& [fd, conn] : connections_) fds.push_back(fd);
  for (int fd : fds) onConnectionReady(fd);
  // Only sends jump the queue; their senders are blocked, perhaps on us.
  for (std::size_t i = 0; i < queue_.size();) {
    if (queue_[i].second.kind != FrameKind::Send) {
      ++i;
      continue;
    }
    auto [fd, frame] = queue_[i];
    queue_.erase(queue_.begin() + static_cast<std::ptrdiff_t>(i));
    QPointer<MessageEndpoint> self(this);
    const std::int64_t result = deliver(frame);
    if (!self) return;
    const int answerFd = fd >= 0 && connections_.count(fd) ? fd : -1;
    reply(answerFd, frame, result);
    i = 0;  // the handler may have changed the queue
  }
  if (!queue_.empty())
    QMetaObject::invokeMethod(this, &MessageEndpoint::dispatchQueue, Qt::QueuedConnection);
}

}  // namespace platform
