// The X11 event source: a connection of its own, used on the library's
// thread only.
//
// Observing: XInput 2 raw events on the root window report every key and
// button of every slave device, whoever has the focus. Swallowing: while a
// keyboard hook is on, a synchronous passive grab of every key on the root
// window freezes the keyboard at each press until we answer; while a mouse
// hook is on, the same for the wheel buttons 4..7. Each grab freezes the
// paired device too (the pointer for a key, the keyboard for the wheel):
// input then goes on in the order it was made, as through the one input
// queue of Windows, instead of a wheel turned after a key reaching its
// window before the key we are still deciding on. The answer is a replay
// (the event goes on as if we were not there) or a step past it (the event
// is gone). A press seen through a grab is reported from the grab, not from
// its raw twin, so that each press reaches the callback once.
//
// Events of the XTEST devices are synthesised (ours among them): they carry
// the injected flag and are never taken for the user's hand.
#include "hooklib/EventSource.h"
#include "platform/KeyMap.h"

#include <bitset>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

// Xlib last: its macros clash with ordinary names.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace hooklib {
namespace {

constexpr int kFirstWheelButton = 4;
constexpr int kLastWheelButton = 7;

bool isWheel(int button) { return button >= kFirstWheelButton && button <= kLastWheelButton; }

class X11Source final : public EventSource {
 public:
  X11Source(Display* dpy, int opcode) : dpy_(dpy), opcode_(opcode), root_(DefaultRootWindow(dpy)) {
    findDevices();
    unsigned char rawBits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(rawBits, XI_RawKeyPress);
    XISetMask(rawBits, XI_RawKeyRelease);
    XISetMask(rawBits, XI_RawButtonPress);
    XISetMask(rawBits, XI_RawButtonRelease);
    unsigned char hierBits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(hierBits, XI_HierarchyChanged);
    XIEventMask masks[2] = {{XIAllMasterDevices, sizeof rawBits, rawBits},
                            {XIAllDevices, sizeof hierBits, hierBits}};
    XISelectEvents(dpy_, root_, masks, 2);
    XSync(dpy_, False);
    seedKeyState();
  }

  ~X11Source() override {
    // Closing the connection ends its grabs and thaws anything it froze.
    XCloseDisplay(dpy_);
  }

  int fd() const override { return ConnectionNumber(dpy_); }
  bool hasBuffered() override { return XPending(dpy_) > 0; }
  const char* name() const override { return "X11"; }

  void apply(bool keyboard, bool mouse) override {
    if (keyboard != keyboardGrab_) setKeyboardGrab(keyboard);
    if (mouse != wheelGrab_) setWheelGrab(mouse);
  }

  bool dispatch(HookSink& sink) override {
    while (XPending(dpy_) > 0) {
      XEvent ev;
      XNextEvent(dpy_, &ev);
      if (ev.type != GenericEvent || ev.xcookie.extension != opcode_) continue;
      if (!XGetEventData(dpy_, &ev.xcookie)) continue;
      handle(sink, ev.xcookie.evtype, ev.xcookie.data);
      XFreeEventData(dpy_, &ev.xcookie);
    }
    return true;
  }

 private:
  void findDevices() {
    xtest_.clear();
    int count = 0;
    XIDeviceInfo* info = XIQueryDevice(dpy_, XIAllDevices, &count);
    for (int i = 0; i < count; ++i) {
      const XIDeviceInfo& d = info[i];
      if (d.use == XIMasterKeyboard && masterKeyboard_ < 0) masterKeyboard_ = d.deviceid;
      if (d.use == XIMasterPointer && masterPointer_ < 0) masterPointer_ = d.deviceid;
      if (d.name && std::strstr(d.name, "XTEST")) xtest_.insert(d.deviceid);
    }
    if (info) XIFreeDeviceInfo(info);
  }

  void setKeyboardGrab(bool on) {
    keyboardGrab_ = false;
    if (masterKeyboard_ < 0) return;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_KeyPress);
    XISetMask(bits, XI_KeyRelease);
    XIEventMask mask = {masterKeyboard_, sizeof bits, bits};
    XIGrabModifiers mods = {static_cast<int>(XIAnyModifier), 0};
    if (on) {
      const int failed = XIGrabKeycode(dpy_, masterKeyboard_, XIAnyKeycode, root_, XIGrabModeSync,
                                       XIGrabModeSync, True, &mask, 1, &mods);
      XSync(dpy_, False);
      if (failed != 0) {
        // Another client holds such a grab: we can still watch, not swallow.
        std::fprintf(stderr, "uiHook: keyboard grab refused (status %d); keys are observed only\n", mods.status);
        return;
      }
      keyboardGrab_ = true;
    } else {
      XIUngrabKeycode(dpy_, masterKeyboard_, XIAnyKeycode, root_, 1, &mods);
      XSync(dpy_, False);
    }
  }

  void setWheelGrab(bool on) {
    wheelGrab_ = false;
    if (masterPointer_ < 0) return;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_ButtonPress);
    XISetMask(bits, XI_ButtonRelease);
    XIEventMask mask = {masterPointer_, sizeof bits, bits};
    bool all = true;
    for (int b = kFirstWheelButton; b <= kLastWheelButton; ++b) {
      XIGrabModifiers mods = {static_cast<int>(XIAnyModifier), 0};
      if (on) {
        if (XIGrabButton(dpy_, masterPointer_, b, root_, 0, XIGrabModeSync, XIGrabModeSync, True, &mask, 1,
                         &mods) != 0)
          all = false;
      } else {
        XIUngrabButton(dpy_, masterPointer_, b, root_, 1, &mods);
      }
    }
    XSync(dpy_, False);
    if (on && !all) std::fprintf(stderr, "uiHook: wheel grab refused; the wheel is observed only\n");
    wheelGrab_ = on && all;
  }

  uint32_t keyFlags(bool release, bool extended, int sourceid) const {
    uint32_t f = 0;
    if (extended) f |= UI_KB_FLAG_EXTENDED;
    if (xtest_.count(sourceid)) f |= UI_KB_FLAG_INJECTED;
    if (down_[0xA4] || down_[0xA5]) f |= UI_KB_FLAG_ALTDOWN;
    if (release) f |= UI_KB_FLAG_UP;
    return f;
  }

  // One key event; true when the callback swallowed it.
  bool reportKey(HookSink& sink, uint32_t keycode, bool release, uint32_t time, int sourceid) {
    const auto pos = platform::keymap::positionOfXKeycode(keycode);
    if (!pos || pos->vk == 0) return false;  // a key without a Windows counterpart
    down_[pos->vk] = !release;
    UiKeyboardRecord r{};
    r.vkCode = pos->vk;
    r.scanCode = pos->scan;
    r.flags = keyFlags(release, pos->extended, sourceid);
    r.time = time;
    const bool alt = (r.flags & UI_KB_FLAG_ALTDOWN) != 0;
    const uint32_t message = release ? (alt ? UI_WM_SYSKEYUP : UI_WM_KEYUP) : (alt ? UI_WM_SYSKEYDOWN : UI_WM_KEYDOWN);
    return sink.keyboard(message, r);
  }

  bool reportButton(HookSink& sink, int button, bool release, uint32_t time, int sourceid, double rootX,
                    double rootY, bool havePosition) {
    UiMouseRecord r{};
    uint32_t message = 0;
    switch (button) {
      case 1: message = release ? UI_WM_LBUTTONUP : UI_WM_LBUTTONDOWN; break;
      case 2: message = release ? UI_WM_MBUTTONUP : UI_WM_MBUTTONDOWN; break;
      case 3: message = release ? UI_WM_RBUTTONUP : UI_WM_RBUTTONDOWN; break;
      case 4: case 5: case 6: case 7: {
        if (release) return false;  // one wheel message a notch, as Windows sends
        // 4 up (+), 5 down (-); 6 left (-), 7 right (+) as Windows' horizontal wheel.
        const int16_t delta = (button == 4 || button == 7) ? UI_WHEEL_DELTA : -UI_WHEEL_DELTA;
        message = button <= 5 ? UI_WM_MOUSEWHEEL : UI_WM_MOUSEHWHEEL;
        r.mouseData = static_cast<uint32_t>(static_cast<uint16_t>(delta)) << 16;
        break;
      }
      case 8: case 9:
        message = release ? UI_WM_XBUTTONUP : UI_WM_XBUTTONDOWN;
        r.mouseData = static_cast<uint32_t>(button - 7) << 16;
        break;
      default: return false;
    }
    if (!havePosition) {
      Window rootRet = 0, child = 0;
      int rx = 0, ry = 0, wx = 0, wy = 0;
      unsigned int mask = 0;
      if (XQueryPointer(dpy_, root_, &rootRet, &child, &rx, &ry, &wx, &wy, &mask)) {
        rootX = rx;
        rootY = ry;
      }
    }
    r.x = static_cast<int32_t>(rootX);
    r.y = static_cast<int32_t>(rootY);
    r.flags = xtest_.count(sourceid) ? UI_MS_FLAG_INJECTED : 0;
    r.time = time;
    return sink.mouse(message, r);
  }

  void handle(HookSink& sink, int evtype, void* data) {
    switch (evtype) {
      case XI_RawKeyPress:
      case XI_RawKeyRelease: {
        auto* e = static_cast<XIRawEvent*>(data);
        const bool release = evtype == XI_RawKeyRelease;
        if (!release && keyboardGrab_) return;  // reported from the grab
        if (release && !isDown(e->detail)) return;  // reported from the grab already
        reportKey(sink, static_cast<uint32_t>(e->detail), release, static_cast<uint32_t>(e->time), e->sourceid);
        return;
      }
      case XI_RawButtonPress:
      case XI_RawButtonRelease: {
        auto* e = static_cast<XIRawEvent*>(data);
        if (isWheel(e->detail) && wheelGrab_) return;  // reported from the grab
        reportButton(sink, e->detail, evtype == XI_RawButtonRelease, static_cast<uint32_t>(e->time), e->sourceid, 0,
                     0, false);
        return;
      }
      case XI_KeyPress: {
        auto* e = static_cast<XIDeviceEvent*>(data);
        const bool swallow =
            reportKey(sink, static_cast<uint32_t>(e->detail), false, static_cast<uint32_t>(e->time), e->sourceid);
        answer(e->deviceid, swallow, static_cast<Time>(e->time));
        return;
      }
      case XI_ButtonPress: {
        auto* e = static_cast<XIDeviceEvent*>(data);
        const bool swallow = reportButton(sink, e->detail, false, static_cast<uint32_t>(e->time), e->sourceid,
                                          e->root_x, e->root_y, true);
        answer(e->deviceid, swallow, static_cast<Time>(e->time));
        return;
      }
      case XI_KeyRelease:
      case XI_ButtonRelease: {
        // While we hold the grab the server sends us this event instead of
        // its raw twin; whichever comes first is reported. The grab ends
        // with the last key or the button up.
        auto* e = static_cast<XIDeviceEvent*>(data);
        if (evtype == XI_KeyRelease && isDown(e->detail))
          reportKey(sink, static_cast<uint32_t>(e->detail), true, static_cast<uint32_t>(e->time), e->sourceid);
        // Nothing to answer: a release never freezes the device. (An
        // XIAllowEvents here, stamped with the release's time, could thaw the
        // grab the next press has just activated when both fall in the same
        // millisecond, and that press would be lost instead of replayed.)
        return;
      }
      case XI_HierarchyChanged:
        findDevices();
        return;
      default:
        return;
    }
  }

  // A press frozen by our grab: replayed to its window when passed. When
  // swallowed, the grab is ended at once (which also thaws the device)
  // rather than kept until the key is up: a grab held on would take every
  // key pressed meanwhile to us alone, where no reply can pass it on, and
  // its release would come through the grab instead of the raw events. The
  // release of a swallowed key reaches the focus as on Windows, where a
  // hook that swallows a press does not hold back its release.
  //
  // The replay is stamped CurrentTime, not with the press's time: the
  // server ignores an allow older than the latest grab this client holds on
  // any device, so a grab of the other device activated after this press
  // would void the replay and leave the device frozen, the press lost.
  // CurrentTime cannot thaw a later grab by mistake: the device stays frozen
  // on this press until we answer. Ending the grab, by replay or ungrab,
  // also thaws the paired device. The ungrab keeps the press's time,
  // checked against that device's grab only.
  void answer(int deviceid, bool swallow, Time time) {
    if (swallow) XIUngrabDevice(dpy_, deviceid, time);
    else XIAllowEvents(dpy_, deviceid, XIReplayDevice, CurrentTime);
    XFlush(dpy_);
  }

  bool isDown(int keycode) const {
    const auto pos = platform::keymap::positionOfXKeycode(static_cast<uint32_t>(keycode));
    return pos && pos->vk != 0 && down_[pos->vk];
  }

  // Keys held when we start: their releases are reported like any other.
  void seedKeyState() {
    char keys[32] = {};
    XQueryKeymap(dpy_, keys);
    for (int code = 0; code < 256; ++code) {
      if (!(keys[code / 8] & (1 << (code % 8)))) continue;
      const auto pos = platform::keymap::positionOfXKeycode(static_cast<uint32_t>(code));
      if (pos && pos->vk != 0) down_[pos->vk] = true;
    }
  }

  Display* dpy_;
  int opcode_;
  Window root_;
  int masterKeyboard_ = -1;
  int masterPointer_ = -1;
  std::set<int> xtest_;
  bool keyboardGrab_ = false;
  bool wheelGrab_ = false;
  std::bitset<256> down_;
};

}  // namespace

namespace {
// Xlib's default error handler ends the process; in a library that is never
// right. A refused request shows up in our own results instead.
int logXError(Display*, XErrorEvent* e) {
  std::fprintf(stderr, "uiHook: X error %d (request %d.%d)\n", e->error_code, e->request_code, e->minor_code);
  return 0;
}

// The handler is process-wide and lives in our code, so it must not outlive
// the library: it is installed with the first source and handed back on unload.
std::mutex handlerMutex;
bool handlerInstalled = false;
XErrorHandler previousHandler = nullptr;
}  // namespace

void releaseX11ErrorHandler() {
  std::lock_guard g(handlerMutex);
  if (!handlerInstalled) return;
  handlerInstalled = false;
  const XErrorHandler current = XSetErrorHandler(previousHandler);
  // Someone installed theirs over ours meanwhile: theirs stays.
  if (current != logXError) XSetErrorHandler(current);
}

std::unique_ptr<EventSource> openX11Source(const char* display) {
  {
    std::lock_guard g(handlerMutex);
    if (!handlerInstalled) {
      previousHandler = XSetErrorHandler(logXError);
      handlerInstalled = true;
    }
  }
  Display* dpy = XOpenDisplay(display);
  if (!dpy) {
    std::fprintf(stderr, "uiHook: cannot open X display %s\n", display ? display : "(default)");
    return nullptr;
  }
  int opcode = 0, event = 0, error = 0;
  int major = 2, minor = 2;
  if (!XQueryExtension(dpy, "XInputExtension", &opcode, &event, &error) ||
      XIQueryVersion(dpy, &major, &minor) != Success || major < 2 || (major == 2 && minor < 2)) {
    std::fprintf(stderr, "uiHook: the X server lacks XInput 2.2; no X11 events\n");
    XCloseDisplay(dpy);
    return nullptr;
  }
  return std::make_unique<X11Source>(dpy, opcode);
}

}  // namespace hooklib
