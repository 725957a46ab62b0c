#pragma once
// The input-report reader the old design describes, kept as the yardstick
// of the idle benchmarks: it polls with 1 ms sleeps.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/ProcStats.h"
#include "platform/HidBackend.h"

namespace bench {

// The polling design: one read is outstanding (here a thread blocked in the
// read stands in for the overlapped read), and the reader loops on a 1 ms
// sleep and a 1 ms wait on the stop event until the read completed.
class PollingReader {
 public:
  bool start(platform::HidBackend& backend, std::string& error) {
    const auto interfaces = backend.enumerate();
    if (interfaces.empty()) {
      error = "no emulated mouse";
      return false;
    }
    uint32_t code = 0;
    device_ = backend.open(interfaces.front().path, code);
    if (!device_) {
      error = "open failed: " + std::to_string(code);
      return false;
    }
    completion_ = std::thread([this] {
      {
        std::lock_guard lock(tidsMutex_);
        tids_.insert(bench::currentThreadId());
      }
      announceStarted();
      std::vector<uint8_t> buffer(64);
      for (;;) {
        std::size_t got = 0;
        if (device_->readInputReport(buffer, got) != platform::hid_error::kOk) return;
        completed_.store(true);
      }
    });
    poller_ = std::thread([this] {
      {
        std::lock_guard lock(tidsMutex_);
        tids_.insert(bench::currentThreadId());
      }
      announceStarted();
      std::unique_lock lock(stopMutex_);
      while (!stop_) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lock.lock();
        if (stopCv_.wait_for(lock, std::chrono::milliseconds(1), [this] { return stop_; })) break;
        if (completed_.exchange(false)) ++reports_;
      }
    });
    // Both threads have recorded their IDs before the measurement starts;
    // the wait is on the threads' own progress, bounded by their start-up.
    std::unique_lock lock(stopMutex_);
    return stopCv_.wait_for(lock, std::chrono::seconds(5), [this] { return started_ == 2; });
  }
  void stop() {
    {
      std::lock_guard lock(stopMutex_);
      stop_ = true;
    }
    stopCv_.notify_all();
    if (device_) device_->cancelRead();
    if (poller_.joinable()) poller_.join();
    if (completion_.joinable()) completion_.join();
  }
  std::set<pid_t> threads() {
    std::lock_guard lock(tidsMutex_);
    return tids_;
  }

 private:
  void announceStarted() {
    {
      std::lock_guard lock(stopMutex_);
      ++started_;
    }
    stopCv_.notify_all();
  }

  std::unique_ptr<platform::HidDevice> device_;
  std::thread completion_, poller_;
  std::mutex tidsMutex_;
  std::set<pid_t> tids_;
  std::mutex stopMutex_;
  std::condition_variable stopCv_;
  bool stop_ = false;
  int started_ = 0;
  std::atomic<bool> completed_{false};
  long reports_ = 0;
};

}  // namespace bench
