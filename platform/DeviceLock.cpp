#include "platform/DeviceLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/RuntimeDir.h"

namespace platform {

DeviceLock::~DeviceLock() { release(); }

DeviceLock::DeviceLock(DeviceLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

DeviceLock& DeviceLock::operator=(DeviceLock&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void DeviceLock::release() {
  if (fd_ >= 0) {
    ::close(fd_);  // closing the only descriptor drops the flock
    fd_ = -1;
  }
}

std::string DeviceLock::lockFileName(const std::string& devicePath) {
  // Readable and collision-free: letters and digits stay, every other byte
  // becomes _xx in hex.
  std::string name = "hid-";
  static const char* hex = "0123456789abcdef";
  for (unsigned char c : devicePath) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      name += static_cast<char>(c);
    } else {
      name += '_';
      name += hex[c >> 4];
      name += hex[c & 15];
    }
  }
  // Keep well below NAME_MAX even for long opaque paths.
  if (name.size() > 200) name.resize(200);
  return name + ".lock";
}

DeviceLock DeviceLock::take(const std::string& devicePath, bool wait, std::string& error) {
  DeviceLock lock;
  const std::string dir = runtimeDir();
  if (dir.empty()) {
    error = "no runtime folder for the device lock";
    return lock;
  }
  const std::string file = dir + "/" + lockFileName(devicePath);
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    error = "cannot open " + file + ": " + std::strerror(errno);
    return lock;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    error = (errno == EWOULDBLOCK) ? std::string("device lock held by another holder")
                                   : "cannot lock " + file + ": " + std::strerror(errno);
    ::close(fd);
    return lock;
  }
  lock.fd_ = fd;
  return lock;
}

DeviceLock DeviceLock::acquire(const std::string& devicePath, std::string& error) {
  return take(devicePath, true, error);
}

DeviceLock DeviceLock::tryAcquire(const std::string& devicePath, std::string& error) {
  return take(devicePath, false, error);
}

}  // namespace platform
