#include "platform/QtPlatformChoice.h"

#include <cstdlib>

namespace platform {

std::string qtPlatformFor(const std::function<std::string(const char* name)>& env) {
  // Qt, too, takes an empty QT_QPA_PLATFORM for an unset one.
  if (!env("QT_QPA_PLATFORM").empty()) return {};
  const bool wayland = env("XDG_SESSION_TYPE") == "wayland" || !env("WAYLAND_DISPLAY").empty();
  if (!wayland || env("DISPLAY").empty()) return {};
  return "xcb";
}

void chooseQtPlatform() {
  const std::string platform = qtPlatformFor([](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value ? value : "");
  });
  if (!platform.empty()) ::setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
}

}  // namespace platform
