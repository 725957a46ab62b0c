#pragma once
// The monitor as the configurator meets it, for tests: its message endpoint
// on a thread of its own with its own event loop; on 7035 it records the
// parameters, then opens its own frame, reads the level and closes it against
// the same emulated mouse before it answers, as the real monitor does.

#include <cstdint>
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
#include "platform/testing/EndpointThread.h"

class FakeMonitor {
 public:
  explicit FakeMonitor(std::string mouseSocket)
      : endpoint_(std::string(platform::kMonitorClass), [this, mouseSocket] {
          // The device link lives on the endpoint's thread, as the monitor's does.
          auto hid = std::make_shared<TuiHIDData>(nullptr, platform::makeEmulatorHidBackend(mouseSocket),
                                                  "/nonexistent/config.ini");
          return platform::MessageEndpoint::Handler(
              [this, hid](std::uint32_t msg, std::int64_t w, std::int64_t l) -> std::int64_t {
                if (msg != platform::WM_PROFILE_CHANGED) return 0;
                {
                  std::lock_guard g(mutex_);
                  received_.push_back({w, l});
                }
                int32_t level = 0;
                (void)DeviceCommand6(*hid, 0, 0);
                (void)DeviceReadCurrentCPIIndex(*hid, level);
                (void)DeviceCommand6(*hid, 1, 0);
                return 0;
              });
        }) {}
  bool ok() const { return endpoint_.ok(); }
  std::vector<std::pair<int64_t, int64_t>> received() {
    std::lock_guard g(mutex_);
    return received_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<int64_t, int64_t>> received_;
  // Last, so that its thread ends before what the handler uses goes.
  platform_test::EndpointThread endpoint_;
};
