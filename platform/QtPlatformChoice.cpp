#include "platform/QtPlatformChoice.h"

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {
bool waylandSession(const std::function<std::string(const char* name)>& env) {
  return env("XDG_SESSION_TYPE") == "wayland" || !env("WAYLAND_DISPLAY").empty();
}

std::string processEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool xDisplayOpens(const std::string& name) {
  Display* d = XOpenDisplay(name.c_str());
  if (!d) return false;
  XCloseDisplay(d);
  return true;
}
}  // namespace

std::string qtPlatformFor(const std::function<std::string(const char* name)>& env) {
  // Qt, too, takes an empty QT_QPA_PLATFORM for an unset one.
  if (!env("QT_QPA_PLATFORM").empty()) return {};
  if (!waylandSession(env) || env("DISPLAY").empty()) return {};
  return "xcb";
}

std::string displayProblemFor(const std::function<std::string(const char* name)>& env,
                              const std::function<bool(const std::string& display)>& canOpenX) {
  const std::string chosen = env("QT_QPA_PLATFORM");
  // "xcb" or "xcb:<options>" is X; any other plugin the user named is theirs.
  if (!chosen.empty() && chosen != "xcb" && chosen.rfind("xcb:", 0) != 0) return {};
  const std::string display = env("DISPLAY");
  if (display.empty()) {
    if (waylandSession(env))
      return "no X display: this Wayland session has no XWayland (DISPLAY is not set); "
             "the programs need XWayland or an X session";
    return "no X display (DISPLAY is not set); the programs need an X session, or XWayland under Wayland";
  }
  if (!canOpenX(display)) return "cannot open the X display \"" + display + "\"";
  return {};
}

QtArguments::QtArguments(int argc, char** argv, const std::string& platform) {
  for (int i = 0; i < argc; ++i) strings_.emplace_back(argv[i]);
  if (!platform.empty()) {
    // After the program's name, before its own arguments.
    const auto at = strings_.begin() + (strings_.empty() ? 0 : 1);
    strings_.insert(at, {"-platform", platform});
  }
  for (auto& s : strings_) pointers_.push_back(s.data());
  argc_ = int(pointers_.size());
  pointers_.push_back(nullptr);
}

std::optional<QtArguments> prepareQtPlatform(const char* program, int argc, char** argv) {
  const std::string problem = displayProblemFor(processEnv, xDisplayOpens);
  if (!problem.empty()) {
    std::fprintf(stderr, "%s: %s\n", program, problem.c_str());
    return std::nullopt;
  }
  return std::optional<QtArguments>(std::in_place, argc, argv, qtPlatformFor(processEnv));
}

}  // namespace platform
