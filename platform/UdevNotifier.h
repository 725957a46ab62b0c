#pragma once
// Arrival and removal of hidraw nodes, from a libudev monitor watched by a
// QSocketNotifier on the creating thread's event loop.
//
// Without a udev daemon (no /run/udev/control, as in many containers and
// minimal systems) the "udev" event source opens but never receives
// anything. We then listen to the kernel's own events instead; those can come
// before udev rules would have set the node's permissions, so an arrival
// whose node is not yet accessible is retried a few times before it is
// passed on.

#include <memory>
#include <string>

#include "platform/HidBackend.h"

namespace platform {

class UdevNotifier : public HidDeviceNotifier {
 public:
  // controlPath: the udev daemon's control socket, whose presence tells
  // whether the daemon runs (injectable for tests).
  explicit UdevNotifier(std::string controlPath = "/run/udev/control");
  ~UdevNotifier() override;

  bool start(Handler handler, std::string& error) override;

  // True when start() fell back to the kernel's event source.
  bool usesKernelEvents() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> d;
};

}  // namespace platform
