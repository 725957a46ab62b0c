#pragma once
// Which of Qt's platform plugins both programs run on. The global key and
// wheel hooks, input synthesis and the pointer settings speak X11; under a
// Wayland session they reach the X server of XWayland only, so there the
// programs run as X clients too ("xcb"): the key capture dialogs and macro
// recording then see the keys while one of our windows has the focus. A
// QT_QPA_PLATFORM the user set is left alone.
//
// The choice goes to the application object as its "-platform" argument,
// never into our environment: a browser or another Qt program started
// through the file opener, and the other program, choose for themselves.
//
// Without an X display (none at all, or a Wayland session without
// XWayland) Qt's xcb plugin would abort the program with a core dump; the
// programs say in one line what is missing instead and end with status 1.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The plugin to ask for, or empty to leave Qt's own choice. env gives the
// value of an environment variable, empty when it is not set.
std::string qtPlatformFor(const std::function<std::string(const char* name)>& env);

// What keeps the programs from showing a window, in one sentence, or empty
// when nothing does. canOpenX tells whether the X display of that name
// accepts a connection. Only asked when the platform is xcb (the user's
// choice, ours or Qt's default); another platform the user chose is theirs.
std::string displayProblemFor(const std::function<std::string(const char* name)>& env,
                              const std::function<bool(const std::string& display)>& canOpenX);

// The application object's arguments: the program's own, with
// "-platform <plugin>" added when a plugin was chosen. Keeps the strings
// alive as long as the application object needs them.
class QtArguments {
 public:
  QtArguments(int argc, char** argv, const std::string& platform);
  QtArguments(const QtArguments&) = delete;
  QtArguments& operator=(const QtArguments&) = delete;
  int& argc() { return argc_; }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> strings_;
  std::vector<char*> pointers_;
  int argc_ = 0;
};

// Chooses the platform for this process (its environment, the X server):
// the arguments for the application object, or nullopt after printing
// "<program>: <what is missing>" on stderr, when the program cannot show a
// window; the caller then ends with status 1. Call it before the
// application object exists.
std::optional<QtArguments> prepareQtPlatform(const char* program, int argc, char** argv);

}  // namespace platform
