#pragma once
// Messages between the configurator and the monitor. Each program, once it
// holds its single-instance lock, listens on a Unix socket named after its
// main window class ("TMarvaneMain", "TTessoldMain") in the runtime folder.
// A connection carries one frame; for `send` the receiver answers on the same
// connection after its handler returned.
//
// Frame, 32 bytes, little-endian:
//   0  magic    "MMSG"
//   4  version  u16 = 1
//   6  kind     u8: 1 post, 2 send, 3 reply
//   7  reserved u8 = 0
//   8  message  u32, 1..0xFFFF
//  12  sequence u32: a reply echoes the request's
//  16  param1   i64 (wParam; in a reply: the handler's result)
//  24  param2   i64 (lParam; 0 in a reply)
#include <QObject>
#include <QPointer>

#include "platform/ComplaintLog.h"
#include "platform/FloodGuard.h"
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

class QSocketNotifier;
class QTimer;
class QWindow;

namespace platform {

class SingleInstance;

// Settings changed: the configurator sends it to the monitor after Apply, a
// mode switch and a profile switch; the monitor reloads profiles, DPI table
// and wheel hook before the call returns.
constexpr std::uint32_t WM_PROFILE_CHANGED = 7035;
// Close the configurator: posted by the monitor on "Exit" and when the mouse
// is gone; the configurator quits at once, unsaved edits or not.
constexpr std::uint32_t WM_CLOSE_CONFIG = 7036;
// Language changed: the configurator sends it to the monitor after the user
// chose a language; both re-apply the language stored in the profiles.
constexpr std::uint32_t WM_LANGUAGE_CHANGED = 7037;
// Reload the current profile: handled by the configurator, sent by nobody.
constexpr std::uint32_t WM_RELOAD_CURRENT_PROFILE = 7038;
// Bring the receiver's window forward (show, raise, activate); answered by
// the channel itself, never passed to the handler. The monitor has no window
// and ignores it.
constexpr std::uint32_t WM_ACTIVATE_WINDOW = 0x8001;

// Main-window class names, which name the sockets and the lock files.
constexpr std::string_view kConfiguratorClass = "TMarvaneMain";
constexpr std::string_view kMonitorClass = "TTessoldMain";

// Time a `send` waits for the receiver's handler.
constexpr std::chrono::milliseconds kSendTimeout{10000};
// Time a receiver gives a connection for its whole frame; senders write it at
// once after connecting, so a connection still short of a frame then is
// dropped. It keeps idle or slow peers from holding the receiver's slots.
constexpr std::chrono::milliseconds kFrameDeadline{300};
// Time a sender waits for room in a receiver's queue of new connections.
constexpr std::chrono::milliseconds kConnectTimeout{2000};

enum class FrameKind : std::uint8_t {
  Post = 1,   // no answer expected
  Send = 2,   // the sender waits for a Reply
  Reply = 3,  // answer to a Send
};

struct MessageFrame {
  FrameKind kind = FrameKind::Post;
  std::uint32_t message = 0;
  std::uint32_t sequence = 0;
  std::int64_t param1 = 0;
  std::int64_t param2 = 0;
};

constexpr std::size_t kMessageFrameSize = 32;

// Validates and decodes exactly one frame; false for anything else (wrong
// size, magic, version, kind, reserved byte or message number).
bool parseMessageFrame(std::span<const std::uint8_t> bytes, MessageFrame& out);
void encodeMessageFrame(const MessageFrame& frame, std::uint8_t (&out)[kMessageFrameSize]);

// Socket path of a class name in the runtime folder; empty when there is no
// runtime folder or the name is unusable.
std::string messageSocketPath(std::string_view className);

// True when a program listens under that class name.
bool find(std::string_view className);

// Connects, writes one frame and returns without waiting for the receiver.
// False when nobody listens.
bool post(std::string_view className, std::uint32_t message, std::int64_t wParam = 0,
          std::int64_t lParam = 0);

// Writes one frame and blocks until the receiver's handler returned and
// replied, or the time-out passed. Needs no event loop of the caller: it
// waits in poll() on the connection. nullopt when nobody listens, on time-out
// or on a bad reply.
//
// Deadlock: while waiting, the calling thread also serves `send` frames that
// arrive for a MessageEndpoint it owns (as the Windows SendMessage does), so
// two programs that send to each other at the same time both get their
// answers. Posts that arrive meanwhile wait for the event loop.
std::optional<std::int64_t> trySend(std::string_view className, std::uint32_t message,
                                    std::int64_t wParam = 0, std::int64_t lParam = 0,
                                    std::chrono::milliseconds timeout = kSendTimeout);
// The handler's result, or 0 when the peer is absent or did not answer in time.
std::int64_t send(std::string_view className, std::uint32_t message, std::int64_t wParam = 0,
                  std::int64_t lParam = 0, std::chrono::milliseconds timeout = kSendTimeout);

// The receiving side: lives on the GUI thread and dispatches there, one frame
// at a time, in arrival order. A connection has kFrameDeadline for its frame;
// at most a fixed number wait for theirs, and a new connection beyond that
// takes the place of the one that has waited longest, so a real sender is
// served however many idle or slow peers there are. What is dropped is
// complained about on stderr at most once a second.
class MessageEndpoint : public QObject {
  Q_OBJECT
 public:
  // message, wParam, lParam -> result (returned to a `send`, dropped for a post)
  using Handler = std::function<std::int64_t(std::uint32_t, std::int64_t, std::int64_t)>;

  explicit MessageEndpoint(QObject* parent = nullptr);
  ~MessageEndpoint() override;

  // Starts listening as className. Only the instance holding the program's
  // lock may listen, because listening replaces a stale socket file left by
  // a crashed instance. False (with a line on stderr) on failure.
  bool listen(const SingleInstance& lock, std::string_view className, Handler handler);
  bool isListening() const { return listenFd_ >= 0; }

  // The window that WM_ACTIVATE_WINDOW brings forward; none: the message is ignored.
  void setActivationWindow(QWindow* window);

  // Called by trySend on this endpoint's thread while it waits: serves
  // pending `send` frames without going through the event loop.
  void serveSendsWhileWaiting();
  int listenFd() const { return listenFd_; }
  // Descriptors a waiting trySend should also watch.
  void collectWaitFds(std::vector<int>& fds) const;

 private:
  struct Connection;
  void onAcceptReady();
  void onConnectionReady(int fd);
  // Drops the connections whose deadline passed (reading them once more
  // first), says the complaints that are due and sets the timer for the
  // next of both.
  void dropExpired();
  void closeConnection(int fd);
  // Closes a connection that has not delivered a whole frame, saying why.
  void dropConnection(int fd, std::string_view why);
  void dispatchQueue();
  std::int64_t deliver(const MessageFrame& frame);
  void reply(int fd, const MessageFrame& request, std::int64_t result);

  int listenFd_ = -1;
  std::string path_;
  // Identity of the socket file we made, so we never unlink someone else's.
  unsigned long long socketDev_ = 0, socketIno_ = 0;
  Handler handler_;
  QSocketNotifier* acceptNotifier_ = nullptr;
  QTimer* deadlineTimer_ = nullptr;
  std::map<int, std::unique_ptr<Connection>> connections_;
  ComplaintLog complaints_;
  FloodGuard guard_;  // keyed by descriptor
  // Frames read but not yet handled: (fd to answer on or -1, frame).
  std::vector<std::pair<int, MessageFrame>> queue_;
  bool dispatching_ = false;
  QPointer<QWindow> activationWindow_;
};

}  // namespace platform
