#include "platform/RuntimeDir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
constexpr const char* kFolderName = "gaming-mouse";

RuntimeDirCheck ensurePrivateDir(const std::string& path) {
  RuntimeDirCheck out;
  out.path = path;
  auto refuse = [&](const std::string& why) {
    out.state = RuntimeDirCheck::State::Refused;
    out.problem = "runtime folder " + path + " " + why + "; refusing to use it";
    return out;
  };
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    out.problem = "cannot create runtime folder " + path + ": " + std::strerror(errno);
    return out;
  }
  // Everything below on the folder's own descriptor: what was examined is
  // what is narrowed, even if the name is swapped meanwhile.
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOTDIR || errno == ELOOP) return refuse("is not a folder");
    out.problem = "cannot open runtime folder " + path + ": " + std::strerror(errno);
    return out;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    out.problem = "cannot examine runtime folder " + path + ": " + std::strerror(errno);
    ::close(fd);
    return out;
  }
  // Never trust a folder someone else owns: the sockets in it carry commands.
  if (st.st_uid != ::getuid()) {
    ::close(fd);
    return refuse("belongs to user " + std::to_string(st.st_uid) + ", not to this user (" +
                  std::to_string(::getuid()) + ")");
  }
  if ((st.st_mode & 07777) != 0700 && ::fchmod(fd, 0700) != 0) {
    const int err = errno;
    ::close(fd);
    out.problem = "cannot make runtime folder " + path + " private: " + std::strerror(err);
    return out;
  }
  ::close(fd);
  out.state = RuntimeDirCheck::State::Ok;
  return out;
}
}  // namespace

RuntimeDirCheck checkRuntimeDir() {
  if (const char* over = std::getenv("MOUSE_RUNTIME_DIR"); over && *over) return ensurePrivateDir(over);
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg)
    return ensurePrivateDir(std::string(xdg) + "/" + kFolderName);
  return ensurePrivateDir("/tmp/" + std::string(kFolderName) + "-" + std::to_string(::getuid()));
}

std::string runtimeDir() {
  RuntimeDirCheck check = checkRuntimeDir();
  return check.state == RuntimeDirCheck::State::Ok ? check.path : std::string();
}

}  // namespace platform
