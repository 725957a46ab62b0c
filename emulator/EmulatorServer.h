#pragma once
// The emulated mouse on its Unix socket: one thread polls the listening
// socket, the clients and a wake-up descriptor, and hands decoded frames to
// the MouseHub. Single instance per socket: a lock file beside the socket
// is taken with flock() before the socket exists, and only its holder
// removes a stale socket.
//
// Other processes of the user cannot block it: a frame once begun must be
// whole within kFrameDeadline, and when every client slot is taken a new
// connection replaces the oldest one that has not yet sent a whole frame,
// else the one idle longest.
// The driver socket's one-request connections have the same deadline and
// the same replacement. What is dropped is said on stderr at most once a
// second per socket.

#include "emulator/MouseHub.h"
#include "platform/ComplaintLog.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace emulator {

class EmulatorServer {
 public:
  explicit EmulatorServer(HubOptions options = {});
  ~EmulatorServer();
  EmulatorServer(const EmulatorServer&) = delete;
  EmulatorServer& operator=(const EmulatorServer&) = delete;

  // Takes the lock, binds the socket (mode 0600) and starts serving. False
  // with the reason when another server holds the socket or it cannot be
  // made.
  bool start(const std::string& socketPath, std::string& error);
  // Also serve the mouse's filter driver on this socket (same locking and
  // mode); call before start(). Empty: no driver.
  void setDriverSocket(std::string path) { driverPath_ = std::move(path); }
  const std::string& driverSocketPath() const { return driverPath_; }
  // Ends the thread, closes every client and removes the socket.
  void stop();

  const std::string& socketPath() const { return path_; }
  MouseHub& hub() { return hub_; }

  // A client that does not read its notifications is dropped beyond this.
  static constexpr std::size_t kMaxPendingOut = 8u << 20;
  static constexpr std::size_t kMaxClients = 64;
  // Time a client has for the rest of a frame it began, and a driver client
  // for its whole exchange.
  static constexpr std::chrono::milliseconds kFrameDeadline{300};

 private:
  using Clock = std::chrono::steady_clock;

  struct Client {
    int fd = -1;
    // Server thread only: whether a whole frame came, and the deadline of a
    // frame under way.
    bool spoke = false;
    Clock::time_point lastFrame{};
    std::optional<Clock::time_point> frameDeadline;
    emu::FrameDecoder decoder;
    std::vector<uint8_t> out;  // guarded by outMutex_
    bool closing = false;      // guarded by outMutex_: overflowed
  };

  struct DriverClient {
    int fd = -1;
    Clock::time_point deadline;
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;
    std::size_t sent = 0;
    bool answered = false;
  };
  static constexpr std::size_t kMaxDriverClients = 16;

  void run();
  void acceptDriverClients();
  // Drops the clients and driver clients whose deadline passed, after one
  // more read, and says the complaints that are due; returns the poll
  // time-out until the next deadline or complaint (-1: none).
  int dropExpired();
  // False when the driver client is done (answered) or to be dropped.
  bool serveDriverClient(DriverClient& c, short revents);
  void wake();
  void sink(MouseHub::ClientId id, std::vector<uint8_t>&& bytes);
  void acceptClients();
  // False when the client is to be dropped.
  bool readClient(MouseHub::ClientId id, Client& c);
  bool writeClient(Client& c);
  void dropClient(MouseHub::ClientId id);
  // Frees a client slot by dropping the oldest client (clients are numbered
  // in order of arrival) that has not yet sent a whole frame, else the one
  // idle longest; false when every client has a frame under way.
  bool makeRoom();

  MouseHub hub_;
  std::string path_;
  std::string lockPath_;
  int lockFd_ = -1;
  int listenFd_ = -1;
  std::string driverPath_;
  bool driverBound_ = false;
  int driverLockFd_ = -1;
  int driverListenFd_ = -1;
  std::vector<DriverClient> driverClients_;  // server thread only
  int wakeFd_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};

  std::mutex outMutex_;
  std::map<MouseHub::ClientId, std::unique_ptr<Client>> clients_;  // map shape: server thread only
  MouseHub::ClientId nextClient_ = 1;
  platform::ComplaintLog complaints_;        // server thread only
  platform::ComplaintLog driverComplaints_;  // server thread only
};

}  // namespace emulator
