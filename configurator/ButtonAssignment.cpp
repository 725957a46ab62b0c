#include "configurator/ButtonAssignment.h"

#include <algorithm>
#include <limits>

#include "configurator/AssignmentMenus.h"
#include "configurator/fireset.h"
#include "device/DMUnit.h"
#include "device/uiKeyCode.h"
#include "toolkit/dialogmessage.h"
#include "toolkit/uiLanguage.h"
#include "toolkit/uiMenuEx.h"

namespace {

constexpr int64_t kIdSingleKey = 6;
constexpr int64_t kIdComboKey = 7;
constexpr int64_t kIdFireKey = 15;
constexpr int64_t kIdDisable = 16;
constexpr uint16_t kSingleKeyFunction = 5;
constexpr uint16_t kComboKeyFunction = 6;
constexpr uint16_t kRightClickFunction = 1;

int RunDialog(const auto& dialog, auto& value) { return dialog ? dialog(value) : 0; }

int32_t ClassOfRow(int64_t row) { return FunctionClassOf(row).value_or(0); }

// Sets the function part of an entry from a row of DeviceFunctionTable.
void SetRow(TBUTTONFUNCINFO& e, uint8_t type, int64_t row, int64_t menuId) {
  e.FunctionType = type;
  e.FunctionIndex = uint16_t(row);
  e.FunctionClass = ClassOfRow(row);
  e.MenuId = int32_t(menuId);
}

void MakeDisable(TBUTTONFUNCINFO& e, int32_t menuId) {
  SetRow(e, kFunctionTypeMedia, kDisableFunctionIndex, menuId);
  e.MediaCode = THID_CODE_INFO{0, 0, 0};
}

void MakeMacro(TBUTTONFUNCINFO& e, const TMACROKEYINFOLIST& list, int k) {
  e.MenuId = kMenuIdFirstMacro + k;
  e.FunctionIndex = kMacroFunctionIndex;
  e.FunctionType = kFunctionTypeMacro;
  e.MacroInfo = list.MacroInfos[k];
  e.MacroInfo.nMacroIndex = uint16_t(k);
  e.FunctionClass = ClassOfRow(kMacroFunctionIndex);
}

int FindMacroByName(const TMACROKEYINFOLIST& list, const TMACROKEYINFO& macro) {
  const std::u16string name = ReadText(macro.szMacroName);
  for (int i = 0; i < UsableMacroCount(list); ++i)
    if (ReadText(list.MacroInfos[i].szMacroName) == name) return i;
  return -1;
}

void ShowMacroLimit(const TAssignmentDialogs& dialogs) {
  if (dialogs.Message)
    dialogs.Message(Translate(QStringLiteral("Warning!")),
                    Translate(QStringLiteral("You can assign macros to buttons shall not exceed 5 .")), QString());
}

// Writes the candidate entry; when it breaks the macro limit, shows the
// message and puts the old entry back. True when the candidate stands.
bool WriteMacroEntry(TDM& dm, int t, const TBUTTONFUNCINFO& candidate, const TAssignmentDialogs& dialogs) {
  TBUTTONFUNCINFO& slot = dm.FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[t];
  const TBUTTONFUNCINFO old = slot;
  slot = candidate;
  if (CountDistinctButtonMacros(dm.FCurrentProfileInfo.ConfigInfo) <= kMaxButtonMacros) return true;
  ShowMacroLimit(dialogs);
  slot = old;
  return false;
}

uint16_t ClampWord(int32_t v) { return uint16_t(std::clamp<int32_t>(v, 0, std::numeric_limits<uint16_t>::max())); }

TAssignOutcome RunMacroManager(TDM& dm, int t, const TAssignmentDialogs& dialogs, int& currentMacro) {
  TAssignOutcome out;
  TMOUSEPROFILEINFO& profile = dm.FCurrentProfileInfo;
  currentMacro = FindMacroByName(profile.MacroKeyInfoList, profile.ConfigInfo.ButtonFuncInfo[t].MacroInfo);
  const int group = dm.ProfileIndex();
  const QString macroPath =
      QString::fromStdU16String(ReadText(dm.FProfileSettingGroup.ProfileSettingList[group].MacroFolder));
  if (!dialogs.MacroManager) return out;
  auto copy = NewZeroImage<TMACROKEYINFOLIST>();
  *copy = profile.MacroKeyInfoList;
  if (dialogs.MacroManager(*copy, currentMacro, macroPath) != 1) return out;
  profile.MacroKeyInfoList = *copy;
  out.MacroListChanged = true;

  TBUTTONFUNCINFO entry = profile.ConfigInfo.ButtonFuncInfo[t];
  if (currentMacro < 0 || currentMacro >= UsableMacroCount(profile.MacroKeyInfoList)) {
    MakeDisable(entry, 0);
    profile.ConfigInfo.ButtonFuncInfo[t] = entry;
    out.EntryChanged = true;
  } else {
    MakeMacro(entry, profile.MacroKeyInfoList, currentMacro);
    out.EntryChanged = WriteMacroEntry(dm, t, entry, dialogs);
    out.Refused = !out.EntryChanged;
  }
  // Relink whenever the list was replaced, also when the limit refused this
  // button's choice: other buttons may hold indexes of macros that were
  // deleted, renamed or moved, and would send the wrong macro to the mouse.
  dm.SaveBackToCurrentProfileInfo();
  RelinkMacroButtons(dm);
  return out;
}

}  // namespace

TAssignmentDialogs DefaultAssignmentDialogs() {
  TAssignmentDialogs d;
  d.FireKey = [](TFIREKEYINFO& v) { return ShowFireKeyDialog(v); };
  d.Message = [](const QString& title, const QString& text, const QString& third) {
    return ShowMessageDialog(title, text, third);
  };
  return d;
}

int64_t FunctionOfMenuIdOrSelf(int64_t menuId) { return FunctionOfMenuId(menuId).value_or(menuId); }

int64_t MenuIdOfFunctionOrNone(int64_t functionIndex) { return MenuIdOfFunction(functionIndex).value_or(-1); }

int CountDistinctButtonMacros(const TMOUSECONFIGINFO& config) {
  std::vector<uint16_t> seen;
  for (int j = 0; j < kMacroLimitButtons; ++j) {
    const TBUTTONFUNCINFO& e = config.ButtonFuncInfo[j];
    if (e.FunctionType != kFunctionTypeMacro) continue;
    if (std::find(seen.begin(), seen.end(), e.MacroInfo.nMacroIndex) == seen.end())
      seen.push_back(e.MacroInfo.nMacroIndex);
  }
  return int(seen.size());
}

TAssignOutcome AssignButtonFunction(TDM& dm, int t, int64_t menuId, const TAssignmentDialogs& dialogs,
                                    int& currentMacro) {
  TAssignOutcome out;
  if (t < 0 || t >= kButtonCount || menuId < 0) {
    out.Invalid = true;
    return out;
  }
  TMOUSEPROFILEINFO& profile = dm.FCurrentProfileInfo;
  TMOUSECONFIGINFO& config = profile.ConfigInfo;
  TBUTTONFUNCINFO entry = config.ButtonFuncInfo[t];

  if (menuId == kMenuIdMacroManager) return RunMacroManager(dm, t, dialogs, currentMacro);

  if (menuId >= kMenuIdFirstMacro && menuId <= 1199) {
    const int k = int(menuId - kMenuIdFirstMacro);
    // The menu only offers macros of the list; an ID past it changes nothing.
    if (k >= UsableMacroCount(profile.MacroKeyInfoList)) {
      out.Invalid = true;
      return out;
    }
    currentMacro = k;
    MakeMacro(entry, profile.MacroKeyInfoList, k);
    out.EntryChanged = WriteMacroEntry(dm, t, entry, dialogs);
    out.Refused = !out.EntryChanged;
    if (out.EntryChanged) dm.SaveBackToCurrentProfileInfo();
    return out;
  }

  if (menuId >= 1 && menuId <= 5) {
    SetRow(entry, kFunctionTypeMouse, FunctionOfMenuIdOrSelf(menuId), menuId);
  } else if (menuId == kIdSingleKey) {
    TSINGLEKEYINFO key = entry.SingleKey;
    if (RunDialog(dialogs.SingleKey, key) != 1) return out;
    entry.SingleKey = key;
    SetRow(entry, kFunctionTypeSingleKey, FunctionOfMenuIdOrSelf(menuId), menuId);
  } else if (menuId == kIdComboKey) {
    TCOMBOKEYINFO combo = entry.ComboKey;
    if (RunDialog(dialogs.ComboKey, combo) != 1) return out;
    entry.ComboKey = combo;
    SetRow(entry, kFunctionTypeCombo, FunctionOfMenuIdOrSelf(menuId), menuId);
  } else if (menuId >= 801 && menuId <= 808) {
    if (!GetOfficeComboKeyInfo(menuId - 801, entry.ComboKey)) return out;
    SetRow(entry, kFunctionTypeCombo, FunctionOfMenuIdOrSelf(menuId), menuId);
  } else if (menuId >= 901 && menuId <= 906) {
    if (!GetSystemComboKeyInfo(menuId - 901, entry.ComboKey)) return out;
    SetRow(entry, kFunctionTypeCombo, FunctionOfMenuIdOrSelf(menuId), menuId);
  } else if (menuId >= 1001 && menuId <= 1007) {
    THID_CODE_INFO media{};
    if (!GetMediaHIDCodeInfo(menuId - 1001, media)) return out;
    entry.MediaCode = THID_CODE_INFO{media.nKeyValue1, media.nKeyValue2, 0};
    SetRow(entry, kFunctionTypeMedia, FunctionOfMenuIdOrSelf(menuId), menuId);
  } else if (menuId == kMicMuteMenuId) {
    const auto mask = ButtonMaskOf(t);
    if (!mask) return out;
    entry.FunctionType = kFunctionTypeMicMute;
    entry.FunctionIndex = kMicMuteFunctionIndex;
    entry.FunctionClass = kMicMuteFunctionClass;
    entry.MenuId = kMicMuteMenuId;
    std::copy(mask->begin() + 1, mask->end(), entry.MicMask);
  } else if (menuId >= 12 && menuId <= 14) {
    SetRow(entry, kFunctionTypeDpi, FunctionOfMenuIdOrSelf(menuId), menuId);
  } else if (menuId == kIdFireKey) {
    TFIREKEYINFO fire = entry.FireKey;
    if (fire.DelyValue == 0) {
      fire.nLoopCount = ClampWord(config.FireKeyCount);
      fire.DelyValue = ClampWord(config.FireKeySpeed);
    }
    if (RunDialog(dialogs.FireKey, fire) != 1) return out;
    entry.FireKey = fire;
    SetRow(entry, kFunctionTypeFireKey, FunctionOfMenuIdOrSelf(menuId), menuId);
  } else if (menuId == kIdDisable) {
    MakeDisable(entry, int32_t(menuId));
  } else {
    out.Invalid = true;  // no menu reports such an ID
    return out;
  }

  config.ButtonFuncInfo[t] = entry;
  // At least one of the two main buttons always clicks.
  if (t < kMainButtonCount && entry.FunctionIndex == kRightClickFunction) {
    TBUTTONFUNCINFO& other = config.ButtonFuncInfo[1 - t];
    other.FunctionType = kFunctionTypeMouse;
    other.FunctionIndex = 0;
    other.MenuId = 1;
    other.FunctionClass = ClassOfRow(0);
  }
  dm.SaveBackToCurrentProfileInfo();
  out.EntryChanged = true;
  return out;
}

bool AssignWheelFunction(TDM& dm, int w, int64_t menuId) {
  if (w < 0 || w > 1 || menuId < 1 || menuId > 6) return false;
  TBUTTONFUNCINFO entry = dm.FCurrentProfileInfo.ConfigInfo.VWheelButtonFuncInfo[w];
  entry.FunctionIndex = uint16_t(menuId - 1);
  entry.FunctionType = kFunctionTypeMouse;
  entry.MenuId = int32_t(menuId);
  dm.FCurrentProfileInfo.ConfigInfo.VWheelButtonFuncInfo[w] = entry;
  dm.SaveBackToCurrentProfileInfo();
  return true;
}

void RelinkMacroButtons(TDM& dm) {
  TMOUSEPROFILEINFO& profile = dm.FCurrentProfileInfo;
  const int count = std::clamp<int32_t>(profile.ConfigInfo.ButtonCount, 0, kButtonCount);
  for (int j = 0; j < count; ++j) {
    TBUTTONFUNCINFO& e = profile.ConfigInfo.ButtonFuncInfo[j];
    if (e.FunctionIndex != kMacroFunctionIndex) continue;
    const int i = FindMacroByName(profile.MacroKeyInfoList, e.MacroInfo);
    if (i >= 0) {
      e.MacroInfo = profile.MacroKeyInfoList.MacroInfos[i];
      e.MacroInfo.nMacroIndex = uint16_t(i);
      e.MenuId = kMenuIdFirstMacro + i;
    } else {
      MakeDisable(e, 0);
    }
  }
  dm.SaveBackToCurrentProfileInfo();
}

QString SingleKeyText(const TBUTTONFUNCINFO& e) {
  if (e.FunctionIndex != kSingleKeyFunction) return {};
  const std::string key = VKToKeyDescription(e.SingleKey.nKeyValue1, e.SingleKey.nKey1Extended);
  if (key.empty()) return {};
  return u'<' + QString::fromStdString(key) + u'>';
}

QString ComboKeyText(const TBUTTONFUNCINFO& e) {
  if (e.FunctionIndex != kComboKeyFunction) return {};
  const TCOMBOKEYINFO& c = e.ComboKey;
  QString text = QString::fromStdString(ModifierToText(uint8_t(c.nModifier))) +
                 QString::fromStdString(VKToKeyDescription(c.nKeyValue1, c.nKey1Extended));
  // Key code 0 means "no second key", not the key table's placeholder row.
  const std::string key2 = c.nKeyValue2 ? VKToKeyDescription(c.nKeyValue2, c.nKey2Extended) : std::string();
  if (!key2.empty()) text = u'<' + text + u'+' + QString::fromStdString(key2) + u'>';
  return text;
}

QString ButtonCaption(const TMOUSECONFIGINFO& config, int i, const TuiMenuEx& menu) {
  if (i < 0 || i >= kButtonCount) return {};
  const TBUTTONFUNCINFO& e = config.ButtonFuncInfo[i];
  const int64_t a = e.MenuId != 0 ? e.MenuId : MenuIdOfFunctionOrNone(e.FunctionIndex);
  QString caption;
  if (a >= 1 && a <= 999999) {
    const QString source = MenuCaptionOfId(menu, a);
    if (!source.isEmpty()) caption = Translate(source);
  }
  if (a == kIdSingleKey) {
    const QString single = SingleKeyText(e);
    if (!single.isEmpty()) caption = single;
  }
  if (a == kIdComboKey) {
    const QString combo = ComboKeyText(e);
    if (!combo.isEmpty())
      caption = combo.size() > kComboCaptionMax ? combo.left(kComboCaptionKeep) + QStringLiteral("...") : combo;
  }
  if (a / 100 == kMenuIdMacro || a == kMenuIdMacro)
    caption = Translate(QStringLiteral("Macro")) + QStringLiteral(" #") + QString::number(e.MacroInfo.nMacroIndex + 1);
  return caption;
}

QString WheelCaption(const TMOUSECONFIGINFO& config, int w, const TuiMenuEx& menu) {
  if (w < 0 || w > 1) return {};
  const TBUTTONFUNCINFO& e = config.VWheelButtonFuncInfo[w];
  const int64_t a = e.MenuId != 0 ? e.MenuId : MenuIdOfFunctionOrNone(e.FunctionIndex);
  if (a < 1 || a > 999999) return {};
  const QString source = MenuCaptionOfId(menu, a);
  return source.isEmpty() ? QString() : Translate(source);
}

QString ButtonHint(const TMOUSECONFIGINFO& config, int i) {
  if (i < 0 || i >= kButtonCount) return {};
  const TBUTTONFUNCINFO& e = config.ButtonFuncInfo[i];
  if (e.FunctionIndex == kSingleKeyFunction) return Translate(QStringLiteral("Single Key")) + QStringLiteral(": ") + SingleKeyText(e);
  if (e.FunctionIndex == kComboKeyFunction) return Translate(QStringLiteral("Combo Key")) + QStringLiteral(": ") + ComboKeyText(e);
  return {};
}

TButtonCaptions AllCaptions(const TMOUSECONFIGINFO& config, const TuiMenuEx& uiMenuEx1, const TuiMenuEx& uiMenuEx2) {
  TButtonCaptions c;
  const int count = std::clamp<int32_t>(config.ButtonCount, 0, kButtonCount);
  for (int i = 0; i < count; ++i) c.Buttons.push_back(ButtonCaption(config, i, uiMenuEx1));
  for (int w = 0; w < 2; ++w) c.Wheel[w] = WheelCaption(config, w, uiMenuEx2);
  return c;
}
