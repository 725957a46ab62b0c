#include "platform/SingleInstance.h"

#include "platform/RuntimeDir.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

SingleInstance::SingleInstance(std::string_view name) : name_(name) {
  const std::string dir = runtimeDir();
  if (dir.empty() || name_.empty() || name_.find('/') != std::string::npos) {
    std::fprintf(stderr, "single instance %s: no runtime folder\n", name_.c_str());
    return;
  }
  path_ = dir + "/" + name_ + ".lock";
  // The file only carries the lock; it is never written, so an existing one
  // is opened as it is. O_NOFOLLOW: the folder is private, but never follow
  // a link planted there.
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    std::fprintf(stderr, "single instance %s: %s\n", path_.c_str(), std::strerror(errno));
    return;
  }
  int rc;
  do {
    rc = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) {
    state_ = State::Held;
    return;
  }
  state_ = errno == EWOULDBLOCK ? State::HeldByOther : State::Failed;
  if (state_ == State::Failed)
    std::fprintf(stderr, "single instance %s: %s\n", path_.c_str(), std::strerror(errno));
  ::close(fd_);
  fd_ = -1;
}

SingleInstance::~SingleInstance() {
  // Closing drops the lock. The file stays: removing it would let a second
  // instance lock a new file while a third still holds the old one.
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace platform
