// The hook component over the real libuiHook.so (no event source: DISPLAY
// and MOUSE_EMULATOR are cleared), fed with records as the library would
// deliver them. Every timing rule is driven by the records' time stamps.
#include "macro/uiHook.h"

#include "device/uiKeyCode.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

namespace {

constexpr uint32_t VK_A = 0x41, VK_B = 0x42, VK_LCONTROL = 0xA2, VK_LSHIFT = 0xA0;

UiKeyboardRecord key(uint32_t vk, uint32_t time, bool up = false, bool extended = false, uint32_t scan = 0) {
  UiKeyboardRecord r{};
  r.vkCode = vk;
  r.scanCode = scan;
  r.flags = (up ? UI_KB_FLAG_UP : 0u) | (extended ? UI_KB_FLAG_EXTENDED : 0u);
  r.time = time;
  return r;
}

UiMouseRecord wheel(int16_t delta, uint32_t time, bool injected = false) {
  UiMouseRecord r{};
  r.mouseData = static_cast<uint32_t>(static_cast<uint16_t>(delta)) << 16;
  r.flags = injected ? UI_MS_FLAG_INJECTED : 0u;
  r.time = time;
  return r;
}

bool press(const UiKeyboardRecord& r) {
  return TuiHook::DeliverForTesting(true, (r.flags & UI_KB_FLAG_UP) ? UI_WM_KEYUP : UI_WM_KEYDOWN, &r);
}

class HookTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::unsetenv("DISPLAY");
    ::unsetenv("MOUSE_EMULATOR");
    static int argc = 1;
    static char arg0[] = "uiHook_test";
    static char* argv[] = {arg0, nullptr};
    if (!QCoreApplication::instance()) app_ = new QCoreApplication(argc, argv);
  }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
  }
  void SetUp() override {
    TuiHook::SetLibraryPath(MOUSE_PROGRAM_DIR "/libuiHook.so");
    TuiHook::SetErrorReporter([this](const std::string& title, const std::string& text) {
      messages_.push_back(title + ": " + text);
    });
  }
  void TearDown() override {
    TuiHook::SetErrorReporter({});
    TuiHook::SetLibraryPath({});
  }
  // Releases every key the down-table holds, so tests do not leak modifiers.
  static void releaseAll(TuiHook& hook) {
    hook.StartHookKeyboard();
    for (uint32_t vk = 1; vk < 256; ++vk)
      if (TuiHook::GetKeyState(vk)) press(key(vk, 0, true));
    hook.StopHookKeyboard();
  }

  static inline QCoreApplication* app_ = nullptr;
  std::vector<std::string> messages_;
};

TEST_F(HookTest, MissingLibraryShowsTheMessageOncePerComponentAndDoesNothing) {
  TuiHook::SetLibraryPath("/nonexistent/folder/libuiHook.so");
  {
    TuiHook hook;
    EXPECT_FALSE(hook.DLLLoaded());
    int raised = 0;
    hook.OnRecordKeyboardSingleKey = [&](int, uint32_t, int, int, const std::string&, bool&) { ++raised; };
    hook.RecordKeyboardSingleKey();
    EXPECT_FALSE(press(key(VK_A, 10)));
    hook.StopRecordKeyboardSingleKey();
    hook.StartHookMouse();
    hook.StopHookMouse();
    int stops = 0;
    hook.OnStopRecordKeyboardMacroKey = [&](const TMacroKeyHookList& list) {
      ++stops;
      EXPECT_TRUE(list.empty());
    };
    hook.RecordKeyboardMacroKeyEx();
    hook.StopRecordKeyboardMacroKeyEx();
    EXPECT_EQ(raised, 0);
    EXPECT_EQ(stops, 1);
  }
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Error: uiHook.dll can not be found!");
  TuiHook again;
  EXPECT_EQ(messages_.size(), 2u);
}

TEST_F(HookTest, LibraryWithoutTheEntryPointsIsRefusedSilently) {
  TuiHook::SetLibraryPath("libm.so.6");
  TuiHook hook;
  EXPECT_FALSE(hook.DLLLoaded());
  EXPECT_TRUE(messages_.empty());
}

TEST_F(HookTest, SingleKeyReportsPressesRepeatsAndReleasesAndSwallowsOnlyOnRequest) {
  TuiHook hook;
  ASSERT_TRUE(hook.DLLLoaded());
  struct Seen {
    int key, state, ext;
    uint32_t scan;
    std::string text;
  };
  std::vector<Seen> seen;
  bool swallow = false;
  hook.OnRecordKeyboardSingleKey = [&](int k, uint32_t scan, int state, int ext, const std::string& text, bool& b) {
    seen.push_back({k, state, ext, scan, text});
    b = swallow;
  };
  hook.RecordKeyboardSingleKey();
  EXPECT_FALSE(press(key(VK_A, 100, false, false, 0x1E)));
  EXPECT_FALSE(press(key(VK_A, 130, false, false, 0x1E)));
  EXPECT_FALSE(press(key(VK_A, 160, true, false, 0x1E)));
  swallow = true;
  EXPECT_TRUE(press(key(0x2E, 200, false, true, 0x53)));
  hook.StopRecordKeyboardSingleKey();
  EXPECT_FALSE(press(key(VK_B, 300)));  // after Stop: nothing
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].state, 1);
  EXPECT_EQ(seen[1].state, 1);
  EXPECT_EQ(seen[2].state, 0);
  EXPECT_EQ(seen[0].scan, 0x1Eu);
  EXPECT_EQ(seen[0].text, VKToKeyDescription(VK_A, 0));
  EXPECT_EQ(seen[3].key, 0x2E);
  EXPECT_EQ(seen[3].ext, 1);
  EXPECT_EQ(seen[3].text, VKToKeyDescription(0x2E, 1));
  releaseAll(hook);
}

struct ComboEvent {
  int key1, ext1, key2, ext2, modifier;
  std::string text;
};

class ComboTest : public HookTest {
 protected:
  void SetUp() override {
    HookTest::SetUp();
    hook_ = std::make_unique<TuiHook>();
    hook_->OnRecordKeyboardComboKey = [this](int k1, int e1, int k2, int e2, int m, const std::string& t) {
      events_.push_back({k1, e1, k2, e2, m, t});
    };
    hook_->RecordKeyboardComboKey();
  }
  void TearDown() override {
    hook_->StopRecordKeyboardComboKey();
    releaseAll(*hook_);
    hook_.reset();
    HookTest::TearDown();
  }
  std::unique_ptr<TuiHook> hook_;
  std::vector<ComboEvent> events_;
};

TEST_F(ComboTest, CtrlAThenBWithinTheWindowPairsThem) {
  EXPECT_FALSE(press(key(VK_LCONTROL, 1000)));  // a modifier goes on
  EXPECT_TRUE(press(key(VK_A, 1010)));
  EXPECT_TRUE(press(key(VK_B, 1050)));
  ASSERT_EQ(events_.size(), 2u);
  const std::string a = VKToKeyDescription(VK_A, 0), b = VKToKeyDescription(VK_B, 0);
  EXPECT_EQ(events_[0].key1, int(VK_A));
  EXPECT_EQ(events_[0].key2, 0);
  EXPECT_EQ(events_[0].modifier, 2);
  EXPECT_EQ(events_[0].text, "Ctrl+" + a);
  EXPECT_EQ(events_[1].key1, int(VK_A));
  EXPECT_EQ(events_[1].key2, int(VK_B));
  EXPECT_EQ(events_[1].text, "Ctrl+" + a + "+" + b);
}

TEST_F(ComboTest, GapOfExactly100StillPairsAnd101StartsOver) {
  struct Case {
    uint32_t gap;
    int key1, key2;
  };
  for (const Case c : {Case{100, int(VK_A), int(VK_B)}, Case{101, int(VK_B), 0}}) {
    SCOPED_TRACE(c.gap);
    events_.clear();
    hook_->RecordKeyboardComboKey();
    press(key(VK_A, 5000));
    press(key(VK_A, 5001, true));
    press(key(VK_B, 5000 + c.gap));
    ASSERT_EQ(events_.size(), 2u);
    EXPECT_EQ(events_[1].key1, c.key1);
    EXPECT_EQ(events_[1].key2, c.key2);
    EXPECT_EQ(events_[1].modifier, 0);
  }
}

TEST_F(ComboTest, ModifierAloneRaisesNothingAndPasses) {
  for (uint32_t vk : {0xA0u, 0xA1u, 0xA2u, 0xA3u, 0xA4u, 0xA5u, 0x5Bu, 0x5Cu}) {
    EXPECT_FALSE(press(key(vk, 10)));
    EXPECT_FALSE(press(key(vk, 20, true)));
  }
  EXPECT_TRUE(events_.empty());
}

TEST_F(ComboTest, SameKeyTwiceWithinTheWindowStaysOneKeyAndModifiersInOrder) {
  press(key(VK_LSHIFT, 1));
  press(key(VK_LCONTROL, 2));
  press(key(VK_A, 10));
  press(key(VK_A, 20));
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[1].key1, int(VK_A));
  EXPECT_EQ(events_[1].key2, 0);
  EXPECT_EQ(events_[1].modifier, 2 | 4);
  EXPECT_EQ(events_[1].text, "Ctrl+Shift+" + VKToKeyDescription(VK_A, 0));
}

TEST_F(ComboTest, FirstPressAfterTheStartIsOutsideTheWindowEvenAtTimeZero) {
  press(key(VK_A, 0));
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].key1, int(VK_A));
  // Across the wrap of the clock: 0xFFFFFFF0 then 0x10 is 32 ms.
  hook_->RecordKeyboardComboKey();
  events_.clear();
  press(key(VK_A, 0xFFFFFFF0u));
  press(key(VK_B, 0x10));
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[1].key2, int(VK_B));
}

struct MacroEntry {
  uint16_t type, state, value, ext;
  bool operator==(const MacroEntry&) const = default;
};

std::vector<MacroEntry> entries(const TMacroKeyHookList& list) {
  std::vector<MacroEntry> out;
  for (const auto& e : list) out.push_back({e.nKeyType, e.nKeyState, e.nKeyValue, e.nKeyValueExtended});
  return out;
}

class MacroExTest : public HookTest {
 protected:
  void SetUp() override {
    HookTest::SetUp();
    hook_ = std::make_unique<TuiHook>();
    hook_->OnRecordKeyboardMacroKeyEx = [this](int type, int k, int state, int ext, double, uint32_t total,
                                               const std::string&, const std::string& stateText,
                                               const TMacroKeyHookList&) {
      raised_.push_back({uint16_t(type), uint16_t(state), uint16_t(k), uint16_t(ext)});
      totals_.push_back(total);
      stateTexts_.push_back(stateText);
    };
    hook_->OnStopRecordKeyboardMacroKey = [this](const TMacroKeyHookList& list) { result_ = entries(list); };
    hook_->RecordKeyboardMacroKeyEx();
  }
  void TearDown() override {
    hook_->StopRecordKeyboardMacroKeyEx();
    releaseAll(*hook_);
    hook_.reset();
    HookTest::TearDown();
  }
  std::vector<MacroEntry> stop() {
    hook_->StopRecordKeyboardMacroKeyEx();
    return result_;
  }
  std::unique_ptr<TuiHook> hook_;
  std::vector<MacroEntry> raised_;
  std::vector<uint32_t> totals_;
  std::vector<std::string> stateTexts_;
  std::vector<MacroEntry> result_;
};

TEST_F(MacroExTest, HeldKeyWithRepeatsGivesPressHoldTimeRelease) {
  EXPECT_TRUE(press(key(VK_A, 1000)));
  for (uint32_t t = 1500; t < 2000; t += 33) EXPECT_TRUE(press(key(VK_A, t)));  // auto-repeat, swallowed
  EXPECT_TRUE(press(key(VK_A, 2000, true)));
  EXPECT_EQ(stop(), (std::vector<MacroEntry>{{1, 1, 0x41, 0}, {0, 0, 1000, 0}, {1, 0, 0x41, 0}}));
  // The delay raises nothing; the press is first (no delay before it).
  EXPECT_EQ(raised_, (std::vector<MacroEntry>{{1, 1, 0x41, 0}, {1, 0, 0x41, 0}}));
  EXPECT_EQ(totals_, (std::vector<uint32_t>{0, 1000}));
  EXPECT_EQ(stateTexts_, (std::vector<std::string>{"Down", "Up"}));
}

TEST_F(MacroExTest, LongPauseIsCappedAndAGapAcrossTheWrapIsModular) {
  press(key(VK_A, 0xFFFFFF00u));
  press(key(VK_A, 0x00000064u, true));  // 356 ms later, across the wrap
  press(key(VK_B, 0x00000064u + 90000));
  press(key(VK_B, 0x00000064u + 90000, true));  // same time: no delay
  EXPECT_EQ(stop(), (std::vector<MacroEntry>{
                        {1, 1, 0x41, 0}, {0, 0, 356, 0}, {1, 0, 0x41, 0}, {0, 0, 65535, 0}, {1, 1, 0x42, 0}, {1, 0, 0x42, 0}}));
}

TEST_F(MacroExTest, PlainAndExtendedKeyOfOneCodeAreTrackedApart) {
  press(key(0x0D, 10));
  press(key(0x0D, 20, false, true));  // keypad Enter: another key
  press(key(0x0D, 30, true));
  press(key(0x0D, 40, true, true));
  const auto r = stop();
  ASSERT_EQ(r.size(), 7u);
  EXPECT_EQ(r[2], (MacroEntry{1, 1, 0x0D, 1}));
  EXPECT_EQ(r[6], (MacroEntry{1, 0, 0x0D, 1}));
}

TEST_F(MacroExTest, FiveHundredEntriesIsTheLastPointAtWhichEventsAreTaken) {
  // Presses and releases 1 ms apart: key, delay, key, ... 
  uint32_t t = 100;
  bool up = false;
  press(key(VK_A, t));  // entry 1
  while (true) {
    // Each further event adds a delay and a key entry.
    up = !up;
    t += 1;
    ASSERT_TRUE(press(key(VK_A, t, up)));
    if (raised_.size() >= 250) break;
  }
  // 1 + 249 * 2 = 499 entries: still taken (adds 2 -> 501).
  ASSERT_EQ(raised_.size(), 250u);
  up = !up;
  EXPECT_TRUE(press(key(VK_A, ++t, up)));
  // Now 501 entries: neither recorded nor swallowed.
  EXPECT_FALSE(press(key(VK_A, ++t, !up)));
  EXPECT_EQ(stop().size(), 501u);
}

TEST_F(HookTest, PlainMacroRecordsDelaysOnlyBetween10And2000Exclusive) {
  TuiHook hook;
  std::vector<std::pair<int, int>> raised;  // type, value
  hook.OnRecordKeyboardMacroKey = [&](int type, int k, int, int, double, const std::string&, const std::string&,
                                      const TMacroKeyHookList&) { raised.push_back({type, k}); };
  TMacroKeyHookList last;
  hook.OnStopRecordKeyboardMacroKey = [&](const TMacroKeyHookList& l) { last = l; };
  hook.RecordKeyboardMacroKey();
  uint32_t t = 500;
  EXPECT_TRUE(press(key(VK_A, t)));
  for (uint32_t gap : {10u, 11u, 1999u, 2000u}) press(key(VK_A, t += gap));
  hook.StopRecordKeyboardMacroKey();
  EXPECT_EQ(raised, (std::vector<std::pair<int, int>>{{1, 0x41}, {1, 0x41}, {0, 11}, {1, 0x41}, {0, 1999}, {1, 0x41}, {1, 0x41}}));
  EXPECT_EQ(last.size(), 7u);
  releaseAll(hook);
}

TEST_F(HookTest, KeyInterceptionMatchesByCodeOrScanAndStopsAtTheEndMarker) {
  TuiHook hook;
  auto add = [&](int vk, int scan, int ext, int block) {
    auto o = std::make_unique<TKeyBoardHookDetailObject>();
    o->FKeyBoardHookDetail = {vk, scan, ext, block};
    hook.AddKeyboardHookObject(std::move(o));
  };
  add(VK_A, 0, 0, 1);
  add(0, 0x30, 0, 0);  // B by scan code, not blocking
  add(-1, 0, 0, 0);
  add(0x43, 0, 0, 1);  // C: after the end marker, never tried
  std::vector<int> seen;
  hook.OnHookKeyboardKey = [&](int k, int, int, bool&, uint32_t) { seen.push_back(k); };
  hook.StartHookKeyboard();
  EXPECT_TRUE(press(key(VK_A, 1)));
  EXPECT_FALSE(press(key(VK_A, 2, false, true)));  // extended differs
  EXPECT_FALSE(press(key(VK_B, 3, false, false, 0x30)));
  EXPECT_FALSE(press(key(0x43, 4)));
  hook.StopHookKeyboard();
  EXPECT_EQ(seen, (std::vector<int>{int(VK_A), int(VK_B)}));
  releaseAll(hook);
}

class MouseHookTest : public HookTest {
 protected:
  void addObject(TMouseButtons button, TMouseButtons modified = BUTTON_NONE) {
    auto o = std::make_unique<TMouseHookDetailObject>();
    o->FMouseHookDetail.MouseButton = button;
    o->FMouseHookDetail.MouseStateSet = MouseStateBit(MOUSEWHEEL);
    o->FMouseHookDetail.ModifiedFunction = modified;
    hook_->AddMouseHookObject(std::move(o));
  }
  void SetUp() override {
    HookTest::SetUp();
    hook_ = std::make_unique<TuiHook>();
  }
  void TearDown() override {
    hook_.reset();
    HookTest::TearDown();
  }
  bool wheelEvent(int16_t delta, bool injected = false) {
    const UiMouseRecord r = wheel(delta, 10, injected);
    return TuiHook::DeliverForTesting(false, UI_WM_MOUSEWHEEL, &r);
  }
  std::unique_ptr<TuiHook> hook_;
  std::vector<TMouseButtons> seen_;
};

TEST_F(MouseHookTest, WheelDirectionsInjectedEventsAndNotLowerMatching) {
  addObject(WHEELDOWN);  // matches wheel-up too: its button is not lower
  hook_->OnHookMouseButton = [&](TMouseButtons b, int, bool& blocked) {
    seen_.push_back(b);
    blocked = true;
  };
  hook_->StartHookMouse();
  EXPECT_TRUE(wheelEvent(120));
  EXPECT_TRUE(wheelEvent(-120));
  EXPECT_TRUE(wheelEvent(240));
  EXPECT_FALSE(wheelEvent(-120, true));  // our own replacement: never reported
  const UiMouseRecord click{};
  EXPECT_FALSE(TuiHook::DeliverForTesting(false, UI_WM_LBUTTONDOWN, &click));  // state not in the set
  hook_->StopHookMouse();
  EXPECT_FALSE(wheelEvent(120));
  EXPECT_EQ(seen_, (std::vector<TMouseButtons>{WHEELUP, WHEELDOWN, WHEELUP}));
}

TEST_F(MouseHookTest, ObjectWhoseFunctionIsTheButtonEndsTheScanSilently) {
  addObject(WHEELUP, WHEELUP);
  addObject(WHEELDOWN);
  hook_->OnHookMouseButton = [&](TMouseButtons b, int, bool&) { seen_.push_back(b); };
  hook_->StartHookMouse();
  EXPECT_FALSE(wheelEvent(120));
  EXPECT_FALSE(wheelEvent(-120));
  hook_->StopHookMouse();
  EXPECT_EQ(seen_, (std::vector<TMouseButtons>{WHEELDOWN}));
}

TEST(MouseMessages, MapToButtonsAndStates) {
  struct Case {
    uint32_t message, data;
    TMouseButtons button;
    int state;
  };
  const Case cases[] = {
      {0x201, 0, LCLICK, 1},           {0x202, 0, LCLICK, 0},           {0x204, 0, RCLICK, 1},
      {0x208, 0, MCLICK, 0},           {0x20B, 1u << 16, XCLICK4, 1},   {0x20C, 2u << 16, XCLICK5, 0},
      {0x20B, 3u << 16, BUTTON_NONE, 1}, {0x20A, 120u << 16, WHEELUP, 1}, {0x20A, 0xFF88u << 16, WHEELDOWN, 1},
      {0x20A, 0, BUTTON_NONE, 1},      {0x200, 0, BUTTON_NONE, 1},
  };
  for (const Case& c : cases) {
    TMouseButtons b;
    int s;
    MouseMessageToButton(c.message, c.data, b, s);
    EXPECT_EQ(b, c.button) << std::hex << c.message;
    EXPECT_EQ(s, c.state) << std::hex << c.message;
  }
  EXPECT_EQ(GetMouseButtonDescription(XCLICK4), "Backward(Mouse) ");
  EXPECT_EQ(GetMouseButtonDescription(BUTTONX1), "");
}

TEST_F(HookTest, MouseMacroRecordsGapsAndDropsAnEarlierTime) {
  TuiHook hook;
  std::vector<TMOUSEMACROKEY> list;
  hook.OnRecordMouseMacroKey = [&](int, TMouseButtons, int, uint16_t, uint16_t, double, const std::string&,
                                   const std::string&, const TMouseMacroKeyList& l) { list = l; };
  hook.RecordMouseMacro();
  UiMouseRecord r{};
  r.x = 70000;  // kept as its low 16 bits
  r.y = 5;
  r.time = 0xFFFFFFF0u;
  EXPECT_FALSE(TuiHook::DeliverForTesting(false, UI_WM_LBUTTONDOWN, &r));
  r.time = 0x10;  // 32 ms later, across the wrap
  TuiHook::DeliverForTesting(false, UI_WM_LBUTTONUP, &r);
  r.time = 0x08;  // earlier: dropped
  TuiHook::DeliverForTesting(false, UI_WM_LBUTTONDOWN, &r);
  r.flags = UI_MS_FLAG_INJECTED;
  r.time = 0x20;
  TuiHook::DeliverForTesting(false, UI_WM_LBUTTONDOWN, &r);  // injected: ignored
  hook.StopRecordMouseMacro();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].MouseButton, LCLICK);
  EXPECT_EQ(list[0].X, 70000 & 0xFFFF);
  EXPECT_EQ(list[1].nKeyType, 0);
  EXPECT_EQ(list[1].TimeValue, 32);
  EXPECT_EQ(list[2].nKeyState, 0);
}

// From the library's thread: the event is raised on the GUI thread and the
// handler's decision goes back.
TEST_F(HookTest, CallsFromAnotherThreadAreRaisedOnTheGuiThread) {
  TuiHook hook;
  QThread* raisedOn = nullptr;
  hook.OnRecordKeyboardSingleKey = [&](int, uint32_t, int, int, const std::string&, bool& blocked) {
    raisedOn = QThread::currentThread();
    blocked = true;
  };
  hook.RecordKeyboardSingleKey();
  QEventLoop loop;
  bool blocked = false;
  std::thread library([&] {
    blocked = press(key(VK_A, 1));
    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
  });
  loop.exec();
  library.join();
  EXPECT_TRUE(blocked);
  EXPECT_EQ(raisedOn, QCoreApplication::instance()->thread());
  hook.StopRecordKeyboardSingleKey();
  releaseAll(hook);
}

// A GUI thread that does not answer: the event passes after the bound, and a
// delivery still queued when the hook stops is dropped.
TEST_F(HookTest, UnansweredCallPassesAndStaleDeliveriesAreDropped) {
  TuiHook hook;
  int raised = 0;
  hook.OnRecordKeyboardSingleKey = [&](int, uint32_t, int, int, const std::string&, bool& b) {
    ++raised;
    b = true;
  };
  hook.RecordKeyboardSingleKey();
  auto result = std::async(std::launch::async, [] { return press(key(VK_A, 1)); });
  EXPECT_FALSE(result.get());  // this thread never ran its event loop
  hook.StopRecordKeyboardSingleKey();
  QCoreApplication::processEvents();
  EXPECT_EQ(raised, 0);
}

TEST_F(HookTest, DestroyedComponentLeavesNoLiveCallbackAndKeyStateFollowsRecords) {
  {
    TuiHook hook;
    hook.OnRecordKeyboardSingleKey = [](int, uint32_t, int, int, const std::string&, bool& b) { b = true; };
    hook.RecordKeyboardSingleKey();
    EXPECT_TRUE(press(key(VK_B, 1)));
    EXPECT_TRUE(TuiHook::GetKeyState(VK_B));
    EXPECT_FALSE(TuiHook::GetKeyState(0x1000));
  }
  EXPECT_FALSE(press(key(VK_B, 2, true)));  // nobody holds the hook any more
  TuiHook other;
  other.StartHookKeyboard();
  press(key(VK_B, 3, true));
  EXPECT_FALSE(TuiHook::GetKeyState(VK_B));
  other.StopHookKeyboard();
}

}  // namespace
