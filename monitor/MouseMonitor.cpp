#include "monitor/MouseMonitor.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QGuiApplication>

#include <cstdio>
#include <exception>

#include "device/DMUnit.h"
#include "device/DeviceProtocol.h"
#include "device/ProfileEncoders.h"
#include "platform/IniFile.h"
#include "platform/MessageChannel.h"
#include "toolkit/uiLanguage.h"

namespace {

// The vendor collection every request goes to.
USAGE_AND_PAGE VendorCollection() { return DeviceUsageAndPage; }

// The data byte count of the reports the monitor acts on.
constexpr uint16_t kReportDataSize = 7;
constexpr uint8_t kStateReportId = 8;
constexpr uint8_t kStateKindMode = 1;
constexpr uint8_t kStateKindLevel = 2;

// Wheel entries of the profile.
constexpr uint8_t kWheelFunctionType = 1;
enum : uint16_t { kWheelFnUp = 0, kWheelFnDown, kWheelFnVolumeUp, kWheelFnVolumeDown, kWheelFnBack, kWheelFnForward };


}  // namespace

TTessoldMain::TTessoldMain(TDM& dm, TMonitorPlatform platform, QObject* parent)
    : QObject(parent), DM(dm), P(std::move(platform)) {
  if (!P.Terminate) P.Terminate = [] { QCoreApplication::quit(); };
  const QString languageFile = QDir(P.ProgramFolder).filePath(QStringLiteral("ui.local"));
  uiLanguage1 = new TuiLanguage(nullptr, languageFile);
  uiLanguage1->setParent(this);
  // The monitor's own languages, behind those of the translation file.
  uiLanguage1->AppendStoredLanguages({QStringLiteral("CH"), QStringLiteral("US")});

  if (P.Hook) {
    P.Hook->OnHookMouseButton = [this](int button, int state, bool& blocked) {
      uiHook1HookMouseButton(button, state, blocked);
    };
  }

  uiHIDData1 = new TuiHIDData(this, P.Backend, QDir(P.ProgramFolder).filePath(QStringLiteral("config.ini")));
  uiHIDData1->FastOnData = false;
  uiHIDData1->OnData = [this](const std::string& id, const std::string& path, uint8_t reportId, const uint8_t* data,
                              uint16_t size) { uiHIDData1Data(id, path, reportId, data, size); };
  uiHIDData1->OnDeviceNotConnected = [this](const std::string& id, const std::string& path) {
    uiHIDData1DeviceNotConnected(id, path);
  };

  TimerDeviceArrial = new QTimer(this);
  TimerDeviceArrial->setSingleShot(true);
  TimerDeviceArrial->setInterval(kDeviceArrivalDelayMs);
  connect(TimerDeviceArrial, &QTimer::timeout, this, [this] { CheckDeviceAndStart(); });

  TimerToSetCurrentCpi = new QTimer(this);
  TimerToSetCurrentCpi->setSingleShot(true);
  // The driver must get the level no sooner than 100 ms after the last level report and
  // without extra lag; a coarse timer may fire up to 5 % early or late.
  TimerToSetCurrentCpi->setTimerType(Qt::PreciseTimer);
  TimerToSetCurrentCpi->setInterval(kSetCurrentCpiDelayMs);
  connect(TimerToSetCurrentCpi, &QTimer::timeout, this, [this] { TimerToSetCurrentCpiTimer(); });

  TimerWheel = new QTimer(this);
  TimerWheel->setSingleShot(true);
  TimerWheel->setTimerType(Qt::PreciseTimer);
  connect(TimerWheel, &QTimer::timeout, this, [this] { RunNextWheelStep(); });

  TimerFramePause = new QTimer(this);
  TimerFramePause->setSingleShot(true);
  // A coarse timer may end the pause up to 5 % early.
  TimerFramePause->setTimerType(Qt::PreciseTimer);
  connect(TimerFramePause, &QTimer::timeout, this, [this] { FramePauseEnded(); });

  uiHIDEventEx1 = new TuiHIDEventEx(this, P.Backend, std::move(P.Notifier));
  uiHIDEventEx1->OnNewDeviceArrival = [this](const QStringList& ids) { uiHIDEventEx1NewDeviceArrival(ids); };
  uiHIDEventEx1->OnPresentDeviceRemoval = [this](const QStringList& ids) {
    uiHIDEventEx1PresentDeviceRemoval(ids);
  };
}

TTessoldMain::~TTessoldMain() {
  DoneMonitor();
  if (P.Hook) P.Hook->OnHookMouseButton = nullptr;
}

void TTessoldMain::InitMonitor() {
  MonitorStarting = true;
  LoadIncludeHidDeviceList();
  ApplyLanguage();
  SendCpiTable();
  SetupWheelHooks();
  CheckDeviceAndStart();
  MonitorStarting = false;
}

void TTessoldMain::DoneMonitor() {
  if (FDone) return;
  FDone = true;
  TimerDeviceArrial->stop();
  TimerToSetCurrentCpi->stop();
  if (FFrameStep != FrameStep::Closed) {
    // Ended from outside while a frame was open: close it now rather than
    // leave the mouse inside it; its table is not wanted any more.
    TimerFramePause->stop();
    (void)DeviceCommand6(*uiHIDData1, 1, 0);
    FFrameStep = FrameStep::Closed;
  }
  FCpiFrameRunning = false;
  FCpiFrameAgain = false;
  emit FrameClosed();
  StopSoftwareCpi();
  uiHIDData1->HidStopRead();
  if (P.Hook) P.Hook->StopHookMouse();
}

void TTessoldMain::LoadIncludeHidDeviceList() {
  FIncludeHidDeviceList.clear();
  platform::IniFile ini;
  if (ini.load(QDir(P.ProgramFolder).filePath(QStringLiteral("config.ini"))) != platform::IniFile::LoadResult::Ok)
    return;
  for (int i = 1; i <= 101; ++i) {
    const QString value = ini.readString(QStringLiteral("IncludeHIDDeviceList"), QStringLiteral("id%1").arg(i));
    if (value.isEmpty()) break;
    FIncludeHidDeviceList.append(value);
  }
}

void TTessoldMain::ApplyLanguage() {
  const int wanted = DM.FAllProfileSettingInfo.CurrentLanguage;
  if (uiLanguage1->GetLanguageIndexByShortID(uiLanguage1->Lang()) != wanted) {
    const QString shortId = uiLanguage1->GetLanguageShortIDByIndex(wanted);
    if (!shortId.isEmpty()) uiLanguage1->SetLang(shortId);
  }
  if (P.Tray) {
    P.Tray->SetHint(Translate(QStringLiteral("Gaming Mouse Driver")));
    P.Tray->SetMenuTexts(Translate(QStringLiteral("Config")), Translate(QStringLiteral("About")),
                         Translate(QStringLiteral("Exit")));
  }
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    QGuiApplication::setApplicationDisplayName(Translate(QStringLiteral("Gaming Mouse Monitor")));
}

bool TTessoldMain::IsMousePresent() {
  auto param = std::make_unique<THIDDataParam>();
  param->UsageAndPage = VendorCollection();
  return uiHIDData1->IsDeviceExist(*param);
}

void TTessoldMain::ReloadFromRegistry() {
  DM.LoadAllProfileInfoFromRegistry();
  DM.LoadProfileGroupSettingInfoFromRegistry();
  DM.LoadCurrentProfileInfoFromRegistry();
}

void TTessoldMain::CheckDeviceAndStart() {
  TimerDeviceArrial->stop();
  const bool present = IsMousePresent();
  if (present) {
    FMousePresent = true;
    // Back after a loss: "Config" and "Exit" are reachable again.
    if (P.Tray) P.Tray->SetVisible(true);
    ReloadFromRegistry();
    SetupWheelHooks();
    StartHidRead();
    // The table of the reloaded profile, with the level the mouse runs at
    // now: the one filled before may belong to another profile.
    SendCpiTable();
    if (!MonitorStarting) ShowConfigurator();
  } else {
    if (P.Hook) P.Hook->StopHookMouse();
    if (FMousePresent) HandleDeviceLoss();
  }
  emit DeviceChecked(present);
}

void TTessoldMain::StartHidRead() {
  // Starts readers only where none runs, so every report arrives once.
  uiHIDData1->HidFindAndReadDevice(VendorCollection(), "*");
}

void TTessoldMain::RestartArrivalTimerIfIncluded(const QStringList& ids) {
  for (const QString& id : FIncludeHidDeviceList) {
    if (ids.contains(id, Qt::CaseInsensitive)) {
      TimerDeviceArrial->start();  // fires 1500 ms after the last such event
      return;
    }
  }
}

void TTessoldMain::uiHIDEventEx1NewDeviceArrival(const QStringList& ANewDevicesList) {
  RestartArrivalTimerIfIncluded(ANewDevicesList);
}

void TTessoldMain::uiHIDEventEx1PresentDeviceRemoval(const QStringList& ARemovalDevicesList) {
  RestartArrivalTimerIfIncluded(ARemovalDevicesList);
}

void TTessoldMain::uiHIDData1DeviceNotConnected(const std::string&, const std::string& ADevicePath) {
  std::fprintf(stderr, "TuiHidDeviceReadThread end: device %s not connected\n", ADevicePath.c_str());
  if (!FMousePresent) return;
  if (IsMousePresent()) return;
  HandleDeviceLoss();
}

void TTessoldMain::HandleDeviceLoss() {
  // Once per loss, whichever path saw it first.
  FMousePresent = false;
  if (P.Hook) P.Hook->StopHookMouse();
  // Hidden while the mouse is away; its arrival shows it again.
  if (P.Tray) P.Tray->SetVisible(false);
  CloseConfigurator();
}

void TTessoldMain::ShowConfigurator() {
  if (!P.Configurator) return;
  if (!P.Configurator->Activate()) P.Configurator->Start();
}

void TTessoldMain::CloseConfigurator() {
  if (P.Configurator) P.Configurator->PostClose();
}

void TTessoldMain::Exit1Click() {
  CloseConfigurator();
  RequestEnd();
}

void TTessoldMain::RequestEnd() {
  if (FEndRequested) return;
  FEndRequested = true;
  FCpiFrameAgain = false;
  TimerDeviceArrial->stop();
  if (!FCpiFrameRunning) P.Terminate();
}

int64_t TTessoldMain::HandleMessage(uint32_t message, int64_t, int64_t) {
  try {
    switch (message) {
      case platform::WM_PROFILE_CHANGED:
        WMProfileChanged();
        return 0;
      case platform::WM_LANGUAGE_CHANGED:
        WMLanguageChanged();
        return 0;
      default:
        return 0;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "message %u failed: %s\n", message, e.what());
    return 0;
  }
}

void TTessoldMain::WMProfileChanged() {
  ReloadFromRegistry();
  SendCpiTable();
  SetupWheelHooks();
}

void TTessoldMain::WMLanguageChanged() {
  DM.LoadAllProfileInfoFromRegistry();
  ApplyLanguage();
}

// ---------------------------------------------------------------------------
// Reports

void TTessoldMain::uiHIDData1Data(const std::string&, const std::string&, uint8_t ReportID, const uint8_t* Data,
                                  uint16_t Size) {
  if (Size != kReportDataSize || !Data) return;
  if (ReportID == kButtonReportId) {
    for (int j = 0; j < kButtonMaskCount; ++j) {
      const TButtonMask& row = ButtonMaskTable[size_t(j)];
      if (row[1] != Data[0] || row[2] != Data[1] || row[3] != Data[2]) continue;
      // Only rows with a button entry are buttons; a mode switch is its own
      // report, never a button mask.
      if (j >= kMonitorButtonCount) return;
      std::fprintf(stderr, "KeyIndex = %d postmessage record!\n", j);
      QMetaObject::invokeMethod(this, [this, j] { WMDeviceKey(j, 1); }, Qt::QueuedConnection);
      return;
    }
    return;
  }
  if (ReportID != kStateReportId) return;
  if (Data[0] == kStateKindLevel) {
    if (Data[1] > kDeviceMaxCPILevel) return;  // not a level: the previous one stays
    FCPIUNIT.CurrentCpi = Data[1];
    ++FLevelReports;
    TimerToSetCurrentCpi->start();
  } else if (Data[0] == kStateKindMode) {
    if (Data[1] == 0 || Data[1] == 1) {
      const int code = Data[1] == 0 ? kDeviceKeyMode0 : kDeviceKeyMode1;
      QMetaObject::invokeMethod(this, [this, code] { WMDeviceKey(code, 0); }, Qt::QueuedConnection);
    }
  }
}

void TTessoldMain::WMDeviceKey(int wParam, int lParam) {
  if (wParam == kDeviceKeyMode0 || wParam == kDeviceKeyMode1) {
    DM.SwitchToProfileGroup(wParam - kDeviceKeyMode0);
    const TStoreStatus st = DM.SaveProfileGroupIndexToRegistry();
    if (!st) std::fprintf(stderr, "mode switch not stored: %s\n", qPrintable(st.Error));
    WMProfileChanged();
    return;
  }
  if (wParam < 0 || wParam >= kMonitorButtonCount) return;
  RunButtonFunction(wParam, DM.FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[wParam].FunctionIndex, lParam);
}

void TTessoldMain::RunButtonFunction(int, int functionIndex, int) {
  if (functionIndex == kMicMuteFunctionIndex && P.Mic) P.Mic->toggle();
}

// ---------------------------------------------------------------------------
// DPI table

void TTessoldMain::SendCpiTable() {
  if (FDone) return;
  if (FCpiFrameRunning) {
    // Asked again while a frame runs (a mode switch, an arrival, a 7035):
    // the running one is followed by one more whole frame, which reads the
    // level after whatever changed, and only that one's table is sent.
    if (!FEndRequested) FCpiFrameAgain = true;
  } else {
    // The end was asked for: the last table follows at once, without a frame.
    if (FEndRequested) return;
    FCpiFrameRunning = true;
    OpenFrame();
  }
  WaitForFramesToEnd();
}

void TTessoldMain::OpenFrame() {
  FCpiFrameAgain = false;
  // The mouse may need the pauses around its read. A refused opening still
  // gets the read and the close: the mouse may have taken it all the same,
  // and a frame left open would hold back whatever it does at the close.
  (void)DeviceCommand6(*uiHIDData1, 0, 0);
  FFrameStep = FrameStep::Opened;
  TimerFramePause->start(kFramePauseMs);
}

void TTessoldMain::FramePauseEnded() {
  if (FFrameStep == FrameStep::Opened) {
    FLevelReportsAtRead = FLevelReports;
    FFrameRead = 0;
    // Without the mouse the read fails at once; level 0 stays.
    FFrameReadOk = DeviceReadCurrentCPIIndex(*uiHIDData1, FFrameRead) == 0 && FFrameRead >= 0 &&
                   FFrameRead <= kDeviceMaxCPILevel;
    FFrameStep = FrameStep::Read;
    TimerFramePause->start(kFramePauseMs);
    return;
  }
  if (FFrameStep == FrameStep::Read) CloseFrame();
}

void TTessoldMain::CloseFrame() {
  (void)DeviceCommand6(*uiHIDData1, 1, 0);
  FFrameStep = FrameStep::Closed;
  // A level the mouse reported after the read is newer than what it read.
  const uint16_t level = FLevelReports != FLevelReportsAtRead ? FCPIUNIT.CurrentCpi
                         : FFrameReadOk                       ? uint16_t(FFrameRead)
                                                              : uint16_t(0);
  if (FCpiFrameAgain && !FEndRequested) {
    OpenFrame();
    emit FrameClosed();
    return;
  }
  FCpiFrameRunning = false;
  FCpiFrameAgain = false;
  SendTableWithLevel(level);
  emit FrameClosed();
  // The end waited for this frame's close.
  if (FEndRequested) P.Terminate();
}

void TTessoldMain::WaitForFramesToEnd() {
  // Not before the last frame asked for has closed: a frame asked for while
  // one runs follows it at once, and a 7035 answered in between would let
  // the configurator close its own frame inside that one.
  if (!FCpiFrameRunning) return;
  // Reports, timers, the tray and messages go on being handled meanwhile;
  // the frames' own steps are timers of this loop.
  QEventLoop loop;
  connect(this, &TTessoldMain::FrameClosed, &loop, [this, &loop] {
    if (!FCpiFrameRunning) loop.quit();
  });
  loop.exec();
}

void TTessoldMain::SendTableWithLevel(uint16_t level) {
  // Built aside: the unit the driver has keeps serving level reports and the
  // level timer until this one replaces it.
  CPI_UNIT unit{};
  unit.password = kCpiUnitPassword;
  unit.NeedApplyNewCPI = 1;
  unit.ReportLength = 8;
  unit.X_LowByte = 2;
  unit.X_HighByte = 3;
  unit.Y_LowByte = 4;
  unit.Y_HighByte = 5;
  unit.CurrentCpi = level;
  const TMOUSECONFIGINFO& cfg = DM.FCurrentProfileInfo.ConfigInfo;
  for (int i = 0; i < kCpiUnitLevels; ++i) {
    unit.HWCpi[i].SetEnabled(uint8_t(cfg.HWCPIState[i].State & 0xFF));
    unit.HWCpi[i].SetX(cfg.HWCPIState[i].X);
    unit.HWCpi[i].SetY(cfg.HWCPIState[i].Y);
    unit.STCpi[i].SetEnabled(uint8_t(cfg.CPIState[i].State & 0xFF));
    unit.STCpi[i].SetX(cfg.CPIState[i].X);
    unit.STCpi[i].SetY(cfg.CPIState[i].Y);
  }
  CalcXYCpiRate(unit);
  FCPIUNIT = unit;
  if (P.Driver) SendCpiUnitToDriver(*P.Driver, FCPIUNIT);
}

void TTessoldMain::StopSoftwareCpi() {
  FCPIUNIT.NeedApplyNewCPI = 0;
  if (P.Driver) SendCpiUnitToDriver(*P.Driver, FCPIUNIT);
}

void TTessoldMain::TimerToSetCurrentCpiTimer() {
  TimerToSetCurrentCpi->stop();
  if (P.Driver) SendCurrentCpiToDriver(*P.Driver, FCPIUNIT.CurrentCpi);
}

// ---------------------------------------------------------------------------
// Wheel

void TTessoldMain::SetupWheelHooks() {
  FHookUp = FHookDown = false;
  if (!P.Hook) return;
  P.Hook->StopHookMouse();
  P.Hook->RemoveAllMouseHookObject();
  const TBUTTONFUNCINFO& up = DM.FCurrentProfileInfo.ConfigInfo.VWheelButtonFuncInfo[0];
  const TBUTTONFUNCINFO& down = DM.FCurrentProfileInfo.ConfigInfo.VWheelButtonFuncInfo[1];
  if (!(up.FunctionType == kWheelFunctionType && up.FunctionIndex == kWheelFnUp)) {
    P.Hook->AddMouseHookObject(kHookWheelUp);
    FHookUp = true;
  }
  if (!(down.FunctionType == kWheelFunctionType && down.FunctionIndex == kWheelFnDown)) {
    P.Hook->AddMouseHookObject(kHookWheelDown);
    FHookDown = true;
  }
  if (FHookUp || FHookDown) P.Hook->StartHookMouse();
}

void TTessoldMain::uiHook1HookMouseButton(int AuiButton, int, bool& ABlocked) {
  // The hook objects also match the other direction; only a direction the
  // profile remaps is swallowed, any other event passes with its own delta.
  const bool remapped = (AuiButton == kHookWheelUp && FHookUp) || (AuiButton == kHookWheelDown && FHookDown);
  if (!remapped) return;
  ABlocked = true;
  QMetaObject::invokeMethod(this, [this, AuiButton] { WMWheelHook(AuiButton); }, Qt::QueuedConnection);
}

void TTessoldMain::WMWheelHook(int wParam) {
  const int k = wParam - kHookWheelUp;
  if (k < 0 || k > 1) return;
  const TBUTTONFUNCINFO& entry = DM.FCurrentProfileInfo.ConfigInfo.VWheelButtonFuncInfo[k];
  if (entry.FunctionType != kWheelFunctionType) return;  // swallowed, does nothing
  WheelAction action;
  switch (entry.FunctionIndex) {
    case kWheelFnUp: action.delta = 120; break;
    case kWheelFnDown: action.delta = -120; break;
    case kWheelFnVolumeUp: action.vk = VK_VOLUME_UP; break;
    case kWheelFnVolumeDown: action.vk = VK_VOLUME_DOWN; break;
    case kWheelFnBack: action.vk = VK_BROWSER_BACK; break;
    case kWheelFnForward: action.vk = VK_BROWSER_FORWARD; break;
    default: return;
  }
  FWheelQueue.push_back(action);
  // Actions run in order: 10 ms, then the wheel event or the key press,
  // 50 ms, the key release.
  if (!TimerWheel->isActive()) TimerWheel->start(kWheelActionDelayMs);
}

void TTessoldMain::RunNextWheelStep() {
  if (FWheelQueue.empty()) return;
  const WheelAction action = FWheelQueue.front();
  if (FKeyDown) {
    if (P.Input) P.Input->Key(action.vk, false);
    FKeyDown = false;
  } else if (action.vk != 0) {
    if (P.Input) P.Input->Key(action.vk, true);
    FKeyDown = true;
    TimerWheel->start(kKeyPressMs);
    return;
  } else {
    if (P.Input) P.Input->Wheel(action.delta);
  }
  FWheelQueue.pop_front();
  emit WheelActionDone();
  if (!FWheelQueue.empty()) TimerWheel->start(kWheelActionDelayMs);
}
