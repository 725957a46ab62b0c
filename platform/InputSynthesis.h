#pragma once
// Input synthesis: what the monitor sends in place of a wheel notch it took
// (on Windows keybd_event and mouse_event). Synthesised events are flagged
// injected wherever they are observed (the XTEST devices under X11), so a
// hook that swallows the wheel never catches its own replacement.
//
// Backends: the emulated mouse when MOUSE_EMULATOR is set (its events reach
// the emulator's input log flagged injected); XTest on an X display; none
// without either (says so once and sends nothing). Each object keeps its own X connection; its calls may come
// from any one thread at a time (they are serialised).
#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class InputSynthesis {
 public:
  virtual ~InputSynthesis() = default;
  // Presses (down) or releases a key by virtual-key code. extended picks the
  // right-hand Ctrl and Alt, keypad Enter and the like; media keys need no
  // flag. False when nothing was sent (no backend, a key without a position).
  virtual bool key(uint32_t vk, bool extended, bool down) = 0;
  // Vertical wheel: +120 one notch away from the user, -120 one towards;
  // other values are rounded to whole notches, at least one. False for 0.
  virtual bool wheel(int delta) = 0;
  // Mouse buttons: 1 left, 2 right, 3 middle, 4 back, 5 forward.
  virtual bool button(int button, bool down) = 0;
  // "emulator", "xtest", "none".
  virtual std::string backendName() const = 0;
};

// The emulated mouse when MOUSE_EMULATOR is set and it answers, else XTest
// when an X display answers (and the session is not Wayland-only), else none.
std::unique_ptr<InputSynthesis> createInputSynthesis();
// The emulated mouse's input endpoint at socketPath; nullptr when it does
// not answer.
std::unique_ptr<InputSynthesis> createEmulatorSynthesis(const std::string& socketPath);
// XTest on that display (empty: $DISPLAY); nullptr when it does not answer
// or lacks the XTEST extension.
std::unique_ptr<InputSynthesis> createXTestSynthesis(const std::string& display);
std::unique_ptr<InputSynthesis> createNoInputSynthesis();

// Number of wheel notches for a delta (sign kept); 0 for 0.
int wheelNotches(int delta);

// Fills table[vk] with 1 for every key the desktop reports held now
// (X11: XQueryKeymap on $DISPLAY), 0 for the others. False, and the table
// untouched, when there is no display to ask.
bool QueryPressedVirtualKeys(std::array<uint8_t, 256>& table);

}  // namespace platform
