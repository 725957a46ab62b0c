#include "platform/HidrawBackend.h"

#include <dirent.h>
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/HardwareIds.h"
#include "platform/HidReportDescriptor.h"

namespace platform {

namespace {

constexpr uint32_t kBusUsb = 3;
// The ioctl request encodes the length in 14 bits.
constexpr std::size_t kMaxIoctlLength = (1u << 14) - 1;

enum class FileRead {
  Ok,
  Gone,      // not there (any more): the node is being removed
  TooLarge,  // more than max bytes
  Failed,    // there, but reading failed
};

// Reads a small sysfs file whole. A device being unplugged loses its sysfs
// files one by one, and a file opened just before answers ENODEV.
FileRead readSmallFile(const std::string& path, std::size_t max, std::string& out) {
  auto gone = [](int err) { return err == ENOENT || err == ENODEV || err == ENOTDIR; };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return gone(errno) ? FileRead::Gone : FileRead::Failed;
  out.clear();
  char buf[4096];
  FileRead result = FileRead::Ok;
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result = gone(errno) ? FileRead::Gone : FileRead::Failed;
      break;
    }
    if (n == 0) break;
    out.append(buf, std::size_t(n));
    if (out.size() > max) {
      result = FileRead::TooLarge;
      break;
    }
  }
  ::close(fd);
  return result;
}

std::optional<unsigned long> readNumber(const std::string& path, int base) {
  std::string text;
  if (readSmallFile(path, 64, text) != FileRead::Ok) return std::nullopt;
  const char* begin = text.c_str();
  while (*begin == ' ') ++begin;  // bNumInterfaces is written as "%2d"
  char* end = nullptr;
  errno = 0;
  const unsigned long v = std::strtoul(begin, &end, base);
  if (end == begin || errno != 0) return std::nullopt;
  return v;
}

std::string realPath(const std::string& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

std::string parentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

class HidrawDevice : public HidDevice {
 public:
  HidrawDevice(int fd, int wake, bool numbered) : fd_(fd), wake_(wake), numbered_(numbered) {}
  ~HidrawDevice() override {
    ::close(fd_);
    ::close(wake_);
  }

  uint32_t sendFeatureReport(std::span<const uint8_t> report) override {
    if (report.empty() || report.size() > kMaxIoctlLength) return hid_error::kInvalidParameter;
    std::vector<uint8_t> buf(report.begin(), report.end());
    if (::ioctl(fd_, HIDIOCSFEATURE(buf.size()), buf.data()) < 0) return hidErrorFromErrno(errno);
    return hid_error::kOk;
  }

  uint32_t getFeatureReport(std::span<uint8_t> report) override {
    if (report.empty() || report.size() > kMaxIoctlLength) return hid_error::kInvalidParameter;
    std::vector<uint8_t> buf(report.size(), 0);
    buf[0] = report[0];
    const int n = ::ioctl(fd_, HIDIOCGFEATURE(buf.size()), buf.data());
    if (n < 0) return hidErrorFromErrno(errno);
    std::fill(buf.begin() + std::min<std::size_t>(std::size_t(n), buf.size()), buf.end(), 0);
    std::copy(buf.begin(), buf.end(), report.begin());
    return hid_error::kOk;
  }

  uint32_t writeOutputReport(std::span<const uint8_t> report) override {
    if (report.empty()) return hid_error::kInvalidParameter;
    // Unnumbered reports go to the kernel without the leading 0.
    const std::span<const uint8_t> out = numbered_ ? report : report.subspan(1);
    for (;;) {
      const ssize_t n = ::write(fd_, out.data(), out.size());
      if (n >= 0) return std::size_t(n) == out.size() ? hid_error::kOk : hid_error::kGenFailure;
      if (errno != EINTR) return hidErrorFromErrno(errno);
    }
  }

  uint32_t readInputReport(std::span<uint8_t> buffer, std::size_t& bytesRead) override {
    bytesRead = 0;
    if (buffer.empty()) return hid_error::kInvalidParameter;
    for (;;) {
      pollfd fds[2] = {{wake_, POLLIN, 0}, {fd_, POLLIN, 0}};
      // No timeout: a report or the wake-up ends the wait; idle costs nothing.
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return hidErrorFromErrno(errno);
      }
      if (fds[0].revents) return hid_error::kOperationAborted;
      if (fds[1].revents & POLLIN) {
        uint8_t* dst = buffer.data();
        std::size_t room = buffer.size();
        if (!numbered_) {
          *dst++ = 0;
          --room;
        }
        const ssize_t n = ::read(fd_, dst, room);
        if (n < 0) {
          if (errno == EINTR || errno == EAGAIN) continue;
          return hidErrorFromErrno(errno);
        }
        if (n == 0) return hid_error::kDeviceNotConnected;
        bytesRead = std::size_t(n) + (numbered_ ? 0 : 1);
        return hid_error::kOk;
      }
      // The node is gone: hidraw reports the unplug as a hang-up.
      if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) return hid_error::kDeviceNotConnected;
    }
  }

  void cancelRead() override {
    const uint64_t one = 1;
    // The counter is never read back, so the wake-up stays set.
    [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
  }

 private:
  int fd_;
  int wake_;
  bool numbered_;
};

}  // namespace

uint32_t hidErrorFromErrno(int err) {
  switch (err) {
    case EACCES:
    case EPERM: return hid_error::kAccessDenied;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ESHUTDOWN:
    case EIO: return hid_error::kDeviceNotConnected;
    case EBADF: return hid_error::kInvalidHandle;
    case EINVAL:
    case EMSGSIZE: return hid_error::kInvalidParameter;
    case ETIMEDOUT: return hid_error::kTimeout;
    default: return hid_error::kGenFailure;  // EPIPE: the device stalled the request
  }
}

HidrawBackend::HidrawBackend(std::string sysfsRoot, std::string devRoot)
    : sysfsRoot_(std::move(sysfsRoot)), devRoot_(std::move(devRoot)) {}

std::optional<HidInterfaceInfo> HidrawBackend::describe(const std::string& sysPath, const std::string& devNode,
                                                        std::string& error) {
  // A node that vanishes while it is read leaves error empty: it is simply
  // not there, which is no fault worth a line in anyone's log.
  error.clear();
  const std::string hidDir = realPath(sysPath + "/device");
  if (hidDir.empty()) return std::nullopt;
  std::string descriptor;
  switch (readSmallFile(hidDir + "/report_descriptor", kMaxReportDescriptorSize, descriptor)) {
    case FileRead::Ok: break;
    case FileRead::Gone: return std::nullopt;
    case FileRead::TooLarge:
      error = hidDir + ": report descriptor too large (more than " + std::to_string(kMaxReportDescriptorSize) +
              " bytes)";
      return std::nullopt;
    case FileRead::Failed:
      error = hidDir + ": report descriptor unreadable";
      return std::nullopt;
  }
  std::vector<HidCollectionInfo> collections;
  if (!parseReportDescriptor({reinterpret_cast<const uint8_t*>(descriptor.data()), descriptor.size()}, collections,
                             error)) {
    error = hidDir + ": " + error;
    return std::nullopt;
  }
  std::string uevent;
  switch (readSmallFile(hidDir + "/uevent", 16384, uevent)) {
    case FileRead::Ok: break;
    case FileRead::Gone: return std::nullopt;
    case FileRead::TooLarge:
    case FileRead::Failed: error = hidDir + ": uevent unreadable"; return std::nullopt;
  }
  unsigned bus = 0, vid = 0, pid = 0;
  const auto at = uevent.find("HID_ID=");
  if (at == std::string::npos || std::sscanf(uevent.c_str() + at + 7, "%x:%x:%x", &bus, &vid, &pid) != 3) {
    error = hidDir + ": no HID_ID in uevent";
    return std::nullopt;
  }

  HidInterfaceInfo info;
  info.path = devNode;
  info.vendorId = uint16_t(vid);
  info.productId = uint16_t(pid);
  bool multipleInterfaces = false;
  if (bus == kBusUsb) {
    // …/<usb device>/<usb interface>/<hid device>
    const std::string ifDir = parentOf(hidDir);
    const std::string usbDir = parentOf(ifDir);
    if (auto n = readNumber(ifDir + "/bInterfaceNumber", 16)) info.interfaceNumber = int(*n & 0xFF);
    if (auto r = readNumber(usbDir + "/bcdDevice", 16)) info.releaseNumber = uint16_t(*r);
    if (auto c = readNumber(usbDir + "/bNumInterfaces", 10)) multipleInterfaces = *c > 1;
  }
  const int count = int(collections.size());
  for (int i = 0; i < count; ++i) {
    HidCollectionInfo& c = collections[std::size_t(i)];
    c.hardwareIds = makeHardwareIds({info.vendorId, info.productId, info.releaseNumber, info.interfaceNumber,
                                     multipleInterfaces, i + 1, count, c.usagePage, c.usage});
  }
  info.collections = std::move(collections);
  return info;
}

std::vector<HidInterfaceInfo> HidrawBackend::enumerate() {
  std::vector<std::pair<std::string, std::string>> nodes;  // sysfs folder, device node
  if (!sysfsRoot_.empty()) {
    const std::string classDir = sysfsRoot_ + "/class/hidraw";
    if (DIR* dir = ::opendir(classDir.c_str())) {
      while (dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        nodes.emplace_back(classDir + "/" + name, devRoot_ + "/" + name);
      }
      ::closedir(dir);
    }
    std::sort(nodes.begin(), nodes.end());
  } else if (udev* u = udev_new()) {
    if (udev_enumerate* en = udev_enumerate_new(u)) {
      udev_enumerate_add_match_subsystem(en, "hidraw");
      udev_enumerate_scan_devices(en);
      udev_list_entry* entry;
      udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(en)) {
        const char* sysPath = udev_list_entry_get_name(entry);
        if (udev_device* d = udev_device_new_from_syspath(u, sysPath)) {
          if (const char* node = udev_device_get_devnode(d)) nodes.emplace_back(sysPath, node);
          udev_device_unref(d);
        }
      }
      udev_enumerate_unref(en);
    }
    udev_unref(u);
  }

  std::vector<HidInterfaceInfo> result;
  for (const auto& [sysPath, devNode] : nodes) {
    std::string error;
    if (auto info = describe(sysPath, devNode, error))
      result.push_back(std::move(*info));
    else if (!error.empty())
      qDebug("skipping %s: %s", devNode.c_str(), error.c_str());
  }
  return result;
}

std::unique_ptr<HidDevice> HidrawBackend::open(const std::string& path, uint32_t& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = hidErrorFromErrno(errno);
    return nullptr;
  }
  const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    error = hidErrorFromErrno(errno);
    ::close(fd);
    return nullptr;
  }
  // Whether the device numbers its reports decides the leading 0 byte.
  bool numbered = true;
  int size = 0;
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0 && size > 0 && size <= HID_MAX_DESCRIPTOR_SIZE) {
    auto desc = std::make_unique<hidraw_report_descriptor>();
    desc->size = uint32_t(size);
    std::vector<HidCollectionInfo> collections;
    std::string why;
    if (::ioctl(fd, HIDIOCGRDESC, desc.get()) == 0 &&
        parseReportDescriptor({desc->value, desc->size}, collections, why)) {
      numbered = false;
      for (const auto& c : collections)
        for (const auto* list : {&c.inputReports, &c.outputReports, &c.featureReports})
          for (const auto& r : *list)
            if (r.id != 0) numbered = true;
    }
  }
  error = hid_error::kOk;
  return std::make_unique<HidrawDevice>(fd, wake, numbered);
}

}  // namespace platform
