// Input report to action in the real monitor `tessold`:
//  - a button report of a button assigned "Mute(microphone)" to the flip of
//    the private pulseaudio daemon's source mute, seen by a libpulse
//    subscription in this process;
//  - a level report to the driver request, seen by polling the emulated
//    mouse's driver log, minus the monitor's 100 ms debounce.
//
//   bench_action_latency [--reports N]     (default 200)
//
// Each figure starts before this process asks the emulated mouse (over its
// control socket) for the report, so it holds that control call too.
#include <QCoreApplication>

#include <pulse/pulseaudio.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "bench/Desk.h"
#include "device/pubunit_quindle.h"
#include "platform/FilterDriverProtocol.h"
#include "platform/MessageChannel.h"

namespace {

constexpr double kDebounceMs = 100;

// Watches the sources of the sound server: every change event is stamped
// on arrival, and counts as a flip when the source's mute differs from the
// last one known.
class MuteWatch {
 public:
  bool start(const std::string& source, std::string& error) {
    source_ = source;
    loop_ = pa_threaded_mainloop_new();
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "bench");
    pa_context_set_state_callback(context_, &MuteWatch::onState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      error = "pa_context_connect failed";
      return false;
    }
    pa_threaded_mainloop_lock(loop_);
    pa_threaded_mainloop_start(loop_);
    for (;;) {
      const auto s = pa_context_get_state(context_);
      if (s == PA_CONTEXT_READY) break;
      if (!PA_CONTEXT_IS_GOOD(s)) {
        pa_threaded_mainloop_unlock(loop_);
        error = "sound server refused the connection";
        return false;
      }
      pa_threaded_mainloop_wait(loop_);
    }
    pa_context_set_subscribe_callback(context_, &MuteWatch::onEvent, this);
    pa_operation_unref(pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SOURCE, nullptr, nullptr));
    query(Clock::now());
    pa_threaded_mainloop_unlock(loop_);
    return true;
  }
  ~MuteWatch() {
    if (loop_) pa_threaded_mainloop_stop(loop_);
    if (context_) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    if (loop_) pa_threaded_mainloop_free(loop_);
  }
  // Waits until `flips` flips were seen; the time of the last one.
  bool waitFlips(int flips, bench::Clock::time_point& when, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [&] { return flips_ >= flips; })) return false;
    when = lastFlip_;
    return true;
  }
  bool known() {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, std::chrono::seconds(5), [&] { return mute_ >= 0; });
    return mute_ >= 0;
  }

 private:
  using Clock = bench::Clock;
  struct Query {
    MuteWatch* self;
    Clock::time_point stamp;
  };
  static void onState(pa_context*, void* self) {
    pa_threaded_mainloop_signal(static_cast<MuteWatch*>(self)->loop_, 0);
  }
  static void onEvent(pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
    static_cast<MuteWatch*>(self)->query(Clock::now());
  }
  void query(Clock::time_point stamp) {
    pa_operation_unref(
        pa_context_get_source_info_by_name(context_, source_.c_str(), &MuteWatch::onInfo, new Query{this, stamp}));
  }
  static void onInfo(pa_context*, const pa_source_info* info, int eol, void* data) {
    auto* q = static_cast<Query*>(data);
    if (eol) {
      delete q;
      return;
    }
    if (!info) return;
    MuteWatch* w = q->self;
    {
      std::lock_guard lock(w->mutex_);
      const int mute = info->mute ? 1 : 0;
      if (w->mute_ >= 0 && mute != w->mute_) {
        ++w->flips_;
        w->lastFlip_ = q->stamp;
      }
      w->mute_ = mute;
    }
    w->cv_.notify_all();
  }

  std::string source_;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  std::mutex mutex_;
  std::condition_variable cv_;
  int mute_ = -1;
  int flips_ = 0;
  Clock::time_point lastFlip_;
};

int count(emulator::testing::EmulatorProcess& mouse, uint32_t code) {
  int n = 0;
  for (auto& r : mouse.driverLog()) n += r.code == code;
  return n;
}

void row(const char* name, const std::vector<double>& v) {
  std::printf("%-44s %6zu %10.3f %10.3f %10.3f\n", name, v.size(), bench::percentile(v, 50), bench::percentile(v, 99),
              v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()));
}

}  // namespace

int main(int argc, char** argv) {
  int reports = 200;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--reports") == 0 && i + 1 < argc) {
      reports = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: bench_action_latency [--reports N]\n");
      return 2;
    }
  }
  if (reports < 1) {
    std::fprintf(stderr, "bench_action_latency: --reports wants a positive number\n");
    return 2;
  }
  QCoreApplication app(argc, argv);
  bench::Desk desk;
  std::string error;
  if (!desk.start(true, error) || !desk.storeButtonFunction(2, kMicMuteFunctionIndex, error)) {
    std::fprintf(stderr, "bench_action_latency: %s\n", error.c_str());
    return 1;
  }
  auto& mouse = desk.mouse();
  MuteWatch watch;
  if (!watch.start("test_mic", error) || !watch.known()) {
    std::fprintf(stderr, "bench_action_latency: sound server: %s\n", error.c_str());
    return 1;
  }
  bench::Child tessold;
  if (!tessold.start("tessold", desk.root() + "/tessold.log", error)) {
    std::fprintf(stderr, "bench_action_latency: %s\n", error.c_str());
    return 1;
  }
  const std::string socket = platform::messageSocketPath(platform::kMonitorClass);
  const auto deadline = bench::Clock::now() + std::chrono::seconds(20);
  while (!(bench::socketAccepts(socket) && count(mouse, platform::kIoctlSetCpiUnit) >= 2)) {
    if (bench::Clock::now() > deadline || !tessold.running()) {
      std::fprintf(stderr, "bench_action_latency: tessold did not get ready\n");
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));

  // Button 3 is entry 2 of the button table, assigned the microphone mute.
  std::vector<double> mute, pressCall;
  for (int i = 0; i < reports; ++i) {
    const auto t0 = bench::Clock::now();
    if (!mouse.press(3)) {
      std::fprintf(stderr, "bench_action_latency: press: %s\n", mouse.lastError().c_str());
      return 1;
    }
    pressCall.push_back(bench::msSince(t0, bench::Clock::now()));
    bench::Clock::time_point flipped;
    if (!watch.waitFlips(i + 1, flipped, std::chrono::seconds(5))) {
      std::fprintf(stderr, "bench_action_latency: no mute flip after press %d\n", i + 1);
      return 1;
    }
    mute.push_back(bench::msSince(t0, flipped));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

  // Levels 1 and 0 in turn, so every report is a change.
  std::vector<double> level, levelRaw, logCall;
  int requests = count(mouse, platform::kIoctlSetCurrentCpi);
  for (int i = 0; i < reports; ++i) {
    const auto t0 = bench::Clock::now();
    if (!mouse.dpi(i % 2 == 0 ? 1 : 0)) {
      std::fprintf(stderr, "bench_action_latency: dpi: %s\n", mouse.lastError().c_str());
      return 1;
    }
    // Nothing can arrive before the debounce; then poll the driver log.
    std::this_thread::sleep_until(t0 + std::chrono::milliseconds(95));
    int now = requests;
    bench::Clock::time_point seen;
    for (;;) {
      const auto c0 = bench::Clock::now();
      now = count(mouse, platform::kIoctlSetCurrentCpi);
      seen = bench::Clock::now();
      logCall.push_back(bench::msSince(c0, seen));
      if (now > requests) break;
      if (bench::msSince(t0, seen) > 5000) {
        std::fprintf(stderr, "bench_action_latency: no driver request after level report %d\n", i + 1);
        return 1;
      }
    }
    requests = now;
    levelRaw.push_back(bench::msSince(t0, seen));
    level.push_back(bench::msSince(t0, seen) - kDebounceMs);
  }

  std::printf("input report to action, real tessold, %d reports each, %u cores\n", reports,
              std::thread::hardware_concurrency());
  std::printf("%-44s %6s %10s %10s %10s\n", "path (ms)", "n", "median", "p99", "max");
  row("button report to pulseaudio mute flip", mute);
  row("level report to driver request, total", levelRaw);
  row("level report to driver request, - 100 ms", level);
  row("press control call alone", pressCall);
  row("driver-log poll (resolution of the above)", logCall);
  tessold.stop();
  return 0;
}
