#include "device/uiCommandSetting.h"

#include "device/uiFunctionManager.h"

TuiCommand& TuiCommands::Add() {
  auto item = std::unique_ptr<TuiCommand>(new TuiCommand(this));
  item->Name = QStringLiteral("Command%1").arg(SmallestFreeNameNumber(
      QStringLiteral("Command"), FItems.size(),
      [this](size_t i) -> const QString& { return FItems[i]->Name; }));
  FItems.push_back(std::move(item));
  return *FItems.back();
}

bool TuiCommands::Delete(int index) {
  if (index < 0 || index >= Count()) return false;
  FItems.erase(FItems.begin() + index);
  return true;
}

void TuiCommands::Assign(const TuiCommands& source) {
  if (&source == this) return;
  std::vector<std::unique_ptr<TuiCommand>> copies;
  copies.reserve(source.FItems.size());
  for (const auto& from : source.FItems) {
    auto item = std::unique_ptr<TuiCommand>(new TuiCommand(this));
    item->Name = from->Name;
    item->Description = from->Description;
    item->OnExecute = from->OnExecute;
    copies.push_back(std::move(item));
  }
  FItems = std::move(copies);
}

TuiCommand* TuiCommands::Items(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return FItems[static_cast<size_t>(index)].get();
}

bool TuiCommandSetting::Run(TuiGetSet kind, void* buffer, uint32_t size) {
  // A handler may not change the list while it runs; index by position so a
  // list that does change anyway is never walked through a stale iterator.
  for (int i = 0; i < FCommands.Count(); ++i) {
    TuiCommand* command = FCommands.Items(i);
    if (command && command->OnExecute) {
      TOnGetAndSetSetting handler = command->OnExecute;
      handler(kind, buffer, size);
    }
  }
  return true;
}

bool TuiCommandSetting::SetData(void* buffer, uint32_t size) { return Run(uiSet, buffer, size); }

bool TuiCommandSetting::GetData(void* buffer, uint32_t size) { return Run(uiGet, buffer, size); }
