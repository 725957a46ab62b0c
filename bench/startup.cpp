// Start-up of the real programs, measured from outside (offscreen, private
// store and folders, emulated mouse present): `tessold` start to its message
// socket "TTessoldMain" accepting and to its DPI tables in the driver log;
// then, with the monitor running, `Marvane` start to its socket
// "TMarvaneMain" accepting and to the first feature report the emulated
// mouse sees from it. Resident memory (VmRSS) of both a second after.
//
//   bench_startup [--runs N]     (default 5; the first run meets an empty store)
#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <thread>

#include "bench/Desk.h"
#include "bench/ProcStats.h"
#include "platform/FilterDriverProtocol.h"
#include "platform/MessageChannel.h"

namespace {

struct Run {
  double monitorSocket = -1, monitorTable1 = -1, monitorTable2 = -1;
  double configSocket = -1, configReport = -1;
  double monitorRss = 0, configRss = 0;
};

int tables(emulator::testing::EmulatorProcess& mouse) {
  int n = 0;
  for (auto& r : mouse.driverLog()) n += r.code == platform::kIoctlSetCpiUnit;
  return n;
}

int setReports(emulator::testing::EmulatorProcess& mouse) {
  int n = 0;
  for (auto& e : mouse.wireLog()) n += e.direction == platform::emu::Direction::SetFeature;
  return n;
}

std::string ms(double v) {
  char b[32];
  if (v < 0)
    std::snprintf(b, sizeof b, "none");
  else
    std::snprintf(b, sizeof b, "%.1f", v);
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: bench_startup [--runs N]\n");
      return 2;
    }
  }
  if (runs < 1) {
    std::fprintf(stderr, "bench_startup: --runs wants a positive number\n");
    return 2;
  }
  QCoreApplication app(argc, argv);
  bench::Desk desk;
  std::string error;
  if (!desk.start(true, error)) {
    std::fprintf(stderr, "bench_startup: %s\n", error.c_str());
    return 1;
  }
  auto& mouse = desk.mouse();
  const std::string monitorSocket = platform::messageSocketPath(platform::kMonitorClass);
  const std::string configSocket = platform::messageSocketPath(platform::kConfiguratorClass);
  std::vector<Run> results;
  for (int r = 0; r < runs; ++r) {
    Run run;
    const int tablesBefore = tables(mouse);
    bench::Child tessold;
    if (!tessold.start("tessold", desk.root() + "/tessold.log", error)) {
      std::fprintf(stderr, "bench_startup: %s\n", error.c_str());
      return 1;
    }
    const auto t0 = tessold.started();
    while (run.monitorSocket < 0 || run.monitorTable2 < 0) {
      const auto now = bench::Clock::now();
      if (run.monitorSocket < 0 && bench::socketAccepts(monitorSocket)) run.monitorSocket = bench::msSince(t0, now);
      const int t = tables(mouse) - tablesBefore;
      if (run.monitorTable1 < 0 && t >= 1) run.monitorTable1 = bench::msSince(t0, now);
      if (run.monitorTable2 < 0 && t >= 2) run.monitorTable2 = bench::msSince(t0, now);
      if (bench::msSince(t0, now) > 20000 || !tessold.running()) {
        std::fprintf(stderr, "bench_startup: tessold did not get ready\n");
        return 1;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));

    mouse.clearLog();
    bench::Child marvane;
    if (!marvane.start("Marvane", desk.root() + "/marvane.log", error)) {
      std::fprintf(stderr, "bench_startup: %s\n", error.c_str());
      return 1;
    }
    const auto t1 = marvane.started();
    while (run.configSocket < 0 || run.configReport < 0) {
      const auto now = bench::Clock::now();
      if (run.configSocket < 0 && bench::socketAccepts(configSocket)) run.configSocket = bench::msSince(t1, now);
      if (run.configReport < 0 && setReports(mouse) > 0) run.configReport = bench::msSince(t1, now);
      // The first report may never come; the socket is the ready sign then.
      if (bench::msSince(t1, now) > 10000 || !marvane.running()) break;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (run.configSocket < 0) {
      std::fprintf(stderr, "bench_startup: Marvane did not get ready\n");
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    run.monitorRss = double(bench::residentKiB(tessold.pid())) / 1024;
    run.configRss = double(bench::residentKiB(marvane.pid())) / 1024;
    marvane.stop();
    tessold.stop();
    results.push_back(run);
  }

  std::printf("start-up, real programs, offscreen, emulated mouse present, %u cores\n",
              std::thread::hardware_concurrency());
  std::printf("%-5s %12s %12s %12s %12s %12s %10s %10s\n", "run", "mon socket", "mon table1", "mon table2",
              "conf socket", "conf report", "mon MB", "conf MB");
  for (size_t i = 0; i < results.size(); ++i) {
    const Run& r = results[i];
    std::printf("%-5zu %12s %12s %12s %12s %12s %10.1f %10.1f%s\n", i + 1, ms(r.monitorSocket).c_str(),
                ms(r.monitorTable1).c_str(), ms(r.monitorTable2).c_str(), ms(r.configSocket).c_str(),
                ms(r.configReport).c_str(), r.monitorRss, r.configRss, i == 0 ? "  (empty store)" : "");
  }
  std::printf("(times in ms from the spawn; MB: VmRSS one second after both were ready)\n");
  return 0;
}
