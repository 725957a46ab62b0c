#pragma once
// A cross-process lock per device path: a lock file in the user's runtime
// folder held with flock(). The configurator and the monitor both talk to the
// mouse; a read is a request and a fetch, and the other program's traffic must
// not fall between them.

#include <string>

namespace platform {

class DeviceLock {
 public:
  DeviceLock() = default;
  ~DeviceLock();
  DeviceLock(DeviceLock&& other) noexcept;
  DeviceLock& operator=(DeviceLock&& other) noexcept;
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

  // Blocks until the lock of devicePath is held. The holder only ever keeps it
  // for one request/fetch pair. On failure (no runtime folder, cannot create
  // the file) the result is not held and error says why; callers go on
  // without the lock rather than lose the transfer.
  static DeviceLock acquire(const std::string& devicePath, std::string& error);
  // Does not block: held() is false when another holder has it.
  static DeviceLock tryAcquire(const std::string& devicePath, std::string& error);

  bool held() const { return fd_ >= 0; }
  void release();

  // The lock file's name for a device path (exposed for tests).
  static std::string lockFileName(const std::string& devicePath);

 private:
  static DeviceLock take(const std::string& devicePath, bool wait, std::string& error);
  int fd_ = -1;
};

}  // namespace platform
