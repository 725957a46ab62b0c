#pragma once
// TTessoldMain: the monitor. It has no window; the user sees a tray icon
// with "Config" and "Exit". It starts or brings forward the configurator,
// reads the mouse's vendor input reports (button presses, DPI level, mode
// switches), toggles the microphone mute for the button function that asks
// for it, remaps the vertical wheel, passes the DPI table and the current
// level to the filter driver, and reacts when the mouse arrives or leaves.
//
// Every platform layer comes in through an interface (TMonitorPlatform), so
// the whole logic runs headless against the emulated mouse; main.cpp wires
// the real ones. Everything runs on the GUI thread: reports, device loss and
// hook events arrive there by queued calls, and timed steps are timers. The
// DPI-table frame is timed steps too; a caller that needs its result (a
// message 7035 is answered only once the frame serving it has closed) waits
// in a nested event loop, so reports, timers and messages are still handled
// meanwhile.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "device/pubunit_quindle.h"
#include "device/uiHIDData.h"
#include "monitor/uiHIDEventEx.h"
#include "monitor/uiStdCmd.h"
#include "platform/HidBackend.h"
#include "platform/MicMute.h"

class TDM;
class TuiLanguage;

// Internal message numbers of the monitor (posted to itself).
constexpr uint32_t WM_DEVICE_KEY = 7524;   // wParam 0..14 button, 21/22 mode switch to mode 0/1
constexpr uint32_t WM_WHEEL_HOOK = 7624;   // wParam WHEELUP (6) or WHEELDOWN (7)

// wParam codes of WM_DEVICE_KEY for the two mode switches.
constexpr int kDeviceKeyMode0 = 21;
constexpr int kDeviceKeyMode1 = 22;
// Buttons a profile has entries for.
constexpr int kMonitorButtonCount = 15;

// Wheel directions as the hook component numbers them (TMouseButtons).
constexpr int kHookWheelUp = 6;
constexpr int kHookWheelDown = 7;

// Windows virtual keys the wheel functions send.
constexpr uint16_t VK_VOLUME_DOWN = 0xAE;
constexpr uint16_t VK_VOLUME_UP = 0xAF;
constexpr uint16_t VK_BROWSER_BACK = 0xA6;
constexpr uint16_t VK_BROWSER_FORWARD = 0xA7;

// The tray icon as the monitor drives it.
class TMonitorTray {
 public:
  virtual ~TMonitorTray() = default;
  virtual void SetHint(const QString& hint) = 0;
  // Texts of the three menu rows, by position.
  virtual void SetMenuTexts(const QString& config, const QString& about, const QString& exit) = 0;
  virtual void SetVisible(bool visible) = 0;
};

// The configurator as the monitor reaches it.
class TConfiguratorLink {
 public:
  virtual ~TConfiguratorLink() = default;
  // Brings a running configurator forward; false when none runs.
  virtual bool Activate() = 0;
  // Starts the configurator from the program folder.
  virtual void Start() = 0;
  // Posts 7036 (close) when it runs.
  virtual void PostClose() = 0;
};

// The wheel interception (over TuiHook in the program).
class TMonitorWheelHook {
 public:
  virtual ~TMonitorWheelHook() = default;
  virtual void StopHookMouse() = 0;
  virtual void RemoveAllMouseHookObject() = 0;
  // An object for WHEELUP or WHEELDOWN, state set {MOUSEWHEEL}, no modified function.
  virtual void AddMouseHookObject(int wheelButton) = 0;
  virtual void StartHookMouse() = 0;
  // Raised on the GUI thread: the event's own direction (6 up, 7 down),
  // its state; set ABlocked to swallow the event.
  std::function<void(int AuiButton, int AState, bool& ABlocked)> OnHookMouseButton;
};

// Synthesised input; the events carry the injected flag, so the hook never
// sees them again.
class TInputSynthesis {
 public:
  virtual ~TInputSynthesis() = default;
  // One wheel event of delta (+120 up, -120 down) at the pointer.
  virtual void Wheel(int delta) = 0;
  virtual void Key(uint16_t vk, bool press) = 0;
};

struct TMonitorPlatform {
  TMonitorTray* Tray = nullptr;
  platform::MicrophoneMute* Mic = nullptr;
  TFilterDriver* Driver = nullptr;
  TConfiguratorLink* Configurator = nullptr;
  TMonitorWheelHook* Hook = nullptr;
  TInputSynthesis* Input = nullptr;
  std::shared_ptr<platform::HidBackend> Backend;
  std::unique_ptr<platform::HidDeviceNotifier> Notifier;
  QString ProgramFolder;  // config.ini and ui.local
  // Ends the event loop (Exit); default: QCoreApplication::quit.
  std::function<void()> Terminate;
};

class TTessoldMain : public QObject {
  Q_OBJECT
 public:
  static constexpr int kDeviceArrivalDelayMs = 1500;
  static constexpr int kSetCurrentCpiDelayMs = 100;
  // Pacing of a remapped wheel action: before it, and between key press and release.
  static constexpr int kWheelActionDelayMs = 10;
  static constexpr int kKeyPressMs = 50;
  // Each of the two pauses of the DPI-table frame: after opening it, and
  // after the level read before closing it.
  static constexpr int kFramePauseMs = 50;

  TTessoldMain(TDM& dm, TMonitorPlatform platform, QObject* parent = nullptr);
  ~TTessoldMain() override;

  // Start-up: include list, language, DPI table, wheel hook, device check.
  void InitMonitor();
  // The end: last DPI table with NeedApplyNewCPI 0, readers stopped. Once.
  void DoneMonitor();
  // Asks the program to end (a signal, "Exit"): no new frame starts, a frame
  // already open runs to its close with both pauses, then Terminate is
  // called. Ending the event loop earlier would end every pause with it.
  void RequestEnd();

  // The handler of the message endpoint (7035, 7037; others answer 0).
  int64_t HandleMessage(uint32_t message, int64_t wParam, int64_t lParam);

  // Tray and menu.
  void TrayIconDblClick() { ShowConfigurator(); }
  void Config1Click() { ShowConfigurator(); }
  void Exit1Click();

  void ShowConfigurator();
  void CloseConfigurator();

  void CheckDeviceAndStart();
  void WMProfileChanged();
  void WMLanguageChanged();
  void WMDeviceKey(int wParam, int lParam);
  void WMWheelHook(int wParam);
  void RunButtonFunction(int buttonIndex, int functionIndex, int state);

  // Report handler of the readers (GUI thread).
  void uiHIDData1Data(const std::string& ADeviceID, const std::string& ADevicePath, uint8_t ReportID,
                      const uint8_t* Data, uint16_t Size);
  void uiHIDData1DeviceNotConnected(const std::string& ADeviceID, const std::string& ADevicePath);
  void uiHIDEventEx1NewDeviceArrival(const QStringList& ANewDevicesList);
  void uiHIDEventEx1PresentDeviceRemoval(const QStringList& ARemovalDevicesList);
  void uiHook1HookMouseButton(int AuiButton, int AState, bool& ABlocked);

  // Reads the current level in a frame of its own (command 6 (0,0), a pause,
  // the read, a pause, command 6 (1,0)) and sends the current profile's table
  // with it to the driver; returns once the last frame asked for has closed.
  // A call made while a frame runs is served by one more whole frame right
  // after it. Once the end is requested no frame starts.
  void SendCpiTable();
  void StopSoftwareCpi();
  void SetupWheelHooks();

  // For tests.
  const CPI_UNIT& CpiUnit() const { return FCPIUNIT; }
  const QStringList& IncludeHidDeviceList() const { return FIncludeHidDeviceList; }
  bool MousePresent() const { return FMousePresent; }
  TuiHIDData& HidData() { return *uiHIDData1; }
  TuiHIDEventEx& HidEventEx() { return *uiHIDEventEx1; }
  bool DeviceArrivalPending() const { return TimerDeviceArrial->isActive(); }
  bool FrameOpen() const { return FFrameStep != FrameStep::Closed; }
  Qt::TimerType LevelDebounceTimerType() const { return TimerToSetCurrentCpi->timerType(); }

 signals:
  // After each finished device check (present or not), for tests and traces.
  void DeviceChecked(bool present);
  // After a remapped wheel action was synthesised in full.
  void WheelActionDone();
  // After a DPI-table frame sent its closing command 6 (1,0).
  void FrameClosed();

 private:
  struct WheelAction {
    int delta = 0;    // wheel event, or
    uint16_t vk = 0;  // key press and release
  };

  void LoadIncludeHidDeviceList();
  void ApplyLanguage();
  void StartHidRead();
  bool IsMousePresent();
  void ReloadFromRegistry();
  void HandleDeviceLoss();
  void RestartArrivalTimerIfIncluded(const QStringList& ids);
  void TimerToSetCurrentCpiTimer();
  // The frame's steps: opening, the read after the first pause, the closing
  // after the second.
  void OpenFrame();
  void FramePauseEnded();
  void CloseFrame();
  void SendTableWithLevel(uint16_t level);
  // A nested event loop until no frame runs any more.
  void WaitForFramesToEnd();
  void RunNextWheelStep();

  TDM& DM;
  TMonitorPlatform P;
  TuiLanguage* uiLanguage1 = nullptr;
  TuiHIDData* uiHIDData1 = nullptr;
  TuiHIDEventEx* uiHIDEventEx1 = nullptr;
  QTimer* TimerDeviceArrial = nullptr;
  QTimer* TimerToSetCurrentCpi = nullptr;
  QTimer* TimerWheel = nullptr;
  QTimer* TimerFramePause = nullptr;

  QStringList FIncludeHidDeviceList;
  CPI_UNIT FCPIUNIT{};
  bool MonitorStarting = false;
  bool FMousePresent = false;
  bool FDone = false;
  bool FEndRequested = false;
  // Frames run one after the other, never nested: an inner one would close
  // the outer before its read. A series runs while frames are asked for.
  enum class FrameStep { Closed, Opened, Read };
  FrameStep FFrameStep = FrameStep::Closed;
  bool FCpiFrameRunning = false;
  bool FCpiFrameAgain = false;
  // The open frame's read.
  bool FFrameReadOk = false;
  int32_t FFrameRead = 0;
  uint64_t FLevelReportsAtRead = 0;
  // Level reports handled so far: one handled after a frame's read is newer than the read.
  uint64_t FLevelReports = 0;
  // The directions the current profile remaps (the only ones swallowed).
  bool FHookUp = false;
  bool FHookDown = false;
  std::deque<WheelAction> FWheelQueue;
  bool FKeyDown = false;  // the front action's key is pressed, release due
};
