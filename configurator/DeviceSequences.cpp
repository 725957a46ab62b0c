#include "configurator/DeviceSequences.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "device/DMUnit.h"
#include "device/DeviceProtocol.h"
#include "device/ProfileEncoders.h"
#include "device/ProfileFileDialogs.h"
#include "device/uiHIDData.h"
#include "device/uiStdCmd.h"
#include "platform/MessageChannel.h"
#include "platform/PointerSettings.h"
#include "platform/RegistryStore.h"
#include "toolkit/dialogmessage.h"
#include "toolkit/uiLanguage.h"

namespace {

int gRunning = 0;  // GUI thread only

// Marks a device sequence as running for its lifetime.
class TBusyScope {
 public:
  TBusyScope() { ++gRunning; }
  ~TBusyScope() { --gRunning; }
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;
};

// Shows Apply's busy indicator from Show() until Hide() or the end of the
// scope, whichever way the sequence ends.
class TBusyIndicatorScope {
 public:
  explicit TBusyIndicatorScope(const std::function<void(bool)>& busy) : busy_(busy) {}
  ~TBusyIndicatorScope() { Hide(); }
  TBusyIndicatorScope(const TBusyIndicatorScope&) = delete;
  TBusyIndicatorScope& operator=(const TBusyIndicatorScope&) = delete;
  void Show() {
    if (!shown_ && busy_) busy_(true);
    shown_ = true;
  }
  void Hide() {
    if (shown_ && busy_) busy_(false);
    shown_ = false;
  }

 private:
  const std::function<void(bool)>& busy_;
  bool shown_ = false;
};

constexpr char kConnectWarning[] = "    Please connect your mouse device before apply new settings!";
constexpr char kNoAnswerWarning[] =
    "The mouse does not answer. Your settings are stored, but the mouse did not take them; "
    "press Apply again once it answers (unplugging it and plugging it in again may help).";
constexpr int kPauseBeforeSlot = 100;
constexpr int kPauseAfterNotify = 50;
constexpr int kPauseAfterSwitch = 100;
constexpr int kLevelsShown = 4;  // the DPI levels the window offers

// The level to store as the current one: the mouse's when it names an
// enabled level 0..3, else the first enabled level (0 when none is).
int32_t UsableLevel(const TMOUSECONFIGINFO& config, int32_t fromMouse, bool readOk) {
  auto enabled = [&](int32_t k) { return k >= 0 && k < kLevelsShown && config.CPIState[k].State != 0; };
  if (readOk && enabled(fromMouse)) return fromMouse;
  for (int32_t k = 0; k < kLevelsShown; ++k)
    if (enabled(k)) return k;
  return 0;
}

}  // namespace

void PumpMessagesAndWait(int ms) {
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  if (ms <= 0) return;
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

bool DeviceSequenceRunning() { return gRunning > 0; }

void ApplySystemMouseParams(platform::PointerSettings& pointer, const TDesktopMouseParams& params) {
  if (params.AccelerationIndex >= 0 && params.AccelerationIndex <= 3) pointer.setAcceleration(params.AccelerationIndex);
  pointer.setPointerSpeed(params.PointerSpeed);
  pointer.setWheelScrollLines(params.ScrollLines);
}

TDeviceSequences::TDeviceSequences(TDeviceSequenceContext context) : C(std::move(context)) {
  if (!C.Pause) C.Pause = PumpMessagesAndWait;
  if (!C.NotifyMonitor)
    C.NotifyMonitor = [](int64_t w, int64_t l) {
      platform::send(platform::kMonitorClass, platform::WM_PROFILE_CHANGED, w, l);
    };
  if (!C.Message)
    C.Message = [](const QString& title, const QString& text, const QString& third) {
      return ShowMessageDialog(title, text, third);
    };
}

void TDeviceSequences::Pause(int ms) { C.Pause(ms); }
void TDeviceSequences::Notify(int64_t w, int64_t l) { C.NotifyMonitor(w, l); }
void TDeviceSequences::Track(uint32_t code) {
  if (code != 0 && FFirstError == 0) FFirstError = code;
}

uint32_t TDeviceSequences::Transfer(const std::function<uint32_t()>& transfer) {
  // A mouse that did not answer would make every further transfer wait as long.
  if (FTimedOut) return platform::hid_error::kTimeout;
  // The transfer may wait seconds for the mouse: it runs on a worker while
  // this thread keeps the window painting (user input waits, as in a pause).
  // The worker touches only the HID link and never waits for this thread.
  uint32_t code = 0;
  QEventLoop loop;
  std::thread worker([&] {
    code = transfer();
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  worker.join();
  if (code == platform::hid_error::kTimeout) FTimedOut = true;
  return code;
}

uint32_t TDeviceSequences::WriteProfileToDevice(const TMOUSEPROFILEINFO& profile, int slot) {
  if (slot < 0 || slot > 1) return platform::hid_error::kInvalidParameter;
  TuiHIDData& hid = *C.Hid;
  Pause(kPauseBeforeSlot);
  // The mouse's table has buttons 4 and 5 the other way round and an eighth
  // entry that must always carry function code 13.
  auto copy = NewZeroImage<TMOUSEPROFILEINFO>();
  *copy = profile;
  SwapButtonFuncInfo(*copy, 3, 4);
  copy->ConfigInfo.ButtonCount = 8;
  copy->ConfigInfo.ButtonFuncInfo[7].FunctionType = 0;
  copy->ConfigInfo.ButtonFuncInfo[7].FunctionClass = 13;

  std::array<uint8_t, kButtonTableSize> buttons{};
  std::array<uint8_t, kLedBlockSize> led{};
  std::array<uint8_t, kMacroImageSize> macros{};
  std::array<uint8_t, kCpiTableSize> cpi{};
  const TDroppedButtons dropped = BuildButtonTable(*copy, buttons);
  if (dropped != 0)
    std::fprintf(stderr, "Apply: buttons 0x%04x of slot %d could not be encoded and go to the mouse disabled\n",
                 unsigned(dropped), slot);
  BuildLedBlock(*copy, led);
  BuildMacroImage(*copy, macros);
  BuildCPITable(*copy, cpi);
  Pause(0);

  uint32_t first = 0;
  auto track = [&](uint32_t code) {
    if (code != 0 && first == 0) first = code;
  };
  track(Transfer([&] { return DeviceWriteButtonTable(hid, buttons, kDeviceAddrButtonTable[slot]); }));
  track(Transfer([&] { return slot == 0 ? DeviceWriteMacrosSlot0(hid, macros) : DeviceWriteMacrosSlot1(hid, macros); }));
  track(Transfer([&] { return DeviceWriteLed(hid, led, kDeviceAddrLedBlock[slot]); }));
  track(Transfer([&] { return DeviceWriteCPITable(hid, cpi, kDeviceAddrCPITable[slot]); }));
  if (FTimedOut) return first;
  Pause(0);
  return first;
}

bool TDeviceSequences::ApplySettings(bool& settingsChanged, const TDesktopMouseParams& params,
                                     TLEDCONFIG& preSavedLed) {
  if (DeviceSequenceRunning()) return false;
  TBusyScope busy;
  TDM& dm = *C.DM;
  FFirstError = 0;

  // 1. Store everything.
  dm.SaveBackToCurrentProfileInfo();
  TStoreStatus saved = dm.SaveCurrentProfileInfoToRegistry();
  saved.Merge(dm.SaveCurrentProfileInfoToFile());
  saved.Merge(dm.SaveBackAllProfileInfoToFile());
  saved.Merge(dm.SaveBackAllProfileInfoToRegistry());
  dm.SaveBackToProfileGroupSettingInfo();
  saved.Merge(dm.SaveProfileGroupSettingInfoToRegistry());
  // 2.
  settingsChanged = false;
  // 3. The desktop on a worker with its own copy; nothing waits for it.
  if (platform::PointerSettings* pointer = C.Pointer) {
    TuiThread::ThreadCallFunction(
        [pointer](void* buffer, uint32_t size) {
          if (size != sizeof(TDesktopMouseParams)) return;
          TDesktopMouseParams copy;
          std::memcpy(&copy, buffer, sizeof copy);
          ApplySystemMouseParams(*pointer, copy);
        },
        &params, sizeof params);
  }
  auto reportSave = [&] {
    if (saved) return true;
    C.Message(Translate(QStringLiteral("Warning")), saved.Summary(), QString());
    return false;
  };

  auto noAnswer = [&](TBusyIndicatorScope& indicator) {
    indicator.Hide();
    std::fprintf(stderr, "Apply: the mouse did not answer in time; the sequence ends here\n");
    C.Message(Translate(QStringLiteral("Warning")), QString::fromLatin1(kNoAnswerWarning), QString());
    reportSave();
    return false;
  };
  TBusyIndicatorScope indicator(C.Busy);
  FTimedOut = false;

  // 4. Presence.
  {
    auto probe = std::make_unique<THIDDataParam>();
    probe->UsageAndPage = DeviceUsageAndPage;
    const uint32_t present = Transfer([&] { return C.Hid->DeviceExistCode(*probe); });
    if (present == platform::hid_error::kTimeout) return noAnswer(indicator);
    if (present != 0) {
      C.Message(Translate(QStringLiteral("Warning")), Translate(QString::fromLatin1(kConnectWarning)), QString());
      reportSave();
      return false;
    }
  }
  TuiHIDData& hid = *C.Hid;
  // 6. The indicator turns from the first transfer on: any of them may be
  // the one that waits.
  indicator.Show();
  // 5.
  Track(Transfer([&] { return DeviceCommand6(hid, 0, 0); }));
  if (FTimedOut) return noAnswer(indicator);
  // 7. The level in use, as the mouse has it.
  {
    int32_t level = 0;
    const uint32_t code = Transfer([&] { return DeviceReadCurrentCPIIndex(hid, level); });
    if (FTimedOut) return noAnswer(indicator);
    if (code != kDeviceInvalidData) Track(code);  // an unusable level is handled below
    TMOUSECONFIGINFO& config = dm.FCurrentProfileInfo.ConfigInfo;
    config.CurrentCPIIndex = UsableLevel(config, level, code == 0);
    dm.SaveBackToCurrentProfileInfo();
  }
  // 8, 9. Both hardware modes.
  std::array<uint8_t, 2> rate{};
  bool bothRead = true;
  auto profile = NewZeroImage<TMOUSEPROFILEINFO>();
  for (int slot = 0; slot < 2; ++slot) {
    const int bound = dm.FProfileSettingGroup.ProfileIndexOfProfileGroup[slot];
    // Never encode a record that was not read.
    if (!dm.ReadProfileInfo(*profile, bound)) {
      bothRead = false;
      Track(platform::hid_error::kInvalidParameter);
      std::fprintf(stderr, "Apply: mode %d is bound to profile %d, which could not be read; slot not written\n",
                   slot + 1, bound);
      continue;
    }
    Track(WriteProfileToDevice(*profile, slot));
    if (FTimedOut) return noAnswer(indicator);
    rate[slot] = ReportRateCode(*profile);
    Pause(0);
  }
  // 10..12. The rate byte holds both slots; it is left alone when one is missing.
  const uint8_t rates = uint8_t(rate[1] * 16 + rate[0]);
  const uint8_t activeSlot = uint8_t(dm.ProfileGroupIndex());
  const int8_t wheelValue = dm.FCurrentProfileInfo.ConfigInfo.HWVWheelValue;
  const int8_t wheelLed = dm.FCurrentProfileInfo.ConfigInfo.WheelLedOnOff;
  if (bothRead) Track(Transfer([&] { return DeviceWriteReportRate(hid, rates, kDeviceAddrReportRates); }));
  Track(Transfer([&] { return DeviceWriteProfileSlot(hid, activeSlot, kDeviceAddrActiveSlot); }));
  Track(Transfer([&] { return DeviceWriteWheelLed(hid, wheelValue, wheelLed, kDeviceAddrWheelByte); }));
  if (FTimedOut) return noAnswer(indicator);
  // 13, 14.
  Pause(0);
  Pause(0);
  const std::array<uint8_t, 2> notice = {1, LastProfileArg};
  Track(Transfer([&] { return DeviceCommand1(hid, notice); }));
  // The monitor would wait for the silent mouse as long, inside our call.
  if (FTimedOut) return noAnswer(indicator);
  // 15. The monitor reloads and reads the mouse before this returns, inside our frame.
  Notify(0, 0);
  // 16, 17.
  Pause(kPauseAfterNotify);
  Track(Transfer([&] { return DeviceCommand6(hid, 1, 0); }));
  if (FTimedOut) return noAnswer(indicator);
  // 18.
  indicator.Hide();
  preSavedLed = dm.FCurrentProfileInfo.ConfigInfo.LEDConfig;

  if (FFirstError != 0) {
    std::fprintf(stderr, "Apply: a transfer to the mouse failed (code %u)\n", unsigned(FFirstError));
    C.Message(Translate(QStringLiteral("Warning")), Translate(QString::fromLatin1(kConnectWarning)), QString());
    reportSave();
    return false;
  }
  return reportSave();
}

bool TDeviceSequences::SwitchMode(int g) {
  if (DeviceSequenceRunning() || !TDM::IsProfileGroupIndexInRange(g)) return false;
  TBusyScope busy;
  TDM& dm = *C.DM;
  dm.SwitchToProfileGroup(g);
  dm.SaveBackToProfileGroupSettingInfo();
  const TStoreStatus saved = dm.SaveProfileGroupSettingInfoToRegistry();
  if (!saved) std::fprintf(stderr, "Mode switch: %s\n", qPrintable(saved.Error));
  if (C.RefreshViews) C.RefreshViews();
  TuiHIDData& hid = *C.Hid;
  FFirstError = 0;
  FTimedOut = false;
  Track(Transfer([&] { return DeviceCommand6(hid, 0, 0); }));
  Track(Transfer([&] { return DeviceWriteProfileSlot(hid, uint8_t(g), kDeviceAddrActiveSlot); }));
  const std::array<uint8_t, 2> notice = {1, 1};
  Track(Transfer([&] { return DeviceCommand1(hid, notice); }));
  Track(Transfer([&] { return DeviceCommand6(hid, 1, 0); }));
  if (FTimedOut) std::fprintf(stderr, "Mode switch: the mouse did not answer in time\n");
  else Notify(0, 0);
  Pause(0);
  Pause(kPauseAfterSwitch);
  return bool(saved);
}

bool TDeviceSequences::SwitchProfile(int p, bool& settingsChanged, TDesktopMouseParams& params,
                                     TLEDCONFIG& preSavedLed) {
  TDM& dm = *C.DM;
  const int g = dm.FProfileSettingGroup.CurrentProfileGroup;
  if (DeviceSequenceRunning() || !TDM::IsProfileIndexInRange(p) || !TDM::IsProfileGroupIndexInRange(g)) return false;
  TBusyScope busy;
  dm.SwitchToProfile(p);
  const TStoreStatus saved = dm.SaveBackAllProfileSettingInfo();
  if (!saved) std::fprintf(stderr, "Profile switch: %s\n", qPrintable(saved.Error));
  const TMOUSECONFIGINFO& config = dm.FCurrentProfileInfo.ConfigInfo;
  params = {config.PointerSpeed, config.VWheelSpeed, config.PointerAcceleration};
  preSavedLed = config.LEDConfig;
  dm.FProfileSettingGroup.ProfileIndexOfProfileGroup[g] = p;
  dm.SaveBackToProfileGroupSettingInfo();
  dm.SwitchToProfileGroup(g);
  // The new binding reaches the store only with Apply (or OK).
  settingsChanged = true;
  if (C.RefreshViews) C.RefreshViews();

  TuiHIDData& hid = *C.Hid;
  FFirstError = 0;
  FTimedOut = false;
  Track(Transfer([&] { return DeviceCommand6(hid, 1, 0); }));
  // Byte 64 selects the hardware slot (any non-zero value is slot 1): it
  // takes the mode in use, not the profile index.
  Track(Transfer([&] { return DeviceWriteProfileSlot(hid, uint8_t(g), kDeviceAddrActiveSlot); }));
  LastProfileArg = uint8_t(dm.FAllProfileSettingInfo.CurrentGame);
  const std::array<uint8_t, 2> notice = {1, LastProfileArg};
  Track(Transfer([&] { return DeviceCommand1(hid, notice); }));
  if (C.LedPreview && !FTimedOut) C.LedPreview();
  WriteProfileIdToRegistry(p);
  Track(Transfer([&] { return DeviceCommand6(hid, 1, 0); }));
  if (FTimedOut) std::fprintf(stderr, "Profile switch: the mouse did not answer in time\n");
  else Notify(1, p);
  Pause(0);
  Pause(kPauseAfterSwitch);
  return true;
}

bool TDeviceSequences::WriteProfileIdToRegistry(int p) {
  platform::RegistryStore* store = C.DM->Environment().Store;
  if (!store) return false;
  return store->writeInteger(platform::HKEY_CURRENT_USER, QStringLiteral("software\\Orvelline"),
                             QStringLiteral("ProfileID"), p, /*onlyIfKeyExists=*/true) == platform::RegStatus::Ok;
}

bool TDeviceSequences::PresetMenuClick(int64_t id, bool& settingsChanged, TProfileFileChooser& chooser,
                                       const QString& profilePath) {
  if (DeviceSequenceRunning()) return false;
  TDM& dm = *C.DM;
  switch (id) {
    case 1:
      dm.RestoreCurrentProfileInfoToDefault();
      break;
    case 2:
      if (!LoadProfileFileDialog(dm, chooser, profilePath)) return false;
      break;
    case 3:
      return SaveProfileFileDialog(dm, chooser, profilePath);
    default:
      return false;
  }
  // Otherwise OK would close without storing the new profile.
  settingsChanged = true;
  if (C.RefreshViews) C.RefreshViews();
  return true;
}
