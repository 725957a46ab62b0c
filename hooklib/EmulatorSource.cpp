// The emulated mouse's event source: a subscription on its input endpoint,
// served on the library's thread. Each offered event becomes a Windows-layout
// record for the callback of its kind; the callback's flag is the answer.
// The emulator lets an event pass when we do not answer in time, so a slow
// callback costs latency, never an event.
#include "hooklib/EventSource.h"
#include "platform/KeyMap.h"
#include "platform/EmulatorProtocol.h"

#include <bitset>
#include <cstdio>
#include <string>

namespace hooklib {
namespace {

namespace emu = platform::emu;

class EmulatorSource final : public EventSource {
 public:
  explicit EmulatorSource(std::unique_ptr<emu::Connection> conn) : conn_(std::move(conn)) {}

  int fd() const override { return conn_->fd(); }
  bool hasBuffered() override { return conn_->hasNotification(); }
  const char* name() const override { return "emulated mouse"; }

  void apply(bool keyboard, bool mouse) override {
    const uint8_t kinds = uint8_t((keyboard ? emu::kHookKeyboard : 0) | (mouse ? emu::kHookMouse : 0));
    if (kinds == kinds_ || conn_->closed()) return;
    const uint8_t payload[1] = {kinds};
    emu::Connection::Reply reply;
    std::string error;
    // Offers arriving meanwhile are queued by the connection and served by dispatch().
    if (!conn_->call(emu::Endpoint::InputSource, uint8_t(emu::InputOp::Subscribe), payload, reply, error)) {
      std::fprintf(stderr, "uiHook: emulated mouse: %s\n", error.c_str());
      return;
    }
    if (reply.status != emu::Status::Ok) {
      std::fprintf(stderr, "uiHook: emulated mouse refused the subscription: %s\n", emu::statusText(reply.status));
      return;
    }
    kinds_ = kinds;
  }

  bool dispatch(HookSink& sink) override {
    if (!conn_->pump() && !conn_->hasNotification()) return false;
    emu::Frame f;
    while (conn_->takeNotification(f)) {
      if (f.header.kind != emu::Kind::Request || f.header.endpoint != uint8_t(emu::Endpoint::InputSource) ||
          f.header.op != uint8_t(emu::InputOp::Offer))
        continue;
      emu::PayloadReader r(f.payload);
      emu::InputEvent e;
      if (!emu::readInputEvent(r, e) || !r.atEnd()) {
        conn_->sendReply(f.header, emu::Status::BadRequest, {});
        continue;
      }
      const uint8_t swallowed = offer(sink, e) ? 1 : 0;
      if (!conn_->sendReply(f.header, emu::Status::Ok, std::span(&swallowed, 1))) return false;
    }
    return !conn_->closed();
  }

 private:
  bool offer(HookSink& sink, const emu::InputEvent& e) {
    if (e.kind == emu::InputKind::Key) return offerKey(sink, e);
    return offerMouse(sink, e);
  }

  bool offerKey(HookSink& sink, const emu::InputEvent& e) {
    UiKeyboardRecord r{};
    r.vkCode = e.code;
    bool extended = e.extended;
    if (const auto pos = platform::keymap::positionOfVirtualKey(e.code, e.extended)) {
      r.scanCode = pos->scan;
      // Keys that exist only at an E0 position (arrows, Delete, ...) carry the flag anyway.
      extended = pos->extended;
    }
    const bool release = !e.down;
    down_[e.code & 0xFF] = !release;
    const bool alt = down_[0x12] || down_[0xA4] || down_[0xA5];
    r.flags = (extended ? UI_KB_FLAG_EXTENDED : 0) | (e.injected ? UI_KB_FLAG_INJECTED : 0) |
              (alt ? UI_KB_FLAG_ALTDOWN : 0) | (release ? UI_KB_FLAG_UP : 0);
    r.time = e.time;
    const uint32_t message = release ? (alt ? UI_WM_SYSKEYUP : UI_WM_KEYUP) : (alt ? UI_WM_SYSKEYDOWN : UI_WM_KEYDOWN);
    return sink.keyboard(message, r);
  }

  bool offerMouse(HookSink& sink, const emu::InputEvent& e) {
    UiMouseRecord r{};
    uint32_t message = 0;
    if (e.kind == emu::InputKind::Wheel) {
      message = UI_WM_MOUSEWHEEL;
      r.mouseData = uint32_t(uint16_t(e.delta)) << 16;
    } else {
      switch (e.code) {
        case 1: message = e.down ? UI_WM_LBUTTONDOWN : UI_WM_LBUTTONUP; break;
        case 2: message = e.down ? UI_WM_RBUTTONDOWN : UI_WM_RBUTTONUP; break;
        case 3: message = e.down ? UI_WM_MBUTTONDOWN : UI_WM_MBUTTONUP; break;
        case 4:
        case 5:
          message = e.down ? UI_WM_XBUTTONDOWN : UI_WM_XBUTTONUP;
          r.mouseData = uint32_t(e.code - 3) << 16;
          break;
        default: return false;
      }
    }
    r.flags = e.injected ? UI_MS_FLAG_INJECTED : 0;
    r.time = e.time;
    return sink.mouse(message, r);
  }

  std::unique_ptr<emu::Connection> conn_;
  uint8_t kinds_ = 0;
  std::bitset<256> down_;
};

}  // namespace

std::unique_ptr<EventSource> openEmulatorSource(const char* socketPath) {
  std::string error;
  auto conn = emu::Connection::connect(socketPath, error);
  if (!conn) {
    std::fprintf(stderr, "uiHook: %s\n", error.c_str());
    return nullptr;
  }
  return std::make_unique<EmulatorSource>(std::move(conn));
}

}  // namespace hooklib
