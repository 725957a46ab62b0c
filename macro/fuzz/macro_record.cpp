// Loads a macro record from arbitrary bytes, as a macro file or an imported
// profile hands it over, and runs the model over it: the checks on counts,
// the error rules and the name checks must hold for any content.
#include "macro/uiMacroClassUnit.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto list = NewZeroImage<TMACROKEYINFOLIST>();
  TMACROKEYINFO& info = list->MacroInfos[0];
  LoadImage(info, std::span<const std::byte>(reinterpret_cast<const std::byte*>(data), size));
  // The bytes past the record choose the list's count, so damaged counts
  // reach the model as well.
  list->nMacroInfoCount = size > sizeof(TMACROKEYINFO) ? data[sizeof(TMACROKEYINFO)] : 1;

  auto model = TuiMacroClass::CtlCreate(*list);
  model->SetMacroListIndex(0);
  if (TuiActionsClass* actions = model->CurrentMacroAction()) {
    actions->CheckErrors();
    actions->RemoveErrors();
    actions->CopyAction(0);
    actions->PasteAction(0);
    actions->SetDelayValue(actions->ActionIndex(), actions->GetDelayValue(0));
    (void)actions->TotalDelay();
  }
  model->InsertMacroAfter(info, 0);
  model->CheckAllErrors();
  const std::u16string name = ReadText(info.szMacroName);
  (void)IsValidMacroName(name);
  (void)TuiMacroClass::MacroFilePath("/tmp", name);
  model->CreateNewMacro(name);
  auto back = NewZeroImage<TMACROKEYINFOLIST>();
  model->GetMacroKeyInfoList(*back);
  return 0;
}
