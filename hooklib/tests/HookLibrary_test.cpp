// The real libuiHook.so, loaded with dlopen as the hook component loads it.
#include "hooklib/uiHookApi.h"
#include "platform/InputSynthesis.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

struct Library {
  void* handle = nullptr;
  UiEnableHookFn enableKeyboard = nullptr;
  UiDisableHookFn disableKeyboard = nullptr;
  UiEnableHookFn enableMouse = nullptr;
  UiDisableHookFn disableMouse = nullptr;

  Library() {
    handle = ::dlopen(MOUSE_HOOK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!handle) return;
    enableKeyboard = reinterpret_cast<UiEnableHookFn>(::dlsym(handle, "EnableKeyboardHook"));
    disableKeyboard = reinterpret_cast<UiDisableHookFn>(::dlsym(handle, "DisableKeyboardHook"));
    enableMouse = reinterpret_cast<UiEnableHookFn>(::dlsym(handle, "EnableMouseHook"));
    disableMouse = reinterpret_cast<UiDisableHookFn>(::dlsym(handle, "DisableMouseHook"));
  }
  ~Library() {
    if (handle) ::dlclose(handle);  // joins the library's thread
  }
};

struct Seen {
  uint32_t message;
  UiKeyboardRecord key;
  UiMouseRecord mouse;
};

// What the callback saw, and which keys and wheel directions it swallows.
struct Recorder {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Seen> seen;
  uint32_t swallowVk = 0;
  bool swallowWheelUp = false;

  static void keyboard(void* ctx, int32_t code, uint32_t message, const void* record, int32_t* blocked) {
    auto* self = static_cast<Recorder*>(ctx);
    EXPECT_EQ(code, 0);
    Seen s{message, *static_cast<const UiKeyboardRecord*>(record), {}};
    std::lock_guard g(self->mutex);
    self->seen.push_back(s);
    if (s.key.vkCode == self->swallowVk) *blocked = 1;
    self->changed.notify_all();
  }
  static void mouse(void* ctx, int32_t, uint32_t message, const void* record, int32_t* blocked) {
    auto* self = static_cast<Recorder*>(ctx);
    Seen s{message, {}, *static_cast<const UiMouseRecord*>(record)};
    std::lock_guard g(self->mutex);
    self->seen.push_back(s);
    if (message == UI_WM_MOUSEWHEEL && static_cast<int16_t>(s.mouse.mouseData >> 16) > 0 && self->swallowWheelUp)
      *blocked = 1;
    self->changed.notify_all();
  }
  // Waits (bounded) until the callback saw an event that matches.
  template <class Pred>
  bool waitFor(Pred pred, int ms) {
    std::unique_lock l(mutex);
    return changed.wait_for(l, std::chrono::milliseconds(ms), [&] {
      for (const Seen& s : seen)
        if (pred(s)) return true;
      return false;
    });
  }
};

TEST(HookLibrary, ExportsTheFourEntryPointsAndRefusesBadArguments) {
  ::unsetenv("DISPLAY");
  ::unsetenv("MOUSE_EMULATOR");
  Library lib;
  ASSERT_NE(lib.handle, nullptr) << ::dlerror();
  ASSERT_TRUE(lib.enableKeyboard && lib.disableKeyboard && lib.enableMouse && lib.disableMouse);
  Recorder r;
  EXPECT_EQ(lib.enableKeyboard(nullptr, &r, 0), 0);
  EXPECT_EQ(lib.enableKeyboard(&Recorder::keyboard, &r, 1), 0);
  EXPECT_EQ(lib.disableKeyboard(), 1);  // nothing enabled: harmless
  // Start, stop and restart the thread many times: Disable never waits, the
  // next Enable joins the ended thread.
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(lib.enableKeyboard(&Recorder::keyboard, &r, 0), 1);
    EXPECT_EQ(lib.enableMouse(&Recorder::mouse, &r, 0), 1);
    EXPECT_EQ(lib.disableMouse(), 1);
    EXPECT_EQ(lib.disableKeyboard(), 1);
  }
  EXPECT_TRUE(r.seen.empty());
}

TEST(HookLibrary, UnloadWithAHookStillOnEndsTheThread) {
  ::unsetenv("DISPLAY");
  Recorder r;
  {
    Library lib;
    ASSERT_NE(lib.handle, nullptr);
    EXPECT_EQ(lib.enableKeyboard(&Recorder::keyboard, &r, 0), 1);
  }
  SUCCEED();  // the sanitizers see a leaked or running thread
}

// A plain X client with a focused window: it shows what reaches applications.
class OtherClient {
 public:
  explicit OtherClient(const char* display) : dpy_(XOpenDisplay(display)) {
    if (!dpy_) return;
    const int s = DefaultScreen(dpy_);
    win_ = XCreateSimpleWindow(dpy_, RootWindow(dpy_, s), 0, 0, 400, 300, 0, 0, 0);
    XSelectInput(dpy_, win_, KeyPressMask | KeyReleaseMask | ButtonPressMask | StructureNotifyMask);
    XMapRaised(dpy_, win_);
    XEvent ev;
    do XWindowEvent(dpy_, win_, StructureNotifyMask, &ev); while (ev.type != MapNotify);
    XSetInputFocus(dpy_, win_, RevertToParent, CurrentTime);
    XWarpPointer(dpy_, None, win_, 0, 0, 0, 0, 200, 150);
    XSync(dpy_, False);
  }
  ~OtherClient() {
    if (dpy_) XCloseDisplay(dpy_);
  }
  bool ok() const { return dpy_ != nullptr; }

  // Events reaching the window until one matches (bounded by timeoutMs).
  template <class Pred>
  bool nextUntil(Pred pred, std::vector<XEvent>& got, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      while (XPending(dpy_) > 0) {
        XEvent ev;
        XNextEvent(dpy_, &ev);
        got.push_back(ev);
        if (pred(ev)) return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(left.count()));
    }
  }

 private:
  Display* dpy_ = nullptr;
  Window win_ = 0;
};

// One test for everything that touches the shared virtual display, so that
// no two of ours send keys to it at once (ctest runs each case as its own
// process, in parallel under -j).
//
// It includes B, passed right after the swallowed A: its replay must be
// honoured although the wheel grab follows it, and it must reach the window
// before the wheel turned after it.
TEST(HookLibraryX11, XTestKeysAreRecordedAsInjectedAndSwallowedKeysAndWheelNeverReachOtherClients) {
  const char* display = std::getenv("TEST_X_DISPLAY");
  if (!display || !*display) {
    if (std::getenv("CI")) FAIL() << "TEST_X_DISPLAY is not set under CI";
    GTEST_SKIP() << "TEST_X_DISPLAY not set";
  }
  ::setenv("DISPLAY", display, 1);
  ::unsetenv("MOUSE_EMULATOR");
  OtherClient other(display);
  ASSERT_TRUE(other.ok());
  auto synth = platform::createXTestSynthesis(display);
  ASSERT_TRUE(synth);
  EXPECT_EQ(synth->backendName(), "xtest");

  Library lib;
  ASSERT_NE(lib.handle, nullptr);
  Recorder r;
  r.swallowVk = 0x41;  // A
  r.swallowWheelUp = true;
  ASSERT_EQ(lib.enableKeyboard(&Recorder::keyboard, &r, 0), 1);
  ASSERT_EQ(lib.enableMouse(&Recorder::mouse, &r, 0), 1);

  // Each Enable returns with its grab active on the server: the very first
  // key sent now is seen.
  ASSERT_TRUE(synth->key(0x7B, false, true));  // F12, passed
  ASSERT_TRUE(synth->key(0x7B, false, false));
  ASSERT_TRUE(r.waitFor([](const Seen& s) { return s.key.vkCode == 0x7B; }, 5000))
      << "the first key after Enable was not seen";

  ASSERT_TRUE(synth->key(0x41, false, true));   // A: swallowed
  ASSERT_TRUE(synth->key(0x41, false, false));
  ASSERT_TRUE(synth->key(0x42, false, true));   // B: passes
  ASSERT_TRUE(synth->key(0x42, false, false));
  ASSERT_TRUE(synth->wheel(120));               // up: swallowed
  ASSERT_TRUE(synth->wheel(-120));              // down: passes
  ASSERT_TRUE(r.waitFor([](const Seen& s) { return s.message == UI_WM_MOUSEWHEEL &&
                                                   static_cast<int16_t>(s.mouse.mouseData >> 16) < 0; }, 5000));

  // What reached the other client: B and the wheel down (button 5), never A
  // or the wheel up (button 4). A and B would have arrived before button 5
  // and button 4 before it: the library's grabs keep keys and wheel in the
  // order they were made.
  std::vector<XEvent> got;
  const bool wheelDown = other.nextUntil([](const XEvent& e) { return e.type == ButtonPress && e.xbutton.button == 5; }, got,
                              5000);
  bool passedB = false;
  for (const XEvent& e : got) {
    if (e.type == KeyPress && e.xkey.keycode == 56u) passedB = true;
    if (std::getenv("HOOK_TEST_VERBOSE")) std::fprintf(stderr, "other client: type %d detail %u\n", e.type, e.type == ButtonPress ? e.xbutton.button : e.xkey.keycode);
    if (e.type == KeyPress) {
      EXPECT_NE(e.xkey.keycode, 38u) << "the swallowed A reached another client";
    }
    if (e.type == ButtonPress) {
      EXPECT_NE(e.xbutton.button, 4u) << "the swallowed wheel-up reached another client";
    }
  }
  EXPECT_TRUE(wheelDown);
  EXPECT_TRUE(passedB) << "B, passed after the swallowed A, never reached another client before the wheel";

  lib.disableKeyboard();
  lib.disableMouse();

  std::lock_guard g(r.mutex);
  std::vector<Seen> keysA, wheels;
  for (const Seen& s : r.seen) {
    if (std::getenv("HOOK_TEST_VERBOSE")) std::fprintf(stderr, "callback: message %x vk %x flags %x wheel %d\n", s.message, s.key.vkCode, s.key.flags, static_cast<int16_t>(s.mouse.mouseData >> 16));
    if (s.message >= UI_WM_KEYDOWN && s.message <= UI_WM_SYSKEYUP && s.key.vkCode == 0x41) keysA.push_back(s);
    if (s.message == UI_WM_MOUSEWHEEL) wheels.push_back(s);
  }
  // The probe key: recorded with its scan code and flagged injected.
  std::vector<Seen> probes;
  for (const Seen& s : r.seen)
    if (s.message == UI_WM_KEYDOWN && s.key.vkCode == 0x7B) probes.push_back(s);
  ASSERT_FALSE(probes.empty());
  EXPECT_EQ(probes[0].key.scanCode, 0x58u);
  EXPECT_EQ(probes[0].key.flags, UI_KB_FLAG_INJECTED);
  // The swallowed key is recorded, press and release, flagged injected.
  ASSERT_EQ(keysA.size(), 2u);
  EXPECT_EQ(keysA[0].message, UI_WM_KEYDOWN);
  EXPECT_EQ(keysA[0].key.flags, UI_KB_FLAG_INJECTED);
  EXPECT_EQ(keysA[1].message, UI_WM_KEYUP);
  EXPECT_EQ(keysA[1].key.flags, UI_KB_FLAG_INJECTED | UI_KB_FLAG_UP);
  ASSERT_EQ(wheels.size(), 2u);
  EXPECT_EQ(static_cast<int16_t>(wheels[0].mouse.mouseData >> 16), 120);
  EXPECT_EQ(static_cast<int16_t>(wheels[1].mouse.mouseData >> 16), -120);
  EXPECT_EQ(wheels[0].mouse.flags, UI_MS_FLAG_INJECTED);
  EXPECT_EQ(wheels[0].mouse.x, 200);
  EXPECT_EQ(wheels[0].mouse.y, 150);
}

}  // namespace
