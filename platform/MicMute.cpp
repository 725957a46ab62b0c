#include "platform/MicMute.h"

#include <algorithm>
#include <cstdio>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <string>

namespace platform {

namespace {
using Clock = std::chrono::steady_clock;

// One short-lived connection to the sound server, driven by our own main
// loop on the calling thread with a deadline, so no thread is left behind.
class PulseSession {
 public:
  explicit PulseSession(std::chrono::milliseconds timeout) : deadline_(Clock::now() + timeout) {
    loop_ = pa_mainloop_new();
    if (loop_) context_ = pa_context_new(pa_mainloop_get_api(loop_), "Gaming Mouse Monitor");
  }
  ~PulseSession() {
    if (context_) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    if (loop_) pa_mainloop_free(loop_);
  }

  bool connect() {
    if (!context_) return fail("no sound server context");
    // Never start a sound server of our own: use the one the desktop runs.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
      return fail(pa_strerror(pa_context_errno(context_)));
    const bool ok = runUntil([this] {
      const pa_context_state_t s = pa_context_get_state(context_);
      return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
    });
    if (!ok) return false;
    if (pa_context_get_state(context_) != PA_CONTEXT_READY)
      return fail(pa_strerror(pa_context_errno(context_)));
    return true;
  }

  // Runs the loop until done() or the deadline; false (with a message) on time-out.
  template <typename Done>
  bool runUntil(Done done) {
    while (!done()) {
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline_ - Clock::now());
      if (left.count() <= 0) return fail("sound server did not answer in time");
      if (pa_mainloop_prepare(loop_, static_cast<int>(std::min<long long>(left.count(), 1 << 30))) < 0 ||
          pa_mainloop_poll(loop_) < 0 || pa_mainloop_dispatch(loop_) < 0)
        return fail("sound server loop failed");
    }
    return true;
  }

  // Waits for op; cancels it on time-out.
  template <typename Done>
  bool wait(pa_operation* op, Done done) {
    if (!op) return fail(pa_strerror(pa_context_errno(context_)));
    const bool ok = runUntil([&] {
      return done() || pa_operation_get_state(op) != PA_OPERATION_RUNNING ||
             !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
    });
    if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_operation_cancel(op);
    pa_operation_unref(op);
    return ok;
  }

  pa_context* context() const { return context_; }

  bool fail(const char* why) {
    std::fprintf(stderr, "microphone mute: %s\n", why);
    return false;
  }

 private:
  Clock::time_point deadline_;
  pa_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
};

struct Query {
  bool done = false;
  bool ok = false;
  std::string name;
  bool mute = false;
};
}  // namespace

std::optional<bool> PulseMicrophoneMute::toggleMute() {
  PulseSession s(timeout_);
  if (!s.connect()) return std::nullopt;

  Query server;
  pa_operation* op = pa_context_get_server_info(
      s.context(),
      [](pa_context*, const pa_server_info* info, void* user) {
        auto* q = static_cast<Query*>(user);
        if (info && info->default_source_name) {
          q->name = info->default_source_name;
          q->ok = !q->name.empty();
        }
        q->done = true;
      },
      &server);
  if (!s.wait(op, [&] { return server.done; })) return std::nullopt;
  if (!server.ok) {
    s.fail("no default source");
    return std::nullopt;
  }

  Query source;
  op = pa_context_get_source_info_by_name(
      s.context(), server.name.c_str(),
      [](pa_context*, const pa_source_info* info, int eol, void* user) {
        auto* q = static_cast<Query*>(user);
        if (eol == 0 && info) {
          q->mute = info->mute != 0;
          q->ok = true;
        } else {
          q->done = true;  // end of list, or an error (eol < 0)
        }
      },
      &source);
  if (!s.wait(op, [&] { return source.done; })) return std::nullopt;
  if (!source.ok) {
    // Without the current state a toggle would be a guess: leave it.
    s.fail("cannot read the default source's mute state");
    return std::nullopt;
  }

  Query set;
  const bool wanted = !source.mute;
  op = pa_context_set_source_mute_by_name(
      s.context(), server.name.c_str(), wanted ? 1 : 0,
      [](pa_context*, int success, void* user) {
        auto* q = static_cast<Query*>(user);
        q->ok = success != 0;
        q->done = true;
      },
      &set);
  if (!s.wait(op, [&] { return set.done; })) return std::nullopt;
  if (!set.ok) {
    s.fail("the sound server refused the change");
    return std::nullopt;
  }
  return wanted;
}

}  // namespace platform
