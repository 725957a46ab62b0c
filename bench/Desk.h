#pragma once
// A private desk for the benchmarks that run the real programs: temporary
// home, store and runtime folders, one emulated mouse, optionally a private
// pulseaudio daemon, all exported into this process's environment so the
// programs started from here find them.
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>

#include "emulator/testing/EmulatorProcess.h"
#include "monitor/tests/MonitorTestSupport.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point t0, Clock::time_point t1) {
  return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

class Desk {
 public:
  // pulse: start the private sound server (PULSE_SERVER points at it);
  // without it PULSE_SERVER points at nothing.
  bool start(bool pulse, std::string& error);
  ~Desk();

  emulator::testing::EmulatorProcess& mouse() { return mouse_; }
  const std::string& root() const { return root_; }
  bool pulseRunning() const { return pulseStarted_; }

  // Stores function `function` for button entry `index` of the current
  // profile, as the configurator's Apply stores it, before a program starts.
  bool storeButtonFunction(int index, uint16_t function, std::string& error);

 private:
  QTemporaryDir dir_;
  std::string root_;
  emulator::testing::EmulatorProcess mouse_;
  monitor_test::PulseDaemon pulse_;
  bool pulseStarted_ = false;
};

// The folder of the programs (tessold, Marvane, config.ini, the hook library).
std::string programFolder();

// A program of programFolder() started with this process's environment,
// its output going to `log`. Ends it (SIGTERM, then SIGKILL after 10 s).
class Child {
 public:
  bool start(const std::string& name, const std::string& log, std::string& error);
  void stop();
  ~Child() { stop(); }
  pid_t pid() const { return pid_; }
  bool running();
  Clock::time_point started() const { return started_; }

 private:
  pid_t pid_ = -1;
  Clock::time_point started_;
};

// True when a listening unix socket at `path` accepts a connection now.
bool socketAccepts(const std::string& path);

// Median and the p-th percentile (nearest rank) of a copy of `values`.
double percentile(std::vector<double> values, double p);

}  // namespace bench
