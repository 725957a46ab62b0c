#pragma once
// A named list of get/set commands. The configurator's main window holds one
// and runs it after every profile, mode or file operation, so that each view
// refreshes itself from the data module in the order of the list.

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Direction of a command run.
enum TuiGetSet {
  uiGet,  // read the settings out of the views (nothing calls it)
  uiSet,  // refresh the views from the settings
};

// One command's handler: the direction, the caller's buffer and its size.
// The handlers of the main window do not look at the buffer.
using TOnGetAndSetSetting =
    std::function<void(TuiGetSet AType, void* Buffer, uint32_t BufferSize)>;

class TuiCommands;
class TuiCommandSetting;

// One command of the list.
class TuiCommand {
 public:
  QString Name;                  // "Command%d" at insertion unless set later
  QString Description;
  TOnGetAndSetSetting OnExecute;  // may be empty: the command is skipped

  TuiCommands* Collection() const { return FOwner; }

 private:
  friend class TuiCommands;
  explicit TuiCommand(TuiCommands* owner) : FOwner(owner) {}
  TuiCommands* FOwner;
};

// The owned list of commands, in insertion order.
class TuiCommands {
 public:
  explicit TuiCommands(TuiCommandSetting* owner = nullptr) : FOwner(owner) {}
  TuiCommands(const TuiCommands&) = delete;
  TuiCommands& operator=(const TuiCommands&) = delete;

  // Appends a command named "Command<n>" with the smallest n that no other
  // command's name uses (compared without regard to case).
  TuiCommand& Add();
  // Removes the command at `index`; false when there is none.
  bool Delete(int index);
  void Clear() { FItems.clear(); }
  // Replaces this list's commands by copies of `source`'s.
  void Assign(const TuiCommands& source);

  int Count() const { return static_cast<int>(FItems.size()); }
  // The command at `index`, or nullptr outside 0 .. Count() - 1.
  TuiCommand* Items(int index) const;
  TuiCommandSetting* GetOwner() const { return FOwner; }

 private:
  TuiCommandSetting* FOwner;
  std::vector<std::unique_ptr<TuiCommand>> FItems;
};

// The command list component.
class TuiCommandSetting {
 public:
  TuiCommandSetting() : FCommands(this) {}
  TuiCommandSetting(const TuiCommandSetting&) = delete;
  TuiCommandSetting& operator=(const TuiCommandSetting&) = delete;

  TuiCommands& Commands() { return FCommands; }
  const TuiCommands& Commands() const { return FCommands; }
  // Copies `commands`' items into the owned list.
  void SetCommands(const TuiCommands& commands) { FCommands.Assign(commands); }

  // Runs every command that has a handler, in list order, with uiSet.
  // Always answers true.
  bool SetData(void* buffer, uint32_t size);
  // The same with uiGet.
  bool GetData(void* buffer, uint32_t size);

 private:
  bool Run(TuiGetSet kind, void* buffer, uint32_t size);
  TuiCommands FCommands;
};
