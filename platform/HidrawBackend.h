#pragma once
// HID interfaces of real devices through the kernel's hidraw nodes: the list
// from libudev (or, for tests, from a sysfs-like tree), each node described
// from sysfs (report descriptor, bus IDs, USB interface and release number),
// feature reports by HIDIOCSFEATURE/HIDIOCGFEATURE and input reports by
// read() after poll() on the node and a wake-up descriptor.

#include <optional>
#include <string>

#include "platform/HidBackend.h"

namespace platform {

class HidrawBackend : public HidBackend {
 public:
  // sysfsRoot empty: the running system through libudev. Otherwise a tree
  // laid out like /sys (class/hidraw/<node> links to the node's folder),
  // with the device nodes named <devRoot>/<node>.
  explicit HidrawBackend(std::string sysfsRoot = {}, std::string devRoot = "/dev");

  std::vector<HidInterfaceInfo> enumerate() override;
  std::unique_ptr<HidDevice> open(const std::string& path, uint32_t& error) override;

  // One node from its sysfs folder (…/hidraw/hidrawN) and its device node.
  // Nothing (and why in error) when the description is incomplete or the
  // report descriptor is malformed; nothing with error empty when the node
  // went away while it was read (an unplug in progress).
  static std::optional<HidInterfaceInfo> describe(const std::string& sysPath, const std::string& devNode,
                                                  std::string& error);

 private:
  std::string sysfsRoot_;
  std::string devRoot_;
};

// The result code for an errno of a hidraw call.
uint32_t hidErrorFromErrno(int err);

}  // namespace platform
