// The four entry points and the library's own thread.
//
// The thread starts at the first Enable and owns every event source. The
// last Disable only tells it to end (an eventfd wakes it at once); it is
// joined by the next Enable or when the library is unloaded. The callbacks
// are copied out under the lock and called without it, so a Disable never
// waits for a callback in progress.
//
// An Enable returns once the thread has followed it (its grabs are active
// on the server), as a hook installed on Windows sees the very next input:
// a caller that synthesises input right after Enable must not race the
// grab. The wait is bounded, and skipped on the thread itself (an Enable
// from inside a callback).
#define UIHOOK_BUILDING 1
#include "hooklib/EventSource.h"
#include "hooklib/uiHookApi.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace hooklib {
namespace {

struct Registration {
  UiHookProc callback = nullptr;
  void* context = nullptr;
};

class Core final : public HookSink {
 public:
  ~Core() override {
    std::thread last;
    {
      std::lock_guard g(mutex_);
      keyboard_ = {};
      mouse_ = {};
      stopping_ = true;
      wakeLocked();
      last = std::move(worker_);
    }
    if (last.joinable() && last.get_id() != std::this_thread::get_id()) last.join();
    else if (last.joinable()) last.detach();
    if (wakeFd_ >= 0) ::close(wakeFd_);
    // Our code is about to be unmapped: Xlib must not call into it.
    releaseX11ErrorHandler();
  }

  int32_t enable(bool keyboard, UiHookProc callback, void* context) {
    std::thread old;
    {
      std::lock_guard g(mutex_);
      if (worker_.joinable() && stopping_) {
        // A thread told to end by the last Disable: it finishes first.
        if (worker_.get_id() == std::this_thread::get_id()) return 0;
        old = std::move(worker_);
      }
    }
    if (old.joinable()) old.join();
    std::unique_lock g(mutex_);
    (keyboard ? keyboard_ : mouse_) = {callback, context};
    if (wakeFd_ < 0) {
      wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
      if (wakeFd_ < 0) {
        std::fprintf(stderr, "uiHook: eventfd failed (errno %d), no events\n", errno);
        (keyboard ? keyboard_ : mouse_) = {};
        return 0;
      }
    }
    const uint64_t ticket = ++requested_;
    if (!worker_.joinable()) {
      stopping_ = false;
      threadDone_ = false;
      worker_ = std::thread([this] { run(); });
    } else {
      wakeLocked();
    }
    if (worker_.get_id() != std::this_thread::get_id()) {
      // A thread that never gets there (no display, a callback stuck in
      // the host) only delays us by the bound; the hook is on either way.
      applied_changed_.wait_for(g, kEnableWait, [&] { return applied_ >= ticket || threadDone_; });
    }
    return 1;
  }

  int32_t disable(bool keyboard) {
    std::lock_guard g(mutex_);
    (keyboard ? keyboard_ : mouse_) = {};
    if (!keyboard_.callback && !mouse_.callback && worker_.joinable()) stopping_ = true;
    wakeLocked();
    return 1;
  }

  bool keyboard(uint32_t message, const UiKeyboardRecord& record) override {
    const Registration r = current(true);
    if (!r.callback) return false;
    int32_t blocked = 0;
    r.callback(r.context, 0, message, &record, &blocked);
    return blocked != 0;
  }

  bool mouse(uint32_t message, const UiMouseRecord& record) override {
    const Registration r = current(false);
    if (!r.callback) return false;
    int32_t blocked = 0;
    r.callback(r.context, 0, message, &record, &blocked);
    return blocked != 0;
  }

 private:
  Registration current(bool keyboard) {
    std::lock_guard g(mutex_);
    if (stopping_) return {};
    return keyboard ? keyboard_ : mouse_;
  }

  void wakeLocked() {
    if (wakeFd_ < 0) return;
    const uint64_t one = 1;
    // A full counter still wakes the thread; nothing to do on failure.
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
  }

  void run() {
    try {
      loop();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "uiHook: event thread ended: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "uiHook: event thread ended by an unknown error\n");
    }
    std::lock_guard g(mutex_);
    threadDone_ = true;
    applied_changed_.notify_all();
  }

  void loop() {
    std::vector<std::unique_ptr<EventSource>> sources;
    const char* display = std::getenv("DISPLAY");
    if (display && *display) {
      if (auto x = openX11Source(display)) sources.push_back(std::move(x));
    }
    const char* emulator = std::getenv("MOUSE_EMULATOR");
    if (emulator && *emulator) {
      if (auto e = openEmulatorSource(emulator)) sources.push_back(std::move(e));
    }
    if (sources.empty()) std::fprintf(stderr, "uiHook: no event source (no X display, no emulated mouse)\n");

    std::vector<pollfd> fds;
    for (;;) {
      bool wantKeyboard = false, wantMouse = false;
      uint64_t ticket = 0;
      {
        std::lock_guard g(mutex_);
        if (stopping_) break;
        wantKeyboard = keyboard_.callback != nullptr;
        wantMouse = mouse_.callback != nullptr;
        ticket = requested_;
      }
      bool buffered = false;
      for (auto& s : sources) {
        s->apply(wantKeyboard, wantMouse);
        buffered = buffered || s->hasBuffered();
      }
      {
        // apply() returns with its grabs confirmed by the server.
        std::lock_guard g(mutex_);
        if (ticket > applied_) {
          applied_ = ticket;
          applied_changed_.notify_all();
        }
      }
      fds.clear();
      fds.push_back({wakeFd_, POLLIN, 0});
      for (auto& s : sources) fds.push_back({s->fd(), POLLIN, 0});
      const int n = ::poll(fds.data(), fds.size(), buffered ? 0 : -1);
      if (n < 0 && errno != EINTR) {
        std::fprintf(stderr, "uiHook: poll failed (errno %d)\n", errno);
        break;
      }
      if (fds[0].revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] ssize_t r = ::read(wakeFd_, &count, sizeof count);
      }
      for (std::size_t i = sources.size(); i-- > 0;) {
        const short ev = fds[i + 1].revents;
        if (!(ev & (POLLIN | POLLHUP | POLLERR)) && !sources[i]->hasBuffered()) continue;
        if (!sources[i]->dispatch(*this)) {
          std::fprintf(stderr, "uiHook: event source %s is gone\n", sources[i]->name());
          sources.erase(sources.begin() + static_cast<std::ptrdiff_t>(i));
        }
      }
    }
  }

  static constexpr std::chrono::seconds kEnableWait{3};

  std::mutex mutex_;
  std::condition_variable applied_changed_;
  uint64_t requested_ = 0;  // Enables so far
  uint64_t applied_ = 0;    // the latest Enable the thread has followed
  bool threadDone_ = true;
  Registration keyboard_;
  Registration mouse_;
  std::thread worker_;
  bool stopping_ = false;
  int wakeFd_ = -1;
};

Core& core() {
  // Destroyed when the library is unloaded: the thread is joined then.
  static Core instance;
  return instance;
}

int32_t guarded(auto&& fn) noexcept {
  try {
    return fn();
  } catch (...) {
    return 0;
  }
}

}  // namespace
}  // namespace hooklib

extern "C" {

int32_t EnableKeyboardHook(UiHookProc callback, void* context, int32_t reserved) {
  if (!callback || reserved != 0) return 0;
  return hooklib::guarded([&] { return hooklib::core().enable(true, callback, context); });
}

int32_t DisableKeyboardHook(void) {
  return hooklib::guarded([] { return hooklib::core().disable(true); });
}

int32_t EnableMouseHook(UiHookProc callback, void* context, int32_t reserved) {
  if (!callback || reserved != 0) return 0;
  return hooklib::guarded([&] { return hooklib::core().enable(false, callback, context); });
}

int32_t DisableMouseHook(void) {
  return hooklib::guarded([] { return hooklib::core().disable(false); });
}

}  // extern "C"
