#include "platform/QtPlatformChoice.h"

#include <gtest/gtest.h>

#include <map>

namespace {

TEST(QtPlatformChoice, XcbUnderWaylandWithXWaylandUnlessTheUserChose) {
  using Env = std::map<std::string, std::string>;
  struct Case {
    const char* name;
    Env env;
    const char* chosen;  // "" leaves Qt's own choice
  };
  const Case cases[] = {
      {"X11 session", {{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}}, ""},
      {"plain X server, no session type", {{"DISPLAY", ":0"}}, ""},
      {"Wayland session with XWayland",
       {{"XDG_SESSION_TYPE", "wayland"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}},
       "xcb"},
      {"Wayland compositor started without a session type",
       {{"WAYLAND_DISPLAY", "wayland-1"}, {"DISPLAY", ":1"}},
       "xcb"},
      {"Wayland session type, socket not yet named", {{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":0"}}, "xcb"},
      {"Wayland without XWayland", {{"XDG_SESSION_TYPE", "wayland"}, {"WAYLAND_DISPLAY", "wayland-0"}}, ""},
      {"the user asked for Wayland",
       {{"QT_QPA_PLATFORM", "wayland"}, {"XDG_SESSION_TYPE", "wayland"}, {"WAYLAND_DISPLAY", "wayland-0"},
        {"DISPLAY", ":0"}},
       ""},
      {"the user asked for offscreen",
       {{"QT_QPA_PLATFORM", "offscreen"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}},
       ""},
      {"an empty QT_QPA_PLATFORM is no choice",
       {{"QT_QPA_PLATFORM", ""}, {"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":0"}},
       "xcb"},
      {"no display at all", {}, ""},
      {"text console", {{"XDG_SESSION_TYPE", "tty"}}, ""},
  };
  for (const Case& c : cases) {
    const auto lookup = [&](const char* name) {
      const auto it = c.env.find(name);
      return it == c.env.end() ? std::string() : it->second;
    };
    EXPECT_EQ(platform::qtPlatformFor(lookup), c.chosen) << c.name;
  }
}

}  // namespace
