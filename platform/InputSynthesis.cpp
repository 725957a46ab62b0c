#include "platform/InputSynthesis.h"

#include "platform/KeyMap.h"
#include "platform/EmulatorProtocol.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

// Xlib last: its macros clash with ordinary names.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace platform {

int wheelNotches(int delta) {
  if (delta == 0) return 0;
  // Round to the nearest notch; a partial delta still turns the wheel once.
  const long magnitude = delta < 0 ? -static_cast<long>(delta) : delta;
  long notches = (magnitude + 60) / 120;
  if (notches == 0) notches = 1;
  if (notches > 100) notches = 100;  // a bound on what one call may send
  return static_cast<int>(delta < 0 ? -notches : notches);
}

namespace {

namespace emu = platform::emu;

class NoInputSynthesis final : public InputSynthesis {
 public:
  bool key(uint32_t, bool, bool) override { return sayOnce(); }
  bool wheel(int) override { return sayOnce(); }
  bool button(int, bool) override { return sayOnce(); }
  std::string backendName() const override { return "none"; }

 private:
  static bool sayOnce() {
    static std::once_flag once;
    std::call_once(once, [] { std::fprintf(stderr, "no X display: synthesised keys and wheel events go nowhere\n"); });
    return false;
  }
};

class XTestSynthesis final : public InputSynthesis {
 public:
  explicit XTestSynthesis(Display* dpy) : dpy_(dpy) {}
  ~XTestSynthesis() override { XCloseDisplay(dpy_); }

  bool key(uint32_t vk, bool extended, bool down) override {
    const auto pos = platform::keymap::positionOfVirtualKey(vk, extended);
    if (!pos) {
      std::fprintf(stderr, "synthesis: virtual key 0x%02X has no key position\n", vk);
      return false;
    }
    std::lock_guard g(mutex_);
    XTestFakeKeyEvent(dpy_, pos->evdev + platform::keymap::kXKeycodeOffset, down ? True : False, CurrentTime);
    XFlush(dpy_);
    return true;
  }

  bool wheel(int delta) override {
    const int notches = wheelNotches(delta);
    if (notches == 0) return false;
    const unsigned int b = notches > 0 ? 4 : 5;
    std::lock_guard g(mutex_);
    for (int i = 0; i < (notches > 0 ? notches : -notches); ++i) {
      XTestFakeButtonEvent(dpy_, b, True, CurrentTime);
      XTestFakeButtonEvent(dpy_, b, False, CurrentTime);
    }
    XFlush(dpy_);
    return true;
  }

  bool button(int button, bool down) override {
    static constexpr unsigned int kXButton[] = {0, 1, 3, 2, 8, 9};
    if (button < 1 || button > 5) return false;
    std::lock_guard g(mutex_);
    XTestFakeButtonEvent(dpy_, kXButton[button], down ? True : False, CurrentTime);
    XFlush(dpy_);
    return true;
  }

  std::string backendName() const override { return "xtest"; }

 private:
  std::mutex mutex_;
  Display* dpy_;
};

// Sends each event to the emulated mouse's input endpoint, which queues it
// behind the events before it and offers it to the hooks flagged injected.
// A lost connection is made again on the next call.
class EmulatorSynthesis final : public InputSynthesis {
 public:
  EmulatorSynthesis(std::string path, std::unique_ptr<emu::Connection> conn)
      : path_(std::move(path)), conn_(std::move(conn)) {}

  bool key(uint32_t vk, bool extended, bool down) override {
    if (vk < 1 || vk > 254) {
      std::fprintf(stderr, "synthesis: virtual key 0x%02X is out of range\n", vk);
      return false;
    }
    emu::InputEvent e;
    e.kind = emu::InputKind::Key;
    e.code = static_cast<uint16_t>(vk);
    e.extended = extended;
    e.down = down;
    std::lock_guard g(mutex_);
    return send(e);
  }

  bool wheel(int delta) override {
    const int notches = wheelNotches(delta);
    if (notches == 0) return false;
    emu::InputEvent e;
    e.kind = emu::InputKind::Wheel;
    e.delta = static_cast<int16_t>(notches > 0 ? 120 : -120);
    std::lock_guard g(mutex_);
    for (int i = 0; i < (notches > 0 ? notches : -notches); ++i)
      if (!send(e)) return false;
    return true;
  }

  bool button(int button, bool down) override {
    if (button < 1 || button > 5) return false;
    emu::InputEvent e;
    e.kind = emu::InputKind::Button;
    e.code = static_cast<uint16_t>(button);
    e.down = down;
    std::lock_guard g(mutex_);
    return send(e);
  }

  std::string backendName() const override { return "emulator"; }

 private:
  bool send(const emu::InputEvent& e) {
    std::string error;
    if (!conn_ || conn_->closed()) conn_ = emu::Connection::connect(path_, error);
    if (!conn_) {
      std::fprintf(stderr, "synthesis: %s\n", error.c_str());
      return false;
    }
    emu::PayloadWriter w;
    emu::writeInputEvent(w, e);
    emu::Connection::Reply reply;
    if (!conn_->call(emu::Endpoint::InputSource, static_cast<uint8_t>(emu::InputOp::Inject), w.data(), reply,
                     error)) {
      std::fprintf(stderr, "synthesis: %s\n", error.c_str());
      return false;
    }
    if (static_cast<uint16_t>(reply.status) != 0) {
      std::fprintf(stderr, "synthesis: the emulated mouse refused the event (status %u)\n", static_cast<unsigned>(reply.status));
      return false;
    }
    return true;
  }

  std::mutex mutex_;
  std::string path_;
  std::unique_ptr<emu::Connection> conn_;
};

bool haveDisplay() {
  const char* d = std::getenv("DISPLAY");
  return d && *d;
}

}  // namespace

std::unique_ptr<InputSynthesis> createXTestSynthesis(const std::string& display) {
  Display* dpy = XOpenDisplay(display.empty() ? nullptr : display.c_str());
  if (!dpy) return nullptr;
  int event = 0, error = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(dpy, &event, &error, &major, &minor)) {
    std::fprintf(stderr, "synthesis: the X server has no XTEST extension\n");
    XCloseDisplay(dpy);
    return nullptr;
  }
  return std::make_unique<XTestSynthesis>(dpy);
}

std::unique_ptr<InputSynthesis> createNoInputSynthesis() { return std::make_unique<NoInputSynthesis>(); }

std::unique_ptr<InputSynthesis> createEmulatorSynthesis(const std::string& socketPath) {
  std::string error;
  auto conn = emu::Connection::connect(socketPath, error);
  if (!conn) {
    std::fprintf(stderr, "synthesis: %s\n", error.c_str());
    return nullptr;
  }
  return std::make_unique<EmulatorSynthesis>(socketPath, std::move(conn));
}

std::unique_ptr<InputSynthesis> createInputSynthesis() {
  if (const char* path = std::getenv("MOUSE_EMULATOR"); path && *path) {
    if (auto e = createEmulatorSynthesis(path)) return e;
  }
  if (haveDisplay()) {
    if (auto x = createXTestSynthesis({})) return x;
  }
  return createNoInputSynthesis();
}

bool QueryPressedVirtualKeys(std::array<uint8_t, 256>& table) {
  if (!haveDisplay()) return false;
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return false;
  char keys[32] = {};
  XQueryKeymap(dpy, keys);
  XCloseDisplay(dpy);
  table.fill(0);
  for (int code = 0; code < 256; ++code) {
    if (!(keys[code / 8] & (1 << (code % 8)))) continue;
    const auto pos = platform::keymap::positionOfXKeycode(static_cast<uint32_t>(code));
    if (pos && pos->vk != 0) table[pos->vk] = 1;
  }
  return true;
}

}  // namespace platform
