// An input-report reader on an idle emulated mouse: how often its threads
// wake and how much CPU they take, beside (in the same run, on the same
// mouse) a reader built the old way, polling with 1 ms sleeps.
//
//   bench_reader_idle [--seconds N]     (default 10)
//
// Context switches come from /proc/self/task/*/status (voluntary and
// involuntary), CPU time from /proc/self/task/*/schedstat.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/PollingReader.h"
#include "bench/ProcStats.h"
#include "device/uiHIDData.h"
#include "emulator/testing/EmulatorProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr USAGE_AND_PAGE kVendor{1, 0xFFA0};

void row(const char* name, size_t threads, const bench::ThreadStats& s, double seconds) {
  const uint64_t wakes = s.voluntary + s.involuntary;
  std::printf("%-34s %7zu %10llu %10.1f %10.3f %9.4f\n", name, threads, static_cast<unsigned long long>(wakes),
              double(wakes) / seconds, double(s.cpuNs) / 1e6, 100.0 * double(s.cpuNs) / (seconds * 1e9));
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 10;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: bench_reader_idle [--seconds N]\n");
      return 2;
    }
  }
  if (!(seconds > 0)) {
    std::fprintf(stderr, "bench_reader_idle: --seconds wants a positive number\n");
    return 2;
  }

  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  qputenv("MOUSE_RUNTIME_DIR", dir.filePath("run").toUtf8());
  emulator::testing::EmulatorProcess mouse;
  if (!mouse.start()) {
    std::fprintf(stderr, "bench_reader_idle: %s\n", mouse.lastError().c_str());
    return 1;
  }
  auto backend = std::shared_ptr<platform::HidBackend>(platform::makeEmulatorHidBackend(mouse.socketPath()));

  const std::set<pid_t> before = bench::threadIds();
  TuiHIDData hid(nullptr, backend, dir.filePath("none.ini"));
  long delivered = 0;
  hid.OnData = [&](const std::string&, const std::string&, uint8_t, const uint8_t*, uint16_t) { ++delivered; };
  hid.HidFindAndReadDevice(kVendor, "*");
  if (hid.RunningReaderCount() != 1) {
    std::fprintf(stderr, "bench_reader_idle: expected one reader, got %d\n", hid.RunningReaderCount());
    return 1;
  }
  std::set<pid_t> ours;
  for (pid_t t : bench::threadIds())
    if (!before.count(t)) ours.insert(t);

  bench::PollingReader polling;
  std::string error;
  if (!polling.start(*backend, error)) {
    std::fprintf(stderr, "bench_reader_idle: polling reader: %s\n", error.c_str());
    return 1;
  }
  const std::set<pid_t> pollingThreads = polling.threads();
  const std::set<pid_t> mainThread{bench::currentThreadId()};
  std::set<pid_t> all = bench::threadIds();

  const auto statsBefore = bench::readThreadStats();
  const auto t0 = Clock::now();
  QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, &app, &QCoreApplication::quit);
  app.exec();
  const auto statsAfter = bench::readThreadStats();
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();

  std::set<pid_t> others;
  for (pid_t t : all)
    if (!ours.count(t) && !pollingThreads.count(t) && !mainThread.count(t)) others.insert(t);

  std::printf("idle emulated mouse, %.1f s, %u cores\n", wall, std::thread::hardware_concurrency());
  std::printf("%-34s %7s %10s %10s %10s %9s\n", "threads", "count", "wake-ups", "per s", "CPU ms", "CPU %");
  row("TuiHIDData reader (blocking)", ours.size(), bench::difference(statsBefore, statsAfter, ours), wall);
  row("polling reader (1 ms sleeps)", pollingThreads.size(), bench::difference(statsBefore, statsAfter, pollingThreads),
      wall);
  row("main thread (event loop)", 1, bench::difference(statsBefore, statsAfter, mainThread), wall);
  row("other threads", others.size(), bench::difference(statsBefore, statsAfter, others), wall);

  polling.stop();
  hid.HidStopRead();
  return delivered == 0 ? 0 : 1;  // an idle mouse sends nothing
}
