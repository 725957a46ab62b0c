#include "platform/MicMute.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <string>

namespace platform {

namespace {
using Clock = std::chrono::steady_clock;

// The server resolves this name to whatever source is the default when it
// reads the request, so a changed default is followed without asking for
// the server's information first.
constexpr char kDefaultSource[] = "@DEFAULT_SOURCE@";

// How one step with the server ended. Lost: the connection broke before the
// step was answered.
enum class Step { Done, Failed, Lost };

struct SourceState {
  bool done = false;
  bool ok = false;
  uint32_t index = 0;
  bool mute = false;
};

struct SetResult {
  bool done = false;
  bool ok = false;
};
}  // namespace

// Driven by our own main loop on the calling thread, with the toggle's
// deadline, and only while a toggle runs.
class PulseMicrophoneMute::Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    drop();
    if (loop_) pa_mainloop_free(loop_);
  }

  void begin(Clock::time_point deadline) {
    deadline_ = deadline;
    why_.clear();
  }
  const std::string& why() const { return why_; }

  // A READY context; fresh tells whether this call had to connect.
  bool ready(bool& fresh) {
    fresh = false;
    if (context_) {
      // Take in what arrived while idle without waiting: the hang-up of a
      // server that went away or restarted shows here, before any request.
      for (int i = 0; i < 64 && pa_mainloop_iterate(loop_, 0, nullptr) > 0; ++i) {
      }
      if (pa_context_get_state(context_) == PA_CONTEXT_READY) return true;
      drop();
    }
    fresh = true;
    return connect();
  }

  void drop() {
    if (!context_) return;
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
  }

  // Reads the default source's mute flag and sets the opposite on that same
  // source (by its index, so a default changed in between is not touched).
  Step toggle(bool& muted) {
    SourceState source;
    pa_operation* op = pa_context_get_source_info_by_name(
        context_, kDefaultSource,
        [](pa_context*, const pa_source_info* info, int eol, void* user) {
          auto* q = static_cast<SourceState*>(user);
          if (eol == 0 && info) {
            q->index = info->index;
            q->mute = info->mute != 0;
            q->ok = true;
          } else {
            q->done = true;  // end of list, or an error (eol < 0)
          }
        },
        &source);
    const Step read = wait(op, [&] { return source.done; });
    if (read != Step::Done) return read;  // nothing was changed, whatever happened
    if (!source.ok) {
      // Without the current state a toggle would be a guess: leave it.
      fail("cannot read the default source's mute state: ", pa_strerror(pa_context_errno(context_)));
      return Step::Failed;
    }

    SetResult set;
    const bool wanted = !source.mute;
    op = pa_context_set_source_mute_by_index(
        context_, source.index, wanted ? 1 : 0,
        [](pa_context*, int success, void* user) {
          auto* q = static_cast<SetResult*>(user);
          q->ok = success != 0;
          q->done = true;
        },
        &set);
    if (!op) return lostOrFailed();  // nothing was sent
    const Step written = wait(op, [&] { return set.done; });
    // Once the change was on its way, a broken connection leaves it unknown
    // whether it was made: a second try could undo it.
    if (written != Step::Done) return Step::Failed;
    if (!set.ok) {
      fail("the sound server refused the change: ", pa_strerror(pa_context_errno(context_)));
      return Step::Failed;
    }
    muted = wanted;
    return Step::Done;
  }

 private:
  bool connect() {
    if (!loop_) loop_ = pa_mainloop_new();
    if (!loop_) return fail("no sound server main loop");
    context_ = pa_context_new(pa_mainloop_get_api(loop_), "Gaming Mouse Monitor");
    if (!context_) return fail("no sound server context");
    // Never start a sound server of our own: use the one the desktop runs.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
      return fail(pa_strerror(pa_context_errno(context_)));
    const bool ok = runUntil([this] {
      const pa_context_state_t s = pa_context_get_state(context_);
      return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
    });
    if (!ok) return false;
    if (pa_context_get_state(context_) != PA_CONTEXT_READY) return fail(pa_strerror(pa_context_errno(context_)));
    return true;
  }

  // Runs the loop until done() or the deadline; false (with a reason) on time-out.
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

  // Waits for op's answer; cancels it otherwise.
  template <typename Done>
  Step wait(pa_operation* op, Done done) {
    if (!op) return lostOrFailed();
    const bool inTime = runUntil([&] {
      return done() || pa_operation_get_state(op) != PA_OPERATION_RUNNING ||
             !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
    });
    if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_operation_cancel(op);
    pa_operation_unref(op);
    if (done()) return Step::Done;
    if (!inTime) return Step::Failed;
    return lostOrFailed();
  }

  Step lostOrFailed() {
    fail(pa_strerror(pa_context_errno(context_)));
    return PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) ? Step::Failed : Step::Lost;
  }

  bool fail(const char* why, const char* detail = "") {
    why_ = std::string(why) + detail;
    return false;
  }

  Clock::time_point deadline_;
  std::string why_;
  pa_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
};

PulseMicrophoneMute::PulseMicrophoneMute(std::chrono::milliseconds timeout)
    : connection_(std::make_unique<Connection>()), timeout_(timeout) {}

PulseMicrophoneMute::~PulseMicrophoneMute() = default;

std::optional<bool> PulseMicrophoneMute::toggleMute() {
  Connection& c = *connection_;
  c.begin(Clock::now() + timeout_);
  // A kept connection whose server went away between toggles gets one fresh
  // connection within the same deadline; a fresh one that fails is final.
  for (;;) {
    bool fresh = false;
    if (!c.ready(fresh)) break;
    bool muted = false;
    const Step s = c.toggle(muted);
    if (s == Step::Done) return muted;
    if (s != Step::Lost || fresh) break;
    c.drop();
  }
  // The next toggle starts afresh rather than reuse a connection in an
  // unknown state (half a connect, or a hung server's late answer).
  c.drop();
  std::fprintf(stderr, "microphone mute: %s\n", c.why().c_str());
  return std::nullopt;
}

}  // namespace platform
