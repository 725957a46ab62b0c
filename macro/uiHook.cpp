#include "macro/uiHook.h"

#include "device/uiKeyCode.h"
#include "platform/InputSynthesis.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>

namespace {

// ---- The library, shared by every component of the process ----

struct HookLibrary {
  void* handle = nullptr;
  UiEnableHookFn EnableKeyboardHook = nullptr;
  UiDisableHookFn DisableKeyboardHook = nullptr;
  UiEnableHookFn EnableMouseHook = nullptr;
  UiDisableHookFn DisableMouseHook = nullptr;
  int references = 0;
};

std::mutex gLibraryMutex;
HookLibrary gLibrary;
std::string gLibraryPath;
std::function<void(const std::string&, const std::string&)> gErrorReporter;

std::string libraryPath() {
  if (!gLibraryPath.empty()) return gLibraryPath;
  QString dir;
  if (QCoreApplication::instance()) dir = QCoreApplication::applicationDirPath();
  else dir = QFileInfo(QString::fromLocal8Bit("/proc/self/exe")).canonicalFilePath().section('/', 0, -2);
  return QDir(dir).filePath(QStringLiteral("libuiHook.so")).toStdString();
}

void reportError(const std::string& title, const std::string& text) {
  if (gErrorReporter) {
    gErrorReporter(title, text);
    return;
  }
  if (qobject_cast<QApplication*>(QCoreApplication::instance()))
    QMessageBox::critical(nullptr, QString::fromStdString(title), QString::fromStdString(text));
  else
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
}

// True when the library with its four entry points is held (one more reference).
bool LoadHookDll() {
  std::string path;
  {
    std::lock_guard g(gLibraryMutex);
    if (gLibrary.references > 0) {
      ++gLibrary.references;
      return true;
    }
    path = libraryPath();
  }
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "hook library %s: %s\n", path.c_str(), ::dlerror());
    reportError("Error", "uiHook.dll can not be found!");
    return false;
  }
  HookLibrary lib;
  lib.handle = handle;
  lib.EnableKeyboardHook = reinterpret_cast<UiEnableHookFn>(::dlsym(handle, "EnableKeyboardHook"));
  lib.DisableKeyboardHook = reinterpret_cast<UiDisableHookFn>(::dlsym(handle, "DisableKeyboardHook"));
  lib.EnableMouseHook = reinterpret_cast<UiEnableHookFn>(::dlsym(handle, "EnableMouseHook"));
  lib.DisableMouseHook = reinterpret_cast<UiDisableHookFn>(::dlsym(handle, "DisableMouseHook"));
  if (!lib.EnableKeyboardHook || !lib.DisableKeyboardHook || !lib.EnableMouseHook || !lib.DisableMouseHook) {
    std::fprintf(stderr, "hook library %s lacks an entry point\n", path.c_str());
    ::dlclose(handle);
    return false;
  }
  std::lock_guard g(gLibraryMutex);
  if (gLibrary.references > 0) {  // loaded meanwhile by another thread
    ::dlclose(handle);
  } else {
    lib.references = 0;
    gLibrary = lib;
  }
  ++gLibrary.references;
  return true;
}

// Drops one reference; the last one unloads the library, which ends its thread.
void UnloadHookDll() {
  void* handle = nullptr;
  {
    std::lock_guard g(gLibraryMutex);
    if (gLibrary.references <= 0) return;
    if (--gLibrary.references > 0) return;
    handle = gLibrary.handle;
    gLibrary = {};
  }
  if (handle) ::dlclose(handle);
}

HookLibrary library() {
  std::lock_guard g(gLibraryMutex);
  return gLibrary;
}

// ---- From the library's thread to the GUI thread ----

// One per kind of hook, for the life of the process (never freed, so a
// call the library started just before a Disable always finds it). The
// library holds at most one callback per kind, so one channel per kind
// serves every component.
struct HookChannel {
  explicit HookChannel(bool kb) : keyboard(kb) {}
  const bool keyboard;
  std::mutex mutex;
  std::condition_variable changed;
  TuiHook* owner = nullptr;   // written on the GUI thread, under mutex
  uint64_t generation = 0;    // advances at every Enable and Disable of this kind
};

HookChannel& channel(bool keyboard) {
  static HookChannel* kb = new HookChannel(true);
  static HookChannel* ms = new HookChannel(false);
  return keyboard ? *kb : *ms;
}

struct Decision {
  bool done = false;
  bool blocked = false;
};

union RecordCopy {
  UiKeyboardRecord keyboard;
  UiMouseRecord mouse;
};

bool onGuiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

// On the GUI thread: hand the record to the channel's owner, unless the hook
// was stopped or changed hands since the call was queued.
bool deliverOnGui(HookChannel& ch, uint64_t generation, int32_t code, uint32_t message, const RecordCopy& rec) {
  TuiHook* owner = nullptr;
  {
    std::lock_guard g(ch.mutex);
    if (ch.generation != generation || !ch.owner) return false;
    owner = ch.owner;
  }
  return owner->Dispatch(ch.keyboard, code, message, ch.keyboard ? static_cast<const void*>(&rec.keyboard)
                                                                   : static_cast<const void*>(&rec.mouse));
}

void HookProc(void* context, int32_t code, uint32_t message, const void* record, int32_t* blocked) noexcept {
  if (!context || !record || !blocked) return;
  try {
    HookChannel& ch = *static_cast<HookChannel*>(context);
    RecordCopy rec{};
    if (ch.keyboard) std::memcpy(&rec.keyboard, record, sizeof rec.keyboard);
    else std::memcpy(&rec.mouse, record, sizeof rec.mouse);
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    uint64_t generation = 0;
    {
      std::lock_guard g(ch.mutex);
      if (!ch.owner) return;
      generation = ch.generation;
    }
    if (onGuiThread()) {
      *blocked = deliverOnGui(ch, generation, code, message, rec) ? 1 : 0;
      return;
    }
    auto decision = std::make_shared<Decision>();
    QMetaObject::invokeMethod(
        app,
        [&ch, generation, code, message, rec, decision] {
          const bool b = deliverOnGui(ch, generation, code, message, rec);
          {
            std::lock_guard g(ch.mutex);
            decision->done = true;
            decision->blocked = b;
          }
          ch.changed.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(ch.mutex);
    // Ends at the decision, at a Disable or Enable of this kind, or after the
    // bound: a GUI thread that is busy never holds the desktop's input up for long.
    ch.changed.wait_for(lock, std::chrono::milliseconds(TuiHook::kDecisionTimeoutMs),
                        [&] { return decision->done || ch.generation != generation; });
    *blocked = decision->done && decision->blocked ? 1 : 0;
  } catch (...) {
    *blocked = 0;
  }
}

// ---- The desktop's key state ----

std::array<uint8_t, 256>& keyDownTable() {
  static std::array<uint8_t, 256> table{};
  return table;
}

constexpr uint32_t kFlagExtended = UI_KB_FLAG_EXTENDED;
constexpr uint32_t kFlagUp = UI_KB_FLAG_UP;
constexpr uint32_t kMouseInjected = UI_MS_FLAG_INJECTED;

bool isModifierKey(uint32_t vk) {
  switch (vk) {
    case 0xA2: case 0xA3: case 0xA4: case 0xA5: case 0x5B: case 0x5C: case 0xA0: case 0xA1:
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---- Tables ----

std::string GetMouseButtonDescription(TMouseButtons button) {
  struct Row {
    TMouseButtons button;
    const char* text;
  };
  static constexpr Row rows[] = {
      {LCLICK, "Mouse Click"},         {RCLICK, "Mouse Right Click"}, {MCLICK, "Mouse Middle Click"},
      {XCLICK4, "Backward(Mouse) "},   {XCLICK5, "Forward(Mouse)"},    {WHEELUP, "Wheel up(Mouse)"},
      {WHEELDOWN, "Wheel Down(Mouse)"},
  };
  for (const Row& r : rows)
    if (r.button == button) return r.text;
  return {};
}

void MouseMessageToButton(uint32_t message, uint32_t mouseData, TMouseButtons& button, int& state) {
  const uint16_t high = static_cast<uint16_t>(mouseData >> 16);
  button = BUTTON_NONE;
  state = 1;
  switch (message) {
    case 0x201: button = LCLICK; break;
    case 0x202: button = LCLICK; state = 0; break;
    case 0x204: button = RCLICK; break;
    case 0x205: button = RCLICK; state = 0; break;
    case 0x207: button = MCLICK; break;
    case 0x208: button = MCLICK; state = 0; break;
    case 0x20B:
    case 0x20C:
      button = high == 1 ? XCLICK4 : high == 2 ? XCLICK5 : BUTTON_NONE;
      state = message == 0x20B ? 1 : 0;
      break;
    case 0x20A: {
      const int16_t delta = static_cast<int16_t>(high);
      button = delta > 0 ? WHEELUP : delta < 0 ? WHEELDOWN : BUTTON_NONE;
      break;
    }
    default: break;
  }
}

// ---- Component ----

TuiHook::TuiHook(QObject* AOwner) : QObject(AOwner) {
  FDLLLoaded = LoadHookDll();
  FWorker = std::thread([this] { DataEventThreadExecute(); });
}

TuiHook::~TuiHook() {
  // Our hooks end before the library can go: no callback is left pointing at us.
  for (bool kb : {true, false}) {
    HookChannel& ch = channel(kb);
    bool mine = false;
    {
      std::lock_guard g(ch.mutex);
      mine = ch.owner == this;
    }
    if (mine) {
      if (kb) DisableKeyboard();
      else DisableMouse();
    }
  }
  if (FDLLLoaded) UnloadHookDll();
  {
    std::lock_guard g(FQueueMutex);
    FStop = true;
  }
  FQueueCondition.notify_all();
  if (FWorker.joinable()) FWorker.join();
}

void TuiHook::DataEventThreadExecute() {
  std::unique_lock lock(FQueueMutex);
  for (;;) {
    FQueueCondition.wait(lock, [this] { return FStop || FDataSignalled; });
    if (FStop) return;
    FDataSignalled = false;
    // Queued, never waited for: the destructor joins this thread on the GUI thread.
    QMetaObject::invokeMethod(this, [this] { ProcessDataEvent(); }, Qt::QueuedConnection);
  }
}

void TuiHook::ProcessDataEvent() {
  std::deque<TDataItem> items;
  {
    std::lock_guard g(FQueueMutex);
    items.swap(FRecordDataToProcessList);
  }
  for (const TDataItem& item : items) {
    if (item.kind == 1) {
      if (OnRecordKeyboardMacroKey)
        OnRecordKeyboardMacroKey(item.key.nKeyType, item.key.nKeyValue, item.key.nKeyState,
                                 item.key.nKeyValueExtended, 0, {}, {}, FMacroKeyList);
    } else if (OnRecordMouseMacroKey) {
      OnRecordMouseMacroKey(item.mouse.nKeyType, item.mouse.MouseButton, item.mouse.nKeyState, item.mouse.X,
                            item.mouse.Y, 0, {}, {}, FMouseMacroKeyList);
    }
  }
}

void TuiHook::EnableKeyboard(KeyboardMode mode) {
  if (!FDLLLoaded) return;
  const HookLibrary lib = library();
  if (!lib.handle) return;
  lib.DisableKeyboardHook();
  HookChannel& ch = channel(true);
  {
    std::lock_guard g(ch.mutex);
    ++ch.generation;
    ch.owner = this;
  }
  ch.changed.notify_all();
  FKeyboardMode = mode;
  // Keys already held when the hook starts (Ctrl of a combination, say).
  platform::QueryPressedVirtualKeys(keyDownTable());
  lib.EnableKeyboardHook(&HookProc, &ch, 0);
}

void TuiHook::DisableKeyboard() {
  if (!FDLLLoaded) return;
  const HookLibrary lib = library();
  if (lib.handle) lib.DisableKeyboardHook();
  HookChannel& ch = channel(true);
  {
    std::lock_guard g(ch.mutex);
    ++ch.generation;
    ch.owner = nullptr;
  }
  ch.changed.notify_all();
  FKeyboardMode = KeyboardMode::Idle;
}

void TuiHook::EnableMouse(MouseMode mode) {
  if (!FDLLLoaded) return;
  const HookLibrary lib = library();
  if (!lib.handle) return;
  lib.DisableMouseHook();
  HookChannel& ch = channel(false);
  {
    std::lock_guard g(ch.mutex);
    ++ch.generation;
    ch.owner = this;
  }
  ch.changed.notify_all();
  FMouseMode = mode;
  lib.EnableMouseHook(&HookProc, &ch, 0);
}

void TuiHook::DisableMouse() {
  if (!FDLLLoaded) return;
  const HookLibrary lib = library();
  if (lib.handle) lib.DisableMouseHook();
  HookChannel& ch = channel(false);
  {
    std::lock_guard g(ch.mutex);
    ++ch.generation;
    ch.owner = nullptr;
  }
  ch.changed.notify_all();
  FMouseMode = MouseMode::Idle;
}

void TuiHook::RecordKeyboardSingleKey() { EnableKeyboard(KeyboardMode::SingleKey); }
void TuiHook::StopRecordKeyboardSingleKey() { DisableKeyboard(); }
void TuiHook::StopHookKeyboard() { DisableKeyboard(); }

void TuiHook::RecordKeyboardComboKey() {
  EnableKeyboard(KeyboardMode::Combo);
  FHaveLastKeyboardCombo = false;
  FLastTimeKeyboardCombo = 0;
}

void TuiHook::StopRecordKeyboardComboKey() {
  DisableKeyboard();
  FHaveLastKeyboardCombo = false;
  FLastTimeKeyboardCombo = 0;
}

void TuiHook::RecordKeyboardMacroKey() {
  FMacroKeyList.clear();
  FHaveLastKeyboardMacro = false;
  FLastTimeKeyboardMacro = 0;
  EnableKeyboard(KeyboardMode::Macro);
}

void TuiHook::RecordKeyboardMacroKeyEx() {
  FLastMacroKey = {};
  FTotalMacroTime = 0;
  FAllKeyState = {};
  FMacroKeyList.clear();
  EnableKeyboard(KeyboardMode::MacroEx);
}

void TuiHook::StopRecordKeyboardMacroKey() {
  DisableKeyboard();
  if (OnStopRecordKeyboardMacroKey) OnStopRecordKeyboardMacroKey(FMacroKeyList);
  FMacroKeyList.clear();
}

void TuiHook::StopRecordKeyboardMacroKeyEx() { StopRecordKeyboardMacroKey(); }

void TuiHook::RecordMouseMacro() {
  FMouseMacroKeyList.clear();
  EnableMouse(MouseMode::MouseMacro);
  FHaveLastMouseMacro = false;
  FLastTimeMouseMacro = 0;
}

void TuiHook::StopRecordMouseMacro() {
  DisableMouse();
  if (OnStopRecordMouseMacroKey) OnStopRecordMouseMacroKey(FMouseMacroKeyList);
}

void TuiHook::StartHookKeyboard() { EnableKeyboard(KeyboardMode::Intercept); }
void TuiHook::StartHookMouse() { EnableMouse(MouseMode::Intercept); }
void TuiHook::StopHookMouse() { DisableMouse(); }

void TuiHook::AddKeyboardHookObject(std::unique_ptr<TKeyBoardHookDetailObject> AObject) {
  if (AObject) FKeyboardHookObjectList.push_back(std::move(AObject));
}
void TuiHook::AddMouseHookObject(std::unique_ptr<TMouseHookDetailObject> AObject) {
  if (AObject) FMouseHookObjectList.push_back(std::move(AObject));
}
void TuiHook::RemoveAllKeyboardHookObject() { FKeyboardHookObjectList.clear(); }
void TuiHook::RemoveAllMouseHookObject() { FMouseHookObjectList.clear(); }

bool TuiHook::GetKeyState(uint32_t vk) { return vk < 256 && keyDownTable()[vk] != 0; }

THookSourceFactory TuiHook::Factory() {
  return [](QObject* owner) -> std::unique_ptr<THookSource> { return std::make_unique<TuiHook>(owner); };
}

void TuiHook::SetLibraryPath(std::string path) {
  std::lock_guard g(gLibraryMutex);
  gLibraryPath = std::move(path);
}

void TuiHook::SetErrorReporter(std::function<void(const std::string&, const std::string&)> reporter) {
  gErrorReporter = std::move(reporter);
}

bool TuiHook::DeliverForTesting(bool keyboard, uint32_t message, const void* record) {
  int32_t blocked = 0;
  HookProc(&channel(keyboard), 0, message, record, &blocked);
  return blocked != 0;
}

// ---- Dispatch, on the GUI thread ----

bool TuiHook::Dispatch(bool keyboard, int32_t code, uint32_t message, const void* record) {
  if (keyboard) {
    TKBDLLHOOKSTRUCT r;
    std::memcpy(&r, record, sizeof r);
    if (r.vkCode > 255) return false;  // no virtual key; our tables stop at 255
    keyDownTable()[r.vkCode] = (r.flags & kFlagUp) ? 0 : 1;
    switch (FKeyboardMode) {
      case KeyboardMode::SingleKey: return SingleKeyHookProc(r);
      case KeyboardMode::Combo: return ComboKeyHookProc(r);
      case KeyboardMode::Macro: return MacroKeyHookProc(r);
      case KeyboardMode::MacroEx: return MacroKeyExHookProc(r);
      case KeyboardMode::Intercept: return KeyboardHookProc(code, r);
      case KeyboardMode::Idle: return false;
    }
    return false;
  }
  TMSLLHOOKSTRUCT r;
  std::memcpy(&r, record, sizeof r);
  switch (FMouseMode) {
    case MouseMode::MouseMacro: return MouseMacroHookProc(message, r);
    case MouseMode::Intercept: return MouseHookProc(message, r);
    case MouseMode::Idle: return false;
  }
  return false;
}

bool TuiHook::SingleKeyHookProc(const TKBDLLHOOKSTRUCT& r) {
  if (!OnRecordKeyboardSingleKey) return false;
  const int state = (r.flags & kFlagUp) ? 0 : 1;
  const int extended = (r.flags & kFlagExtended) ? 1 : 0;
  bool blocked = false;
  OnRecordKeyboardSingleKey(static_cast<int>(r.vkCode), r.scanCode, state, extended,
                            VKToKeyDescription(r.vkCode, extended), blocked);
  return blocked;
}

bool TuiHook::ComboKeyHookProc(const TKBDLLHOOKSTRUCT& r) {
  const bool variant2 = !OnRecordKeyboardComboKey && static_cast<bool>(OnRecordKeyboardComboKey2);
  if (!OnRecordKeyboardComboKey && !variant2) return false;
  if (r.flags & kFlagUp) return false;
  if (isModifierKey(r.vkCode)) return false;  // modifiers go on to the desktop
  const uint16_t vk = static_cast<uint16_t>(r.vkCode);
  const uint16_t ext = (r.flags & kFlagExtended) ? 1 : 0;

  FComboKeyString.clear();
  uint16_t modifier = 0;
  TCOMBOKEY& c = FComboKeyInfo;
  if (c.nKeyValue1 != 0 && c.nKeyValue2 != 0) {
    c.nKeyValue1 = c.nKeyValue1Extended = c.nKeyValue2 = c.nKeyValue2Extended = 0;
    c.nScanKey1 = c.nScanKey2 = 0;
  }
  auto down = [](uint32_t a, uint32_t b) { return GetKeyState(a) || GetKeyState(b); };
  if (down(0xA2, 0xA3)) { modifier |= 2; FComboKeyString += "Ctrl+"; }
  if (down(0xA4, 0xA5)) { modifier |= 1; FComboKeyString += "Alt+"; }
  if (down(0x5B, 0x5C)) { modifier |= 8; FComboKeyString += "Win+"; }
  if (down(0xA0, 0xA1)) { modifier |= 4; FComboKeyString += "Shift+"; }
  c.nModifier = modifier;

  // Inclusive window: a gap of exactly 100 ms still pairs the keys.
  const bool within = FHaveLastKeyboardCombo && static_cast<uint32_t>(r.time - FLastTimeKeyboardCombo) <= 100;
  if (!within) {
    c.nKeyValue1 = vk;
    c.nKeyValue1Extended = ext;
    c.nScanKey1 = r.scanCode;
    c.nKeyValue2 = c.nKeyValue2Extended = 0;
    c.nScanKey2 = 0;
  } else if (c.nKeyValue1 == 0) {
    c.nKeyValue1 = vk;
    c.nKeyValue1Extended = ext;
    c.nScanKey1 = r.scanCode;
  } else if (c.nKeyValue2 == 0) {
    if (vk != c.nKeyValue1 || ext != c.nKeyValue1Extended) {
      c.nKeyValue2 = vk;
      c.nKeyValue2Extended = ext;
      c.nScanKey2 = r.scanCode;
    } else {
      c.nKeyValue1 = vk;
      c.nKeyValue1Extended = ext;
      c.nScanKey1 = r.scanCode;
      c.nKeyValue2 = c.nKeyValue2Extended = 0;
      c.nScanKey2 = 0;
    }
  }
  FLastTimeKeyboardCombo = r.time;
  FHaveLastKeyboardCombo = true;

  if (c.nKeyValue1 != 0) {
    std::string text = VKToKeyDescription(c.nKeyValue1, c.nKeyValue1Extended);
    if (c.nKeyValue2 != 0) {
      text += '+';
      text += VKToKeyDescription(c.nKeyValue2, c.nKeyValue2Extended);
    }
    if (!text.empty()) {
      FComboKeyString += text;
      if (!variant2)
        OnRecordKeyboardComboKey(c.nKeyValue1, c.nKeyValue1Extended, c.nKeyValue2, c.nKeyValue2Extended,
                                 c.nModifier, FComboKeyString);
      else
        OnRecordKeyboardComboKey2(c.nKeyValue1, static_cast<int>(c.nScanKey1), c.nKeyValue1Extended, c.nKeyValue2,
                                  static_cast<int>(c.nScanKey2), c.nKeyValue2Extended, c.nModifier,
                                  FComboKeyString);
    }
  }
  return true;
}

bool TuiHook::MacroKeyHookProc(const TKBDLLHOOKSTRUCT& r) {
  if (!OnRecordKeyboardMacroKey) return false;
  const int state = (r.flags & kFlagUp) ? 0 : 1;
  const int extended = (r.flags & kFlagExtended) ? 1 : 0;
  if (!FHaveLastKeyboardMacro) {
    FLastTimeKeyboardMacro = r.time;
    FHaveLastKeyboardMacro = true;
  } else {
    const uint32_t gap = r.time - FLastTimeKeyboardMacro;
    if (gap > 10 && gap < 2000) {
      TMACROKEYHOOK d;
      d.nKeyType = 0;
      d.nKeyValue = static_cast<uint16_t>(gap);
      FMacroKeyList.push_back(d);
      OnRecordKeyboardMacroKey(0, static_cast<int>(gap), 0, 0, r.time, std::to_string(gap), "ms", FMacroKeyList);
    }
    FLastTimeKeyboardMacro = r.time;
  }
  TMACROKEYHOOK k;
  k.nKeyType = 1;
  k.nKeyState = static_cast<uint16_t>(state);
  k.nKeyValue = static_cast<uint16_t>(r.vkCode);
  k.nKeyValueExtended = static_cast<uint16_t>(extended);
  FMacroKeyList.push_back(k);
  OnRecordKeyboardMacroKey(1, static_cast<int>(r.vkCode), state, extended, r.time,
                           VKToKeyDescription(r.vkCode, extended), state ? "Down" : "Up", FMacroKeyList);
  return true;
}

bool TuiHook::MacroKeyExHookProc(const TKBDLLHOOKSTRUCT& r) {
  if (!OnRecordKeyboardMacroKeyEx || FMacroKeyList.size() > kMacroExLimit) return false;
  const int state = (r.flags & kFlagUp) ? 0 : 1;
  const int extended = (r.flags & kFlagExtended) ? 1 : 0;
  const uint32_t vk = r.vkCode;
  bool delayDue = false;
  constexpr uint32_t kSameBits = kFlagExtended | kFlagUp;
  if (FLastMacroKey.vkCode == 0) {
    FLastMacroKey = r;
    FTotalMacroTime = 0;
  } else {
    const uint32_t gap = r.time - FLastMacroKey.time;
    const bool same = FLastMacroKey.vkCode == vk && (FLastMacroKey.flags & kSameBits) == (r.flags & kSameBits);
    if (same && state == 1) {
      // An auto-repeat: the hold keeps counting from the first press.
      FTotalMacroTime = gap;
    } else {
      FTotalMacroTime = gap;
      FLastMacroKey = r;
      delayDue = true;
      if (state == 0) FAllKeyState[extended][vk] = 0;
    }
  }
  if (delayDue && FTotalMacroTime > 0) {
    if (FTotalMacroTime > 65535) FTotalMacroTime = 65535;
    TMACROKEYHOOK d;
    d.nKeyType = 0;
    d.nKeyValue = static_cast<uint16_t>(FTotalMacroTime);
    FMacroKeyList.push_back(d);
  }
  if (FAllKeyState[extended][vk] != 1) {
    if (state == 1) FAllKeyState[extended][vk] = 1;
    TMACROKEYHOOK k;
    k.nKeyType = 1;
    k.nKeyState = static_cast<uint16_t>(state);
    k.nKeyValue = static_cast<uint16_t>(vk);
    k.nKeyValueExtended = static_cast<uint16_t>(extended);
    FMacroKeyList.push_back(k);
    OnRecordKeyboardMacroKeyEx(1, static_cast<int>(vk), state, extended, r.time, FTotalMacroTime,
                               VKToKeyDescription(vk, extended), state ? "Down" : "Up", FMacroKeyList);
  }
  return true;
}

bool TuiHook::KeyboardHookProc(int32_t code, const TKBDLLHOOKSTRUCT& r) {
  if (code != 0) return false;
  const int state = (r.flags & kFlagUp) ? 0 : 1;
  const int extended = (r.flags & kFlagExtended) ? 1 : 0;
  bool blocked = false;
  if (OnHookKeyboardAllKey) OnHookKeyboardAllKey(static_cast<int>(r.vkCode), state, extended, blocked, r.scanCode);
  if (OnHookKeyboardKey) {
    for (const auto& obj : FKeyboardHookObjectList) {
      const TKeyBoardHookDetail& d = obj->FKeyBoardHookDetail;
      if (d.KeyboardVKKey == -1) break;
      const bool byVk = d.KeyboardVKKey != 0 && static_cast<uint32_t>(d.KeyboardVKKey) == r.vkCode &&
                        d.KeyExtended == extended;
      const bool byScan = d.KeyboardSCANKey != 0 && static_cast<uint32_t>(d.KeyboardSCANKey) == r.scanCode &&
                          d.KeyExtended == extended;
      if (byVk || byScan) {
        if (d.block == 1) blocked = true;
        OnHookKeyboardKey(static_cast<int>(r.vkCode), state, extended, blocked, r.scanCode);
        break;
      }
    }
  }
  return blocked;
}

bool TuiHook::MouseMacroHookProc(uint32_t message, const TMSLLHOOKSTRUCT& r) {
  if (!OnRecordMouseMacroKey || (r.flags & kMouseInjected)) return false;
  TMouseButtons button = BUTTON_NONE;
  int state = 1;
  MouseMessageToButton(message, r.mouseData, button, state);
  const uint16_t x = static_cast<uint16_t>(r.x);
  const uint16_t y = static_cast<uint16_t>(r.y);
  uint32_t gap = 0;
  if (!FHaveLastMouseMacro) {
    FLastTimeMouseMacro = r.time;
    FHaveLastMouseMacro = true;
  } else if (static_cast<int32_t>(r.time - FLastTimeMouseMacro) < 0) {
    // Earlier than the previous event (modular, so a wrap is not "earlier").
    FLastTimeMouseMacro = r.time;
    return false;
  } else {
    gap = r.time - FLastTimeMouseMacro;
    FLastTimeMouseMacro = r.time;
    TMOUSEMACROKEY d;
    d.X = x;
    d.Y = y;
    d.TimeValue = static_cast<uint16_t>(gap > 65535 ? 65535 : gap);
    FMouseMacroKeyList.push_back(d);
    OnRecordMouseMacroKey(0, BUTTON_NONE, 0, x, y, r.time, std::to_string(gap), "ms", FMouseMacroKeyList);
  }
  if (button != BUTTON_NONE) {
    TMOUSEMACROKEY b;
    b.nKeyType = 1;
    b.nKeyState = static_cast<uint16_t>(state);
    b.MouseButton = button;
    b.X = x;
    b.Y = y;
    b.TimeValue = static_cast<uint16_t>(gap > 65535 ? 65535 : gap);
    FMouseMacroKeyList.push_back(b);
    OnRecordMouseMacroKey(1, button, state, x, y, r.time, GetMouseButtonDescription(button), state ? "Down" : "Up",
                          FMouseMacroKeyList);
  }
  return false;
}

bool TuiHook::MouseHookProc(uint32_t message, const TMSLLHOOKSTRUCT& r) {
  const bool injected = (r.flags & kMouseInjected) != 0;
  if (message == 0x200) {
    if (OnHookMouseMove && !injected) OnHookMouseMove(r.x, r.y, r.time);
    return false;
  }
  if (injected) return false;  // our own replacement events among them
  TMouseButtons button = BUTTON_NONE;
  int state = 1;
  MouseMessageToButton(message, r.mouseData, button, state);
  const uint16_t high = static_cast<uint16_t>(r.mouseData >> 16);
  int16_t exValue = 0;
  if (message == 0x20A) exValue = static_cast<int16_t>(high);
  else if (message == 0x20B || message == 0x20C) exValue = static_cast<int16_t>(high);
  bool blocked = false;
  if (OnHookMouseAllButton) OnHookMouseAllButton(button, state, exValue, blocked);
  if (OnHookMouseButton && message >= 0x200 && message - 0x200 <= 15) {
    const auto bit = static_cast<TMouseButtonStateSet>(1u << (message - 0x200));
    for (const auto& obj : FMouseHookObjectList) {
      const TMouseHookDetail& d = obj->FMouseHookDetail;
      if ((d.MouseStateSet & bit) && d.MouseButton >= button) {
        if (d.ModifiedFunction != button) OnHookMouseButton(button, state, blocked);
        break;
      }
    }
  }
  return blocked;
}
