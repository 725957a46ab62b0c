#include "macro/uiMacroClassUnit.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/uiProfile.h"

namespace {

constexpr size_t kMaxFileNameBytes = 255;  // NAME_MAX of the usual Linux file systems
constexpr const char* kMacroExtension = kMacroFileExtension;

bool isHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

bool isPressable(const TMACROKEY& step) {
  return step.nKeyType == kMacroStepKeyboard || step.nKeyType == kMacroStepMedia ||
         step.nKeyType == kMacroStepMouseButton;
}

// The press state of every step value, all released at the start, and the
// keyboard values in order of their first appearance.
struct PressWalk {
  std::vector<bool> pressed = std::vector<bool>(65536, false);
  std::vector<uint16_t> keyValues;
  int errors = 0;

  void walk(const std::vector<TMACROKEY>& steps) {
    std::unordered_set<uint16_t> seen;
    for (const TMACROKEY& step : steps) {
      if (!isPressable(step)) continue;
      const uint16_t v = MacroStepValue(step);
      if (step.nKeyState == kMacroKeyPress) {
        if (pressed[v]) ++errors;
        else pressed[v] = true;
      } else {
        if (!pressed[v]) ++errors;
        else pressed[v] = false;
      }
      if (step.nKeyType == kMacroStepKeyboard && seen.insert(v).second) keyValues.push_back(v);
    }
  }
};

}  // namespace

std::optional<std::string> MacroNameToUtf8(std::u16string_view name) {
  std::string out;
  out.reserve(name.size() * 3);
  for (size_t i = 0; i < name.size(); ++i) {
    uint32_t c = name[i];
    if (isHigh(name[i])) {
      if (i + 1 >= name.size() || !isLow(name[i + 1])) return std::nullopt;
      c = 0x10000 + ((c - 0xD800) << 10) + (name[i + 1] - 0xDC00);
      ++i;
    } else if (isLow(name[i])) {
      return std::nullopt;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool IsValidMacroName(std::u16string_view name) {
  if (name.empty() || name.size() > static_cast<size_t>(kMacroNameUnits)) return false;
  if (name == u"." || name == u"..") return false;
  if (name.find(u'/') != std::u16string_view::npos || name.find(u'\0') != std::u16string_view::npos)
    return false;
  const std::optional<std::string> utf8 = MacroNameToUtf8(name);
  return utf8 && utf8->size() + std::strlen(kMacroExtension) <= kMaxFileNameBytes;
}

std::u16string CutMacroName(std::u16string_view name) {
  return std::u16string(CutText(name, kMacroNameUnits));
}

// ---------------------------------------------------------------------------
// TuiActionsClass

TuiActionsClass::TuiActionsClass() { ZeroImage(FORGMacroKeyInfo); }

std::unique_ptr<TuiActionsClass> TuiActionsClass::CtrlCreate(const TMACROKEYINFO& AMacroKeyInfo,
                                                             TuiMacroClass* AMacroClass, int AMacroIndex) {
  auto actions = std::make_unique<TuiActionsClass>();
  if (!actions->LoadSteps(AMacroKeyInfo)) return nullptr;
  if (!actions->FActionsList.empty()) actions->FActionsIndex = 0;
  actions->FORGMacroKeyInfo = AMacroKeyInfo;
  actions->FMacroClass = AMacroClass;
  actions->FMacroIndex = AMacroIndex;
  return actions;
}

bool TuiActionsClass::LoadSteps(const TMACROKEYINFO& info) {
  if (info.MacroListCount < 0 || info.MacroListCount > kMacroMaxSteps) return false;
  FActionsList.assign(info.MacroList, info.MacroList + info.MacroListCount);
  return true;
}

TMACROKEYINFO TuiActionsClass::GetMacroKeyInfo() const {
  TMACROKEYINFO info = FORGMacroKeyInfo;
  std::copy(FActionsList.begin(), FActionsList.end(), info.MacroList);
  info.MacroListCount = MacroListCount();
  return info;
}

bool TuiActionsClass::SetMacroKeyInfo(const TMACROKEYINFO& AMacroKeyInfo) {
  if (!LoadSteps(AMacroKeyInfo)) return false;
  if (!FActionsList.empty()) FActionsIndex = 0;
  FORGMacroKeyInfo = AMacroKeyInfo;
  SaveBack();
  return true;
}

void TuiActionsClass::SaveBack() {
  if (!FMacroClass) return;
  TMACROKEYINFO* slot = FMacroClass->Slot(FMacroIndex);
  if (!slot) return;
  *slot = GetMacroKeyInfo();
  FORGMacroKeyInfo = *slot;
}

void TuiActionsClass::SetActionIndex(int Value) {
  if (IsValidActionIndex(Value)) FActionsIndex = Value;
}

bool TuiActionsClass::InsertAction(const TMACROKEY& AAction, int AIndex) {
  if (IsFull() || !IsValidActionIndex(AIndex)) return false;
  FActionsList.insert(FActionsList.begin() + AIndex, AAction);
  if (FActionsIndex == AIndex) FActionsIndex = AIndex + 1;
  SaveBack();
  return true;
}

bool TuiActionsClass::InsertActionAfter(const TMACROKEY& AAction, int AIndex) {
  if (IsFull()) return false;
  if (IsValidActionIndex(AIndex)) {
    FActionsList.insert(FActionsList.begin() + AIndex + 1, AAction);
  } else if (AIndex == MacroListCount()) {
    FActionsList.push_back(AAction);
  } else {
    return false;
  }
  SaveBack();
  return true;
}

bool TuiActionsClass::DeleteAction(int AIndex) {
  if (IsEmpty() || !IsValidActionIndex(AIndex)) return false;
  FActionsList.erase(FActionsList.begin() + AIndex);
  if (FActionsIndex >= MacroListCount()) FActionsIndex = MacroListCount() - 1;
  SaveBack();
  return true;
}

bool TuiActionsClass::MoveUpAction(int AIndex) {
  if (AIndex < 1 || AIndex >= MacroListCount()) return false;
  std::swap(FActionsList[AIndex - 1], FActionsList[AIndex]);
  if (FActionsIndex == AIndex) FActionsIndex = AIndex - 1;
  else if (FActionsIndex == AIndex - 1) FActionsIndex = AIndex;
  SaveBack();
  return true;
}

bool TuiActionsClass::MoveDownAction(int AIndex) {
  if (AIndex < 0 || AIndex >= MacroListCount() - 1) return false;
  std::swap(FActionsList[AIndex], FActionsList[AIndex + 1]);
  if (FActionsIndex == AIndex) FActionsIndex = AIndex + 1;
  else if (FActionsIndex == AIndex + 1) FActionsIndex = AIndex;
  SaveBack();
  return true;
}

bool TuiActionsClass::CopyAction(int AIndex) {
  if (IsEmpty() || !IsValidActionIndex(AIndex)) return false;
  FSavedActionsList.assign(1, FActionsList[AIndex]);
  FCutOperationFlag = false;
  SaveBack();
  return true;
}

bool TuiActionsClass::CutAction(int AIndex) {
  if (IsEmpty() || !IsValidActionIndex(AIndex)) return false;
  FSavedActionsList.assign(1, FActionsList[AIndex]);
  DeleteAction(AIndex);
  FCutOperationFlag = true;
  return true;
}

bool TuiActionsClass::PasteAction(int AIndex) {
  if (FSavedActionsList.empty()) return false;
  // A cut step is kept until it lands somewhere: a refused paste must not
  // lose the step the user cut away.
  if (!InsertAction(FSavedActionsList.front(), AIndex)) return false;
  if (FCutOperationFlag) {
    FSavedActionsList.clear();
    FCutOperationFlag = false;
  }
  return true;
}

int TuiActionsClass::GetDelayValue(int AIndex) const {
  if (!IsValidActionIndex(AIndex)) return 0;
  return MacroStepValue(FActionsList[AIndex]);
}

bool TuiActionsClass::SetDelayValue(int AIndex, int ADelay) {
  if (!IsValidActionIndex(AIndex) || ADelay < 0 || ADelay > 65535) return false;
  FActionsList[AIndex].VALUE1 = static_cast<uint8_t>(ADelay & 0xFF);
  FActionsList[AIndex].VALUE2 = static_cast<uint8_t>(ADelay >> 8);
  SaveBack();
  return true;
}

uint32_t TuiActionsClass::TotalDelay() const {
  uint32_t total = 0;
  for (const TMACROKEY& step : FActionsList)
    if (step.nKeyType == kMacroStepDelay) total += MacroStepValue(step);
  return total;
}

int TuiActionsClass::CheckErrors() {
  PressWalk walk;
  walk.walk(FActionsList);
  int n = walk.errors;
  for (uint16_t v : walk.keyValues)
    if (walk.pressed[v]) ++n;
  if (FMacroClass) {
    if (TMACROKEYINFO* slot = FMacroClass->Slot(FMacroIndex)) {
      slot->HaveErrors = n > 0 ? 1 : 0;
      slot->ErrorCount = n > 0 ? n : 0;
    }
  }
  return n;
}

void TuiActionsClass::RemoveErrors() {
  PressWalk walk;
  walk.walk(FActionsList);
  for (uint16_t v : walk.keyValues) {
    if (!walk.pressed[v]) continue;
    for (int i = MacroListCount() - 1; i >= 0; --i) {
      const TMACROKEY& step = FActionsList[i];
      if (isPressable(step) && MacroStepValue(step) == v && step.nKeyState == kMacroKeyPress) {
        FActionsList.erase(FActionsList.begin() + i);
        break;
      }
    }
    walk.pressed[v] = false;
  }
  if (FMacroClass) {
    if (TMACROKEYINFO* slot = FMacroClass->Slot(FMacroIndex)) {
      *slot = GetMacroKeyInfo();
      slot->HaveErrors = 0;
      slot->ErrorCount = 0;
    }
  }
}

// ---------------------------------------------------------------------------
// TuiMacroClass

TuiMacroClass::TuiMacroClass() = default;
TuiMacroClass::~TuiMacroClass() = default;

std::unique_ptr<TuiMacroClass> TuiMacroClass::CtlCreate(const TMACROKEYINFOLIST& AMacroKeyInfoList) {
  auto model = std::make_unique<TuiMacroClass>();
  model->LoadMacroInfos(AMacroKeyInfoList);
  return model;
}

TMACROKEYINFO* TuiMacroClass::Slot(int AIndex) {
  return IsValidMacroIndex(AIndex) ? &FMacroKeyInfoList[AIndex] : nullptr;
}

bool TuiMacroClass::LoadMacroInfos(const TMACROKEYINFOLIST& AMacroKeyInfoList) {
  // Read as the encoders and the assignment menu read it: refusing a damaged
  // count would show an empty list, and OK would then store no macros at all.
  const int count = UsableMacroCount(AMacroKeyInfoList);
  if (MacroListCount() + count > kProfileMacroSlots) return false;
  for (int i = 0; i < count; ++i) {
    FMacroKeyInfoList.push_back(AMacroKeyInfoList.MacroInfos[i]);
    FMacroKeyInfoList.back().MacroListCount = UsableStepCount(AMacroKeyInfoList.MacroInfos[i]);
  }
  if (!FMacroKeyInfoList.empty()) FMacroListIndex = 0;
  return true;
}

void TuiMacroClass::GetMacroKeyInfoList(TMACROKEYINFOLIST& AMacroKeyInfoList) const {
  // The model never holds more than the 21 slots (LoadMacroInfos and
  // CreateNewMacro refuse it).
  AMacroKeyInfoList.nMacroInfoCount = static_cast<uint16_t>(MacroListCount());
  std::copy(FMacroKeyInfoList.begin(), FMacroKeyInfoList.end(), AMacroKeyInfoList.MacroInfos);
}

bool TuiMacroClass::CreateNewMacro(std::u16string_view AMacroName) {
  const std::u16string name = CutMacroName(AMacroName);
  if (MacroListCount() >= kProfileMacroSlots || !IsValidMacroName(name)) return false;
  FMacroListIndex = MacroListCount();
  TMACROKEYINFO info;
  ZeroImage(info);
  info.nMacroIndex = static_cast<uint16_t>(FMacroListIndex);
  WriteText(info.szMacroName, name);
  FMacroKeyInfoList.push_back(info);
  ReindexMacros();
  return true;
}

bool TuiMacroClass::ReNameMacro(std::u16string_view AMacroName, int AIndex) {
  const std::u16string name = CutMacroName(AMacroName);
  if (!IsValidMacroIndex(AIndex) || !IsValidMacroName(name)) return false;
  WriteText(FMacroKeyInfoList[AIndex].szMacroName, name);
  return true;
}

bool TuiMacroClass::DeleteMacro(int AIndex) {
  if (!IsValidMacroIndex(AIndex)) return false;
  FMacroKeyInfoList.erase(FMacroKeyInfoList.begin() + AIndex);
  ReindexMacros();
  if (FMacroKeyInfoList.empty()) FMacroListIndex = -1;
  else if (FMacroListIndex >= MacroListCount()) FMacroListIndex = MacroListCount() - 1;
  return true;
}

bool TuiMacroClass::DeleteMacroByName(std::u16string_view AMacroName) {
  return DeleteMacro(IndexOfMacroName(AMacroName));
}

bool TuiMacroClass::MoveUpMacro(int AIndex) {
  if (AIndex < 1 || AIndex >= MacroListCount()) return false;
  std::swap(FMacroKeyInfoList[AIndex - 1], FMacroKeyInfoList[AIndex]);
  if (FMacroListIndex == AIndex) FMacroListIndex = AIndex - 1;
  else if (FMacroListIndex == AIndex - 1) FMacroListIndex = AIndex;
  ReindexMacros();
  return true;
}

bool TuiMacroClass::MoveDownMacro(int AIndex) {
  if (AIndex < 0 || AIndex >= MacroListCount() - 1) return false;
  std::swap(FMacroKeyInfoList[AIndex], FMacroKeyInfoList[AIndex + 1]);
  if (FMacroListIndex == AIndex) FMacroListIndex = AIndex + 1;
  else if (FMacroListIndex == AIndex + 1) FMacroListIndex = AIndex;
  ReindexMacros();
  return true;
}

int TuiMacroClass::IndexOfMacroName(std::u16string_view AMacroName) const {
  for (int i = 0; i < MacroListCount(); ++i)
    if (ReadText(FMacroKeyInfoList[i].szMacroName) == AMacroName) return i;
  return -1;
}

bool TuiMacroClass::GetMacroKeyItem(int AIndex, TMACROKEYINFO& AMacroKeyInfo) const {
  if (!IsValidMacroIndex(AIndex)) return false;
  AMacroKeyInfo = FMacroKeyInfoList[AIndex];
  return true;
}

void TuiMacroClass::InsertMacro(const TMACROKEYINFO& AMacroKeyInfo, int AIndex) {
  if (!FCurrentMacroAction) return;
  const int count = std::clamp<int>(AMacroKeyInfo.MacroListCount, 0, kMacroMaxSteps);
  for (int i = 0; i < count; ++i) {
    if (FCurrentMacroAction->IsFull()) continue;
    FCurrentMacroAction->InsertAction(AMacroKeyInfo.MacroList[i], AIndex + i);
  }
  UpdateCurrentMacroAction(FMacroListIndex);
}

void TuiMacroClass::InsertMacroAfter(const TMACROKEYINFO& AMacroKeyInfo, int AIndex) {
  if (!FCurrentMacroAction) return;
  const int count = std::clamp<int>(AMacroKeyInfo.MacroListCount, 0, kMacroMaxSteps);
  // After no step at all (a macro without steps): the block is appended.
  const bool append = FCurrentMacroAction->IsEmpty();
  for (int i = 0; i < count; ++i) {
    if (FCurrentMacroAction->IsFull()) continue;
    const int at = append ? FCurrentMacroAction->MacroListCount() : AIndex + i;
    FCurrentMacroAction->InsertActionAfter(AMacroKeyInfo.MacroList[i], at);
  }
  UpdateCurrentMacroAction(FMacroListIndex);
}

bool TuiMacroClass::SetMacroLoopValue(int AIndex, int ALoopValue) {
  if (!IsValidMacroIndex(AIndex) || ALoopValue < 0 || ALoopValue > 65535) return false;
  FMacroKeyInfoList[AIndex].nLoopCount = static_cast<uint16_t>(ALoopValue);
  UpdateCurrentMacroAction(AIndex);
  return true;
}

void TuiMacroClass::SaveBackCurrentMacroKeyInfo(const TMACROKEYINFO& AMacroKeyInfo) {
  if (!IsValidMacroIndex(FMacroListIndex)) return;
  if (AMacroKeyInfo.MacroListCount < 0 || AMacroKeyInfo.MacroListCount > kMacroMaxSteps) return;
  FMacroKeyInfoList[FMacroListIndex] = AMacroKeyInfo;
  UpdateCurrentMacroAction(FMacroListIndex);
}

void TuiMacroClass::CheckAllErrors() {
  for (int i = 0; i < MacroListCount(); ++i) {
    if (auto actions = TuiActionsClass::CtrlCreate(FMacroKeyInfoList[i], this, i)) actions->CheckErrors();
  }
}

void TuiMacroClass::SetMacroListIndex(int Value) {
  if (!IsValidMacroIndex(Value)) return;
  FMacroListIndex = Value;
  UpdateCurrentMacroAction(Value);
}

void TuiMacroClass::UpdateCurrentMacroAction(int AMacroIndex) {
  if (!IsValidMacroIndex(AMacroIndex)) return;
  // Every stored macro holds 0..128 steps (checked where it came in), so the
  // rebuild cannot be refused.
  auto actions = TuiActionsClass::CtrlCreate(FMacroKeyInfoList[AMacroIndex], this, AMacroIndex);
  if (actions) FCurrentMacroAction = std::move(actions);
}

void TuiMacroClass::ReindexMacros() {
  for (int i = 0; i < MacroListCount(); ++i) FMacroKeyInfoList[i].nMacroIndex = static_cast<uint16_t>(i);
}

// ---------------------------------------------------------------------------
// Macro files

bool TuiMacroClass::LoadMacroFromFile(const std::string& AMacroFile, TMACROKEYINFO& AMacroKeyInfo) {
  std::ifstream in(AMacroFile, std::ios::binary);
  if (!in) return false;
  char buffer[sizeof(TMACROKEYINFO)];
  in.read(buffer, sizeof buffer);
  const std::streamsize n = in.gcount();
  if (n <= 0) return true;  // an empty file fills nothing
  LoadImage(AMacroKeyInfo, std::span<const std::byte>(reinterpret_cast<const std::byte*>(buffer),
                                                       static_cast<size_t>(n)));
  return true;
}

std::string TuiMacroClass::MacroFilePath(const std::string& AMacroPath, std::u16string_view AMacroName) {
  if (AMacroPath.empty() || !IsValidMacroName(AMacroName)) return {};
  std::string path = AMacroPath;
  if (path.back() != '/') path += '/';
  return path + *MacroNameToUtf8(AMacroName) + kMacroExtension;
}

bool TuiMacroClass::WriteMacroFile(const TMACROKEYINFO& AMacroKeyInfo, const std::string& AMacroPath,
                                   std::string* error, std::string* reason) {
  auto fail = [error, reason](const std::string& where, const std::string& why) {
    if (error) *error = where.empty() ? why : where + ": " + why;
    if (reason) *reason = why;
    return false;
  };
  const std::u16string name = ReadText(AMacroKeyInfo.szMacroName);
  if (AMacroPath.empty()) return fail({}, "no macro folder");
  const std::string target = MacroFilePath(AMacroPath, name);
  if (target.empty()) return fail({}, "the macro name is no valid file name");

  // The folder is created one level only, as the profile's macro folder
  // lies in a folder that exists.
  if (::mkdir(AMacroPath.c_str(), 0777) != 0 && errno != EEXIST) return fail(AMacroPath, std::strerror(errno));

  // The shared atomic save: its temporary file has the one pattern the
  // start-up clean-up knows.
  std::string why;
  if (!WriteFileAtomically(target, &AMacroKeyInfo, sizeof(TMACROKEYINFO), &why)) return fail(target, why);
  return true;
}

TMacroFileResult TuiMacroClass::SaveMacroKeyInfoListToMacroFiles(const TMACROKEYINFOLIST& AMacroKeyInfoList,
                                                                 const std::string& AMacroPath) {
  TMacroFileResult result;
  if (AMacroPath.empty()) {
    result.Ok = false;
    result.Error = "no macro folder";
    return result;
  }
  if (AMacroKeyInfoList.nMacroInfoCount > kProfileMacroSlots) {
    result.Ok = false;
    result.Error = "the macro list holds more macros than it has slots";
    return result;
  }
  for (int i = 0; i < AMacroKeyInfoList.nMacroInfoCount; ++i) {
    const TMACROKEYINFO& info = AMacroKeyInfoList.MacroInfos[i];
    std::string error, reason;
    // One bad name (an imported profile can hold anything) must not keep
    // the other macros from their files.
    if (!WriteMacroFile(info, AMacroPath, &error, &reason)) {
      result.Ok = false;
      const std::u16string name = ReadText(info.szMacroName);
      result.Failed.push_back(name);
      if (result.Error.empty()) {
        result.Error = error;
        result.Reason = reason;
        result.File = MacroFilePath(AMacroPath, name);
        if (result.File.empty()) result.File = MacroNameToUtf8(name).value_or(std::string());
      }
    }
  }
  return result;
}
