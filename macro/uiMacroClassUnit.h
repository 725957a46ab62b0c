#pragma once
// The macro model: the in-memory editor of one profile's macros.
//
// TuiMacroClass holds the macro list of a profile (the callers keep it at 20
// macros through IsFull; the record has 21 slots) and the selected macro.
// TuiActionsClass edits the steps of one macro (at most 128) and writes every
// change back at once into the slot of the owning list it is bound to.
//
// The actions object is bound to a slot number, not to a macro: after a
// change of the list (create, rename, delete, move) the caller sets
// MacroListIndex again, which rebuilds the actions object on the right slot
// with a fresh copy. Every step edit writes the whole copy back (name, loop
// count, error fields), so the error fields written by CheckErrors and
// RemoveErrors last only until the next step edit of the same object.
//
// Plain objects for the GUI thread; no Qt. Bad input (counts outside the
// arrays, indexes out of range, names that are no plain file name) is
// refused: the operation returns false and changes nothing.

#include "device/pubunit_quindle.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TuiMacroClass;

// The step value: VALUE2 * 256 + VALUE1 (for a key: extended * 256 + code).
inline uint16_t MacroStepValue(const TMACROKEY& step) {
  return static_cast<uint16_t>(step.VALUE2 * 256 + step.VALUE1);
}

// Whether a macro name can be stored and used as a file name in the macro
// folder: not empty, at most 50 UTF-16 units, no "/" and no null unit, not
// "." or "..", no unpaired surrogate, and at most 255 bytes in UTF-8 with
// the ".macro" extension.
bool IsValidMacroName(std::u16string_view name);
// `name` cut to the 50 units of szMacroName, never inside a surrogate pair.
std::u16string CutMacroName(std::u16string_view name);
// UTF-8 of a UTF-16 text; nullopt when it holds an unpaired surrogate.
std::optional<std::string> MacroNameToUtf8(std::u16string_view name);

// Editor of the steps of one macro.
class TuiActionsClass {
 public:
  TuiActionsClass();
  // Bound to slot `AMacroIndex` of `AMacroClass`, starting from `AMacroKeyInfo`.
  // Returns null when the record's step count lies outside 0..128.
  static std::unique_ptr<TuiActionsClass> CtrlCreate(const TMACROKEYINFO& AMacroKeyInfo,
                                                     TuiMacroClass* AMacroClass, int AMacroIndex);

  // The copy with the current steps and their count.
  TMACROKEYINFO GetMacroKeyInfo() const;
  // Replaces the steps and the copy by the record, then writes back. False
  // (nothing changed) for a step count outside 0..128.
  bool SetMacroKeyInfo(const TMACROKEYINFO& AMacroKeyInfo);
  // Writes the copy with the steps into the owner's slot and reads it back.
  void SaveBack();

  // Step commands; each refuses silently (false) what its rules exclude.
  bool InsertAction(const TMACROKEY& AAction, int AIndex);
  bool InsertActionAfter(const TMACROKEY& AAction, int AIndex);
  bool DeleteAction(int AIndex);
  bool MoveUpAction(int AIndex);
  bool MoveDownAction(int AIndex);
  bool CopyAction(int AIndex);
  bool CutAction(int AIndex);
  // Pastes the clipboard before AIndex. A copied step can be pasted any
  // number of times; a cut step leaves the clipboard only when it is pasted.
  bool PasteAction(int AIndex);

  // VALUE2 * 256 + VALUE1 of step AIndex whatever its type; 0 for a bad index.
  int GetDelayValue(int AIndex) const;
  // Stores ADelay (0..65535) in the two value bytes of step AIndex.
  bool SetDelayValue(int AIndex, int ADelay);

  // Counts the press/release errors and stores them in the owner's slot.
  // Returns the count.
  int CheckErrors();
  // Deletes the last press of every keyboard key left pressed and clears the
  // error fields of the owner's slot.
  void RemoveErrors();

  int ActionIndex() const { return FActionsIndex; }
  void SetActionIndex(int Value);
  int MacroListCount() const { return static_cast<int>(FActionsList.size()); }
  bool IsFull() const { return MacroListCount() >= FMaxActionsCount; }
  bool IsEmpty() const { return FActionsList.empty(); }
  uint32_t TotalDelay() const;
  bool IsValidActionIndex(int AIndex) const { return AIndex >= 0 && AIndex < MacroListCount(); }
  const std::vector<TMACROKEY>& Actions() const { return FActionsList; }
  bool HasClipboard() const { return !FSavedActionsList.empty(); }
  int MacroIndex() const { return FMacroIndex; }

 private:
  bool LoadSteps(const TMACROKEYINFO& info);

  TMACROKEYINFO FORGMacroKeyInfo;
  std::vector<TMACROKEY> FActionsList;
  int FActionsIndex = -1;
  int FMaxActionsCount = kMacroMaxSteps;
  TuiMacroClass* FMacroClass = nullptr;
  int FMacroIndex = -1;
  bool FCutOperationFlag = false;
  std::vector<TMACROKEY> FSavedActionsList;  // the one-step clipboard
};

// What the macro-file writer did.
struct TMacroFileResult {
  bool Ok = true;                      // every macro written
  std::vector<std::u16string> Failed;  // names that were skipped or could not be written
  std::string Error;                   // the first error, for the log
  std::string File;                    // the first file not written (the macro's name when it has no file name)
  std::string Reason;                  // why that file was not written
};

// The macro list of one profile.
class TuiMacroClass {
 public:
  TuiMacroClass();
  ~TuiMacroClass();
  TuiMacroClass(const TuiMacroClass&) = delete;
  TuiMacroClass& operator=(const TuiMacroClass&) = delete;

  // A model over the list (LoadMacroInfos); a refused list leaves it empty.
  static std::unique_ptr<TuiMacroClass> CtlCreate(const TMACROKEYINFOLIST& AMacroKeyInfoList);

  // Appends slots 0..nMacroInfoCount-1, at most the 21 slots, each macro's
  // step count brought into 0..128; selects the first macro when the model
  // holds any. Refused (false, nothing changed) when the model would hold
  // more than 21.
  bool LoadMacroInfos(const TMACROKEYINFOLIST& AMacroKeyInfoList);
  bool SetMacroKeyInfoList(const TMACROKEYINFOLIST& AMacroKeyInfoList) {
    return LoadMacroInfos(AMacroKeyInfoList);
  }
  // Count and slots 0..count-1; later slots are left as they were.
  void GetMacroKeyInfoList(TMACROKEYINFOLIST& AMacroKeyInfoList) const;

  // Appends an all-zero macro with the name (cut to 50 units) and selects its
  // position without rebuilding the actions object. Does not test IsFull
  // (the callers do), but refuses a 22nd macro and a name that is no valid
  // file name.
  bool CreateNewMacro(std::u16string_view AMacroName);
  // Renames macro AIndex (name cut to 50 units); refuses a bad index or an
  // invalid name.
  bool ReNameMacro(std::u16string_view AMacroName, int AIndex);
  bool DeleteMacro(int AIndex);
  bool DeleteMacroByName(std::u16string_view AMacroName);
  bool MoveUpMacro(int AIndex);
  bool MoveDownMacro(int AIndex);
  bool MacroExists(std::u16string_view AMacroName) const { return IndexOfMacroName(AMacroName) >= 0; }
  int IndexOfMacroName(std::u16string_view AMacroName) const;
  // Macro AIndex into AMacroKeyInfo; false (left as it was) for a bad index.
  bool GetMacroKeyItem(int AIndex, TMACROKEYINFO& AMacroKeyInfo) const;
  bool GetCurrentMacroKeyItem(TMACROKEYINFO& AMacroKeyInfo) const {
    return GetMacroKeyItem(FMacroListIndex, AMacroKeyInfo);
  }
  // Copies the steps of another record before / after step AIndex of the
  // selected macro; steps that do not fit are dropped. Inserting after into
  // a macro without steps appends them all.
  void InsertMacro(const TMACROKEYINFO& AMacroKeyInfo, int AIndex);
  void InsertMacroAfter(const TMACROKEYINFO& AMacroKeyInfo, int AIndex);
  // nLoopCount of macro AIndex := ALoopValue (0..65535).
  bool SetMacroLoopValue(int AIndex, int ALoopValue);
  void SaveBackCurrentMacroKeyInfo(const TMACROKEYINFO& AMacroKeyInfo);
  void CheckAllErrors();

  static bool IsValidMacroVersion(const TMACROKEYINFO& AMacroKeyInfo) {
    return AMacroKeyInfo.Version == 258;
  }
  // Copies up to the first 892 bytes of the file over the record (a shorter
  // file fills only its length). False, unchanged, when it cannot be read.
  static bool LoadMacroFromFile(const std::string& AMacroFile, TMACROKEYINFO& AMacroKeyInfo);
  // Writes "<folder>/<name>.macro" (the raw 892-byte record) for every macro
  // of the list, each atomically. A macro whose name is no valid file name
  // is skipped and reported; the others are still written. An empty folder
  // or a count above 21 writes nothing.
  static TMacroFileResult SaveMacroKeyInfoListToMacroFiles(const TMACROKEYINFOLIST& AMacroKeyInfoList,
                                                           const std::string& AMacroPath);
  // The one-file writer both callers share: the record as the whole file,
  // through a temporary file, flush and rename. False with `error` set when
  // the folder or the file cannot be written or the name is refused;
  // `reason` receives the cause alone, without the path.
  static bool WriteMacroFile(const TMACROKEYINFO& AMacroKeyInfo, const std::string& AMacroPath,
                             std::string* error, std::string* reason = nullptr);
  // The path a macro is written to ("" for an invalid name or empty folder).
  static std::string MacroFilePath(const std::string& AMacroPath, std::u16string_view AMacroName);

  int MacroListIndex() const { return FMacroListIndex; }
  // For a valid index: selects it and rebuilds the actions object.
  void SetMacroListIndex(int Value);
  int MacroListCount() const { return static_cast<int>(FMacroKeyInfoList.size()); }
  bool IsFull() const { return MacroListCount() >= FMaxMacroListCount; }
  bool IsEmpty() const { return FMacroKeyInfoList.empty(); }
  bool IsValidMacroIndex(int AIndex) const { return AIndex >= 0 && AIndex < MacroListCount(); }
  TuiActionsClass* CurrentMacroAction() const { return FCurrentMacroAction.get(); }
  void UpdateCurrentMacroAction(int AMacroIndex);

  // For the actions object: the slot it is bound to.
  TMACROKEYINFO* Slot(int AIndex);

 private:
  void ReindexMacros();

  std::vector<TMACROKEYINFO> FMacroKeyInfoList;
  int FMacroListIndex = -1;
  int FMaxMacroListCount = 20;
  std::unique_ptr<TuiActionsClass> FCurrentMacroAction;
};
