#pragma once
// The monitor as the configurator meets it, for tests: its message endpoint
// on a thread of its own with its own event loop; on 7035 it records the
// parameters, then opens its own frame, reads the level and closes it against
// the same emulated mouse before it answers, as the real monitor does.

#include <QEventLoop>
#include <QThread>

#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "device/DeviceProtocol.h"
#include "device/uiHIDData.h"
#include "platform/HidBackend.h"
#include "platform/MessageChannel.h"
#include "platform/SingleInstance.h"

class FakeMonitor {
 public:
  explicit FakeMonitor(std::string mouseSocket) {
    std::promise<bool> ready;
    auto readyFuture = ready.get_future();
    thread_.reset(QThread::create([this, mouseSocket, &ready] {
      platform::SingleInstance lock(platform::kMonitorClass);
      platform::MessageEndpoint endpoint;
      TuiHIDData hid(nullptr, platform::makeEmulatorHidBackend(mouseSocket), "/nonexistent/config.ini");
      QEventLoop loop;
      {
        std::lock_guard g(mutex_);
        loop_ = &loop;
      }
      auto handler = [this, &hid](std::uint32_t msg, std::int64_t w, std::int64_t l) -> std::int64_t {
        if (msg != platform::WM_PROFILE_CHANGED) return 0;
        {
          std::lock_guard g(mutex_);
          received_.push_back({w, l});
        }
        int32_t level = 0;
        (void)DeviceCommand6(hid, 0, 0);
        (void)DeviceReadCurrentCPIIndex(hid, level);
        (void)DeviceCommand6(hid, 1, 0);
        return 0;
      };
      ready.set_value(lock.held() && endpoint.listen(lock, platform::kMonitorClass, handler));
      loop.exec();
      std::lock_guard g(mutex_);
      loop_ = nullptr;
    }));
    thread_->start();
    ok_ = readyFuture.get();
  }
  ~FakeMonitor() {
    {
      std::lock_guard g(mutex_);
      if (loop_) QMetaObject::invokeMethod(loop_, &QEventLoop::quit, Qt::QueuedConnection);
    }
    thread_->wait();
  }
  bool ok() const { return ok_; }
  std::vector<std::pair<int64_t, int64_t>> received() {
    std::lock_guard g(mutex_);
    return received_;
  }

 private:
  std::unique_ptr<QThread> thread_;
  std::mutex mutex_;
  QEventLoop* loop_ = nullptr;
  std::vector<std::pair<int64_t, int64_t>> received_;
  bool ok_ = false;
};
