#pragma once
// The emulated mouse on its Unix socket: one thread polls the listening
// socket, the clients and a wake-up descriptor, and hands decoded frames to
// the MouseHub. Single instance per socket: a lock file beside the socket
// is taken with flock() before the socket exists, and only its holder
// removes a stale socket.

#include "emulator/MouseHub.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
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

 private:
  struct Client {
    int fd = -1;
    emu::FrameDecoder decoder;
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
  // False when the driver client is done (answered) or to be dropped.
  bool serveDriverClient(DriverClient& c, short revents);
  void wake();
  void sink(MouseHub::ClientId id, std::vector<uint8_t>&& bytes);
  void acceptClients();
  // False when the client is to be dropped.
  bool readClient(MouseHub::ClientId id, Client& c);
  bool writeClient(Client& c);
  void dropClient(MouseHub::ClientId id);

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
};

}  // namespace emulator
