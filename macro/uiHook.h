#pragma once
// TuiHook: watches the keyboard and the mouse system-wide through the hook
// library (libuiHook.so, loaded at run time from the executable's folder)
// and turns the raw events into recordings (one key, a key combination, a
// keyboard macro, a mouse macro) or into interception events for chosen keys
// and mouse buttons, with the power to swallow an event.
//
// Threads: the library calls back on a thread of its own. Each call is moved
// to the GUI thread, where the events are raised; the library's thread waits
// for the swallow decision at most kDecisionTimeoutMs, after which the event
// passes. Stop/Disable never waits for the library's thread, and events that
// were on their way when a hook was stopped are dropped. Every method is for
// the GUI thread.
//
// Keys are Windows virtual-key codes (position-based, US layout) with an
// extended flag; time stamps are the source's milliseconds, wrapping at 2^32:
// gaps are 32-bit modular differences.
#include "hooklib/uiHookApi.h"
#include "macro/HookSource.h"

#include <QObject>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using TKBDLLHOOKSTRUCT = UiKeyboardRecord;
using TMSLLHOOKSTRUCT = UiMouseRecord;

// The combination being recorded. Modifier mask: Alt 1, Ctrl 2, Shift 4, Win 8.
struct TCOMBOKEY {
  uint16_t nKeyValue1 = 0;
  uint16_t nKeyValue1Extended = 0;
  uint16_t nKeyValue2 = 0;
  uint16_t nKeyValue2Extended = 0;
  uint16_t nModifier = 0;
  uint32_t nScanKey1 = 0;
  uint32_t nScanKey2 = 0;
};

// Mouse buttons in the order the interception compares them.
enum TMouseButtons : uint8_t {
  BUTTON_NONE = 0,
  LCLICK = 1,
  RCLICK = 2,
  MCLICK = 3,
  XCLICK4 = 4,
  XCLICK5 = 5,
  WHEELUP = 6,
  WHEELDOWN = 7,
  BUTTONX1 = 8,
  BUTTONX2 = 9,
  BUTTONX3 = 10,
};

// Ordinal = Windows mouse message - 0x200.
enum TMouseButtonStates : uint8_t {
  MOUSEMOVE, LBUTTONDOWN, LBUTTONUP, LBUTTONDBLCLK, RBUTTONDOWN, RBUTTONUP, RBUTTONDBLCLK, MBUTTONDOWN,
  MBUTTONUP, MBUTTONDBLCLK, MOUSEWHEEL, XBUTTONDOWN, XBUTTONUP, XBUTTONDBLCLK, MOUSEHWHEEL, OTHERFUNCTION,
};
// A set of TMouseButtonStates: bit n for ordinal n.
using TMouseButtonStateSet = uint16_t;
constexpr TMouseButtonStateSet MouseStateBit(TMouseButtonStates s) { return static_cast<TMouseButtonStateSet>(1u << s); }
enum TMouseStatesToHook : uint8_t { HOOK_DOWN, HOOK_UP };

// One entry of a mouse-macro recording: nKeyType 0 delay (TimeValue), 1 button.
struct TMOUSEMACROKEY {
  uint16_t nKeyType = 0;
  uint16_t nKeyState = 0;
  TMouseButtons MouseButton = BUTTON_NONE;
  uint16_t X = 0;
  uint16_t Y = 0;
  uint16_t TimeValue = 0;
};
using TMouseMacroKeyList = std::vector<TMOUSEMACROKEY>;

// A key to intercept: 0 in KeyboardVKKey or KeyboardSCANKey leaves that field
// out of the matching; -1 in KeyboardVKKey ends the list; block 1 swallows.
struct TKeyBoardHookDetail {
  int32_t KeyboardVKKey = 0;
  int32_t KeyboardSCANKey = 0;
  int32_t KeyExtended = 0;
  int32_t block = 0;
};
struct TKeyBoardHookDetailObject {
  TKeyBoardHookDetail FKeyBoardHookDetail;
};

// A mouse button to intercept: matches when the message's state is in
// MouseStateSet and MouseButton is not lower than the event's button.
struct TMouseHookDetail {
  TMouseButtons MouseButton = BUTTON_NONE;
  TMouseButtonStateSet MouseStateSet = 0;
  TMouseButtons ModifiedFunction = BUTTON_NONE;
  TMouseStatesToHook MouseStateToHook = HOOK_DOWN;  // not read
};
struct TMouseHookDetailObject {
  TMouseHookDetail FMouseHookDetail;
};

// "Mouse Click", ... for LCLICK..WHEELDOWN; empty for any other button.
std::string GetMouseButtonDescription(TMouseButtons button);
// Button and state (1 press, 0 release) of a low-level mouse message.
void MouseMessageToButton(uint32_t message, uint32_t mouseData, TMouseButtons& button, int& state);

using TOnRecordKeyboardComboKey2 = std::function<void(int Key1, int ScanKey1, int Key1Extended, int Key2,
                                                      int ScanKey2, int Key2Extended, int Modifier,
                                                      const std::string& ComboKeyString)>;
using TOnRecordKeyboardMacroKey =
    std::function<void(int MacroType, int Key1, int AState, int Extended, double Time,
                       const std::string& MacroKeyString, const std::string& MacroKeyStateString,
                       const TMacroKeyHookList& KeyList)>;
using TOnRecordMouseMacroKey =
    std::function<void(int MacroType, TMouseButtons AButton, int AState, uint16_t X, uint16_t Y, double Time,
                       const std::string& MacroKeyString, const std::string& MacroKeyStateString,
                       const TMouseMacroKeyList& MouseRecordList)>;
using TOnStopRecordMouseMacroKey = std::function<void(const TMouseMacroKeyList& MouseRecordList)>;
using TOnHookKeyboardKey =
    std::function<void(int Key, int AState, int AKeyExtended, bool& ABlocked, uint32_t AScanKey)>;
using TOnHookMouseButton = std::function<void(TMouseButtons AuiButton, int AState, bool& ABlocked)>;
using TOnHookAllMouseButton =
    std::function<void(TMouseButtons AuiButton, int AState, int16_t AExValue, bool& ABlocked)>;
using TOnHookMouseMove = std::function<void(int X, int Y, double Time)>;

class TuiHook : public QObject, public THookSource {
 public:
  // How long the library's thread waits for a handler's swallow decision.
  static constexpr int kDecisionTimeoutMs = 300;
  // The extended macro recording takes events while it holds at most this many entries.
  static constexpr std::size_t kMacroExLimit = 500;

  // Loads the library (shared by every component of the process). Without
  // it: "uiHook.dll can not be found!" titled "Error", once per component,
  // and every operation does nothing.
  explicit TuiHook(QObject* AOwner = nullptr);
  // Ends the hooks this component holds, then releases the library.
  ~TuiHook() override;
  TuiHook(const TuiHook&) = delete;
  TuiHook& operator=(const TuiHook&) = delete;

  bool DLLLoaded() const override { return FDLLLoaded; }

  void RecordKeyboardSingleKey() override;
  void StopRecordKeyboardSingleKey() override;
  void RecordKeyboardComboKey() override;
  void StopRecordKeyboardComboKey() override;
  void RecordKeyboardMacroKey();
  void StopRecordKeyboardMacroKey();
  void RecordKeyboardMacroKeyEx() override;
  void StopRecordKeyboardMacroKeyEx() override;
  void RecordMouseMacro();
  void StopRecordMouseMacro();
  void StartHookKeyboard();
  void StopHookKeyboard();
  void StartHookMouse();
  void StopHookMouse();
  void AddKeyboardHookObject(std::unique_ptr<TKeyBoardHookDetailObject> AObject);
  void AddMouseHookObject(std::unique_ptr<TMouseHookDetailObject> AObject);
  void RemoveAllKeyboardHookObject();
  void RemoveAllMouseHookObject();
  // Raises the queued macro entries (nothing in the programs queues any).
  void ProcessDataEvent();

  // The events beyond those of THookSource.
  TOnRecordKeyboardComboKey2 OnRecordKeyboardComboKey2;
  TOnRecordKeyboardMacroKey OnRecordKeyboardMacroKey;
  TOnRecordMouseMacroKey OnRecordMouseMacroKey;
  TOnStopRecordMouseMacroKey OnStopRecordMouseMacroKey;
  TOnHookKeyboardKey OnHookKeyboardKey;
  TOnHookKeyboardKey OnHookKeyboardAllKey;
  TOnHookMouseButton OnHookMouseButton;
  TOnHookAllMouseButton OnHookMouseAllButton;
  TOnHookMouseMove OnHookMouseMove;

  // Whether a key is down as the delivered keyboard records (and, at each
  // keyboard Enable, the desktop's key map) tell. Codes above 255: false.
  static bool GetKeyState(uint32_t vk);

  // The factory that makes TuiHook the windows' hook source.
  static THookSourceFactory Factory();

  // For tests: where the library is loaded from (empty: the executable's
  // folder) and who shows the missing-library message (empty: a message
  // box, or stderr without a widget application).
  static void SetLibraryPath(std::string path);
  static void SetErrorReporter(std::function<void(const std::string& title, const std::string& text)> reporter);
  // For tests: a library call as it would arrive for the hook of that kind
  // now enabled; from any thread, as the library would make it.
  static bool DeliverForTesting(bool keyboard, uint32_t message, const void* record);

  // Called on the GUI thread for a delivered record; answers the swallow flag.
  bool Dispatch(bool keyboard, int32_t code, uint32_t message, const void* record);

 private:
  enum class KeyboardMode { Idle, SingleKey, Combo, Macro, MacroEx, Intercept };
  enum class MouseMode { Idle, MouseMacro, Intercept };

  void EnableKeyboard(KeyboardMode mode);
  void DisableKeyboard();
  void EnableMouse(MouseMode mode);
  void DisableMouse();

  bool SingleKeyHookProc(const TKBDLLHOOKSTRUCT& r);
  bool ComboKeyHookProc(const TKBDLLHOOKSTRUCT& r);
  bool MacroKeyHookProc(const TKBDLLHOOKSTRUCT& r);
  bool MacroKeyExHookProc(const TKBDLLHOOKSTRUCT& r);
  bool KeyboardHookProc(int32_t code, const TKBDLLHOOKSTRUCT& r);
  bool MouseMacroHookProc(uint32_t message, const TMSLLHOOKSTRUCT& r);
  bool MouseHookProc(uint32_t message, const TMSLLHOOKSTRUCT& r);

  void DataEventThreadExecute();

  bool FDLLLoaded = false;
  KeyboardMode FKeyboardMode = KeyboardMode::Idle;
  MouseMode FMouseMode = MouseMode::Idle;

  TCOMBOKEY FComboKeyInfo;
  std::string FComboKeyString;
  TMacroKeyHookList FMacroKeyList;
  TMouseMacroKeyList FMouseMacroKeyList;
  std::vector<std::unique_ptr<TKeyBoardHookDetailObject>> FKeyboardHookObjectList;
  std::vector<std::unique_ptr<TMouseHookDetailObject>> FMouseHookObjectList;

  // Time of the previous event of each recording; valid when the flag is set
  // (a time stamp of 0 is a real time after the clock wraps).
  uint32_t FLastTimeKeyboardMacro = 0;
  bool FHaveLastKeyboardMacro = false;
  uint32_t FLastTimeKeyboardCombo = 0;
  bool FHaveLastKeyboardCombo = false;
  uint32_t FLastTimeMouseMacro = 0;
  bool FHaveLastMouseMacro = false;

  uint32_t FTotalMacroTime = 0;
  TKBDLLHOOKSTRUCT FLastMacroKey{};
  // 1 while the extended recording holds a key as pressed; the plain and
  // the extended key of one code (Enter, keypad Enter) are held apart.
  std::array<std::array<uint8_t, 256>, 2> FAllKeyState{};

  // The dormant worker: waits for queued data or the stop flag.
  struct TDataItem {
    uint8_t kind = 0;  // 1 keyboard entry, 0 mouse entry
    TMACROKEYHOOK key;
    TMOUSEMACROKEY mouse;
  };
  std::mutex FQueueMutex;
  std::condition_variable FQueueCondition;
  std::deque<TDataItem> FRecordDataToProcessList;
  bool FDataSignalled = false;
  bool FStop = false;
  std::thread FWorker;
};
