#include "device/ProfileCheck.h"

#include <algorithm>
#include <array>
#include <initializer_list>

namespace {

// Menu IDs of the profile's macros as the button menu numbers them.
constexpr int32_t kFirstMacroMenuId = 1102;
constexpr int kWheelFunctions = 6;  // "Wheel Up" .. "Forward"
constexpr int32_t kWheelMenuIdMax = 6;

bool OneOf(int64_t v, std::initializer_list<int64_t> allowed) {
  return std::find(allowed.begin(), allowed.end(), v) != allowed.end();
}

bool IsTableClass(int64_t c) {
  return std::any_of(DeviceFunctionTable.begin(), DeviceFunctionTable.end(),
                     [c](const TDeviceFunction& row) { return row.FunctionClass == c; });
}

bool IsButtonMenuId(int64_t id) {
  if (id == 0) return true;  // entries the defaults leave unassigned
  if (id >= kFirstMacroMenuId && id < kFirstMacroMenuId + kProfileMacroSlots) return true;
  return std::any_of(DeviceFunctionTable.begin(), DeviceFunctionTable.end(),
                     [id](const TDeviceFunction& row) { return row.MenuId == id; });
}

// Walks the fields in image order and keeps the first fault.
class TChecker {
 public:
  void Need(bool ok, const QString& field, int64_t value) {
    if (!ok && !Fault) Fault = TProfileFault{field, value};
  }
  std::optional<TProfileFault> Fault;
};

QString At(const char* array, int i, const char* field) {
  return QStringLiteral("%1[%2].%3").arg(QLatin1String(array)).arg(i).arg(QLatin1String(field));
}

void CheckButton(TChecker& c, const TBUTTONFUNCINFO& e, int j, std::array<int, kDeviceMacroBlocks>& macros,
                 int& macroCount) {
  const QString base = QStringLiteral("ConfigInfo.ButtonFuncInfo[%1].").arg(j);
  if (e.FunctionType == kFunctionTypeMacro) {
    c.Need(e.MacroInfo.MacroListCount >= 0 && e.MacroInfo.MacroListCount <= kMacroMaxSteps,
           base + QStringLiteral("MacroInfo.MacroListCount"), e.MacroInfo.MacroListCount);
    c.Need(e.MacroInfo.nMacroIndex < kProfileMacroSlots, base + QStringLiteral("MacroInfo.nMacroIndex"),
           e.MacroInfo.nMacroIndex);
    // The mouse keeps five macros; a sixth distinct one has no block.
    const int n = e.MacroInfo.nMacroIndex;
    if (std::find(macros.begin(), macros.begin() + macroCount, n) == macros.begin() + macroCount) {
      c.Need(macroCount < kDeviceMacroBlocks, base + QStringLiteral("MacroInfo.nMacroIndex"), n);
      if (macroCount < kDeviceMacroBlocks) macros[size_t(macroCount++)] = n;
    }
  }
  c.Need(e.FunctionIndex < kDeviceFunctionCount, base + QStringLiteral("FunctionIndex"), e.FunctionIndex);
  c.Need(OneOf(e.FunctionType, {kFunctionTypeDpi, kFunctionTypeMouse, kFunctionTypeCombo, kFunctionTypeMacro,
                                kFunctionTypeFireKey, kFunctionTypeSingleKey, kFunctionTypeMedia,
                                kFunctionTypeMicMute}),
         base + QStringLiteral("FunctionType"), e.FunctionType);
  c.Need(e.FunctionClass == 0 || IsTableClass(e.FunctionClass), base + QStringLiteral("FunctionClass"),
         e.FunctionClass);
  c.Need(IsButtonMenuId(e.MenuId), base + QStringLiteral("MenuId"), e.MenuId);
}

void CheckWheel(TChecker& c, const TBUTTONFUNCINFO& e, int w) {
  const QString base = QStringLiteral("ConfigInfo.VWheelButtonFuncInfo[%1].").arg(w);
  c.Need(e.FunctionIndex < kWheelFunctions, base + QStringLiteral("FunctionIndex"), e.FunctionIndex);
  c.Need(e.FunctionType == kFunctionTypeMouse, base + QStringLiteral("FunctionType"), e.FunctionType);
  c.Need(OneOf(e.FunctionClass, {kFunctionClassWheelUp, kFunctionClassWheelDown}),
         base + QStringLiteral("FunctionClass"), e.FunctionClass);
  c.Need(e.MenuId >= 0 && e.MenuId <= kWheelMenuIdMax, base + QStringLiteral("MenuId"), e.MenuId);
}

void CheckLevel(TChecker& c, const TCPISTATE& s, const char* array, int k, int lo, int hi) {
  c.Need(s.State <= 1, At(array, k, "State"), s.State);
  // A level that is off may hold nothing; one that is on needs both values.
  auto value = [&](uint16_t v) { return (v == 0 && s.State == 0) || (v >= lo && v <= hi); };
  c.Need(value(s.X), At(array, k, "X"), s.X);
  c.Need(value(s.Y), At(array, k, "Y"), s.Y);
}

}  // namespace

QString TProfileFault::Text() const { return QStringLiteral("%1 holds %2").arg(Field).arg(Value); }

std::optional<TProfileFault> FirstProfileFault(const TMOUSEPROFILEINFO& p) {
  TChecker c;
  c.Need(p.ProfileHeader.FFileVersion == kProfileFileVersion, QStringLiteral("ProfileHeader.FFileVersion"),
         p.ProfileHeader.FFileVersion);
  const TMOUSECONFIGINFO& k = p.ConfigInfo;
  std::array<int, kDeviceMacroBlocks> macros{};
  int macroCount = 0;
  for (int j = 0; j < kButtonCount; ++j) CheckButton(c, k.ButtonFuncInfo[j], j, macros, macroCount);
  for (int w = 0; w < 2; ++w) CheckWheel(c, k.VWheelButtonFuncInfo[w], w);
  c.Need(k.HWVWheelValue >= 0, QStringLiteral("ConfigInfo.HWVWheelValue"), k.HWVWheelValue);
  c.Need(k.WheelLedOnOff == 0 || k.WheelLedOnOff == 1, QStringLiteral("ConfigInfo.WheelLedOnOff"), k.WheelLedOnOff);
  c.Need(OneOf(k.ReportRate, {125, 250, 500, 1000}), QStringLiteral("ConfigInfo.ReportRate"), k.ReportRate);
  const int levels = k.CPILevel;
  // The count decides which current level is possible: check it first.
  c.Need(levels >= 1 && levels <= kProfileMaxCpiLevels, QStringLiteral("ConfigInfo.CPILevel"), levels);
  c.Need(k.CurrentCPIIndex >= 0 && k.CurrentCPIIndex < std::clamp(levels, 1, kProfileMaxCpiLevels),
         QStringLiteral("ConfigInfo.CurrentCPIIndex"), k.CurrentCPIIndex);
  for (int l = 0; l < kProfileMaxCpiLevels; ++l)
    CheckLevel(c, k.CPIState[l], "ConfigInfo.CPIState", l, kProfileCpiMin, kProfileCpiMax);
  for (int l = 0; l < kProfileMaxCpiLevels; ++l)
    CheckLevel(c, k.HWCPIState[l], "ConfigInfo.HWCPIState", l, kProfileHwCpiMin, kProfileHwCpiMax);
  c.Need(k.LEDConfig.BRIGHT_LEVEL <= kProfileMaxLedLevel, QStringLiteral("ConfigInfo.LEDConfig.BRIGHT_LEVEL"),
         k.LEDConfig.BRIGHT_LEVEL);
  c.Need(k.LEDConfig.BREATH_SPEED <= kProfileMaxLedLevel, QStringLiteral("ConfigInfo.LEDConfig.BREATH_SPEED"),
         k.LEDConfig.BREATH_SPEED);
  c.Need(k.ButtonCount >= 0 && k.ButtonCount <= kButtonCount, QStringLiteral("ConfigInfo.ButtonCount"),
         k.ButtonCount);
  const TMACROKEYINFOLIST& list = p.MacroKeyInfoList;
  c.Need(list.nMacroInfoCount <= kProfileMacroSlots, QStringLiteral("MacroKeyInfoList.nMacroInfoCount"),
         list.nMacroInfoCount);
  for (int i = 0; i < UsableMacroCount(list); ++i) {
    const int32_t steps = list.MacroInfos[i].MacroListCount;
    c.Need(steps >= 0 && steps <= kMacroMaxSteps,
           QStringLiteral("MacroKeyInfoList.MacroInfos[%1].MacroListCount").arg(i), steps);
  }
  return c.Fault;
}
