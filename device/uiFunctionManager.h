#pragma once
// A named list of function items, each with an ID, texts, an owned byte buffer
// and an execute handler. A popup menu can be linked to one and hands the
// buffer of one of its items to the menu's click events.

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// The smallest n >= 1 for which no name among `count` names (read through
// `nameAt`) equals prefix + n, compared without regard to case; never above
// 2,147,483,647. Shared by every collection that names its items "<prefix>%d".
int SmallestFreeNameNumber(const QString& prefix, size_t count,
                           const std::function<const QString&(size_t)>& nameAt);

// A function item's handler: the item's ID, its buffer and the buffer's size.
using TuiFunctionItemEvent =
    std::function<void(int AFunctionID, void* BufferPointer, uint32_t Size)>;

class TuiFunctions;
class TuiFunctionManager;

// One function item. It owns its buffer.
class TuiFunctionItem {
 public:
  QString Name;  // "Item%d" at insertion unless set later
  QString ShortDescription;
  QString Description;
  TuiFunctionItemEvent OnExecute;

  // The number its insertion gave it; a name stored later does not change it.
  uint32_t ItemID() const { return FItemID; }
  // Name, or the generic name of a collection item when Name is empty.
  QString DisplayName() const;

  // Direct access to the owned buffer (nullptr and 0 while it has none).
  void* BufferPointer() { return FBuffer.empty() ? nullptr : FBuffer.data(); }
  const void* BufferPointer() const { return FBuffer.empty() ? nullptr : FBuffer.data(); }
  uint32_t BufferSize() const { return static_cast<uint32_t>(FBuffer.size()); }

  // Calls OnExecute (when set) with the ID and the buffer.
  void RunIt();
  // Makes the buffer a copy of `size` bytes at `buffer`; size 0 changes nothing.
  void SetBuffer(const void* buffer, uint32_t size);
  // Copies BufferSize() bytes of the buffer to `buffer` (nothing when empty).
  void GetBuffer(void* buffer) const;
  uint32_t GetBufferSize() const { return BufferSize(); }

  TuiFunctions* Collection() const { return FOwner; }

 private:
  friend class TuiFunctions;
  explicit TuiFunctionItem(TuiFunctions* owner) : FOwner(owner) {}
  std::vector<uint8_t> FBuffer;
  TuiFunctions* FOwner;
  uint32_t FItemID = 0;
};

// The owned list of function items, in insertion order.
class TuiFunctions {
 public:
  explicit TuiFunctions(TuiFunctionManager* owner = nullptr) : FOwner(owner) {}
  TuiFunctions(const TuiFunctions&) = delete;
  TuiFunctions& operator=(const TuiFunctions&) = delete;

  // Appends an item named "Item<n>" with ItemID n, n the smallest number that
  // no other item's name uses (compared without regard to case).
  TuiFunctionItem& Add();
  // Removes (and frees) the item at `index`; false when there is none.
  bool Delete(int index);
  void Clear() { FItems.clear(); }
  // Replaces this list's items by copies of `source`'s (IDs and buffers too).
  void Assign(const TuiFunctions& source);

  int Count() const { return static_cast<int>(FItems.size()); }
  // The item at `index`, or nullptr outside 0 .. Count() - 1.
  TuiFunctionItem* Items(int index) const;
  TuiFunctionManager* GetOwner() const { return FOwner; }

 private:
  TuiFunctionManager* FOwner;
  std::vector<std::unique_ptr<TuiFunctionItem>> FItems;
};

// The function list component.
class TuiFunctionManager {
 public:
  TuiFunctionManager() : FFunctionItems(this) {}
  TuiFunctionManager(const TuiFunctionManager&) = delete;
  TuiFunctionManager& operator=(const TuiFunctionManager&) = delete;

  TuiFunctions& Items() { return FFunctionItems; }
  const TuiFunctions& Items() const { return FFunctionItems; }
  void SetItems(const TuiFunctions& items) { FFunctionItems.Assign(items); }

 private:
  TuiFunctions FFunctionItems;
};
