#include "platform/UdevNotifier.h"

#include <libudev.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace platform {

namespace {
constexpr int kAccessRetries = 10;
constexpr int kAccessRetryMs = 100;
}  // namespace

struct UdevNotifier::Impl {
  std::string controlPath;
  udev* u = nullptr;
  udev_monitor* monitor = nullptr;
  bool kernelEvents = false;
  Handler handler;
  // Parent of the socket notifier and the retry timers: deleting it drops
  // every pending retry, so no handler runs after the notifier is gone.
  std::unique_ptr<QObject> context;

  ~Impl() {
    context.reset();
    if (monitor) udev_monitor_unref(monitor);
    if (u) udev_unref(u);
  }

  void deliver(HidDeviceEvent::Kind kind, const std::string& node) {
    if (!handler) return;
    try {
      handler(HidDeviceEvent{kind, node});
    } catch (const std::exception& e) {
      qWarning("device event handler failed: %s", e.what());
    } catch (...) {
      qWarning("device event handler failed");
    }
  }

  void arrive(const std::string& node, int triesLeft) {
    if (kernelEvents && !node.empty() && ::access(node.c_str(), R_OK | W_OK) != 0 && errno == EACCES &&
        triesLeft > 0) {
      QTimer::singleShot(kAccessRetryMs, context.get(), [this, node, triesLeft] { arrive(node, triesLeft - 1); });
      return;
    }
    deliver(HidDeviceEvent::Kind::Arrival, node);
  }

  void onReadable() {
    udev_device* dev = udev_monitor_receive_device(monitor);
    if (!dev) return;
    const char* action = udev_device_get_action(dev);
    const char* node = udev_device_get_devnode(dev);
    std::string path = node ? node : "";
    if (path.empty()) {
      // Kernel events carry the node name only.
      if (const char* name = udev_device_get_sysname(dev)) path = std::string("/dev/") + name;
    }
    const std::string act = action ? action : "";
    udev_device_unref(dev);
    if (act == "add")
      arrive(path, kAccessRetries);
    else if (act == "remove")
      deliver(HidDeviceEvent::Kind::Removal, path);
  }
};

UdevNotifier::UdevNotifier(std::string controlPath) : d(std::make_unique<Impl>()) {
  d->controlPath = std::move(controlPath);
}

UdevNotifier::~UdevNotifier() = default;

bool UdevNotifier::usesKernelEvents() const { return d->kernelEvents; }

bool UdevNotifier::start(Handler handler, std::string& error) {
  if (d->monitor) {
    error = "already started";
    return false;
  }
  // A start tried again after a failure keeps the context it already made.
  if (!d->u) d->u = udev_new();
  if (!d->u) {
    error = std::string("udev_new failed: ") + std::strerror(errno);
    return false;
  }
  d->kernelEvents = ::access(d->controlPath.c_str(), F_OK) != 0;
  if (d->kernelEvents) {
    static std::once_flag said;
    std::call_once(said, [] {
      std::fprintf(stderr, "no udev daemon running: following the kernel's device events instead\n");
    });
  }
  d->monitor = udev_monitor_new_from_netlink(d->u, d->kernelEvents ? "kernel" : "udev");
  if (!d->monitor) {
    error = std::string("cannot open the device event source: ") + std::strerror(errno);
    return false;
  }
  if (udev_monitor_filter_add_match_subsystem_devtype(d->monitor, "hidraw", nullptr) < 0 ||
      udev_monitor_enable_receiving(d->monitor) < 0) {
    error = "cannot listen to device events";
    udev_monitor_unref(d->monitor);
    d->monitor = nullptr;
    return false;
  }
  d->handler = std::move(handler);
  d->context = std::make_unique<QObject>();
  auto* notifier = new QSocketNotifier(udev_monitor_get_fd(d->monitor), QSocketNotifier::Read, d->context.get());
  Impl* impl = d.get();
  QObject::connect(notifier, &QSocketNotifier::activated, d->context.get(), [impl] { impl->onReadable(); });
  return true;
}

}  // namespace platform
