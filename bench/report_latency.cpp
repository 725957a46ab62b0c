// Input report to delivery: from the moment the emulated mouse is told to
// send a vendor input report to the moment TuiHIDData's handler sees it,
// once delivered on the GUI thread (the programs' setting) and once on the
// reader thread (FastOnData), plus the control call alone for reference.
//
//   bench_report_latency [--reports N]     (default 200)
//
// A sender thread asks the emulated mouse (over its control socket) for one
// report, waits for its delivery, then sends the next.
#include <QCoreApplication>
#include <QMetaObject>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/uiHIDData.h"
#include "emulator/ControlClient.h"
#include "emulator/testing/EmulatorProcess.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr USAGE_AND_PAGE kVendor{1, 0xFFA0};

struct Series {
  std::vector<double> us;
  double at(double q) const {
    if (us.empty()) return 0;
    std::vector<double> v = us;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5));
    return v[i];
  }
};

// Runs `reports` reports through a reader; fills delivery and control times.
bool measure(QCoreApplication& app, const std::string& socket, std::shared_ptr<platform::HidBackend> backend,
             const QString& ini, bool fast, int reports, Series& delivery, Series& control, std::string& error) {
  TuiHIDData hid(nullptr, backend, ini);
  hid.FastOnData = fast;
  std::mutex m;
  std::condition_variable cv;
  std::vector<Clock::time_point> sent(static_cast<size_t>(reports)), arrived(static_cast<size_t>(reports));
  std::vector<bool> seen(size_t(reports), false);
  hid.OnData = [&](const std::string&, const std::string&, uint8_t id, const uint8_t* data, uint16_t size) {
    const auto now = Clock::now();
    if (id != 7 || size < 2) return;
    const int k = data[0] | (data[1] << 8);
    if (k < 0 || k >= reports) return;
    {
      std::lock_guard lock(m);
      arrived[size_t(k)] = now;
      seen[size_t(k)] = true;
    }
    cv.notify_all();
  };
  hid.HidFindAndReadDevice(kVendor, "*");
  if (hid.RunningReaderCount() != 1) {
    error = "expected one reader";
    return false;
  }

  bool ok = true;
  std::thread sender([&] {
    emulator::ControlClient client;
    std::string why;
    if (!client.connect(socket, why)) {
      error = why;
      ok = false;
    }
    for (int k = 0; ok && k < reports; ++k) {
      const uint8_t report[8] = {7, uint8_t(k & 0xff), uint8_t(k >> 8), 0x5a, 0, 0, 0, 0};
      sent[size_t(k)] = Clock::now();
      if (!client.rawInput(0, report, why)) {
        error = why;
        ok = false;
        break;
      }
      control.us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent[size_t(k)]).count());
      std::unique_lock lock(m);
      if (!cv.wait_for(lock, std::chrono::seconds(5), [&] { return bool(seen[size_t(k)]); })) {
        error = "report " + std::to_string(k) + " not delivered within 5 s";
        ok = false;
      }
    }
    QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
  });
  app.exec();
  sender.join();
  hid.HidStopRead();
  if (!ok) return false;
  for (int k = 0; k < reports; ++k)
    delivery.us.push_back(std::chrono::duration<double, std::micro>(arrived[size_t(k)] - sent[size_t(k)]).count());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int reports = 200;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--reports") == 0 && i + 1 < argc) {
      reports = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: bench_report_latency [--reports N]\n");
      return 2;
    }
  }
  if (reports < 1 || reports > 65535) {
    std::fprintf(stderr, "bench_report_latency: --reports wants 1..65535\n");
    return 2;
  }

  QCoreApplication app(argc, argv);
  QTemporaryDir dir;
  qputenv("MOUSE_RUNTIME_DIR", dir.filePath("run").toUtf8());
  emulator::testing::EmulatorProcess mouse;
  if (!mouse.start()) {
    std::fprintf(stderr, "bench_report_latency: %s\n", mouse.lastError().c_str());
    return 1;
  }
  auto backend = std::shared_ptr<platform::HidBackend>(platform::makeEmulatorHidBackend(mouse.socketPath()));

  Series gui, guiControl, fast, fastControl;
  std::string error;
  if (!measure(app, mouse.socketPath(), backend, dir.filePath("none.ini"), false, reports, gui, guiControl, error) ||
      !measure(app, mouse.socketPath(), backend, dir.filePath("none.ini"), true, reports, fast, fastControl, error)) {
    std::fprintf(stderr, "bench_report_latency: %s\n", error.c_str());
    return 1;
  }

  std::printf("input report to handler, %d reports each, %u cores\n", reports, std::thread::hardware_concurrency());
  std::printf("%-40s %10s %10s %10s\n", "path", "median us", "p99 us", "max us");
  auto row = [](const char* name, const Series& s) {
    std::printf("%-40s %10.1f %10.1f %10.1f\n", name, s.at(0.5), s.at(0.99), s.at(1.0));
  };
  row("to the GUI thread (queued, default)", gui);
  row("to the reader thread (FastOnData)", fast);
  row("control call alone (rawInput round trip)", guiControl);
  return 0;
}
