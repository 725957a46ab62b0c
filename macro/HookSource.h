#pragma once
// What the macro manager and the key capture dialogs need of the hook
// component: start and stop one kind of keyboard recording, and the events
// that recording raises. The hook component (TuiHook) implements this
// interface; the windows only see it, so they run and are tested without
// the hook library.
//
// Contract for implementations:
//  - every event is raised on the GUI thread (the hook component moves the
//    library's calls there), never inside a Start/Stop call of another kind;
//  - at most one keyboard recording runs per source: each Record* replaces
//    the previous one, each Stop* ends it;
//  - StopRecordKeyboardMacroKeyEx always raises OnStopRecordKeyboardMacroKey
//    (when set) with every captured entry, possibly none, before it
//    returns, then empties the list;
//  - no event is raised after a Stop* of its kind or after destruction;
//  - without the hook library every operation does nothing (the windows
//    still open and work without capture).

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// One captured entry of a keyboard-macro recording, in capture order.
struct TMACROKEYHOOK {
  uint16_t nKeyType = 0;           // 0 delay, 1 key event
  uint16_t nKeyState = 0;          // key event: 1 press, 0 release; delay: 0
  uint16_t nKeyValue = 0;          // key event: virtual-key code; delay: milliseconds (<= 65535)
  uint16_t nKeyValueExtended = 0;  // key event: 1 for an extended key
};

using TMacroKeyHookList = std::vector<TMACROKEYHOOK>;

// Single-key recording: every press and release, auto-repeats included.
// AState 1 press, 0 release; AKeyExtended 1 for an extended key. Setting
// ABlocked swallows the key.
using TOnRecordKeyboardSingleKey = std::function<void(int Key, uint32_t ScanKey, int AState, int AKeyExtended,
                                                      const std::string& SingleKeyString, bool& ABlocked)>;
// Combination recording: raised for presses of keys other than the
// modifiers; Modifier is Alt 1, Ctrl 2, Shift 4, Win 8.
using TOnRecordKeyboardComboKey = std::function<void(int Key1, int Key1Extended, int Key2, int Key2Extended,
                                                     int Modifier, const std::string& ComboKeyString)>;
// Keyboard-macro recording with delays: one call per recorded key event
// (never for a delay entry). TotalTime: milliseconds since the previous key
// event, 0 for the first. KeyList: the entries captured so far.
using TOnRecordKeyboardMacroKeyEx =
    std::function<void(int MacroType, int Key1, int AState, int Extended, double Time, uint32_t TotalTime,
                       const std::string& MacroKeyString, const std::string& MacroKeyStateString,
                       const TMacroKeyHookList& KeyList)>;
// The end of a keyboard-macro recording, with every captured entry.
using TOnStopRecordKeyboardMacroKey = std::function<void(const TMacroKeyHookList& KeyoboardRecordList)>;

class THookSource {
 public:
  virtual ~THookSource() = default;

  // True when the hook library was available at creation.
  virtual bool DLLLoaded() const = 0;

  virtual void RecordKeyboardSingleKey() = 0;
  virtual void StopRecordKeyboardSingleKey() = 0;
  virtual void RecordKeyboardComboKey() = 0;
  virtual void StopRecordKeyboardComboKey() = 0;
  virtual void RecordKeyboardMacroKeyEx() = 0;
  virtual void StopRecordKeyboardMacroKeyEx() = 0;

  TOnRecordKeyboardSingleKey OnRecordKeyboardSingleKey;
  TOnRecordKeyboardComboKey OnRecordKeyboardComboKey;
  TOnRecordKeyboardMacroKeyEx OnRecordKeyboardMacroKeyEx;
  TOnStopRecordKeyboardMacroKey OnStopRecordKeyboardMacroKey;
};

// Makes the hook source of one window (`owner` is the window; the source
// lives no longer than the returned pointer).
using THookSourceFactory = std::function<std::unique_ptr<THookSource>(QObject* owner)>;

// Installs the factory the windows use (the program installs the hook
// component's; tests install a fake). An empty factory restores the
// default, which makes an inert source: no library, nothing captured.
void SetHookSourceFactory(THookSourceFactory factory);
// A new source from the installed factory (never null).
std::unique_ptr<THookSource> CreateHookSource(QObject* owner);
