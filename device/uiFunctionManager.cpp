#include "device/uiFunctionManager.h"

#include <cstring>
#include <limits>

int SmallestFreeNameNumber(const QString& prefix, size_t count,
                           const std::function<const QString&(size_t)>& nameAt) {
  int n = 1;
  for (;;) {
    if (n >= std::numeric_limits<int>::max()) return n;
    const QString candidate = prefix + QString::number(n);
    bool taken = false;
    for (size_t i = 0; i < count && !taken; ++i)
      taken = nameAt(i).compare(candidate, Qt::CaseInsensitive) == 0;
    if (!taken) return n;
    ++n;
  }
}

QString TuiFunctionItem::DisplayName() const {
  return Name.isEmpty() ? QStringLiteral("TuiFunctionItem") : Name;
}

void TuiFunctionItem::RunIt() {
  if (!OnExecute) return;
  TuiFunctionItemEvent handler = OnExecute;
  handler(static_cast<int>(FItemID), BufferPointer(), BufferSize());
}

void TuiFunctionItem::SetBuffer(const void* buffer, uint32_t size) {
  if (size == 0 || buffer == nullptr) return;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  FBuffer.assign(bytes, bytes + size);
}

void TuiFunctionItem::GetBuffer(void* buffer) const {
  if (FBuffer.empty() || buffer == nullptr) return;
  std::memcpy(buffer, FBuffer.data(), FBuffer.size());
}

TuiFunctionItem& TuiFunctions::Add() {
  auto item = std::unique_ptr<TuiFunctionItem>(new TuiFunctionItem(this));
  const int n = SmallestFreeNameNumber(QStringLiteral("Item"), FItems.size(),
                                       [this](size_t i) -> const QString& { return FItems[i]->Name; });
  item->Name = QStringLiteral("Item%1").arg(n);
  item->FItemID = static_cast<uint32_t>(n);
  FItems.push_back(std::move(item));
  return *FItems.back();
}

bool TuiFunctions::Delete(int index) {
  if (index < 0 || index >= Count()) return false;
  FItems.erase(FItems.begin() + index);
  return true;
}

void TuiFunctions::Assign(const TuiFunctions& source) {
  if (&source == this) return;
  std::vector<std::unique_ptr<TuiFunctionItem>> copies;
  copies.reserve(source.FItems.size());
  for (const auto& from : source.FItems) {
    auto item = std::unique_ptr<TuiFunctionItem>(new TuiFunctionItem(this));
    item->Name = from->Name;
    item->ShortDescription = from->ShortDescription;
    item->Description = from->Description;
    item->OnExecute = from->OnExecute;
    item->FBuffer = from->FBuffer;
    item->FItemID = from->FItemID;
    copies.push_back(std::move(item));
  }
  FItems = std::move(copies);
}

TuiFunctionItem* TuiFunctions::Items(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return FItems[static_cast<size_t>(index)].get();
}
