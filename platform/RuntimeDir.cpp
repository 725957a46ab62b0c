#include "platform/RuntimeDir.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
constexpr const char* kFolderName = "gaming-mouse";

bool ensurePrivateDir(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  // Never trust a folder someone else owns: the sockets in it carry commands.
  return st.st_uid == ::getuid();
}
}  // namespace

std::string runtimeDir() {
  if (const char* over = std::getenv("MOUSE_RUNTIME_DIR"); over && *over) {
    std::string path(over);
    return ensurePrivateDir(path) ? path : std::string();
  }
  std::string base;
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
    base = xdg;
  } else {
    base = "/tmp/" + std::string(kFolderName) + "-" + std::to_string(::getuid());
    if (!ensurePrivateDir(base)) return {};
    return base;
  }
  std::string path = base + "/" + kFolderName;
  return ensurePrivateDir(path) ? path : std::string();
}

}  // namespace platform
