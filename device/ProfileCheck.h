#pragma once
// The check of a profile image that comes in from outside the running
// program (an imported file, a stored profile): every field that the window
// shows or the encoders send must hold a value the window and the encoders
// could have produced. A profile that fails is not taken at all, so nothing
// of it is shown, stored or written into the mouse.
//
// Reserved fields and fields that only pass through (names, key codes,
// speeds the desktop takes as they are) are not judged here.
#include <QString>
#include <cstdint>
#include <optional>

#include "device/pubunit_quindle.h"

// DPI values a level may hold: the window's smallest value up to the
// mouse's largest step. 0 is taken only for a level that is switched off.
inline constexpr int kProfileCpiMin = 100;
inline constexpr int kProfileCpiMax = 4000;
// The mouse's hardware steps, as HWCPIState holds them.
inline constexpr int kProfileHwCpiMin = 250;
inline constexpr int kProfileHwCpiMax = 4000;
// DPI levels the mouse's table has room for.
inline constexpr int kProfileMaxCpiLevels = 10;
// Brightness and breathing speed: 0 (light closed) to 3.
inline constexpr int kProfileMaxLedLevel = 3;

// The first field found with a value it may not hold.
struct TProfileFault {
  QString Field;  // path inside the profile, e.g. "ConfigInfo.CPIState[2].X"
  int64_t Value = 0;
  // "ConfigInfo.CPIState[2].X holds 5000"
  QString Text() const;
};

// nullopt when the image is usable. Checks the version first, then the
// fields in image order.
std::optional<TProfileFault> FirstProfileFault(const TMOUSEPROFILEINFO& profile);
