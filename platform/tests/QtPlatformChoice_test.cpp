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

namespace {

// Whether the programs can show a window: only an X platform is checked.
TEST(QtPlatformChoice, DisplayProblemNamesWhatIsMissing) {
  using Env = std::map<std::string, std::string>;
  struct Case {
    const char* name;
    Env env;
    const char* problem;  // "" none; otherwise a part of the sentence
  };
  const Case cases[] = {
      {"X display that opens", {{"DISPLAY", ":0"}}, ""},
      {"X display that does not open", {{"DISPLAY", ":9"}}, "cannot open the X display \":9\""},
      {"nothing at all", {}, "no X display (DISPLAY is not set)"},
      {"Wayland without XWayland", {{"WAYLAND_DISPLAY", "wayland-0"}}, "has no XWayland"},
      {"the user asked for xcb without a display", {{"QT_QPA_PLATFORM", "xcb"}}, "no X display"},
      {"the user asked for offscreen", {{"QT_QPA_PLATFORM", "offscreen"}}, ""},
      {"the user asked for Wayland", {{"QT_QPA_PLATFORM", "wayland"}, {"WAYLAND_DISPLAY", "wayland-0"}}, ""},
  };
  for (const Case& c : cases) {
    const auto lookup = [&](const char* name) {
      const auto it = c.env.find(name);
      return it == c.env.end() ? std::string() : it->second;
    };
    const std::string problem = platform::displayProblemFor(lookup, [](const std::string& d) { return d == ":0"; });
    if (*c.problem == '\0')
      EXPECT_EQ(problem, "") << c.name;
    else
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.name << ": " << problem;
  }
}

// The choice reaches the application object as its argument, after the
// program's name and before its own arguments.
TEST(QtPlatformChoice, ArgumentsCarryTheChoice) {
  char a0[] = "Marvane", a1[] = "--x";
  char* argv[] = {a0, a1, nullptr};
  platform::QtArguments chosen(2, argv, "xcb");
  ASSERT_EQ(chosen.argc(), 4);
  EXPECT_STREQ(chosen.argv()[0], "Marvane");
  EXPECT_STREQ(chosen.argv()[1], "-platform");
  EXPECT_STREQ(chosen.argv()[2], "xcb");
  EXPECT_STREQ(chosen.argv()[3], "--x");
  EXPECT_EQ(chosen.argv()[4], nullptr);
  platform::QtArguments left(2, argv, "");
  EXPECT_EQ(left.argc(), 2);
  EXPECT_STREQ(left.argv()[1], "--x");
}

}  // namespace
