#pragma once
// Which of Qt's platform plugins both programs run on. The global key and
// wheel hooks, input synthesis and the pointer settings speak X11; under a
// Wayland session they reach the X server of XWayland only, so there the
// programs run as X clients too ("xcb"): the key capture dialogs and macro
// recording then see the keys while one of our windows has the focus. A
// QT_QPA_PLATFORM the user set is left alone, and so is a Wayland session
// without XWayland (no DISPLAY), where Qt's own choice is the only one that
// can show a window.

#include <functional>
#include <string>

namespace platform {

// The plugin to ask for, or empty to leave Qt's own choice. env gives the
// value of an environment variable, empty when it is not set.
std::string qtPlatformFor(const std::function<std::string(const char* name)>& env);

// Sets QT_QPA_PLATFORM from qtPlatformFor(the process environment); call it
// before the application object exists.
void chooseQtPlatform();

}  // namespace platform
