// The real monitor `tessold` idle with the emulated mouse present: wake-ups
// of all its threads and its CPU time, beside (in the same run, on the same
// mouse) a reader polling with 1 ms sleeps in this process.
//
//   bench_monitor_idle [--seconds N] [--no-pulse]     (default 60)
//
// Context switches from /proc/<pid>/task/*/status, CPU time from
// /proc/<pid>/task/*/schedstat and, for the whole process, utime + stime of
// /proc/<pid>/stat (clock ticks).
#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <thread>

#include "bench/Desk.h"
#include "bench/PollingReader.h"
#include "bench/ProcStats.h"
#include "device/pubunit_quindle.h"
#include "platform/FilterDriverProtocol.h"
#include "platform/MessageChannel.h"

namespace {

void row(const std::string& name, size_t threads, const bench::ThreadStats& s, double seconds) {
  const uint64_t wakes = s.voluntary + s.involuntary;
  std::printf("%-40s %7zu %10llu %9.2f %10.3f %9.4f\n", name.c_str(), threads, static_cast<unsigned long long>(wakes),
              double(wakes) / seconds, double(s.cpuNs) / 1e6, 100.0 * double(s.cpuNs) / (seconds * 1e9));
}

int tables(emulator::testing::EmulatorProcess& mouse) {
  int n = 0;
  for (auto& r : mouse.driverLog()) n += r.code == platform::kIoctlSetCpiUnit;
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 60;
  bool pulse = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--no-pulse") == 0) {
      pulse = false;
    } else {
      std::fprintf(stderr, "usage: bench_monitor_idle [--seconds N] [--no-pulse]\n");
      return 2;
    }
  }
  if (!(seconds > 0)) {
    std::fprintf(stderr, "bench_monitor_idle: --seconds wants a positive number\n");
    return 2;
  }
  QCoreApplication app(argc, argv);
  bench::Desk desk;
  std::string error;
  if (!desk.start(pulse, error)) {
    std::fprintf(stderr, "bench_monitor_idle: %s\n", error.c_str());
    return 1;
  }
  if (!desk.storeButtonFunction(2, kMicMuteFunctionIndex, error)) {
    std::fprintf(stderr, "bench_monitor_idle: %s\n", error.c_str());
    return 1;
  }
  auto& mouse = desk.mouse();
  bench::Child tessold;
  if (!tessold.start("tessold", desk.root() + "/tessold.log", error)) {
    std::fprintf(stderr, "bench_monitor_idle: %s\n", error.c_str());
    return 1;
  }
  // Ready: its message socket accepts and the table for the mouse found
  // (the second one, after the start-up table) reached the driver.
  const std::string socket = platform::messageSocketPath(platform::kMonitorClass);
  const auto deadline = bench::Clock::now() + std::chrono::seconds(20);
  while (!(bench::socketAccepts(socket) && tables(mouse) >= 2)) {
    if (bench::Clock::now() > deadline || !tessold.running()) {
      std::fprintf(stderr, "bench_monitor_idle: tessold did not get ready (log in %s)\n", desk.root().c_str());
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  // Whatever the start-up still does (timers that fire once) is over.
  std::this_thread::sleep_for(std::chrono::seconds(2));

  auto backend = platform::makeEmulatorHidBackend(mouse.socketPath());
  bench::PollingReader polling;
  if (!polling.start(*backend, error)) {
    std::fprintf(stderr, "bench_monitor_idle: polling reader: %s\n", error.c_str());
    return 1;
  }
  const std::set<pid_t> pollingThreads = polling.threads();
  const pid_t pid = tessold.pid();

  const auto monitorBefore = bench::readThreadStats(pid);
  const auto selfBefore = bench::readThreadStats();
  const uint64_t cpuBefore = bench::processCpuNs(pid);
  const auto t0 = bench::Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const auto monitorAfter = bench::readThreadStats(pid);
  const auto selfAfter = bench::readThreadStats();
  const uint64_t cpuAfter = bench::processCpuNs(pid);
  const double wall = std::chrono::duration<double>(bench::Clock::now() - t0).count();

  std::set<pid_t> monitorThreads;
  for (auto& [tid, s] : monitorAfter) monitorThreads.insert(tid);
  std::printf("tessold idle, emulated mouse present, %s, %.1f s, %u cores\n",
              desk.pulseRunning() ? "private pulseaudio daemon" : "no sound server", wall,
              std::thread::hardware_concurrency());
  std::printf("%-40s %7s %10s %9s %10s %9s\n", "threads", "count", "wake-ups", "per s", "CPU ms", "CPU %");
  row("tessold, all threads", monitorThreads.size(), bench::difference(monitorBefore, monitorAfter, monitorThreads),
      wall);
  for (pid_t tid : monitorThreads)
    row("  " + bench::threadName(pid, tid) + " (" + std::to_string(tid) + ")", 1,
        bench::difference(monitorBefore, monitorAfter, {tid}), wall);
  row("polling reader (1 ms sleeps)", pollingThreads.size(), bench::difference(selfBefore, selfAfter, pollingThreads),
      wall);
  const double cpuMs = double(cpuAfter - cpuBefore) / 1e6;
  std::printf("tessold utime+stime (/proc/<pid>/stat, %ld Hz ticks): %.0f ms, %.4f %%\n", ::sysconf(_SC_CLK_TCK),
              cpuMs, 100.0 * cpuMs / (wall * 1000.0));
  std::printf("tessold threads before/after: %zu/%zu\n", monitorBefore.size(), monitorAfter.size());
  polling.stop();
  tessold.stop();
  return 0;
}
