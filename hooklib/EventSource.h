#pragma once
// Inside the hook library: where events come from and where they go.
#include "hooklib/uiHookApi.h"

#include <memory>

namespace hooklib {

// The library core as the sources see it. Each call runs the enabled
// callback of that kind (if any) on the library's thread and answers
// whether the event is to be swallowed.
class HookSink {
 public:
  virtual ~HookSink() = default;
  virtual bool keyboard(uint32_t message, const UiKeyboardRecord& record) = 0;
  virtual bool mouse(uint32_t message, const UiMouseRecord& record) = 0;
};

// One source of events, driven by the library's thread: poll() on fd(),
// then dispatch(). Every member runs on that thread only.
class EventSource {
 public:
  virtual ~EventSource() = default;
  virtual int fd() const = 0;
  // Events already read from the descriptor and waiting in a buffer.
  virtual bool hasBuffered() { return false; }
  // Follow the enabled hooks (grabs, subscriptions). Cheap when nothing changed.
  virtual void apply(bool keyboard, bool mouse) = 0;
  // Handles what can be read now. False once the source is gone for good.
  virtual bool dispatch(HookSink& sink) = 0;
  virtual const char* name() const = 0;
};

// The X server named by display (nullptr: $DISPLAY); nullptr when it does
// not answer or lacks XInput 2.2 (the reason goes to stderr).
std::unique_ptr<EventSource> openX11Source(const char* display);
// Hands Xlib's error handler back to whoever had it before our first
// source, if ours is still the one installed. Called before the library is
// unloaded, once its thread is gone.
void releaseX11ErrorHandler();
// The emulated mouse's input endpoint at socketPath; nullptr when it does not answer.
std::unique_ptr<EventSource> openEmulatorSource(const char* socketPath);

}  // namespace hooklib
