// The real libuiHook.so fed by a real `mouse-emulator` through its input
// endpoint: the raw records the library builds (loaded with dlopen), the
// hook component on top of it, and synthesis through the emulator.
// Every event is sent with a chosen time stamp; the control call returns
// once the hooks have decided, so nothing here waits on a clock.

#include "emulator/testing/EmulatorProcess.h"
#include "hooklib/uiHookApi.h"
#include "macro/uiHook.h"
#include "platform/InputSynthesis.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <cstdlib>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace emu = platform::emu;
using emulator::testing::EmulatorProcess;

std::vector<std::string> logLines(EmulatorProcess& mouse) {
  std::vector<std::string> out;
  for (const auto& e : mouse.inputLog()) out.push_back(emu::formatInputEvent(e));
  return out;
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  for (const auto& l : lines)
    if (l == line) return true;
  return false;
}

// ---------------------------------------------------------------- raw library

struct RawRecord {
  bool keyboard = false;
  uint32_t message = 0;
  UiKeyboardRecord key{};
  UiMouseRecord mouse{};
};

// What the callbacks saw, and whether to swallow (by the test's choice).
struct RawSink {
  std::mutex mutex;
  std::vector<RawRecord> seen;
  bool swallow = false;
};

void rawCallback(void* context, int32_t code, uint32_t message, const void* record, int32_t* blocked) {
  auto* sink = static_cast<RawSink*>(context);
  std::lock_guard g(sink->mutex);
  RawRecord r;
  r.message = message;
  r.keyboard = message >= UI_WM_KEYDOWN && message <= UI_WM_SYSKEYUP;
  if (r.keyboard) r.key = *static_cast<const UiKeyboardRecord*>(record);
  else r.mouse = *static_cast<const UiMouseRecord*>(record);
  EXPECT_EQ(code, 0);
  sink->seen.push_back(r);
  *blocked = sink->swallow ? 1 : 0;
}

class RawLibrary {
 public:
  RawLibrary() {
    handle_ = ::dlopen(MOUSE_HOOK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) return;
    enableKeyboard = reinterpret_cast<UiEnableHookFn>(::dlsym(handle_, "EnableKeyboardHook"));
    enableMouse = reinterpret_cast<UiEnableHookFn>(::dlsym(handle_, "EnableMouseHook"));
    disableKeyboard = reinterpret_cast<UiDisableHookFn>(::dlsym(handle_, "DisableKeyboardHook"));
    disableMouse = reinterpret_cast<UiDisableHookFn>(::dlsym(handle_, "DisableMouseHook"));
  }
  ~RawLibrary() {
    if (!handle_) return;
    if (disableKeyboard) disableKeyboard();
    if (disableMouse) disableMouse();
    ::dlclose(handle_);
  }
  bool loaded() const { return handle_ && enableKeyboard && enableMouse && disableKeyboard && disableMouse; }

  UiEnableHookFn enableKeyboard = nullptr;
  UiEnableHookFn enableMouse = nullptr;
  UiDisableHookFn disableKeyboard = nullptr;
  UiDisableHookFn disableMouse = nullptr;

 private:
  void* handle_ = nullptr;
};

class EmulatorHookTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Only the emulated desk: a real display would add its own events.
    ::unsetenv("DISPLAY");
    static int argc = 1;
    static char arg0[] = "EmulatorHook_test";
    static char* argv[] = {arg0, nullptr};
    if (!QCoreApplication::instance()) app_ = new QCoreApplication(argc, argv);
  }
  void SetUp() override {
    ASSERT_TRUE(mouse_.start()) << mouse_.lastError();
    mouse_.exportEnvironment();
  }
  void TearDown() override { ::unsetenv("MOUSE_EMULATOR"); }

  static inline QCoreApplication* app_ = nullptr;
  EmulatorProcess mouse_;
};

struct KeyCase {
  const char* what;
  uint32_t vk;
  bool down;
  bool extended;  // as sent
  bool injected;
  uint32_t time;
  uint32_t message;
  uint32_t scan;
  uint32_t flags;
};

TEST_F(EmulatorHookTest, KeyEventsBecomeWindowsRecordsWithScanCodesAndFlags) {
  RawLibrary lib;
  ASSERT_TRUE(lib.loaded()) << ::dlerror();
  RawSink sink;
  ASSERT_EQ(lib.enableKeyboard(rawCallback, &sink, 0), 1);
  ASSERT_TRUE(mouse_.awaitHooks(true, false)) << mouse_.lastError();

  const KeyCase cases[] = {
      {"A down", 0x41, true, false, false, 1000, UI_WM_KEYDOWN, 0x1E, 0},
      {"A up", 0x41, false, false, false, 1010, UI_WM_KEYUP, 0x1E, UI_KB_FLAG_UP},
      {"Delete: extended by position", 0x2E, true, false, false, 1020, UI_WM_KEYDOWN, 0x53, UI_KB_FLAG_EXTENDED},
      {"right Ctrl", 0xA3, true, true, false, 1030, UI_WM_KEYDOWN, 0x1D, UI_KB_FLAG_EXTENDED},
      {"injected B", 0x42, true, false, true, 1040, UI_WM_KEYDOWN, 0x30, UI_KB_FLAG_INJECTED},
      {"left Alt", 0xA4, true, false, false, 1050, UI_WM_SYSKEYDOWN, 0x38, UI_KB_FLAG_ALTDOWN},
      {"A with Alt", 0x41, true, false, false, 1060, UI_WM_SYSKEYDOWN, 0x1E, UI_KB_FLAG_ALTDOWN},
      {"A up with Alt", 0x41, false, false, false, 1070, UI_WM_SYSKEYUP, 0x1E, UI_KB_FLAG_ALTDOWN | UI_KB_FLAG_UP},
      {"left Alt up", 0xA4, false, false, false, 1080, UI_WM_KEYUP, 0x38, UI_KB_FLAG_UP},
      {"time near the wrap", 0x43, true, false, false, 0xFFFFFFFFu, UI_WM_KEYDOWN, 0x2E, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    {
      std::lock_guard g(sink.mutex);
      sink.seen.clear();
    }
    const auto swallowed = mouse_.key(c.vk, c.down, c.time, c.injected, c.extended);
    ASSERT_TRUE(swallowed.has_value()) << mouse_.lastError();
    EXPECT_FALSE(*swallowed);
    std::lock_guard g(sink.mutex);
    ASSERT_EQ(sink.seen.size(), 1u);
    const RawRecord& r = sink.seen[0];
    EXPECT_TRUE(r.keyboard);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(r.key.vkCode, c.vk);
    EXPECT_EQ(r.key.scanCode, c.scan);
    EXPECT_EQ(r.key.flags, c.flags);
    EXPECT_EQ(r.key.time, c.time);
    EXPECT_EQ(r.key.dwExtraInfo, 0u);
  }
  lib.disableKeyboard();
}

struct MouseCase {
  const char* what;
  bool wheel;
  int value;  // wheel delta or button
  bool down;
  bool injected;
  bool swallow;
  uint32_t message;
  uint32_t mouseData;
  uint32_t flags;
};

TEST_F(EmulatorHookTest, MouseEventsBecomeWindowsRecordsAndTheCallbackDecides) {
  RawLibrary lib;
  ASSERT_TRUE(lib.loaded()) << ::dlerror();
  RawSink sink;
  ASSERT_EQ(lib.enableMouse(rawCallback, &sink, 0), 1);
  ASSERT_TRUE(mouse_.awaitHooks(false, true)) << mouse_.lastError();

  const MouseCase cases[] = {
      {"wheel up", true, 120, true, false, true, UI_WM_MOUSEWHEEL, 0x00780000u, 0},
      {"wheel down", true, -120, true, false, false, UI_WM_MOUSEWHEEL, 0xFF880000u, 0},
      {"injected wheel up", true, 120, true, true, false, UI_WM_MOUSEWHEEL, 0x00780000u, UI_MS_FLAG_INJECTED},
      {"left down", false, 1, true, false, false, UI_WM_LBUTTONDOWN, 0, 0},
      {"right up", false, 2, false, false, true, UI_WM_RBUTTONUP, 0, 0},
      {"middle down", false, 3, true, false, false, UI_WM_MBUTTONDOWN, 0, 0},
      {"back down", false, 4, true, false, false, UI_WM_XBUTTONDOWN, 0x00010000u, 0},
      {"forward up, injected", false, 5, false, true, false, UI_WM_XBUTTONUP, 0x00020000u, UI_MS_FLAG_INJECTED},
  };
  uint32_t time = 500;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(mouse_.clearLog()) << mouse_.lastError();
    {
      std::lock_guard g(sink.mutex);
      sink.seen.clear();
      sink.swallow = c.swallow;
    }
    time += 7;
    const auto swallowed = c.wheel ? mouse_.wheel(c.value, time, c.injected)
                                   : mouse_.button(c.value, c.down, time, c.injected);
    ASSERT_TRUE(swallowed.has_value()) << mouse_.lastError();
    EXPECT_EQ(*swallowed, c.swallow);
    {
      std::lock_guard g(sink.mutex);
      ASSERT_EQ(sink.seen.size(), 1u);
      const RawRecord& r = sink.seen[0];
      EXPECT_EQ(r.message, c.message);
      EXPECT_EQ(r.mouse.mouseData, c.mouseData);
      EXPECT_EQ(r.mouse.flags, c.flags);
      EXPECT_EQ(r.mouse.time, time);
    }
    // A swallowed event never reaches applications; a passed one does.
    EXPECT_EQ(mouse_.inputLog().size(), c.swallow ? 0u : 1u);
  }
  lib.disableMouse();
}

TEST_F(EmulatorHookTest, SynthesisedKeysArriveFlaggedInjectedAndReachTheLog) {
  auto synth = platform::createInputSynthesis();
  ASSERT_TRUE(synth);
  EXPECT_EQ(synth->backendName(), "emulator");
  RawLibrary lib;
  ASSERT_TRUE(lib.loaded()) << ::dlerror();
  RawSink sink;
  ASSERT_EQ(lib.enableKeyboard(rawCallback, &sink, 0), 1);
  ASSERT_TRUE(mouse_.awaitHooks(true, false)) << mouse_.lastError();

  EXPECT_TRUE(synth->key(0xA3, true, true));  // right Ctrl
  EXPECT_TRUE(synth->key(0xA3, true, false));
  EXPECT_FALSE(synth->key(0, false, true));
  EXPECT_FALSE(synth->key(300, false, true));
  // The log is read once the synthesised events are settled.
  const auto log = mouse_.inputLog();
  ASSERT_EQ(log.size(), 2u);
  for (const auto& e : log) {
    EXPECT_TRUE(e.injected);
    EXPECT_EQ(e.code, 0xA3);
    EXPECT_TRUE(e.extended);
  }
  std::lock_guard g(sink.mutex);
  ASSERT_EQ(sink.seen.size(), 2u);
  EXPECT_EQ(sink.seen[0].message, UI_WM_KEYDOWN);
  EXPECT_EQ(sink.seen[0].key.flags, UI_KB_FLAG_INJECTED | UI_KB_FLAG_EXTENDED);
  EXPECT_EQ(sink.seen[1].key.flags, UI_KB_FLAG_INJECTED | UI_KB_FLAG_EXTENDED | UI_KB_FLAG_UP);
}

TEST_F(EmulatorHookTest, EventsPassWhenNoHookIsOnAndBadEventsAreRefused) {
  EXPECT_EQ(mouse_.key(0x41, true, 5), std::optional<bool>(false));
  EXPECT_EQ(mouse_.wheel(-240, 6), std::optional<bool>(false));
  EXPECT_EQ(logLines(mouse_), (std::vector<std::string>{"key 0x41 down t=5", "wheel -240 t=6"}));
  EXPECT_FALSE(mouse_.key(0, true, 1).has_value());
  EXPECT_FALSE(mouse_.key(255, true, 1).has_value());
  EXPECT_FALSE(mouse_.button(6, true, 1).has_value());
  EXPECT_FALSE(mouse_.wheel(0, 1).has_value());
  ASSERT_TRUE(mouse_.clearLog());
  EXPECT_TRUE(mouse_.inputLog().empty());
}

// ---------------------------------------------------------------- hook component

// Runs a control call on a helper thread while this (the GUI) thread serves
// the component's deliveries, which it moves here.
template <class F>
auto whileServing(F call) {
  QEventLoop loop;
  auto done = std::async(std::launch::async, [&] {
    auto result = call();
    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    return result;
  });
  loop.exec();
  return done.get();
}

class ComponentTest : public EmulatorHookTest {
 protected:
  void SetUp() override {
    EmulatorHookTest::SetUp();
    TuiHook::SetLibraryPath(MOUSE_HOOK_LIBRARY);
  }
  void TearDown() override {
    TuiHook::SetLibraryPath({});
    EmulatorHookTest::TearDown();
  }
  std::optional<bool> key(uint32_t vk, bool down, uint32_t time) {
    return whileServing([&] { return mouse_.key(vk, down, time); });
  }
  std::optional<bool> wheel(int delta, uint32_t time, bool injected = false) {
    return whileServing([&] { return mouse_.wheel(delta, time, injected); });
  }
};

TEST_F(ComponentTest, SingleKeyCaptureRecordsTheKeyAndSwallowsNothing) {
  TuiHook hook;
  ASSERT_TRUE(hook.DLLLoaded());
  struct Seen {
    int key;
    uint32_t scan;
    int state, ext;
  };
  std::vector<Seen> seen;
  hook.OnRecordKeyboardSingleKey = [&](int k, uint32_t scan, int state, int ext, const std::string&, bool&) {
    seen.push_back({k, scan, state, ext});
  };
  hook.RecordKeyboardSingleKey();
  ASSERT_TRUE(mouse_.awaitHooks(true, false)) << mouse_.lastError();
  EXPECT_EQ(key(0x41, true, 100), std::optional<bool>(false));
  EXPECT_EQ(key(0x41, false, 150), std::optional<bool>(false));
  EXPECT_EQ(key(0x2E, true, 200), std::optional<bool>(false));
  hook.StopRecordKeyboardSingleKey();
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen[0].key, 0x41);
  EXPECT_EQ(seen[0].scan, 0x1Eu);
  EXPECT_EQ(seen[0].ext, 0);
  EXPECT_NE(seen[0].state, seen[1].state);
  EXPECT_EQ(seen[2].key, 0x2E);
  EXPECT_EQ(seen[2].scan, 0x53u);
  EXPECT_EQ(seen[2].ext, 1);
  EXPECT_EQ(logLines(mouse_), (std::vector<std::string>{"key 0x41 down t=100", "key 0x41 up t=150",
                                                         "key 0x2E down t=200"}));
}

TEST_F(ComponentTest, CtrlAThenBWithinTheWindowIsOneComboAndItsKeysAreSwallowed) {
  TuiHook hook;
  ASSERT_TRUE(hook.DLLLoaded());
  struct Combo {
    int key1, key2, modifier;
  };
  std::vector<Combo> combos;
  hook.OnRecordKeyboardComboKey = [&](int k1, int, int k2, int, int m, const std::string&) {
    combos.push_back({k1, k2, m});
  };
  hook.RecordKeyboardComboKey();
  ASSERT_TRUE(mouse_.awaitHooks(true, false)) << mouse_.lastError();
  EXPECT_EQ(key(0xA2, true, 1000), std::optional<bool>(false));  // the modifier goes on
  EXPECT_EQ(key(0x41, true, 1010), std::optional<bool>(true));
  EXPECT_EQ(key(0x42, true, 1110), std::optional<bool>(true));   // exactly 100 ms later
  EXPECT_EQ(key(0x42, false, 1120), std::optional<bool>(false));
  EXPECT_EQ(key(0x41, false, 1130), std::optional<bool>(false));
  EXPECT_EQ(key(0xA2, false, 1140), std::optional<bool>(false));
  hook.StopRecordKeyboardComboKey();
  ASSERT_EQ(combos.size(), 2u);
  EXPECT_EQ(combos[1].key1, 0x41);
  EXPECT_EQ(combos[1].key2, 0x42);
  EXPECT_EQ(combos[1].modifier, 2);
  const auto log = logLines(mouse_);
  EXPECT_FALSE(contains(log, "key 0x41 down t=1010"));
  EXPECT_FALSE(contains(log, "key 0x42 down t=1110"));
  EXPECT_TRUE(contains(log, "key 0xA2 down t=1000"));
  EXPECT_TRUE(contains(log, "key 0x42 up t=1120"));
}

class WheelComponentTest : public ComponentTest {
 protected:
  void SetUp() override {
    ComponentTest::SetUp();
    hook_ = std::make_unique<TuiHook>();
    ASSERT_TRUE(hook_->DLLLoaded());
    auto o = std::make_unique<TMouseHookDetailObject>();
    o->FMouseHookDetail.MouseButton = WHEELDOWN;  // not lower than either wheel direction
    o->FMouseHookDetail.MouseStateSet = MouseStateBit(MOUSEWHEEL);
    hook_->AddMouseHookObject(std::move(o));
    hook_->OnHookMouseButton = [this](TMouseButtons b, int, bool& blocked) {
      seen_.push_back(int(b));
      blocked = b == WHEELUP;
    };
    hook_->StartHookMouse();
    ASSERT_TRUE(mouse_.awaitHooks(false, true)) << mouse_.lastError();
  }
  void TearDown() override {
    if (hook_) hook_->StopHookMouse();
    hook_.reset();
    ComponentTest::TearDown();
  }
  std::unique_ptr<TuiHook> hook_;
  std::vector<int> seen_;  // ints, so a failure prints numbers
};

TEST_F(WheelComponentTest, WheelUpSwallowedWheelDownPassedInjectedNeverCaught) {
  EXPECT_EQ(wheel(120, 10), std::optional<bool>(true));
  EXPECT_EQ(wheel(-120, 20), std::optional<bool>(false));
  EXPECT_EQ(wheel(120, 30, true), std::optional<bool>(false));  // a replacement of ours
  EXPECT_EQ(seen_, (std::vector<int>{WHEELUP, WHEELDOWN}));
  EXPECT_EQ(logLines(mouse_), (std::vector<std::string>{"wheel -120 t=20", "wheel +120 t=30 injected"}));
}

TEST_F(WheelComponentTest, SynthesisedWheelReachesApplicationsAndIsNeverInterceptedAgain) {
  auto synth = platform::createInputSynthesis();
  ASSERT_TRUE(synth);
  ASSERT_EQ(synth->backendName(), "emulator");
  EXPECT_TRUE(synth->wheel(240));
  // Read while serving the component, so its decisions are its own, not time-outs.
  const auto log = whileServing([&] { return mouse_.inputLog(); });
  ASSERT_EQ(log.size(), 2u);
  for (const auto& e : log) {
    EXPECT_EQ(e.kind, emu::InputKind::Wheel);
    EXPECT_EQ(e.delta, 120);
    EXPECT_TRUE(e.injected);
  }
  EXPECT_TRUE(seen_.empty());
}

}  // namespace
