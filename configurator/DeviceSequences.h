#pragma once
// The configurator's device sequences: Apply (store everything, set the
// desktop pointer, write both hardware modes into the mouse and have the
// monitor reload inside the open batch frame), the mode switch, the profile
// switch and the PRESET menu.
//
// The sequences run on the GUI thread and are paced by pauses that keep the
// window painting; each transfer runs on a worker while the GUI thread waits
// in an event loop, so a mouse that is slow to answer never freezes the
// window. While one runs, DeviceSequenceRunning() is true: every
// handler that changes the profiles or talks to the mouse (profile, mode,
// PRESET, Reset All, assignment) must return at once then, or it would
// change TDM half-way through a sequence and nest batch frames. The default
// pause also holds real user input back until the sequence ends.
#include <QString>
#include <cstdint>
#include <functional>

#include "device/pubunit_quindle.h"

class TDM;
class TuiHIDData;
class TProfileFileChooser;
namespace platform {
class PointerSettings;
}

// The desktop mouse parameters Apply sets (the window's SystemMouseParams);
// 12 bytes, handed to the worker as a copy.
struct TDesktopMouseParams {
  int32_t PointerSpeed = 0;
  int32_t ScrollLines = 0;
  int32_t AccelerationIndex = 0;
};
static_assert(sizeof(TDesktopMouseParams) == 12);

// Pumps pending events except user input, then waits `ms` milliseconds with
// the event loop running (painting and timers go on, clicks wait). 0: pump
// only. The default pause of every sequence.
void PumpMessagesAndWait(int ms);

// True while Apply, a mode switch or a profile switch runs.
bool DeviceSequenceRunning();

// Sets the pointer speed, the acceleration row (only 0..3; another index
// leaves acceleration alone) and the wheel lines. Runs on Apply's worker.
void ApplySystemMouseParams(platform::PointerSettings& pointer, const TDesktopMouseParams& params);

// What the sequences work with; the window fills it once.
struct TDeviceSequenceContext {
  TDM* DM = nullptr;                             // not owned
  TuiHIDData* Hid = nullptr;                     // the window's uiHIDData1, not owned
  platform::PointerSettings* Pointer = nullptr;  // not owned; null: the desktop is left alone
  // Pump, then pause ms (0: pump only). Default PumpMessagesAndWait.
  std::function<void(int ms)> Pause;
  // Message 7035 to the monitor, synchronous: returns after its handler ran.
  // Default: platform::send to "TTessoldMain".
  std::function<void(int64_t wParam, int64_t lParam)> NotifyMonitor;
  // The message dialog (texts already translated). Default ShowMessageDialog.
  std::function<int(const QString&, const QString&, const QString&)> Message;
  // After a switch: rebuild the macro menu and refresh all views (which
  // sends the LED preview in its own frame when the colour is a swatch's).
  std::function<void()> RefreshViews;
  // The LED preview of the profile switch's step inside its frame.
  std::function<void()> LedPreview;
  // Apply's busy indicator: shown from the first transfer to the mouse
  // until the sequence ends, however it ends. May be null.
  std::function<void(bool busy)> Busy;
};

class TDeviceSequences {
 public:
  explicit TDeviceSequences(TDeviceSequenceContext context);

  // Apply. Stores every profile and the mode settings, clears
  // settingsChanged, hands `params` to a worker, then writes both modes into
  // the mouse. False, with the "connect your mouse" warning, when the mouse
  // is absent or a transfer failed; false with a message when a save failed.
  // A transfer that times out ends the sequence there (nothing further is
  // sent, not even the frame's end) with a message that the mouse does not
  // answer. The window keeps painting while a transfer waits.
  // preSavedLed takes the edited profile's colour after a good Apply.
  bool ApplySettings(bool& settingsChanged, const TDesktopMouseParams& params, TLEDCONFIG& preSavedLed);

  // Writes one profile's images into slot 0 or 1 (on a copy: entries 3 and 4
  // exchanged, eight buttons, the eighth with function code 13). Returns the
  // first transport error, 0 when every write went through.
  uint32_t WriteProfileToDevice(const TMOUSEPROFILEINFO& profile, int slot);

  // "Mode 1" (0) / "Mode 2" (1). False for a bad index or while busy.
  bool SwitchMode(int g);
  // "PROFILE1".."PROFILE5" (0..4). Updates params and preSavedLed from the
  // new profile and sets settingsChanged. False for a bad index or while busy.
  bool SwitchProfile(int p, bool& settingsChanged, TDesktopMouseParams& params, TLEDCONFIG& preSavedLed);
  // "ProfileID" := p under "software\Orvelline", only when that key exists.
  bool WriteProfileIdToRegistry(int p);

  // PRESET: 1 "Default Profile", 2 "Load from file", 3 "Save to file".
  // Defaults and a load set settingsChanged and refresh the views. True when
  // something was done.
  bool PresetMenuClick(int64_t id, bool& settingsChanged, TProfileFileChooser& chooser, const QString& profilePath);

  // The second byte of command 1; the profile switch sets it, Apply sends it.
  uint8_t LastProfileArg = 0;

 private:
  void Pause(int ms);
  void Notify(int64_t w, int64_t l);
  void Track(uint32_t code);
  // Runs one transfer (or a few that belong together) off this thread and
  // waits for it with the event loop running. After a transfer timed out,
  // returns kTimeout at once without trying.
  uint32_t Transfer(const std::function<uint32_t()>& transfer);

  TDeviceSequenceContext C;
  uint32_t FFirstError = 0;
  bool FTimedOut = false;  // a transfer of the running sequence found the mouse silent
};
