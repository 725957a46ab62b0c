#pragma once
// The emulated mouse on its Unix socket: one thread polls the listening
// socket, the clients and a wake-up descriptor, and hands decoded frames to
// the MouseHub. Single instance per socket: a lock file beside the socket
// is taken with flock() before the socket exists, and only its holder
// removes a stale socket.
//
// Other processes of the user cannot block it (platform/FloodGuard.h): a
// frame once begun must be whole within kFrameDeadline, and when every
// client place is taken a new connection takes the place of the oldest one
// that has not yet sent a whole frame, else of the one idle longest. The
// driver socket's one-request connections have the same deadline and the
// same replacement. What is dropped is said on stderr at most once a second
// per socket.

#include "emulator/MouseHub.h"
#include "platform/ComplaintLog.h"
#include "platform/FloodGuard.h"

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
    emu::FrameDecoder decoder;  // server thread only
    std::vector<uint8_t> out;  // guarded by outMutex_
    bool closing = false;      // guarded by outMutex_: overflowed
  };

  struct DriverClient {
    int fd = -1;
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
  bool serveDriverClient(uint64_t key, DriverClient& c, short revents);
  void dropDriverClient(uint64_t key);
  void wake();
  void sink(MouseHub::ClientId id, std::vector<uint8_t>&& bytes);
  void acceptClients();
  // False when the client is to be dropped.
  bool readClient(MouseHub::ClientId id, Client& c);
  bool writeClient(Client& c);
  void dropClient(MouseHub::ClientId id);
  // The guards' last read of a client before it is dropped.
  void readAgain(MouseHub::ClientId id);
  void readDriverAgain(uint64_t key);

  MouseHub hub_;
  std::string path_;
  std::string lockPath_;
  int lockFd_ = -1;
  int listenFd_ = -1;
  std::string driverPath_;
  bool driverBound_ = false;
  int driverLockFd_ = -1;
  int driverListenFd_ = -1;
  std::map<uint64_t, DriverClient> driverClients_;  // server thread only
  uint64_t nextDriverClient_ = 1;
  int wakeFd_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};

  std::mutex outMutex_;
  std::map<MouseHub::ClientId, std::unique_ptr<Client>> clients_;  // map shape: server thread only
  MouseHub::ClientId nextClient_ = 1;
  // Server thread only.
  platform::ComplaintLog complaints_;
  platform::ComplaintLog driverComplaints_;
  platform::FloodGuard guard_{kMaxClients, kFrameDeadline, complaints_};
  platform::FloodGuard driverGuard_{kMaxDriverClients, kFrameDeadline, driverComplaints_};
};

}  // namespace emulator
